// The thumbnail canvas limit: ResizeImage refuses a request whose canvas
// could exceed it before allocating anything, and such a request ends in the
// one-byte failure reply whatever fallback pictures the folder holds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_support.h"
#include "thumbnail/ql_gd_helper.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qltest::Bytes;
using qltest::Format;

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
    return provider_.ResizeImage(qltest::Shared(qltest::CoordinatePicture(W, H)), data_, 1);
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
  qltest::LogCapture log;
  EXPECT_FALSE(Resize(400, 300, 160, 120, false));
  EXPECT_EQ(sentinel.get(), data_.thumbnail.get());
  EXPECT_EQ(4, data_.thumbnail_size);
  EXPECT_FALSE(data_.save_to_cache);
  EXPECT_TRUE(log.Contains("ERROR:"));
  EXPECT_TRUE(
      log.Contains("] Thumbnail of 160x120 for \"/photos/p.jpg\" needs a canvas of up to "
                   "19200 pixels, more than the 19199 allowed.\n"));
  EXPECT_FALSE(log.Contains("Unable to allocate"));
  EXPECT_FALSE(log.Contains("ResizeImage - took: "));
}

// Full screen: the bound is the longer requested side squared, the canvas a
// square picture would get, so the outcome does not depend on the picture.
TEST_F(CanvasLimitTest, FullScreenBoundIsTheLongerSideSquared) {
  provider_.SetOptions(WithCanvasLimit(300 * 300 - 1));
  qltest::LogCapture log;
  EXPECT_FALSE(Resize(400, 100, 200, 300, true));  // its own canvas, 300x75, would fit
  EXPECT_FALSE(Resize(300, 300, 200, 300, true));
  EXPECT_TRUE(
      log.Contains("Thumbnail of 200x300 (full screen) for \"/photos/p.jpg\" needs a "
                   "canvas of up to 90000 pixels"));

  provider_.SetOptions(WithCanvasLimit(300 * 300));
  ASSERT_TRUE(Resize(400, 100, 200, 300, true));
  ScopedGdImage thumb = qltest::DecodeThumbnail(data_);
  ASSERT_TRUE(thumb);
  EXPECT_EQ(300, gdImageSX(thumb.get()));
  EXPECT_EQ(75, gdImageSY(thumb.get()));
  ASSERT_TRUE(Resize(300, 300, 200, 300, true));
}

// Through the command handler: the handler's resize fails, and so does every
// fallback's, even where a default picture's own canvas would have fitted.
class CanvasLimitReplyTest : public testing::Test {
 protected:
  void SetUp() override {
    qltest::WriteDefaultPictures(folder_.path());  // 64 x 48 each
    photo_ = folder_.File("square.jpg");
    qltest::WriteFile(photo_, qltest::Solid(Format::kJpeg, 100, 100, qltest::kRed));
  }

  // Sends a full-screen 300 x 300 request for the square photo and returns
  // the reply payload.
  Bytes Request() {
    EXPECT_TRUE(peer_.Process(helper_, qltest::RequestBody(photo_, "300", "300", "true", "7",
                                                           folder_.File("cache"), folder_.path())));
    Bytes payload;
    peer_.ReadReply(&payload);
    return payload;
  }

  QLTempDir folder_;
  QLGDHelper helper_;
  qltest::SocketPeer peer_;
  std::string photo_;
};

TEST_F(CanvasLimitReplyTest, RequestOverTheLimitGetsTheOneByteFailure) {
  // The photo's canvas is 300 x 300; a 64 x 48 default picture's would be
  // 300 x 225, under this limit.
  helper_.provider().SetOptions(WithCanvasLimit(300 * 225));
  qltest::LogCapture log;
  EXPECT_EQ(Bytes{0}, Request());
  EXPECT_TRUE(log.Contains("needs a canvas of up to 90000 pixels, more than the 67500 allowed"));

  helper_.provider().SetOptions(WithCanvasLimit(300 * 300));
  Bytes const reply = Request();
  ASSERT_GT(reply.size(), 8u);
  EXPECT_EQ(0, std::memcmp(reply.data(), "\x89PNG", 4));
}

}  // namespace
