// The command handler over a real socket pair: what each request body gets
// as a reply (and when it gets none). Request values are observed through
// the cache file the request is answered from, whose name carries them.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ipc/ql_process_helper_socket.h"
#include "service_test_support.h"
#include "thumbnail/ql_gd_helper.h"

using qltest::Bytes;

namespace {

const std::time_t kSourceTime = 0x5f5e1000;

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
    socket_.reset(new QLProcessHelperSocket("command-test"));
    socket_->set_m_sock(fds[0]);
    peer_ = fds[1];
    source_ = temp_ / "source.jpg";
    qltest::WriteFile(source_, std::string("not decoded in these tests"));
    qltest::SetMtime(source_, kSourceTime);
    cache_ = temp_ / "cache";
    defaults_ = temp_ / "defaults";
    ASSERT_TRUE(boost::filesystem::create_directories(cache_));
    ASSERT_TRUE(boost::filesystem::create_directories(defaults_));
  }
  void TearDown() override {
    if (peer_ >= 0) close(peer_);
  }

  // A request body holding the seven keys; `width` etc. are raw JSON texts.
  std::string Body(std::string const& path, std::string const& width, std::string const& height,
                   std::string const& full_screen, std::string const& id) const {
    return "{\"_path\":\"" + path + "\",\"_width\":" + width + ",\"_height\":" + height +
           ",\"_full_screen\":" + full_screen + ",\"_resource_id\":" + id +
           ",\"_thumbnail_folder\":\"" + cache_ + "\",\"_default_thumbnail_folder\":\"" +
           defaults_ + "\"}";
  }

  // Stores `bytes` as the cached thumbnail named `prefix`_<source time>.png.
  void Seed(std::string const& prefix, Bytes const& bytes) {
    qltest::WriteFile(cache_ + "/" + prefix + "_5f5e1000.png", bytes);
  }

  bool Process(std::string const& body) {
    boost::shared_ptr<unsigned char> buffer(new unsigned char[body.size() + 1],
                                            arrayDeleter<unsigned char>());
    std::memcpy(buffer.get(), body.data(), body.size());
    return helper_.ProcessCommand(buffer, static_cast<unsigned int>(body.size()), socket_);
  }

  // Reads one reply frame from the peer end; false when none arrives.
  bool ReadReply(Bytes* payload) {
    unsigned char header[4];
    if (!ReadExactly(header, 4)) return false;
    std::uint32_t const length = (std::uint32_t(header[0]) << 24) |
                                 (std::uint32_t(header[1]) << 16) |
                                 (std::uint32_t(header[2]) << 8) | header[3];
    if (length > (1u << 26)) return false;
    payload->assign(length, 0);
    return length == 0 || ReadExactly(payload->data(), length);
  }

  // True when no byte is waiting on the peer end (nothing was sent).
  bool NothingSent() {
    struct pollfd p = {peer_, POLLIN, 0};
    if (poll(&p, 1, 50) == 0) return true;
    char byte;
    return recv(peer_, &byte, 1, MSG_DONTWAIT) == 0;  // closed without data
  }

  qltest::TempFolder temp_;
  qltest::LogCapture log_;
  QLGDHelper helper_;
  boost::shared_ptr<QLProcessHelperSocket> socket_;
  int peer_ = -1;
  std::string source_;
  std::string cache_;
  std::string defaults_;

 private:
  bool ReadExactly(unsigned char* out, std::size_t size) {
    while (size > 0) {
      struct pollfd p = {peer_, POLLIN, 0};
      if (poll(&p, 1, 2000) <= 0) return false;
      ssize_t const got = recv(peer_, out, size, 0);
      if (got <= 0) return false;
      out += got;
      size -= static_cast<std::size_t>(got);
    }
    return true;
  }
};

TEST_F(CommandTest, CachedThumbnailIsSentUnchanged) {
  Bytes const stored = qltest::SolidPng(5, 5, {1, 2, 3});
  Seed("ff_160x120_0", stored);
  EXPECT_TRUE(Process(Body(source_, "160", "120", "false", "255")));
  Bytes reply;
  ASSERT_TRUE(ReadReply(&reply)) << log_.text();
  EXPECT_EQ(stored, reply);
  EXPECT_TRUE(log_.Contains("ProcessCommand JSON: ")) << log_.text();
  EXPECT_TRUE(log_.Contains("ProcessCommand GetThumbnailFor took: ")) << log_.text();
  EXPECT_TRUE(log_.Contains("ProcessCommandResult JSON: success")) << log_.text();
  EXPECT_TRUE(log_.Contains("Processcommand send result took: ")) << log_.text();
}

TEST_F(CommandTest, InvalidJsonGetsNoReplyAndNextRequestWorks) {
  EXPECT_FALSE(Process("{\"_path\": nonsense ]"));
  EXPECT_TRUE(NothingSent());
  EXPECT_EQ(1, log_.CountLevel("ERROR:")) << log_.text();
  EXPECT_TRUE(log_.Contains("(QLHandleGetResources) invalid JSON input.")) << log_.text();

  Seed("1_10x10_0", Bytes{'o', 'k'});
  EXPECT_TRUE(Process(Body(source_, "10", "10", "false", "1")));
  Bytes reply;
  ASSERT_TRUE(ReadReply(&reply)) << log_.text();
  EXPECT_EQ((Bytes{'o', 'k'}), reply);
}

TEST_F(CommandTest, ValuesOfOtherTypesReadAsEmpty) {
  // A width given as a string reads as 0, a full-screen flag given as 1 as false.
  Seed("2_0x120_0", Bytes{'z', 'e', 'r', 'o'});
  EXPECT_TRUE(Process(Body(source_, "\"160\"", "120", "1", "2")));
  Bytes reply;
  ASSERT_TRUE(ReadReply(&reply)) << log_.text();
  EXPECT_EQ((Bytes{'z', 'e', 'r', 'o'}), reply);
}

TEST_F(CommandTest, SizesKeepLow32BitsAndIdKeepsAll64) {
  Seed("123456789ab_100x7_1", Bytes{'w', 'i', 'd', 'e'});
  // 2^32 + 100 and 2^33 + 7; resource 0x123456789ab.
  EXPECT_TRUE(Process(Body(source_, "4294967396", "8589934599", "true", "1250999896491")));
  Bytes reply;
  ASSERT_TRUE(ReadReply(&reply)) << log_.text();
  EXPECT_EQ((Bytes{'w', 'i', 'd', 'e'}), reply);
}

TEST_F(CommandTest, MissingKeyGetsFailureByteAndNamesTheKey) {
  std::string const body = "{\"_path\":\"" + source_ +
                           "\",\"_width\":10,\"_full_screen\":false,\"_resource_id\":1," +
                           "\"_thumbnail_folder\":\"" + cache_ +
                           "\",\"_default_thumbnail_folder\":\"" + defaults_ + "\"}";
  EXPECT_TRUE(Process(body));
  Bytes reply;
  ASSERT_TRUE(ReadReply(&reply));
  EXPECT_EQ(Bytes{0}, reply);
  EXPECT_TRUE(log_.Contains("ERROR:")) << log_.text();
  EXPECT_TRUE(log_.Contains("\"_height\"")) << log_.text();
}

TEST_F(CommandTest, EmptyBodyGetsFailureByte) {
  EXPECT_TRUE(helper_.ProcessCommand(boost::shared_ptr<unsigned char>(), 0, socket_));
  Bytes reply;
  ASSERT_TRUE(ReadReply(&reply));
  EXPECT_EQ(Bytes{0}, reply);
}

TEST_F(CommandTest, BodyCutAfterCompleteMembersUsesThemAndFailsOnTheRest) {
  std::string body = Body(source_, "10", "10", "false", "1");
  body = body.substr(0, body.find(",\"_default_thumbnail_folder\""));
  EXPECT_TRUE(Process(body));
  Bytes reply;
  ASSERT_TRUE(ReadReply(&reply));
  EXPECT_EQ(Bytes{0}, reply);
  EXPECT_TRUE(log_.Contains("\"_default_thumbnail_folder\"")) << log_.text();
}

TEST_F(CommandTest, NoThumbnailAtAllGetsFailureByte) {
  // Unknown type and no "any_file.jpg" in the default folder.
  std::string const unknown = temp_ / "notes.tar.gz";
  qltest::WriteFile(unknown, std::string("x"));
  EXPECT_TRUE(Process(Body(unknown, "10", "10", "false", "3")));
  Bytes reply;
  ASSERT_TRUE(ReadReply(&reply));
  EXPECT_EQ(Bytes{0}, reply);
}

TEST_F(CommandTest, GeneratedThumbnailIsAPng) {
  qltest::WriteDefaultPictures(defaults_);
  std::string const unknown = temp_ / "archive.zip";
  qltest::WriteFile(unknown, std::string("x"));
  EXPECT_TRUE(Process(Body(unknown, "40", "30", "false", "4")));
  Bytes reply;
  ASSERT_TRUE(ReadReply(&reply));
  qltest::Rgb colour;
  ASSERT_TRUE(qltest::CentreColour(reply, &colour));
  EXPECT_TRUE(qltest::Near(qltest::kAnyColor, colour));
}

TEST_F(CommandTest, InvalidSocketSendsNothingAndStillSucceeds) {
  Seed("ff_160x120_0", Bytes{1});
  socket_->Close();
  EXPECT_FALSE(socket_->IsValid());
  EXPECT_TRUE(Process(Body(source_, "160", "120", "false", "255")));
  EXPECT_TRUE(NothingSent());

  // The failure path checks the socket as well.
  EXPECT_TRUE(Process(Body(temp_ / "missing.gz", "1", "1", "false", "9")));
  EXPECT_TRUE(NothingSent());
}

TEST_F(CommandTest, ConcurrentConnectionsEachGetTheirOwnThumbnail) {
  // One helper serves every worker thread; each connection must get the
  // thumbnail of its own request, and every one must be cached.
  const int kThreads = 6;
  std::vector<qltest::Rgb> colours;
  std::vector<std::string> bodies;
  for (int i = 0; i < kThreads; ++i) {
    colours.push_back({40 * i, 255 - 40 * i, (90 * i) % 256});
    std::string const photo = temp_ / ("photo" + std::to_string(i) + ".jpg");
    qltest::WriteFile(photo, qltest::SolidJpeg(300, 200, colours.back()));
    bodies.push_back(Body(photo, "48", "32", "false", std::to_string(1000 + i)));
  }
  std::vector<Bytes> replies(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      int fds[2];
      if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
      boost::shared_ptr<QLProcessHelperSocket> socket(new QLProcessHelperSocket("worker"));
      socket->set_m_sock(fds[0]);
      boost::shared_ptr<unsigned char> buffer(new unsigned char[bodies[i].size()],
                                              arrayDeleter<unsigned char>());
      std::memcpy(buffer.get(), bodies[i].data(), bodies[i].size());
      helper_.ProcessCommand(buffer, static_cast<unsigned int>(bodies[i].size()), socket);
      socket->Close();  // the reply is already in the peer's receive queue
      unsigned char chunk[4096];
      Bytes frame;
      for (ssize_t got; (got = recv(fds[1], chunk, sizeof(chunk), 0)) > 0;) {
        frame.insert(frame.end(), chunk, chunk + got);
      }
      close(fds[1]);
      if (frame.size() > 4) replies[i].assign(frame.begin() + 4, frame.end());
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
