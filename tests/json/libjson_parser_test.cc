// The C callback parser: grammar, unescaping, number kinds, cut-short text,
// hostile input and its bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "libjson_event_recorder.h"

namespace {

using Events = std::vector<std::string>;

struct ValidCase {
  std::string text;
  Events events;
};

// Every valid document must give the same events however it is split into
// pieces: the parser keeps its whole state between calls.
class LibJsonParserValidTest : public ::testing::TestWithParam<ValidCase> {};

TEST_P(LibJsonParserValidTest, EventsAreTheSameForEveryPieceSize) {
  ValidCase const& c = GetParam();
  for (size_t piece = 0; piece <= c.text.size(); ++piece) {
    LibJsonEventRecorder recorder;
    bool done = false;
    ASSERT_EQ(0, ParseWithLibJson(c.text, recorder, piece, &done)) << c.text << " piece " << piece;
    EXPECT_EQ(c.events, recorder.events) << c.text << " piece " << piece;
    EXPECT_TRUE(done) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, LibJsonParserValidTest,
    ::testing::Values(
        ValidCase{"{}", {"{", "}"}}, ValidCase{"[]", {"[", "]"}},
        ValidCase{" \t\r\n{ \"a\" : 1 , \"b\":[ ] }\n ", {"{", "k:a", "i:1", "k:b", "[", "]", "}"}},
        ValidCase{"[true,false,null]", {"[", "true", "false", "null", "]"}},
        ValidCase{"[0,-0,12,-345,1.5,-0.25,1e3,1E+3,2e-2,0.0e0,10.01]",
                  {"[", "i:0", "i:-0", "i:12", "i:-345", "f:1.5", "f:-0.25", "f:1e3", "f:1E+3",
                   "f:2e-2", "f:0.0e0", "f:10.01", "]"}},
        ValidCase{"[9223372036854775807,-9223372036854775808,99999999999999999999]",
                  {"[", "i:9223372036854775807", "i:-9223372036854775808", "i:99999999999999999999",
                   "]"}},
        ValidCase{"{\"a\":{\"b\":[{\"c\":\"d\"}]}}",
                  {"{", "k:a", "{", "k:b", "[", "{", "k:c", "s:d", "}", "]", "}", "}"}},
        ValidCase{"\"top\"", {"s:top"}},
        ValidCase{"[\"\",{\"\":\"\"}]", {"[", "s:", "{", "k:", "s:", "}", "]"}},
        ValidCase{"[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"]", {"[", "s:\"\\/\b\f\n\r\t", "]"}},
        ValidCase{"[\"\\u0041\\u00e9\\u20AC\"]", {"[", "s:A\xC3\xA9\xE2\x82\xAC", "]"}},
        // U+1F600 as a surrogate pair becomes one 4-byte UTF-8 character.
        ValidCase{"[\"\\ud83d\\ude00\"]", {"[", "s:\xF0\x9F\x98\x80", "]"}},
        ValidCase{"{\"k\\u0000\":\"a\\u0000b\"}",
                  {"{", std::string("k:k\0", 4), std::string("s:a\0b", 5), "}"}},
        // Bytes of 0x80 and above pass through unchecked.
        ValidCase{"[\"\xC3\xA9\xFF\x80\"]", {"[", "s:\xC3\xA9\xFF\x80", "]"}}));

std::vector<std::string> Split(std::string const& texts) {
  std::vector<std::string> out(1);
  for (char c : texts) {
    if (c == '|') {
      out.emplace_back();
    } else {
      out.back().push_back(c);
    }
  }
  return out;
}

// Hostile and invalid texts, grouped by the error code each must give,
// whole and in pieces of 1 and 3 bytes.
TEST(LibJsonParserTest, InvalidTextIsReportedWithItsErrorCode) {
  struct Case {
    int error;
    std::vector<std::string> texts;
  } const cases[] = {
      {JSON_ERROR_UNEXPECTED_CHAR,
       Split("{\"a\":}|{\"a\":1} x|{}{}|[1,]|{\"a\":1,}|{,}|[1 2]|{\"a\" 1}|{1:2}|{'a':1}|[}|{]|]|"
             "[01]|[-]|[1.]|[.5]|[1e]|[1e+]|[+1]|[1x]|[tru]|[truex]|[nul1]|[NaN]")},
      {JSON_ERROR_UNEXPECTED_CHAR, {std::string("{\"a\":1}\0", 8)}},
      {JSON_ERROR_BAD_ESCAPE, {"[\"a\\x\"]", "[\"\\u12G4\"]"}},
      {JSON_ERROR_LONE_SURROGATE,
       {"[\"\\ud800\"]", "[\"\\ud800x\"]", "[\"\\ud800\\n\"]", "[\"\\ud800\\u0041\"]",
        "[\"\\udc00\"]"}},
      {JSON_ERROR_BAD_CHAR, {"[\"a\nb\"]", std::string("[\"a\0b\"]", 6), "[\"\x1f\"]"}},
  };
  for (auto const& c : cases) {
    for (std::string const& text : c.texts) {
      for (size_t piece : {size_t(0), size_t(1), size_t(3)}) {
        LibJsonEventRecorder recorder;
        EXPECT_EQ(c.error, ParseWithLibJson(text, recorder, piece)) << text << " piece " << piece;
      }
    }
  }
}

TEST(LibJsonParserTest, TextCutAfterACompleteTokenIsNoError) {
  // Every prefix of a valid document is accepted, and delivers exactly the
  // events of the whole document that were complete before the cut.
  std::string const text = "{\"a\":\"x\",\"b\":[true,{\"c\":12}],\"d\":-1.5e3} ";
  LibJsonEventRecorder whole;
  ASSERT_EQ(0, ParseWithLibJson(text, whole));
  for (size_t cut = 0; cut < text.size(); ++cut) {
    LibJsonEventRecorder recorder;
    bool done = true;
    ASSERT_EQ(0, ParseWithLibJson(text.substr(0, cut), recorder, 0, &done)) << cut;
    ASSERT_LE(recorder.events.size(), whole.events.size());
    EXPECT_TRUE(std::equal(recorder.events.begin(), recorder.events.end(), whole.events.begin()))
        << cut;
    EXPECT_EQ(cut >= text.size() - 1, done) << cut;
  }
  LibJsonEventRecorder cut_short;
  ASSERT_EQ(0, ParseWithLibJson("{\"a\":\"x\"", cut_short));
  EXPECT_EQ((Events{"{", "k:a", "s:x"}), cut_short.events);
}

TEST(LibJsonParserTest, TopLevelNumberIsDeliveredOnceSomethingFollowsIt) {
  // Found by fuzzing: a document that is a bare number is complete only when
  // a byte after it shows where it ends.
  LibJsonEventRecorder bare;
  bool done = true;
  ASSERT_EQ(0, ParseWithLibJson("8", bare, 0, &done));
  EXPECT_TRUE(bare.events.empty());
  EXPECT_FALSE(done);
  for (std::string text : {"8\t", "8\n", "-1.5e3 "}) {
    LibJsonEventRecorder ended;
    ASSERT_EQ(0, ParseWithLibJson(text, ended, 1, &done)) << text;
    ASSERT_EQ(1u, ended.events.size()) << text;
    EXPECT_TRUE(done) << text;
  }
}

std::string Nested(size_t depth, char open, char close) {
  return std::string(depth, open) + std::string(depth, close);
}

TEST(LibJsonParserTest, NestingAndTokensUpToTheirBoundsAreAcceptedAndMoreIsACleanError) {
  LibJsonEventRecorder at_bound;
  EXPECT_EQ(0, ParseWithLibJson(Nested(JSON_MAX_NESTING, '[', ']'), at_bound));
  EXPECT_EQ(2u * JSON_MAX_NESTING, at_bound.events.size());

  LibJsonEventRecorder over;
  EXPECT_EQ(JSON_ERROR_NESTING_LIMIT,
            ParseWithLibJson(Nested(JSON_MAX_NESTING + 1, '[', ']'), over));
  EXPECT_EQ(size_t(JSON_MAX_NESTING), over.events.size());

  json_config config = {3, 8};
  LibJsonEventRecorder small;
  EXPECT_EQ(0, ParseWithLibJson("[[[\"12345678\",12345678]]]", small, 0, nullptr, &config));
  EXPECT_EQ(JSON_ERROR_NESTING_LIMIT, ParseWithLibJson("[[[[]]]]", small, 0, nullptr, &config));
  EXPECT_EQ(JSON_ERROR_DATA_LIMIT, ParseWithLibJson("[\"123456789\"]", small, 0, nullptr, &config));
  EXPECT_EQ(JSON_ERROR_DATA_LIMIT, ParseWithLibJson("[123456789]", small, 2, nullptr, &config));

  // A million open brackets must neither crash nor recurse.
  LibJsonEventRecorder huge;
  EXPECT_EQ(JSON_ERROR_NESTING_LIMIT, ParseWithLibJson(std::string(1000000, '['), huge));
}

TEST(LibJsonParserTest, LongTokensGrowTheBufferWithoutLoss) {
  std::string value;
  for (int i = 0; i < 300000; ++i) value += static_cast<char>('a' + i % 26);
  std::string escaped;
  for (char c : value) escaped += (c == 'q') ? std::string("\\u0071") : std::string(1, c);
  for (size_t piece : {size_t(0), size_t(4093)}) {
    LibJsonEventRecorder recorder;
    ASSERT_EQ(0, ParseWithLibJson("{\"" + value + "\":\"" + escaped + "\"}", recorder, piece));
    ASSERT_EQ(4u, recorder.events.size());
    EXPECT_EQ("k:" + value, recorder.events[1]);
    EXPECT_EQ("s:" + value, recorder.events[2]);
  }
}

TEST(LibJsonParserTest, CallbackThatReturnsNonZeroStopsTheParse) {
  LibJsonEventRecorder recorder;
  recorder.stop_after = 2;
  EXPECT_EQ(JSON_ERROR_CALLBACK, ParseWithLibJson("[1,2,3]", recorder));
  EXPECT_EQ((Events{"[", "i:1"}), recorder.events);
}

TEST(LibJsonParserTest, ErrorIsStickyAndProcessedCountPointsAtTheBadByte) {
  LibJsonEventRecorder recorder;
  json_parser parser;
  ASSERT_EQ(0, json_parser_init(&parser, nullptr, &LibJsonEventRecorder::Callback, &recorder));
  uint32_t processed = 0;
  EXPECT_EQ(JSON_ERROR_UNEXPECTED_CHAR, json_parser_string(&parser, "[1,]", 4, &processed));
  EXPECT_EQ(3u, processed);
  EXPECT_EQ(JSON_ERROR_UNEXPECTED_CHAR, json_parser_string(&parser, "]", 1, &processed));
  EXPECT_EQ(0, json_parser_is_done(&parser));
  json_parser_free(&parser);
  json_parser_free(&parser);  // freeing twice is harmless
}

TEST(LibJsonParserTest, NullArgumentsAreRefused) {
  EXPECT_EQ(JSON_ERROR_INVALID_ARGUMENT, json_parser_init(nullptr, nullptr, nullptr, nullptr));
  json_parser parser;
  ASSERT_EQ(0, json_parser_init(&parser, nullptr, nullptr, nullptr));
  EXPECT_EQ(JSON_ERROR_INVALID_ARGUMENT, json_parser_string(&parser, nullptr, 3, nullptr));
  json_parser_free(&parser);
}

}  // namespace
