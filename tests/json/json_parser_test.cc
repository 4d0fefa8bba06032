// JSON::JSONParser and JSON::JSONNode: how documents map onto the node table,
// error states and hostile input.
#include "json/json_parser.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <cfloat>
#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "libjson/json.h"
#include "log/ql_log.h"
#include "support/ql_log_capture.h"

namespace {

using JSON::JSONNode;
using JSON::JSONParser;

class JSONParserTest : public ::testing::Test {
 protected:
  int Parse(std::string const& text) {
    return parser_.parse(text.data(), static_cast<unsigned int>(text.size()));
  }

  QLLogCapture log_;
  JSONParser parser_;
};

// Document, the parse result and the debug representation of the table it
// leaves: how arrays, nested objects, cut-short and invalid text map onto nodes.
TEST_F(JSONParserTest, DocumentsMapOntoTheNodeTable) {
  std::ostringstream float_text;
  float_text << 2.5f;
  struct Case {
    std::string document;
    int result;
    std::string table;
  } const cases[] = {
      {"{\"a\":null}", 0, "{}"},
      {"{\"k\":[1,\"x\",true,false,2.5]}", 0,
       "{\"k\":[\"1\",\"x\",\"1\",\"0\",\"" + float_text.str() + "\"]}"},
      {"{\"k\":[{\"a\":1},{\"b\":\"c\"}]}", 0, "{\"k\":[{\"a\":1},{\"b\":\"c\"}]}"},
      {"{\"k\":[{\"x\":{\"y\":1},\"z\":2}]}", 0, "{\"k\":[{\"y\":1}]}"},
      {"{\"k\":[1,[2,3],4]}", 0, "{\"k\":[\"1\",\"2\",\"3\"]}"},  // inner end ends the outer
      {"[{\"a\":1},5]", 0, "{\"a\":1}"},
      {"{\"a\":\"x\"", 0, "{\"a\":\"x\"}"},
      {"{\"a\":\"x\",\"b\":12", 0, "{\"a\":\"x\"}"},  // a number at the cut may go on
      {"{\"a\":1,\"b\":[],\"c\":true}", 0, "{\"a\":1,,\"c\":true}"},
      {"{\"ok\":1,\"bad\":tru}", 2, "{\"ok\":1}"},
      {"{\"a\":1}GARBAGE", 2, "{\"a\":1}"},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(c.result, Parse(c.document)) << c.document;
    EXPECT_EQ(c.result, parser_.errorState) << c.document;
    EXPECT_EQ(c.table, parser_.buildJSONRepresentation()) << c.document;
  }
  auto k = (Parse("{\"k\":[{\"a\":1}]}"), parser_.node("k"));
  ASSERT_TRUE(k && k->objects);
  EXPECT_EQ(JSON::NODE_OBJECT_ARRAY, k->type);
  EXPECT_FALSE(parser_.node("a"));
  EXPECT_EQ(0, parser_.parse("{\"a\":1}GARBAGE", 7)) << "only the given length is parsed";
  EXPECT_EQ(0, parser_.parse(nullptr, 0));
  EXPECT_TRUE(parser_.nodes.empty());
  EXPECT_EQ(2, parser_.parse(nullptr, 5));
}

// Hostile documents: each ends in a clean error state (the sanitizer builds
// catch memory faults on the way).
TEST_F(JSONParserTest, HostileDocumentGivesErrorStateTwo) {
  std::string const documents[] = {"{\"a\":\"\\udc00\"}", std::string("{\"a\":\"\0\"}", 8),
                                   "\xEF\xBB\xBF{}"};
  for (std::string const& text : documents) EXPECT_EQ(2, Parse(text)) << text;
}

// Documents at and just over the caps on keys and values (the root object
// counts as one), on depth and on a token's length: over them the parse stops with errorState 3
// and an empty table, whatever follows.
TEST_F(JSONParserTest, DocumentOverACapGivesErrorStateThree) {
  auto keys = [](int count) {
    std::string text = "{";
    for (int i = 0; i < count; ++i) text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":1";
    return text + "}";
  };
  auto depth = [](int levels) {
    return "{\"k\":" + std::string(levels - 1, '[') + std::string(levels - 1, ']') + "}";
  };
  struct Case {
    std::string document;
    int result;
    size_t nodes;
  } const cases[] = {
      {keys(127), 0, 127}, {keys(128), 3, 0}, {keys(200).substr(0, 1500) + "GARBAGE", 3, 0},
      {depth(8), 0, 1},    {depth(9), 3, 0},  {depth(65), 3, 0},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(c.result, Parse(c.document)) << c.document.substr(0, 80);
    EXPECT_EQ(c.nodes, parser_.nodes.size()) << c.document.substr(0, 80);
  }
}

}  // namespace
