#include "log/ql_log_buffer.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "log_test_support.h"

namespace {

using qltest::RecordingSink;

// Exposes the protected stream-buffer operations.
class ProbeBuffer : public QLLogBuffer {
 public:
  using QLLogBuffer::overflow;
  explicit ProbeBuffer(unsigned capacity) : QLLogBuffer(capacity) {}
};

class QLLogBufferTest : public ::testing::Test {
 protected:
  QLLogBufferTest() : buffer_(128), stream_(&buffer_), sink_(new RecordingSink()) {
    buffer_.AddLogger(sink_);
  }

  std::vector<size_t> PieceSizes() const {
    std::vector<size_t> sizes;
    for (auto const& piece : sink_->pieces) sizes.push_back(piece.size());
    return sizes;
  }

  ProbeBuffer buffer_;
  std::ostream stream_;
  boost::shared_ptr<RecordingSink> sink_;
};

TEST_F(QLLogBufferTest, ShortLineArrivesWholeAtTheFlush) {
  std::string line(127, 's');
  stream_ << line;
  EXPECT_TRUE(sink_->pieces.empty()) << "nothing may be handed over before the flush";
  stream_ << std::endl;
  ASSERT_EQ(sink_->pieces.size(), 1u);
  EXPECT_EQ(sink_->pieces[0], line + "\n");
}

TEST_F(QLLogBufferTest, LongLineArrivesInPiecesOf129AndTheRest) {
  std::string line;
  for (int i = 0; i < 350; ++i) line += static_cast<char>('a' + i % 26);
  stream_ << line << std::endl;

  EXPECT_EQ(PieceSizes(), (std::vector<size_t>{129, 129, 93}));
  EXPECT_EQ(sink_->Joined(), line + "\n");
  EXPECT_EQ(sink_->pieces[0].back(), line[128]);
  EXPECT_NE(sink_->pieces[1].back(), '\n');
  EXPECT_EQ(sink_->pieces[2].back(), '\n');
}

TEST_F(QLLogBufferTest, CharacterByCharacterChunksLikeOneInsertion) {
  std::string text(300, 'c');
  for (char c : text) stream_.put(c);
  stream_ << std::endl;
  EXPECT_EQ(PieceSizes(), (std::vector<size_t>{129, 129, 43}));
  EXPECT_EQ(sink_->Joined(), text + "\n");
}

TEST_F(QLLogBufferTest, LineOf129HandedOverAtNewlineThenEmptyFlush) {
  std::string line(128, 'e');
  stream_ << line << std::endl;
  ASSERT_EQ(sink_->pieces.size(), 2u);
  EXPECT_EQ(sink_->pieces[0], line + "\n");
  EXPECT_EQ(sink_->pieces[1], "");
}

TEST_F(QLLogBufferTest, FlushWithNothingCollectedHandsEverySinkAnEmptyText) {
  boost::shared_ptr<RecordingSink> second(new RecordingSink());
  buffer_.AddLogger(second);
  stream_.flush();
  buffer_.DoLogAndFlush();
  EXPECT_EQ(sink_->pieces, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(second->pieces, (std::vector<std::string>{"", ""}));
}

TEST_F(QLLogBufferTest, SinksReceiveEachPieceInTheOrderAdded) {
  auto events = boost::make_shared<std::vector<std::string>>();
  QLLogBuffer buffer(8);
  buffer.AddLogger(boost::shared_ptr<QLLog>(new RecordingSink("A", events)));
  buffer.AddLogger(boost::shared_ptr<QLLog>(new RecordingSink("B", events)));
  std::ostream stream(&buffer);
  stream << "0123456789" << std::endl;
  EXPECT_EQ(*events, (std::vector<std::string>{"A:012345678", "B:012345678", "A:9\n", "B:9\n"}));
}

TEST_F(QLLogBufferTest, SmallCapacityChunksAtCapacityPlusOne) {
  QLLogBuffer buffer(4);
  boost::shared_ptr<RecordingSink> sink(new RecordingSink());
  buffer.AddLogger(sink);
  std::ostream stream(&buffer);
  stream << "abcdefghij" << std::endl;
  EXPECT_EQ(sink->pieces, (std::vector<std::string>{"abcde", "fghij", "\n"}));
}

TEST_F(QLLogBufferTest, OverflowWithEndOfFileChangesNothing) {
  stream_ << "kept";
  auto eof = std::char_traits<char>::eof();
  EXPECT_EQ(buffer_.overflow(eof), eof);
  EXPECT_TRUE(sink_->pieces.empty());
  stream_ << std::endl;
  EXPECT_EQ(sink_->Joined(), "kept\n");
}

TEST_F(QLLogBufferTest, DestructionDropsPendingTextAndReleasesSinks) {
  auto events = boost::make_shared<std::vector<std::string>>();
  boost::weak_ptr<QLLog> watched;
  {
    QLLogBuffer buffer(128);
    boost::shared_ptr<QLLog> sink(new RecordingSink("S", events));
    watched = sink;
    buffer.AddLogger(sink);
    sink.reset();
    std::ostream stream(&buffer);
    stream << "never flushed";
    EXPECT_FALSE(watched.expired()) << "the buffer must keep its sinks alive";
  }
  EXPECT_TRUE(watched.expired());
  EXPECT_EQ(*events, (std::vector<std::string>{"S:destroyed"}));
}

}  // namespace
