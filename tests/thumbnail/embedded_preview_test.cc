// Thumbnails made from a JPEG's EXIF preview (--embedded-previews): used only
// when it has pixels enough and the photo's shape, turned by the photo's
// orientation, cached like any other; the photo is decoded otherwise. The
// preview's colour differs from the photo's, so the thumbnail tells which one
// it was made from.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "support/ql_sample_files.h"
#include "thumbnail/decode/ql_embedded_preview.h"
#include "thumbnail_fixture.h"

namespace {

using qltest::Rgb;

Rgb const kPhoto = {30, 60, 200};
Rgb const kPreview = {40, 200, 40};

class EmbeddedPreviewTest : public qltest::ServiceTest {};

TEST_F(EmbeddedPreviewTest, PreviewStandsInOnlyWhenItHasThePixelsAndShape) {
  struct Row {
    char const* what;
    bool option;
    int preview_width, preview_height;
    std::uint16_t orientation;
    bool full_screen;
    bool preview_used;
    int thumb_width, thumb_height;
  } const rows[] = {
      {"exactly the pixels needed", true, 160, 120, 1, false, true, 160, 120},
      {"option off", false, 160, 120, 1, false, false, 160, 120},
      {"one pixel short each way", true, 159, 119, 1, false, false, 160, 120},
      {"shape one pixel off", true, 161, 120, 1, false, true, 160, 120},
      {"shape two pixels off", true, 162, 120, 1, false, false, 160, 120},
      {"letterboxed 16:9", true, 160, 90, 1, false, false, 160, 120},
      {"larger than the photo", true, 1280, 960, 1, false, false, 160, 120},
      {"turned by the photo's orientation", true, 160, 120, 6, false, true, 120, 160},
      {"full screen, enough", true, 160, 120, 8, true, true, 120, 160},
      {"full screen, 2 pixels short", true, 158, 118, 1, true, false, 160, 120},
  };
  int id = 1;
  for (Row const& row : rows) {
    SCOPED_TRACE(row.what);
    QLThumbnailOptions options;
    options.embedded_previews = row.option;
    provider_.SetOptions(options);
    Write("photo.jpg", qltest::JpegWithPreview(640, 480, kPhoto, row.preview_width,
                                               row.preview_height, kPreview, row.orientation));
    data_.resource_id = id++;
    data_.width = 160;
    data_.height = 120;
    data_.full_screen = row.full_screen;
    ASSERT_TRUE(provider_.GetThumbnailFor(data_));
    EXPECT_EQ(static_cast<std::size_t>(id - 1), CacheFolderEntries(cache_).size())
        << "cached like any thumbnail";
    EXPECT_EQ(row.preview_used,
              qltest::Near(kPreview, qltest::CentreColour(qltest::ThumbnailBytes(data_))));
    qltest::Picture const thumb = qltest::DecodePng(qltest::ThumbnailBytes(data_));
    ASSERT_TRUE(thumb);
    EXPECT_EQ(row.thumb_width, gdImageSX(thumb.get()));
    EXPECT_EQ(row.thumb_height, gdImageSY(thumb.get()));
  }
  EXPECT_TRUE(PreviewServesThumbnail(1, 1, 1, 1, 1, 1, false)) << "a one-pixel photo";
}

}  // namespace
