#include "log/ql_log_buffer.h"

#include <gtest/gtest.h>

#include <boost/weak_ptr.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "log_test_support.h"

namespace {

using qltest::RecordingSink;

std::string Alphabet(size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

// A line is handed over in pieces of capacity + 1 characters as they fill,
// and the rest (with its newline) at the flush; a piece that the newline
// fills goes at once and the flush then hands over an empty text.
TEST(QLLogBufferTest, LinesArriveInPiecesOfCapacityPlusOne) {
  struct Case {
    char const* name;
    unsigned capacity;
    std::string line;
    bool by_character;  // put() character by character instead of one insertion
    std::vector<std::string> pieces;
  } const cases[] = {
      {"long line",
       128,
       Alphabet(350),
       false,
       {Alphabet(129), Alphabet(258).substr(129), Alphabet(350).substr(258) + "\n"}},
      {"character by character",
       128,
       std::string(300, 'c'),
       true,
       {std::string(129, 'c'), std::string(129, 'c'), std::string(42, 'c') + "\n"}},
      {"newline fills the piece",
       128,
       std::string(128, 'e'),
       false,
       {std::string(128, 'e') + "\n", ""}},
  };
  for (auto const& c : cases) {
    QLLogBuffer buffer(c.capacity);
    boost::shared_ptr<RecordingSink> sink(new RecordingSink());
    buffer.AddLogger(sink);
    std::ostream stream(&buffer);
    if (c.by_character) {
      for (char ch : c.line) stream.put(ch);
    } else {
      stream << c.line;
    }
    EXPECT_EQ(sink->pieces.size(), c.line.size() / (c.capacity + 1))
        << c.name << ": only full pieces before the flush";
    stream << std::endl;
    EXPECT_EQ(sink->pieces, c.pieces) << c.name;
  }
}

// Every sink gets each piece; the buffer keeps its sinks alive, and its
// destruction drops text not yet flushed.
TEST(QLLogBufferTest, SinksGetEachPieceAndLiveAsLongAsTheBuffer) {
  boost::shared_ptr<RecordingSink> kept(new RecordingSink());
  boost::weak_ptr<QLLog> watched;
  {
    QLLogBuffer buffer(8);
    boost::shared_ptr<QLLog> sink(new RecordingSink());
    watched = sink;
    buffer.AddLogger(sink);
    sink.reset();
    buffer.AddLogger(kept);
    std::ostream stream(&buffer);
    stream << "0123456789" << std::endl << "never";
    EXPECT_FALSE(watched.expired()) << "the buffer must keep its sinks alive";
  }
  EXPECT_TRUE(watched.expired());
  EXPECT_EQ(kept->pieces, (std::vector<std::string>{"012345678", "9\n"}));
}

}  // namespace
