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
                                   "\xEF\xBB\xBF{}", std::string(65, '[') + std::string(65, ']'),
                                   "{\"k\":" + std::string(64, '[') + std::string(64, ']') + "}"};
  for (std::string const& text : documents) EXPECT_EQ(2, Parse(text)) << text;
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "{\"a\":";
  EXPECT_EQ(2, Parse(nested));
}

}  // namespace
