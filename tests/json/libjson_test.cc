// The C JSON library: the callback parser (grammar, unescaping, cut-short
// text, bounds) and the printer, whose output parses back to the same events
// and which refuses tokens that would break the grammar.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "libjson_event_recorder.h"

namespace {

using Events = std::vector<std::string>;

// Every valid document gives the same events however it is split into
// pieces: the parser keeps its whole state between calls.
TEST(LibJsonParserTest, EventsAreTheSameForEveryPieceSize) {
  struct {
    std::string text;
    Events events;
  } const cases[] = {
      {" \t\r\n{ \"a\" : 1 , \"b\":[ ] }\n ", {"{", "k:a", "i:1", "k:b", "[", "]", "}"}},
      {"[true,false,null,{}]", {"[", "true", "false", "null", "{", "}", "]"}},
      {"[-0,-345,-0.25,1E+3,2e-2,99999999999999999999]",
       {"[", "i:-0", "i:-345", "f:-0.25", "f:1E+3", "f:2e-2", "i:99999999999999999999", "]"}},
      {"{\"a\":{\"b\":[{\"c\":\"d\"}]}}",
       {"{", "k:a", "{", "k:b", "[", "{", "k:c", "s:d", "}", "]", "}", "}"}},
      {"[\"\",{\"\":\"top\"}]", {"[", "s:", "{", "k:", "s:top", "}", "]"}},
      {"[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"]", {"[", "s:\"\\/\b\f\n\r\t", "]"}},
      // U+1F600 as a surrogate pair becomes one 4-byte UTF-8 character.
      {"[\"\\u0041\\u00e9\\u20AC\\ud83d\\ude00\"]",
       {"[", "s:A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "]"}},
      {"{\"k\\u0000\":\"a\\u0000b\"}",
       {"{", std::string("k:k\0", 4), std::string("s:a\0b", 5), "}"}},
      // Bytes of 0x80 and above pass through unchecked.
      {"[\"\xC3\xA9\xFF\x80\"]", {"[", "s:\xC3\xA9\xFF\x80", "]"}}};
  for (auto const& c : cases) {
    for (size_t piece = 0; piece <= c.text.size(); ++piece) {
      LibJsonEventRecorder recorder;
      bool done = false;
      ASSERT_EQ(0, ParseWithLibJson(c.text, recorder, piece, &done))
          << c.text << " piece " << piece;
      EXPECT_EQ(c.events, recorder.events) << c.text << " piece " << piece;
      EXPECT_TRUE(done) << c.text;
    }
  }
}

TEST(LibJsonParserTest, BoundsAreCleanErrorsAndLongTokensGrowTheBuffer) {
  std::string const deepest =
      std::string(JSON_MAX_NESTING, '[') + std::string(JSON_MAX_NESTING, ']');
  LibJsonEventRecorder at_bound, over, small, huge;
  EXPECT_EQ(0, ParseWithLibJson(deepest, at_bound));
  EXPECT_EQ(JSON_ERROR_NESTING_LIMIT, ParseWithLibJson("[" + deepest + "]", over));
  EXPECT_EQ(size_t(JSON_MAX_NESTING), over.events.size());
  json_config config = {3, 8};
  EXPECT_EQ(0, ParseWithLibJson("[[[\"12345678\",12345678]]]", small, 0, nullptr, &config));
  EXPECT_EQ(JSON_ERROR_NESTING_LIMIT, ParseWithLibJson("[[[[]]]]", small, 0, nullptr, &config));
  EXPECT_EQ(JSON_ERROR_DATA_LIMIT, ParseWithLibJson("[\"123456789\"]", small, 0, nullptr, &config));
  EXPECT_EQ(JSON_ERROR_DATA_LIMIT, ParseWithLibJson("[123456789]", small, 2, nullptr, &config));
  // A million open brackets must neither crash nor recurse.
  EXPECT_EQ(JSON_ERROR_NESTING_LIMIT, ParseWithLibJson(std::string(1000000, '['), huge));

  std::string value;
  for (int i = 0; i < 300000; ++i) value += static_cast<char>('a' + i % 26);
  for (size_t piece : {size_t(0), size_t(4093)}) {
    LibJsonEventRecorder recorder;
    ASSERT_EQ(0, ParseWithLibJson("{\"" + value + "\":\"\\u0071" + value + "\"}", recorder, piece));
    ASSERT_EQ(4u, recorder.events.size());
    EXPECT_EQ("k:" + value, recorder.events[1]);
    EXPECT_EQ("s:q" + value, recorder.events[2]);
  }
}

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

// Prints the tokens, the last one refused with `last_error` (0: all accepted).
std::string Print(std::vector<Token> const& tokens, int last_error = 0) {
  Output output;
  json_printer printer;
  EXPECT_EQ(0, json_print_init(&printer, &Output::Callback, &output));
  for (size_t i = 0; i < tokens.size(); ++i) {
    bool const last = i + 1 == tokens.size();
    std::string const before = output.text;
    Token const& t = tokens[i];
    EXPECT_EQ(last ? last_error : 0, json_print_pretty(&printer, t.type, t.data.data(),
                                                       static_cast<uint32_t>(t.data.size())))
        << "token " << i;
    if (last && last_error) {
      EXPECT_EQ(before, output.text) << "a refused token prints nothing";
    }
  }
  json_print_free(&printer);
  return output.text;
}

TEST(LibJsonPrinterTest, PrintedTokensParseBackToTheSameEventsWithoutRawControlBytes) {
  std::string nasty = "q\"uo\\te/\b\f\n\r\t\x01\x1f\x7f";
  for (int c = 0; c < 256; ++c) nasty += static_cast<char>(c);
  std::vector<Token> const tokens = {
      {JSON_OBJECT_BEGIN, ""}, {JSON_KEY, nasty},      {JSON_STRING, nasty},
      {JSON_KEY, ""},          {JSON_ARRAY_BEGIN, ""}, {JSON_INT, "-9223372036854775808"},
      {JSON_FLOAT, "1.5e-3"},  {JSON_TRUE, ""},        {JSON_FALSE, ""},
      {JSON_NULL, ""},         {JSON_ARRAY_BEGIN, ""}, {JSON_ARRAY_END, ""},
      {JSON_OBJECT_BEGIN, ""}, {JSON_KEY, "x"},        {JSON_STRING, ""},
      {JSON_OBJECT_END, ""},   {JSON_ARRAY_END, ""},   {JSON_OBJECT_END, ""}};
  std::string const printed = Print(tokens);
  LibJsonEventRecorder recorder;
  bool done = false;
  ASSERT_EQ(0, ParseWithLibJson(printed, recorder, 0, &done)) << printed;
  EXPECT_TRUE(done);
  Events expected;
  for (Token const& t : tokens) expected.push_back(EventText(t.type, t.data));
  EXPECT_EQ(expected, recorder.events);
  for (size_t i = 0; i < printed.size(); ++i)
    EXPECT_TRUE(printed[i] == '\n' || static_cast<unsigned char>(printed[i]) >= 0x20) << i;
}

TEST(LibJsonPrinterTest, LayoutIndentsAndDeepNestingGrowsTheStack) {
  EXPECT_EQ("{}", Print({{JSON_OBJECT_BEGIN, ""}, {JSON_OBJECT_END, ""}}));
  EXPECT_EQ("{\n  \"a\": [\n    1,\n    2\n  ]\n}", Print({{JSON_OBJECT_BEGIN, ""},
                                                           {JSON_KEY, "a"},
                                                           {JSON_ARRAY_BEGIN, ""},
                                                           {JSON_INT, "1"},
                                                           {JSON_INT, "2"},
                                                           {JSON_ARRAY_END, ""},
                                                           {JSON_OBJECT_END, ""}}));
  std::vector<Token> deep(1000, Token{JSON_ARRAY_BEGIN, ""});
  deep.resize(2000, Token{JSON_ARRAY_END, ""});
  std::string const printed = Print(deep);
  EXPECT_EQ(1000, std::count(printed.begin(), printed.end(), ']'));
}

TEST(LibJsonPrinterTest, TokenThatWouldBreakTheGrammarIsRefusedWithoutOutput) {
  Token const begin_array = {JSON_ARRAY_BEGIN, ""}, begin_object = {JSON_OBJECT_BEGIN, ""},
              key = {JSON_KEY, "a"};
  std::vector<std::pair<std::vector<Token>, int>> const cases = {
      {{key}, JSON_ERROR_PRINT_ORDER},
      {{begin_array, key}, JSON_ERROR_PRINT_ORDER},
      {{begin_object, {JSON_INT, "1"}}, JSON_ERROR_PRINT_ORDER},
      {{begin_object, key, key}, JSON_ERROR_PRINT_ORDER},
      {{begin_object, key, {JSON_OBJECT_END, ""}}, JSON_ERROR_PRINT_ORDER},
      {{{JSON_OBJECT_END, ""}}, JSON_ERROR_PRINT_ORDER},
      {{{JSON_INT, "1"}, {JSON_INT, "2"}}, JSON_ERROR_PRINT_ORDER},
      {{begin_array, {JSON_INT, "01"}}, JSON_ERROR_BAD_NUMBER},
      {{begin_array, {JSON_FLOAT, "1."}}, JSON_ERROR_BAD_NUMBER},
      {{begin_array, {JSON_FLOAT, "1.5x"}}, JSON_ERROR_BAD_NUMBER},
      {{begin_array, {JSON_INT, "1]"}}, JSON_ERROR_BAD_NUMBER},
      {{{42, ""}}, JSON_ERROR_INVALID_ARGUMENT}};
  for (auto const& c : cases) Print(c.first, c.second);

  Output output;
  output.fail_from_call = 3;
  json_printer printer;
  ASSERT_EQ(0, json_print_init(&printer, &Output::Callback, &output));
  int first_error = 0;
  // Only `length` bytes are the number: "7" of "7.5".
  for (int i = 0; i < 5 && first_error == 0; ++i)
    first_error = json_print_pretty(&printer, i == 0 ? JSON_ARRAY_BEGIN : JSON_INT, "7.5", 1);
  EXPECT_EQ(JSON_ERROR_CALLBACK, first_error);
  std::string const after_failure = output.text;
  output.fail_from_call = -1;  // a failed output stops the printer for good
  EXPECT_EQ(JSON_ERROR_CALLBACK, json_print_pretty(&printer, JSON_INT, "8", 1));
  EXPECT_EQ(JSON_ERROR_CALLBACK, json_print_pretty(&printer, JSON_ARRAY_END, nullptr, 0));
  EXPECT_EQ(after_failure, output.text);
  json_print_free(&printer);
}

}  // namespace
