// JSON::JSONNode: constructors leave unused slots empty, setters, the typed
// adders and the debug representation.
#include "json/json_node.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <cfloat>
#include <sstream>
#include <string>
#include <vector>

namespace {

using JSON::JSONNode;

void ExpectUnusedSlotsEmpty(JSONNode const& n, JSON::JSONNodeType type) {
  EXPECT_EQ(type, n.type);
  if (type != JSON::NODE_STRING) {
    EXPECT_EQ("", n.stringValue);
  }
  if (type != JSON::NODE_ARRAY) {
    EXPECT_TRUE(n.arrayValues.empty());
  }
  if (type != JSON::NODE_INTEGER) {
    EXPECT_EQ(0, n.intValue);
  }
  if (type != JSON::NODE_FLOAT) {
    EXPECT_EQ(0.0f, n.floatValue);
  }
  if (type != JSON::NODE_BOOL) {
    EXPECT_FALSE(n.boolValue);
  }
  EXPECT_FALSE(n.objects);
  EXPECT_TRUE(n.objectElements.empty());
}

TEST(JSONNodeTest, EveryConstructorLeavesTheOtherSlotsEmpty) {
  ExpectUnusedSlotsEmpty(JSONNode(), JSON::NODE_NONE);
  ExpectUnusedSlotsEmpty(JSONNode("k"), JSON::NODE_NONE);
  ExpectUnusedSlotsEmpty(JSONNode("k", JSON::NODE_OBJECT), JSON::NODE_OBJECT);
  JSONNode s("k", std::string("v"));
  ExpectUnusedSlotsEmpty(s, JSON::NODE_STRING);
  EXPECT_EQ("v", s.stringValue);
  JSONNode literal("k", "lit");  // must not turn into a bool
  ExpectUnusedSlotsEmpty(literal, JSON::NODE_STRING);
  EXPECT_EQ("lit", literal.stringValue);
  JSONNode i("k", -7LL);
  ExpectUnusedSlotsEmpty(i, JSON::NODE_INTEGER);
  EXPECT_EQ(-7, i.intValue);
  JSONNode f("k", 2.5f);
  ExpectUnusedSlotsEmpty(f, JSON::NODE_FLOAT);
  EXPECT_EQ(2.5f, f.floatValue);
  JSONNode b("k", true);
  ExpectUnusedSlotsEmpty(b, JSON::NODE_BOOL);
  EXPECT_TRUE(b.boolValue);
  std::vector<std::string> values = {"a", "b"};
  JSONNode a("k", values);
  ExpectUnusedSlotsEmpty(a, JSON::NODE_ARRAY);
  EXPECT_EQ(values, a.arrayValues);
  EXPECT_EQ("k", a.key);
}

TEST(JSONNodeTest, SetValueChangesTypeAndKeepsOtherSlots) {
  JSONNode n("k");
  n.setValue(5LL);
  n.setValue(std::string("text"));
  EXPECT_EQ(JSON::NODE_STRING, n.type);
  EXPECT_EQ(5, n.intValue);
  n.setValue(true);
  EXPECT_EQ(JSON::NODE_BOOL, n.type);
  EXPECT_EQ("text", n.stringValue);
  n.setValue(std::vector<std::string>{"x"});
  n.setValue(std::vector<std::string>{"y", "z"});
  EXPECT_EQ((std::vector<std::string>{"y", "z"}), n.arrayValues);
  n.setType(JSON::NODE_NONE);
  EXPECT_EQ(JSON::NODE_NONE, n.type);
  EXPECT_EQ(2u, n.arrayValues.size());
}

TEST(JSONNodeTest, AddersRefuseNodesOfTheWrongType) {
  JSONNode n("k", 1LL);
  auto element = boost::make_shared<JSONNode>("e", 2LL);
  EXPECT_FALSE(n.addArrayElement("x"));
  EXPECT_FALSE(n.addObject(element));
  EXPECT_FALSE(n.addObjectElement(element));
  EXPECT_FALSE(n.ObjectNode("e"));
  ExpectUnusedSlotsEmpty(n, JSON::NODE_INTEGER);

  JSONNode array("a", JSON::NODE_ARRAY);
  EXPECT_TRUE(array.addArrayElement("x"));
  EXPECT_EQ(1u, array.arrayValues.size());

  JSONNode objects("o", JSON::NODE_OBJECT_ARRAY);
  EXPECT_FALSE(objects.objects);
  EXPECT_TRUE(objects.addObject(element));
  EXPECT_TRUE(objects.addObject(element));
  ASSERT_TRUE(objects.objects);
  EXPECT_EQ(2u, objects.objects->size());
}

TEST(JSONNodeTest, ObjectElementsAreFoundByKeyAndReplaced) {
  JSONNode object("", JSON::NODE_OBJECT);
  EXPECT_TRUE(object.addObjectElement(boost::make_shared<JSONNode>("a", 1LL)));
  EXPECT_TRUE(object.addObjectElement(boost::make_shared<JSONNode>("a", 2LL)));
  EXPECT_FALSE(object.addObjectElement(boost::shared_ptr<JSONNode>()));
  ASSERT_TRUE(object.ObjectNode("a"));
  EXPECT_EQ(2, object.ObjectNode("a")->intValue);
  EXPECT_EQ(1u, object.objectElements.size());
  EXPECT_FALSE(object.ObjectNode("b"));
}

TEST(JSONNodeTest, RepresentationByType) {
  EXPECT_EQ("", JSONNode("k").JSONRepresentation());
  EXPECT_EQ("\"k\":\"v\"", JSONNode("k", "v").JSONRepresentation());
  EXPECT_EQ("\"k\":-9223372036854775807",
            JSONNode("k", -9223372036854775807LL).JSONRepresentation());
  std::ostringstream float_text;
  float_text << 1234567.0f;  // default stream format: 1.23457e+06
  EXPECT_EQ("\"k\":" + float_text.str(), JSONNode("k", 1234567.0f).JSONRepresentation());
  EXPECT_EQ("\"k\":[]", JSONNode("k", std::vector<std::string>()).JSONRepresentation());
  EXPECT_EQ("\"k\":[\"1\",\"x\"]",
            JSONNode("k", std::vector<std::string>{"1", "x"}).JSONRepresentation());
  EXPECT_EQ("\"k\":true", JSONNode("k", true).JSONRepresentation());
  EXPECT_EQ("\"k\":false", JSONNode("k", false).JSONRepresentation());
}

TEST(JSONNodeTest, RepresentationOfObjectsShowsTheirMembers) {
  auto object = boost::make_shared<JSONNode>("", JSON::NODE_OBJECT);
  object->addObjectElement(boost::make_shared<JSONNode>("b", "c"));
  object->addObjectElement(boost::make_shared<JSONNode>("a", 1LL));
  JSONNode array("k", JSON::NODE_OBJECT_ARRAY);
  array.addObject(object);
  array.addObject(boost::make_shared<JSONNode>("", JSON::NODE_OBJECT));
  EXPECT_EQ("\"k\":[{\"a\":1,\"b\":\"c\"},{}]", array.JSONRepresentation());
  EXPECT_EQ("\"k\":[]", JSONNode("k", JSON::NODE_OBJECT_ARRAY).JSONRepresentation());
}

TEST(JSONNodeTest, RepresentationEscapesControlCharactersQuotesAndBackslashes) {
  // A line break taken from a request must not start a new log line.
  std::string r = JSONNode("a\"b", std::string("line\nERROR: forged\\\x01")).JSONRepresentation();
  EXPECT_EQ(std::string::npos, r.find('\n'));
  EXPECT_EQ("\"a\\\"b\":\"line\\nERROR: forged\\\\\\u0001\"", r);
}

}  // namespace
