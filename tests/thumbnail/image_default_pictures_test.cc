// The five default-picture handlers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_support.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

typedef bool (QLThumbnailProvider::*Handler)(QLThumbnailData&);

struct DefaultCase {
  Handler handler;
  char const* file;  // the fixed name the handler reads
  qltest::Rgb const* color;
};

DefaultCase const kCases[] = {
    {&QLThumbnailProvider::HandleImgGeneric, "image.jpg", &qltest::kImageColor},
    {&QLThumbnailProvider::HandleAudioGeneric, "audio.jpg", &qltest::kAudioColor},
    {&QLThumbnailProvider::HandleVideoGeneric, "video.jpg", &qltest::kVideoColor},
    {&QLThumbnailProvider::HandleDoc, "doc.jpg", &qltest::kDocColor},
    {&QLThumbnailProvider::HandleUnknown, "any_file.jpg", &qltest::kAnyColor},
};

class DefaultPictureHandlersTest : public qltest::ProviderTest {
 protected:
  void SetUp() override {
    data_.path = folder_.File("whatever.xyz");
    data_.width = 32;
    data_.height = 24;
  }
};

}  // namespace

TEST_F(DefaultPictureHandlersTest, EachHandlerUsesItsOwnPictureAndNeverCaches) {
  qltest::WriteDefaultPictures(folder_.path());
  for (DefaultCase const& c : kCases) {
    SCOPED_TRACE(c.file);
    data_.save_to_cache = true;
    qltest::LogCapture log;
    ASSERT_TRUE((provider_.*c.handler)(data_));
    EXPECT_FALSE(data_.save_to_cache);
    ScopedGdImage thumb = qltest::DecodeThumbnail(data_);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(32, gdImageSX(thumb.get()));
    EXPECT_TRUE(qltest::Near(ThumbnailCentre(), *c.color));
    // Only the image picture's handler times its decoding.
    EXPECT_EQ(c.handler == &QLThumbnailProvider::HandleImgGeneric,
              static_cast<bool>(log.Contains("] HandleImgGeneric: open file took: ")));
  }
}

TEST_F(DefaultPictureHandlersTest, MissingPictureFailsSilently) {
  for (DefaultCase const& c : kCases) {
    SCOPED_TRACE(c.file);
    qltest::LogCapture log;
    data_.save_to_cache = true;
    EXPECT_FALSE((provider_.*c.handler)(data_));
    EXPECT_FALSE(data_.thumbnail);
    EXPECT_EQ("", log.text());
  }
}

TEST_F(DefaultPictureHandlersTest, UndecodablePictureFails) {
  for (DefaultCase const& c : kCases) {
    qltest::WriteFile(folder_.File(c.file), qltest::Bytes{'n', 'o', ' ', 'j', 'p', 'e', 'g'});
  }
  for (DefaultCase const& c : kCases) {
    SCOPED_TRACE(c.file);
    qltest::LogCapture log;
    EXPECT_FALSE((provider_.*c.handler)(data_));
    EXPECT_FALSE(data_.thumbnail);
    EXPECT_FALSE(log.Contains("ERROR:"));
  }
}

TEST_F(DefaultPictureHandlersTest, FailedResizeIsPassedOnAndStillNotCached) {
  qltest::WriteDefaultPictures(folder_.path());
  data_.width = 0;
  for (DefaultCase const& c : kCases) {
    SCOPED_TRACE(c.file);
    data_.save_to_cache = true;
    EXPECT_FALSE((provider_.*c.handler)(data_));
    EXPECT_FALSE(data_.save_to_cache);
    EXPECT_FALSE(data_.thumbnail);
  }
}
