// Typed JSON values and request data: URL form, JSON form, and the round trip
// from QLRequestDataSerializer::ToJsonString back through JSON::JSONParser.
#include "json/ql_request_data.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <climits>
#include <map>
#include <random>
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

TEST(QLRequestDataTest, NestedObjectsAndArraysPrintInOrder) {
  auto inner = boost::make_shared<QLJsonTypeObject>();
  inner->AddField("z", Int(26));
  inner->AddField("y", boost::make_shared<QLJsonTypeArray>());
  auto array = boost::make_shared<QLJsonTypeArray>();
  array->AddValue(inner);
  array->AddValue(boost::make_shared<QLJsonTypeObject>());
  QLRequestData data;
  data.AddField("list", array);
  EXPECT_EQ((std::vector<std::string>{"{", "k:list", "[", "{", "k:y", "[", "]", "k:z", "i:26", "}",
                                      "{", "}", "]", "}"}),
            EventsOf(data.ToJsonString()));
}

TEST(QLRequestDataSerializerTest, NullDataIsHandled) {
  EXPECT_EQ("{ }", QLRequestDataSerializer::ToJsonString(nullptr));
  EXPECT_EQ("", QLRequestDataSerializer::ToUrlString(nullptr));
}

TEST(QLRequestDataSerializerTest, CallbackCollectsNulTerminatedBytesAndFailsWithoutLeakOrWrap) {
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

// Bytes that stress escaping: quotes, backslashes, every control character,
// DEL and bytes of 0x80 and above (not necessarily valid UTF-8).
std::string NastyText(std::mt19937& random, size_t max_length) {
  static std::string const kSpecial =
      std::string("\"\\/\b\f\n\r\t\x7f\xc3\xa9\xff\x80{}[]:,", 19) + std::string(1, '\0');
  std::uniform_int_distribution<size_t> length_of(0, max_length);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<size_t> pick(0, kSpecial.size() - 1);
  std::string s;
  size_t length = length_of(random);
  for (size_t i = 0; i < length; ++i) {
    s += (random() % 2) ? kSpecial[pick(random)] : static_cast<char>(byte(random));
  }
  return s;
}

TEST(QLRequestDataSerializerTest, PrintedJsonParsesBackToTheSameValues) {
  std::mt19937 random(20261206);
  for (int round = 0; round < 200; ++round) {
    QLRequestData data;
    std::map<std::string, JSON::JSONNode> expected;  // the first value of a key stays
    for (int field = 0; field < 12; ++field) {
      std::string key = NastyText(random, 12);
      if (key.empty() || expected.count(key)) continue;
      switch (random() % 4) {
        case 0: {
          std::string value = NastyText(random, 40);
          expected.emplace(key, JSON::JSONNode(key, value));
          data.AddField(key, Str(value));
          break;
        }
        case 1: {
          long long value = static_cast<long long>(random() ^ (uint64_t(random()) << 32));
          if (field == 0) value = LLONG_MIN;
          if (field == 1) value = LLONG_MAX;
          expected.emplace(key, JSON::JSONNode(key, value));
          data.AddField(key, Int(value));
          break;
        }
        case 2: {
          bool value = random() % 2;
          expected.emplace(key, JSON::JSONNode(key, value));
          data.AddField(key, Bool(value));
          break;
        }
        default: {
          auto array = boost::make_shared<QLJsonTypeArray>();
          std::vector<std::string> texts;
          for (int i = 0, n = 1 + random() % 4; i < n; ++i) {
            texts.push_back(NastyText(random, 10));
            array->AddValue(Str(texts.back()));
          }
          expected.emplace(key, JSON::JSONNode(key, texts));
          data.AddField(key, array);
        }
      }
    }
    std::string printed = data.ToJsonString();
    JSON::JSONParser parser;
    ASSERT_EQ(0, parser.parse(printed.data(), static_cast<unsigned int>(printed.size())))
        << printed;
    EXPECT_EQ(expected.size(), parser.nodes.size());
    for (auto const& e : expected) {
      auto n = parser.node(e.first);
      ASSERT_TRUE(n) << printed;
      EXPECT_TRUE(SameNode(e.second, *n)) << printed;
    }
  }
}

}  // namespace
