// The command handler over a real socket pair: what each request body gets
// as a reply (and when it gets none). Request values are observed through
// the cache file the request is answered from, whose name carries them.
#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "thumbnail/ql_gd_helper.h"

using qltest::Bytes;

namespace {

const std::time_t kSourceTime = 0x5f5e1000;

class CommandTest : public qltest::ServiceTest {
 protected:
  void SetUp() override {
    source_ = temp_.File("source.jpg");
    qltest::WriteFile(source_, std::string("not decoded in these tests"));
    qltest::SetMtime(source_, kSourceTime);
    defaults_ = temp_.File("defaults");
    ASSERT_TRUE(boost::filesystem::create_directories(cache_));
    ASSERT_TRUE(boost::filesystem::create_directories(defaults_));
  }

  std::string Body(std::string const& path, std::string const& width, std::string const& height,
                   std::string const& full_screen, std::string const& id) const {
    return qltest::RequestBody(path, width, height, full_screen, id, cache_, defaults_);
  }

  // Stores `bytes` as the cached thumbnail named `prefix`_<source time>.png.
  void Seed(std::string const& prefix, Bytes const& bytes) {
    qltest::WriteFile(cache_ + "/" + prefix + "_5f5e1000.png", bytes);
  }

  bool Process(std::string const& body) { return peer_.Process(helper_, body); }

  // Processes `body` and expects `reply` back.
  void ExpectReply(std::string const& body, Bytes const& expected) {
    EXPECT_TRUE(Process(body));
    Bytes reply;
    ASSERT_TRUE(peer_.ReadReply(&reply)) << log_.text();
    EXPECT_EQ(expected, reply);
  }

  QLGDHelper helper_;
  qltest::SocketPeer peer_;
  std::string source_;
  std::string defaults_;
};

TEST_F(CommandTest, ConcurrentConnectionsEachGetTheirOwnThumbnail) {
  // One helper serves every worker thread; each connection must get the
  // thumbnail it asked for, generated as a PNG, and every one must be cached.
  const int kThreads = 6;
  std::vector<qltest::Rgb> colours;
  std::vector<std::string> bodies;
  for (int i = 0; i < kThreads; ++i) {
    colours.push_back({40 * i, 255 - 40 * i, (90 * i) % 256});
    std::string const photo = temp_.File("photo" + std::to_string(i) + ".jpg");
    qltest::WriteFile(photo, qltest::Solid(qltest::Format::kJpeg, 300, 200, colours.back()));
    bodies.push_back(Body(photo, "48", "32", "false", std::to_string(1000 + i)));
  }
  std::vector<Bytes> replies(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      qltest::SocketPeer peer;
      peer.Process(helper_, bodies[i]);
      peer.ReadReply(&replies[i]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < kThreads; ++i) {
    qltest::Rgb colour;
    ASSERT_TRUE(qltest::CentreColour(replies[i], &colour)) << "connection " << i;
    EXPECT_TRUE(qltest::Near(colours[i], colour)) << "connection " << i;
  }
  EXPECT_EQ(static_cast<std::size_t>(kThreads), qltest::ListFolder(cache_).size());
}

}  // namespace
