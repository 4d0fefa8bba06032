// The C printer: whatever it prints parses back to the same tokens; it
// escapes strings and keys and refuses tokens that would break the grammar.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "libjson_event_recorder.h"

namespace {

using Events = std::vector<std::string>;

struct Output {
  std::string text;
  int calls = 0;
  int fail_from_call = -1;  // the callback fails from this call on (-1: never)

  static int Callback(void* userdata, const char* s, uint32_t length) {
    auto* self = static_cast<Output*>(userdata);
    if (self->fail_from_call >= 0 && self->calls >= self->fail_from_call) return -1;
    self->calls++;
    self->text.append(s, length);
    return 0;
  }
};

struct Token {
  int type;
  std::string data;
};

// Prints the tokens, asserting each is accepted; returns the output.
std::string PrintAll(std::vector<Token> const& tokens) {
  Output output;
  json_printer printer;
  EXPECT_EQ(0, json_print_init(&printer, &Output::Callback, &output));
  for (Token const& t : tokens) {
    EXPECT_EQ(
        0, json_print_pretty(&printer, t.type, t.data.data(), static_cast<uint32_t>(t.data.size())))
        << "token " << t.type << " " << t.data;
  }
  json_print_free(&printer);
  return output.text;
}

std::string AllBytes() {
  std::string s;
  for (int c = 0; c < 256; ++c) s += static_cast<char>(c);
  return s;
}

TEST(LibJsonPrinterTest, PrintedTokensParseBackToTheSameEventsWithoutRawControlBytes) {
  std::string const nasty = "q\"uo\\te/\b\f\n\r\t\x01\x1f\x7f" + AllBytes();
  std::vector<Token> tokens = {
      {JSON_OBJECT_BEGIN, ""}, {JSON_KEY, nasty},      {JSON_STRING, nasty},
      {JSON_KEY, ""},          {JSON_ARRAY_BEGIN, ""}, {JSON_INT, "-9223372036854775808"},
      {JSON_FLOAT, "1.5e-3"},  {JSON_TRUE, ""},        {JSON_FALSE, ""},
      {JSON_NULL, ""},         {JSON_ARRAY_BEGIN, ""}, {JSON_ARRAY_END, ""},
      {JSON_OBJECT_BEGIN, ""}, {JSON_OBJECT_END, ""},  {JSON_OBJECT_BEGIN, ""},
      {JSON_KEY, "x"},         {JSON_STRING, ""},      {JSON_OBJECT_END, ""},
      {JSON_ARRAY_END, ""},    {JSON_KEY, "last"},     {JSON_INT, "0"},
      {JSON_OBJECT_END, ""}};
  std::string printed = PrintAll(tokens);
  LibJsonEventRecorder recorder;
  bool done = false;
  ASSERT_EQ(0, ParseWithLibJson(printed, recorder, 0, &done)) << printed;
  EXPECT_TRUE(done);
  Events expected;
  for (Token const& t : tokens) expected.push_back(EventText(t.type, t.data));
  EXPECT_EQ(expected, recorder.events);
  // Only the layout's own line breaks: no other raw control byte.
  for (size_t i = 0; i < printed.size(); ++i) {
    EXPECT_TRUE(printed[i] == '\n' || static_cast<unsigned char>(printed[i]) >= 0x20) << i;
  }
}

TEST(LibJsonPrinterTest, EmptyContainersAndNestingAreLaidOutWithIndentation) {
  EXPECT_EQ("{}", PrintAll({{JSON_OBJECT_BEGIN, ""}, {JSON_OBJECT_END, ""}}));
  std::string printed = PrintAll({{JSON_OBJECT_BEGIN, ""},
                                  {JSON_KEY, "a"},
                                  {JSON_ARRAY_BEGIN, ""},
                                  {JSON_INT, "1"},
                                  {JSON_INT, "2"},
                                  {JSON_ARRAY_END, ""},
                                  {JSON_OBJECT_END, ""}});
  EXPECT_EQ("{\n  \"a\": [\n    1,\n    2\n  ]\n}", printed);
}

struct RefusedCase {
  std::vector<Token> accepted;  // printed first, each accepted
  Token refused;
  int error;
};

class LibJsonPrinterRefusalTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(LibJsonPrinterRefusalTest, TokenThatWouldBreakTheGrammarIsRefusedWithoutOutput) {
  RefusedCase const& c = GetParam();
  Output output;
  json_printer printer;
  ASSERT_EQ(0, json_print_init(&printer, &Output::Callback, &output));
  for (Token const& t : c.accepted) {
    ASSERT_EQ(0, json_print_pretty(&printer, t.type, t.data.data(),
                                   static_cast<uint32_t>(t.data.size())));
  }
  std::string before = output.text;
  EXPECT_EQ(c.error, json_print_pretty(&printer, c.refused.type, c.refused.data.data(),
                                       static_cast<uint32_t>(c.refused.data.size())));
  EXPECT_EQ(before, output.text);
  json_print_free(&printer);
}

INSTANTIATE_TEST_SUITE_P(
    Order, LibJsonPrinterRefusalTest,
    ::testing::Values(
        RefusedCase{{}, {JSON_KEY, "a"}, JSON_ERROR_PRINT_ORDER},
        RefusedCase{{{JSON_ARRAY_BEGIN, ""}}, {JSON_KEY, "a"}, JSON_ERROR_PRINT_ORDER},
        RefusedCase{{{JSON_OBJECT_BEGIN, ""}}, {JSON_INT, "1"}, JSON_ERROR_PRINT_ORDER},
        RefusedCase{
            {{JSON_OBJECT_BEGIN, ""}, {JSON_KEY, "a"}}, {JSON_KEY, "b"}, JSON_ERROR_PRINT_ORDER},
        RefusedCase{{{JSON_OBJECT_BEGIN, ""}, {JSON_KEY, "a"}},
                    {JSON_OBJECT_END, ""},
                    JSON_ERROR_PRINT_ORDER},
        RefusedCase{{}, {JSON_OBJECT_END, ""}, JSON_ERROR_PRINT_ORDER},
        RefusedCase{{{JSON_INT, "1"}}, {JSON_INT, "2"}, JSON_ERROR_PRINT_ORDER},
        RefusedCase{{{JSON_ARRAY_BEGIN, ""}}, {JSON_INT, "01"}, JSON_ERROR_BAD_NUMBER},
        RefusedCase{{{JSON_ARRAY_BEGIN, ""}}, {JSON_FLOAT, "1."}, JSON_ERROR_BAD_NUMBER},
        RefusedCase{{{JSON_ARRAY_BEGIN, ""}}, {JSON_INT, "1]"}, JSON_ERROR_BAD_NUMBER},
        RefusedCase{{}, {42, ""}, JSON_ERROR_INVALID_ARGUMENT}));

TEST(LibJsonPrinterTest, FailedOutputStopsThePrinterForGood) {
  Output output;
  output.fail_from_call = 3;
  json_printer printer;
  ASSERT_EQ(0, json_print_init(&printer, &Output::Callback, &output));
  int first_error = 0;
  for (int i = 0; i < 5 && first_error == 0; ++i) {
    first_error = json_print_pretty(&printer, i == 0 ? JSON_ARRAY_BEGIN : JSON_INT, "7", 1);
  }
  EXPECT_EQ(JSON_ERROR_CALLBACK, first_error);
  std::string after_failure = output.text;
  output.fail_from_call = -1;  // even when output would work again
  EXPECT_EQ(JSON_ERROR_CALLBACK, json_print_pretty(&printer, JSON_INT, "8", 1));
  EXPECT_EQ(JSON_ERROR_CALLBACK, json_print_pretty(&printer, JSON_ARRAY_END, nullptr, 0));
  EXPECT_EQ(after_failure, output.text);
  json_print_free(&printer);
}

TEST(LibJsonPrinterTest, DeepNestingGrowsTheStack) {
  std::vector<Token> tokens;
  for (int i = 0; i < 1000; ++i) tokens.push_back({JSON_ARRAY_BEGIN, ""});
  for (int i = 0; i < 1000; ++i) tokens.push_back({JSON_ARRAY_END, ""});
  std::string printed = PrintAll(tokens);
  EXPECT_EQ(1000, std::count(printed.begin(), printed.end(), '['));
  EXPECT_EQ(1000, std::count(printed.begin(), printed.end(), ']'));
}

TEST(LibJsonPrinterTest, NullArgumentsAreRefused) {
  json_printer printer;
  EXPECT_EQ(JSON_ERROR_INVALID_ARGUMENT, json_print_init(nullptr, &Output::Callback, nullptr));
  EXPECT_EQ(JSON_ERROR_INVALID_ARGUMENT, json_print_init(&printer, nullptr, nullptr));
  EXPECT_EQ(JSON_ERROR_INVALID_ARGUMENT, json_print_pretty(nullptr, JSON_TRUE, nullptr, 0));
  Output output;
  ASSERT_EQ(0, json_print_init(&printer, &Output::Callback, &output));
  EXPECT_EQ(JSON_ERROR_INVALID_ARGUMENT, json_print_pretty(&printer, JSON_STRING, nullptr, 4));
  json_print_free(&printer);
}

}  // namespace
