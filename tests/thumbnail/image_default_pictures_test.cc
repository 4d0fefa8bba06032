// The five default-picture handlers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "image_fixtures.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

typedef bool (QLThumbnailProvider::*Handler)(QLThumbnailData&);

struct DefaultCase {
  Handler handler;
  char const* const* file;
  qlimg::Rgb const* color;
};

DefaultCase const kCases[] = {
    {&QLThumbnailProvider::HandleImgGeneric, &kThumbFileDefaultImage, &qlimg::kImageColor},
    {&QLThumbnailProvider::HandleAudioGeneric, &kThumbFileDefaultAudio, &qlimg::kAudioColor},
    {&QLThumbnailProvider::HandleVideoGeneric, &kThumbFileDefaultVideo, &qlimg::kVideoColor},
    {&QLThumbnailProvider::HandleDoc, &kThumbFileDefaultDoc, &qlimg::kDocColor},
    {&QLThumbnailProvider::HandleUnknown, &kThumbFileDefaultAny, &qlimg::kAnyColor},
};

class DefaultPictureHandlersTest : public testing::Test {
 protected:
  void SetUp() override {
    data_.default_thumbnail_folder = folder_.path();
    data_.path = folder_.Join("whatever.xyz");
    data_.width = 32;
    data_.height = 24;
    data_.full_screen = false;
  }
  qlimg::ScratchFolder folder_;
  QLThumbnailProvider provider_;
  QLThumbnailData data_;
};

}  // namespace

TEST_F(DefaultPictureHandlersTest, PictureNamesAreTheFixedOnes) {
  EXPECT_STREQ("image.jpg", kThumbFileDefaultImage);
  EXPECT_STREQ("audio.jpg", kThumbFileDefaultAudio);
  EXPECT_STREQ("video.jpg", kThumbFileDefaultVideo);
  EXPECT_STREQ("doc.jpg", kThumbFileDefaultDoc);
  EXPECT_STREQ("any_file.jpg", kThumbFileDefaultAny);
}

TEST_F(DefaultPictureHandlersTest, EachHandlerUsesItsOwnPictureAndNeverCaches) {
  qlimg::WriteDefaultPictures(folder_.path());
  for (DefaultCase const& c : kCases) {
    SCOPED_TRACE(*c.file);
    data_.save_to_cache = true;
    qlimg::ImageLogCapture log;
    ASSERT_TRUE((provider_.*c.handler)(data_));
    EXPECT_FALSE(data_.save_to_cache);
    ScopedGdImage thumb = qlimg::DecodeThumbnail(data_);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(32, gdImageSX(thumb.get()));
    EXPECT_TRUE(qlimg::Near(qlimg::ColorAt(thumb.get(), 16, 12), *c.color, 24));
    // Only the image picture's handler times its decoding.
    EXPECT_EQ(c.handler == &QLThumbnailProvider::HandleImgGeneric,
              log.Contains("] HandleImgGeneric: open file took: "));
  }
}

TEST_F(DefaultPictureHandlersTest, MissingPictureFailsSilently) {
  for (DefaultCase const& c : kCases) {
    SCOPED_TRACE(*c.file);
    qlimg::ImageLogCapture log;
    data_.save_to_cache = true;
    EXPECT_FALSE((provider_.*c.handler)(data_));
    EXPECT_FALSE(data_.thumbnail);
    EXPECT_EQ("", log.text());
  }
}

TEST_F(DefaultPictureHandlersTest, UndecodablePictureFails) {
  for (DefaultCase const& c : kCases) {
    qlimg::WriteFile(folder_.Join(*c.file), qlimg::Bytes{'n', 'o', ' ', 'j', 'p', 'e', 'g'});
  }
  for (DefaultCase const& c : kCases) {
    SCOPED_TRACE(*c.file);
    qlimg::ImageLogCapture log;
    EXPECT_FALSE((provider_.*c.handler)(data_));
    EXPECT_FALSE(data_.thumbnail);
    EXPECT_FALSE(log.Contains("ERROR:")) << log.text();
  }
}

TEST_F(DefaultPictureHandlersTest, FailedResizeIsPassedOnAndStillNotCached) {
  qlimg::WriteDefaultPictures(folder_.path());
  data_.width = 0;
  for (DefaultCase const& c : kCases) {
    SCOPED_TRACE(*c.file);
    data_.save_to_cache = true;
    EXPECT_FALSE((provider_.*c.handler)(data_));
    EXPECT_FALSE(data_.save_to_cache);
    EXPECT_FALSE(data_.thumbnail);
  }
}
