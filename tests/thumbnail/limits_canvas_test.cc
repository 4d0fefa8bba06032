// The thumbnail canvas limit: ResizeImage refuses a request whose canvas
// could exceed it before allocating anything, and such a request ends in the
// one-byte failure reply whatever fallback pictures the folder holds.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "image_fixtures.h"
#include "ipc/ql_array_deleter.h"
#include "ipc/ql_process_helper_socket.h"
#include "thumbnail/ql_gd_helper.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qlimg::Bytes;
using qlimg::Format;

boost::shared_ptr<gdImageStruct> Shared(ScopedGdImage image) {
  return boost::shared_ptr<gdImageStruct>(image.release(), gdImgDestroyDeleter());
}

QLThumbnailOptions WithCanvasLimit(std::uint64_t pixels) {
  QLThumbnailOptions options;
  options.max_thumbnail_pixels = pixels;
  return options;
}

class CanvasLimitTest : public testing::Test {
 protected:
  bool Resize(int W, int H, unsigned w, unsigned h, bool full_screen) {
    data_.path = "/photos/p.jpg";
    data_.width = w;
    data_.height = h;
    data_.full_screen = full_screen;
    return provider_.ResizeImage(Shared(qlimg::CoordinatePicture(W, H)), data_, 1);
  }

  QLThumbnailProvider provider_;
  QLThumbnailData data_;
};

TEST_F(CanvasLimitTest, BoxOverTheLimitIsRefusedBeforeTheCanvasIsMade) {
  provider_.SetOptions(WithCanvasLimit(160 * 120));
  ASSERT_TRUE(Resize(400, 300, 160, 120, false));

  provider_.SetOptions(WithCanvasLimit(160 * 120 - 1));
  boost::shared_ptr<char> sentinel(new char[4], [](char* p) { delete[] p; });
  data_.thumbnail = sentinel;
  data_.thumbnail_size = 4;
  data_.save_to_cache = false;
  qlimg::ImageLogCapture log;
  EXPECT_FALSE(Resize(400, 300, 160, 120, false));
  EXPECT_EQ(sentinel.get(), data_.thumbnail.get());
  EXPECT_EQ(4, data_.thumbnail_size);
  EXPECT_FALSE(data_.save_to_cache);
  EXPECT_TRUE(log.Contains("ERROR:")) << log.text();
  EXPECT_TRUE(
      log.Contains("] Thumbnail of 160x120 for \"/photos/p.jpg\" needs a canvas of up to "
                   "19200 pixels, more than the 19199 allowed.\n"))
      << log.text();
  EXPECT_FALSE(log.Contains("Unable to allocate")) << log.text();
  EXPECT_FALSE(log.Contains("ResizeImage - took: ")) << log.text();
}

// Full screen: the bound is the longer requested side squared, the canvas a
// square picture would get, so the outcome does not depend on the picture.
TEST_F(CanvasLimitTest, FullScreenBoundIsTheLongerSideSquared) {
  provider_.SetOptions(WithCanvasLimit(300 * 300 - 1));
  qlimg::ImageLogCapture log;
  EXPECT_FALSE(Resize(400, 100, 200, 300, true));  // its own canvas, 300x75, would fit
  EXPECT_FALSE(Resize(300, 300, 200, 300, true));
  EXPECT_TRUE(
      log.Contains("Thumbnail of 200x300 (full screen) for \"/photos/p.jpg\" needs a "
                   "canvas of up to 90000 pixels"))
      << log.text();

  provider_.SetOptions(WithCanvasLimit(300 * 300));
  ASSERT_TRUE(Resize(400, 100, 200, 300, true));
  ScopedGdImage thumb = qlimg::DecodeThumbnail(data_);
  ASSERT_TRUE(thumb);
  EXPECT_EQ(300, gdImageSX(thumb.get()));
  EXPECT_EQ(75, gdImageSY(thumb.get()));
  ASSERT_TRUE(Resize(300, 300, 200, 300, true));
}

// Sizes that no canvas can have are left to the canvas creation, which
// reports them as before; they are not mistaken for small ones.
TEST_F(CanvasLimitTest, NonsenseSizesStillFailAtTheCanvas) {
  provider_.SetOptions(WithCanvasLimit(100));
  qlimg::ImageLogCapture log;
  EXPECT_FALSE(Resize(40, 30, 0, 90, false));
  EXPECT_FALSE(Resize(40, 30, 0x80000000u, 2, false));
  EXPECT_TRUE(log.Contains("Required about 0 bytes")) << log.text();
  EXPECT_TRUE(log.Contains("Required about -17179869184 bytes")) << log.text();
  EXPECT_FALSE(log.Contains("needs a canvas")) << log.text();
}

// Through the command handler: the handler's resize fails, and so does every
// fallback's, even where a default picture's own canvas would have fitted.
class CanvasLimitReplyTest : public testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
    socket_.reset(new QLProcessHelperSocket("canvas-limit-test"));
    socket_->set_m_sock(fds[0]);
    peer_ = fds[1];
    qlimg::WriteDefaultPictures(folder_.path());  // 64 x 48 each
    photo_ = folder_.Join("square.jpg");
    ScopedGdImage square = qlimg::SolidPicture(100, 100, qlimg::kRed);
    qlimg::WriteFile(photo_, qlimg::Encode(square.get(), Format::kJpeg));
  }
  void TearDown() override { close(peer_); }

  // Sends a full-screen 300 x 300 request for the square photo and returns
  // the reply payload.
  Bytes Request() {
    std::string const body = "{\"_path\":\"" + photo_ +
                             "\",\"_width\":300,\"_height\":300,\"_full_screen\":true,"
                             "\"_resource_id\":7,\"_thumbnail_folder\":\"" +
                             folder_.Join("cache") + "\",\"_default_thumbnail_folder\":\"" +
                             folder_.path() + "\"}";
    boost::shared_ptr<unsigned char> buffer(new unsigned char[body.size()],
                                            arrayDeleter<unsigned char>());
    std::memcpy(buffer.get(), body.data(), body.size());
    EXPECT_TRUE(helper_.ProcessCommand(buffer, static_cast<unsigned int>(body.size()), socket_));
    unsigned char header[4];
    if (!ReadExactly(header, 4)) return Bytes();
    std::uint32_t const length = (std::uint32_t{header[0]} << 24) |
                                 (std::uint32_t{header[1]} << 16) |
                                 (std::uint32_t{header[2]} << 8) | header[3];
    Bytes payload(length);
    if (length > (1u << 24) || !ReadExactly(payload.data(), length)) return Bytes();
    return payload;
  }

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

  qlimg::ScratchFolder folder_;
  QLGDHelper helper_;
  boost::shared_ptr<QLProcessHelperSocket> socket_;
  int peer_ = -1;
  std::string photo_;
};

TEST_F(CanvasLimitReplyTest, RequestOverTheLimitGetsTheOneByteFailure) {
  // The photo's canvas is 300 x 300; a 64 x 48 default picture's would be
  // 300 x 225, under this limit.
  helper_.provider().SetOptions(WithCanvasLimit(300 * 225));
  qlimg::ImageLogCapture log;
  EXPECT_EQ(Bytes{0}, Request());
  EXPECT_TRUE(log.Contains("needs a canvas of up to 90000 pixels, more than the 67500 allowed"))
      << log.text();

  helper_.provider().SetOptions(WithCanvasLimit(300 * 300));
  Bytes const reply = Request();
  ASSERT_GT(reply.size(), 8u);
  EXPECT_EQ(0, std::memcmp(reply.data(), "\x89PNG", 4));
}

}  // namespace
