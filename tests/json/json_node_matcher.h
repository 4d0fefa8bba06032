// Test helper: compares two JSON nodes slot by slot (key, type and every
// scalar and array slot; not the object slots), naming each slot that differs.
#ifndef QUORLIN_TESTS_JSON_JSON_NODE_MATCHER_H_
#define QUORLIN_TESTS_JSON_JSON_NODE_MATCHER_H_

#include <gtest/gtest.h>

#include "json/json_node.h"

inline testing::AssertionResult SameNode(JSON::JSONNode const& expected,
                                         JSON::JSONNode const& actual) {
  testing::AssertionResult result = testing::AssertionSuccess();
  auto differs = [&result](char const* slot) {
    if (result) result = testing::AssertionFailure() << "differs in";
    result << " " << slot;
  };
  if (expected.key != actual.key) differs("key");
  if (expected.type != actual.type) differs("type");
  if (expected.stringValue != actual.stringValue) differs("stringValue");
  if (expected.arrayValues != actual.arrayValues) differs("arrayValues");
  if (expected.intValue != actual.intValue) differs("intValue");
  if (expected.floatValue != actual.floatValue) differs("floatValue");
  if (expected.boolValue != actual.boolValue) differs("boolValue");
  return result;
}

#endif  // QUORLIN_TESTS_JSON_JSON_NODE_MATCHER_H_
