// Typed JSON values and request data: URL form, JSON form, and the round trip
// from QLRequestDataSerializer::ToJsonString back through JSON::JSONParser.
#include "json/ql_request_data.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <climits>
#include <map>
#include <string>
#include <vector>

#include "json/json_parser.h"
#include "json/ql_json_type_array.h"
#include "json/ql_json_type_bool.h"
#include "json/ql_json_type_int.h"
#include "json/ql_json_type_object.h"
#include "json/ql_json_type_string.h"
#include "json/ql_request_data_serializer.h"
#include "json_node_matcher.h"
#include "libjson_event_recorder.h"

namespace {

boost::shared_ptr<QLJsonTypeBase> Str(std::string const& s) {
  return boost::make_shared<QLJsonTypeString>(s);
}
boost::shared_ptr<QLJsonTypeBase> Int(long long v) { return boost::make_shared<QLJsonTypeInt>(v); }
boost::shared_ptr<QLJsonTypeBase> Bool(bool v) { return boost::make_shared<QLJsonTypeBool>(v); }

// Parses printed JSON with the C parser; the text must be one whole value.
std::vector<std::string> EventsOf(std::string const& printed) {
  LibJsonEventRecorder recorder;
  bool done = false;
  EXPECT_EQ(0, ParseWithLibJson(printed, recorder, 0, &done)) << printed;
  EXPECT_TRUE(done) << printed;
  return recorder.events;
}

TEST(QLJsonTypeTest, KeysAreWrittenAsTheyAreAndNestedObjectsEncodedWhole) {
  auto inner = boost::make_shared<QLJsonTypeObject>();
  inner->AddField("k", Str("v&w"));
  inner->AddField("j", Int(1));
  QLJsonTypeObject object;
  object.AddField("o b", inner);
  object.AddField("A", Str("/\xC3\xA9"));
  object.AddField("A", Int(2));  // the first value of a key stays
  EXPECT_EQ("A=%2F%C3%A9&o b=j%3D1%26k%3Dv%2526w", object.ToString());
}

TEST(QLJsonTypeTest, EmptyPointersAreNotStored) {
  QLJsonTypeObject object;
  object.AddField("a", boost::shared_ptr<QLJsonTypeBase>());
  object.AddField("a", Int(3));
  EXPECT_EQ("a=3", object.ToString());
  QLRequestData data;
  auto array = boost::make_shared<QLJsonTypeArray>();
  array->AddValue(boost::shared_ptr<QLJsonTypeBase>());
  data.AddField("arr", array);
  EXPECT_EQ((std::vector<std::string>{"{", "k:arr", "[", "]", "}"}), EventsOf(data.ToJsonString()));
}

TEST(QLRequestDataTest, UrlAndJsonFormsOfTheSameFields) {
  QLRequestData data;
  data.AddField("c", Str("x y"));
  data.AddField("a", Int(-5));
  data.AddField("b", Bool(true));
  auto array = boost::make_shared<QLJsonTypeArray>();
  array->AddValue(Int(1));
  array->AddValue(Str("two"));
  array->AddValue(Bool(false));
  data.AddField("d", array);
  EXPECT_EQ("a=-5&b=true&c=x%20y&d=QLJsonTypeArray", data.ToUrlString());
  EXPECT_EQ(data.ToUrlString(), QLRequestDataSerializer::ToUrlString(&data));
  EXPECT_EQ((std::vector<std::string>{"{", "k:a", "i:-5", "k:b", "true", "k:c", "s:x y", "k:d", "[",
                                      "i:1", "s:two", "false", "]", "}"}),
            EventsOf(data.ToJsonString()));
  EXPECT_EQ(data.ToJsonString(), QLRequestDataSerializer::ToJsonString(&data));
  QLRequestData empty;
  EXPECT_EQ("", empty.ToUrlString());
  EXPECT_EQ((std::vector<std::string>{"{", "}"}), EventsOf(empty.ToJsonString()));
  empty.AddField("", Int(5));
  EXPECT_EQ((std::vector<std::string>{"{", "k:", "i:5", "}"}), EventsOf(empty.ToJsonString()));
  EXPECT_EQ("=5", empty.ToUrlString());
}

TEST(QLRequestDataSerializerTest, CallbackCollectsNulTerminatedBytesAndFailsWithoutLeakOrWrap) {
  EXPECT_EQ("{ }", QLRequestDataSerializer::ToJsonString(nullptr));
  EXPECT_EQ("", QLRequestDataSerializer::ToUrlString(nullptr));
  QLRequestDataSerializer::QLJsonMemoryStruct memory;
  ASSERT_EQ(0, QLRequestDataSerializer::JsonPrinterCallback(&memory, "ab", 2));
  ASSERT_EQ(0, QLRequestDataSerializer::JsonPrinterCallback(&memory, "cde", 3));
  EXPECT_EQ(5u, memory.size);
  EXPECT_STREQ("abcde", memory.buffer);
  // A count this close to the limit cannot take 4 more bytes and the NUL.
  memory.size = UINT_MAX - 3;
  EXPECT_EQ(-1, QLRequestDataSerializer::JsonPrinterCallback(&memory, "wxyz", 4));
  EXPECT_EQ(nullptr, memory.buffer);
  EXPECT_EQ(0u, memory.size);
  // Once the buffer is gone, nothing more is taken (no half text later).
  EXPECT_EQ(-1, QLRequestDataSerializer::JsonPrinterCallback(&memory, "a", 1));
  EXPECT_EQ(nullptr, memory.buffer);
  EXPECT_EQ(-1, QLRequestDataSerializer::JsonPrinterCallback(nullptr, "a", 1));
}

// Keys and texts that stress escaping (quotes, backslashes, control
// characters, NUL, DEL, bytes of 0x80 and above) come back from the parser
// with the values they were given.
TEST(QLRequestDataSerializerTest, PrintedJsonParsesBackToTheSameValues) {
  std::string nasty("\"\\/\b\f\n\r\t\x7f\xc3\xa9\xff\x80{}[]:,\0", 20);
  for (int c = 1; c < 256; c += 7) nasty += static_cast<char>(c);
  std::vector<std::string> const texts = {nasty, "", "x"};
  QLRequestData data;
  std::vector<JSON::JSONNode> expected = {
      JSON::JSONNode("s" + nasty, nasty), JSON::JSONNode(nasty, LLONG_MIN),
      JSON::JSONNode("i", LLONG_MAX),     JSON::JSONNode("t", true),
      JSON::JSONNode("f", false),         JSON::JSONNode("a" + nasty, texts)};
  data.AddField("s" + nasty, Str(nasty));
  data.AddField(nasty, Int(LLONG_MIN));
  data.AddField("i", Int(LLONG_MAX));
  data.AddField("t", Bool(true));
  data.AddField("f", Bool(false));
  data.AddField("t", Bool(false));  // the first value of a key stays
  auto array = boost::make_shared<QLJsonTypeArray>();
  for (std::string const& text : texts) array->AddValue(Str(text));
  data.AddField("a" + nasty, array);
  std::string const printed = data.ToJsonString();
  JSON::JSONParser parser;
  ASSERT_EQ(0, parser.parse(printed.data(), static_cast<unsigned int>(printed.size()))) << printed;
  EXPECT_EQ(expected.size(), parser.nodes.size());
  for (JSON::JSONNode const& node : expected) {
    auto n = parser.node(node.key);
    ASSERT_TRUE(n) << printed;
    EXPECT_TRUE(SameNode(node, *n)) << printed;
  }
}

}  // namespace
