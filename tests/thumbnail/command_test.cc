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

TEST_F(CommandTest, CachedThumbnailIsSentUnchanged) {
  Bytes const stored = qltest::Solid(qltest::Format::kPng, 5, 5, {1, 2, 3});
  Seed("ff_160x120_0", stored);
  ExpectReply(Body(source_, "160", "120", "false", "255"), stored);
  for (char const* line :
       {"ProcessCommand JSON: ", "ProcessCommand GetThumbnailFor took: ",
        "ProcessCommandResult JSON: success", "Processcommand send result took: "})
    EXPECT_TRUE(log_.Contains(line));
}

// Request values are read from the cache file the reply comes from.
TEST_F(CommandTest, RequestValuesAreReadAsTheCacheNameShows) {
  struct {
    char const* name;
    char const* prefix;
    char const *width, *height, *full_screen, *id;
  } const cases[] = {
      // A width given as a string reads as 0, a full-screen flag given as 1 as
      // false.
      {"other types read as empty", "2_0x120_0", "\"160\"", "120", "1", "2"},
      // 2^32 + 100 and 2^33 + 7 keep their low 32 bits; the id keeps all 64.
      {"wide numbers", "123456789ab_100x7_1", "4294967396", "8589934599", "true", "1250999896491"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes const marker(c.name, c.name + std::strlen(c.name));
    Seed(c.prefix, marker);
    ExpectReply(Body(source_, c.width, c.height, c.full_screen, c.id), marker);
  }
}

TEST_F(CommandTest, InvalidJsonGetsNoReplyAndNextRequestWorks) {
  EXPECT_FALSE(Process("{\"_path\": nonsense ]"));
  EXPECT_TRUE(peer_.NothingSent());
  EXPECT_EQ(1, log_.CountLevel("ERROR:")) << log_.text();
  EXPECT_TRUE(log_.Contains("(QLHandleGetResources) invalid JSON input."));

  Seed("1_10x10_0", Bytes{'o', 'k'});
  ExpectReply(Body(source_, "10", "10", "false", "1"), Bytes{'o', 'k'});
}

// A request that cannot be answered gets the one-byte failure reply.
TEST_F(CommandTest, UnanswerableRequestGetsFailureByte) {
  std::string const full = Body(source_, "10", "10", "false", "1");
  std::string missing_height = full;
  missing_height.erase(full.find(",\"_height\":10"), 13);
  std::string const unknown = temp_.File("notes.tar.gz");  // no "any_file.jpg" either
  qltest::WriteFile(unknown, std::string("x"));
  struct {
    char const* name;
    std::string body;
    char const* logged;
  } const cases[] = {
      {"missing key", missing_height, "\"_height\""},
      // Members before the cut are used; the missing one fails the request.
      {"cut body", full.substr(0, full.find(",\"_default_thumbnail_folder\"")),
       "\"_default_thumbnail_folder\""},
      {"no thumbnail at all", Body(unknown, "10", "10", "false", "3"), ""},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    log_.Clear();
    ExpectReply(c.body, Bytes{0});
    if (*c.logged) {
      EXPECT_TRUE(log_.Contains("ERROR:"));
      EXPECT_TRUE(log_.Contains(c.logged));
    }
  }
  EXPECT_TRUE(helper_.ProcessCommand(boost::shared_ptr<unsigned char>(), 0, peer_.socket()));
  Bytes reply;
  ASSERT_TRUE(peer_.ReadReply(&reply));
  EXPECT_EQ(Bytes{0}, reply);
}

TEST_F(CommandTest, InvalidSocketSendsNothingAndStillSucceeds) {
  Seed("ff_160x120_0", Bytes{1});
  peer_.socket()->Close();
  EXPECT_FALSE(peer_.socket()->IsValid());
  EXPECT_TRUE(Process(Body(source_, "160", "120", "false", "255")));
  EXPECT_TRUE(peer_.NothingSent());

  // The failure path checks the socket as well.
  EXPECT_TRUE(Process(Body(temp_.File("missing.gz"), "1", "1", "false", "9")));
  EXPECT_TRUE(peer_.NothingSent());
}

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

TEST_F(CommandTest, InitHelperSucceeds) { EXPECT_TRUE(helper_.InitHelper()); }

}  // namespace
