// JSON::JSONNode: the typed adders and the debug representation.
#include "json/json_node.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

using JSON::JSONNode;

TEST(JSONNodeTest, AddersRefuseNodesOfTheWrongTypeAndReplaceByKey) {
  JSONNode n("k", 1LL);
  auto element = boost::make_shared<JSONNode>("e", 2LL);
  EXPECT_FALSE(n.addArrayElement("x"));
  EXPECT_FALSE(n.addObject(element));
  EXPECT_FALSE(n.addObjectElement(element));
  EXPECT_TRUE(n.arrayValues.empty() && !n.objects && n.objectElements.empty());

  JSONNode objects("o", JSON::NODE_OBJECT_ARRAY);
  EXPECT_TRUE(objects.addObject(element));
  ASSERT_TRUE(objects.objects);
  EXPECT_EQ(1u, objects.objects->size());

  JSONNode object("", JSON::NODE_OBJECT);
  EXPECT_TRUE(object.addObjectElement(boost::make_shared<JSONNode>("a", 1LL)));
  EXPECT_TRUE(object.addObjectElement(boost::make_shared<JSONNode>("a", 2LL)));
  EXPECT_FALSE(object.addObjectElement(boost::shared_ptr<JSONNode>()));
  ASSERT_TRUE(object.ObjectNode("a"));
  EXPECT_EQ(2, object.ObjectNode("a")->intValue);
  EXPECT_FALSE(object.ObjectNode("b"));
}

TEST(JSONNodeTest, RepresentationByType) {
  std::ostringstream float_text;
  float_text << 1234567.0f;  // default stream format: 1.23457e+06
  auto object = boost::make_shared<JSONNode>("", JSON::NODE_OBJECT);
  object->addObjectElement(boost::make_shared<JSONNode>("b", "c"));
  object->addObjectElement(boost::make_shared<JSONNode>("a", 1LL));
  JSONNode objects("k", JSON::NODE_OBJECT_ARRAY);
  objects.addObject(object);
  objects.addObject(boost::make_shared<JSONNode>("", JSON::NODE_OBJECT));
  struct Case {
    JSONNode node;
    std::string text;
  } const cases[] = {
      {JSONNode("k"), ""},
      {JSONNode("k", "lit"), "\"k\":\"lit\""},  // a literal must not turn into a bool
      {JSONNode("k", -9223372036854775807LL), "\"k\":-9223372036854775807"},
      {JSONNode("k", 1234567.0f), "\"k\":" + float_text.str()},
      {JSONNode("k", std::vector<std::string>()), "\"k\":[]"},
      {JSONNode("k", std::vector<std::string>{"1", "x"}), "\"k\":[\"1\",\"x\"]"},
      {JSONNode("k", true), "\"k\":true"},
      {JSONNode("k", false), "\"k\":false"},
      {objects, "\"k\":[{\"a\":1,\"b\":\"c\"},{}]"},
      {JSONNode("k", JSON::NODE_OBJECT_ARRAY), "\"k\":[]"},
      // A line break taken from a request must not start a new log line.
      {JSONNode("a\"b", std::string("line\nERROR: forged\\\x01")),
       "\"a\\\"b\":\"line\\nERROR: forged\\\\\\u0001\""},
  };
  for (auto const& c : cases) EXPECT_EQ(c.text, c.node.JSONRepresentation());
}

}  // namespace
