// Classification of files by extension and the dispatch of GetThumbnailFor:
// the handler table, the extension rule, and which picture each kind of
// file ends up with (told apart by the colour of solid default pictures).
#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <cctype>
#include <cstring>
#include <map>
#include <string>

#include "test_support.h"
#include "thumbnail/ql_thumbnail_extensions.h"
#include "thumbnail/ql_thumbnail_provider.h"

using qltest::Bytes;
using qltest::Rgb;

namespace {

typedef QLThumbnailProvider P;

// GetThumbnailFor through the real handlers, with solid-colour defaults.
class DispatchTest : public qltest::ServiceTest {
 protected:
  void SetUp() override {
    defaults_ = temp_.File("defaults");
    ASSERT_TRUE(boost::filesystem::create_directories(defaults_));
    qltest::WriteDefaultPictures(defaults_);
  }

  // Makes a file named `name` holding `content` and asks for its thumbnail.
  bool Request(std::string const& name, Bytes const& content, QLThumbnailData& data,
               std::uint64_t id = 1) {
    qltest::FillRequest(data, temp_.File(name), cache_, id, 32, 32);
    qltest::WriteFile(data.path, content);
    data.default_thumbnail_folder = defaults_;
    return provider_.GetThumbnailFor(data);
  }

  // The colour of the thumbnail made for a file named `name`.
  Rgb ColourFor(std::string const& name, Bytes const& content = Bytes{'x'}) {
    QLThumbnailData data;
    EXPECT_TRUE(Request(name, content, data)) << name << "\n" << log_.text();
    Rgb colour = {-1, -1, -1};
    EXPECT_TRUE(qltest::CentreColour(qltest::ThumbnailBytes(data), &colour)) << name;
    return colour;
  }

  std::string defaults_;
};

TEST_F(DispatchTest, EachKindGetsItsOwnDefaultPicture) {
  struct {
    char const* name;
    Rgb colour;
  } const cases[] = {{"scan.raw", qltest::kAudioColor},   {"clip.mod", qltest::kVideoColor},
                     {"frame.yuv", qltest::kVideoColor},  {"picture.TIFF", qltest::kImageColor},
                     {"report.xdoc", qltest::kDocColor},  {"report.docx", qltest::kAnyColor},
                     {"notes.tar.gz", qltest::kAnyColor}, {"README", qltest::kAnyColor},
                     {"trailing.", qltest::kAnyColor},    {"archive.zip", qltest::kAnyColor}};
  for (auto const& c : cases) EXPECT_TRUE(qltest::Near(c.colour, ColourFor(c.name))) << c.name;
}

}  // namespace
