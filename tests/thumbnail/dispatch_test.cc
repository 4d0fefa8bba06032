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

int CountHandler(P::HandlerTable const& table, P::Handler handler) {
  int count = 0;
  for (auto const& entry : table) count += entry.second == handler ? 1 : 0;
  return count;
}

TEST(DispatchTableTest, HasAllKeysSplitByHandler) {
  QLThumbnailProvider provider;
  P::HandlerTable const& table = provider.handlers();
  EXPECT_EQ(1117u, table.size());
  struct {
    P::Handler handler;
    int keys;
  } const cases[] = {
      {&P::HandleImgGeneric, 343}, {&P::HandleAudioGeneric, 441}, {&P::HandleVideoGeneric, 319},
      {&P::HandleDoc, 7},          {&P::HandleImgJpg, 2},         {&P::HandleImgPng, 1},
      {&P::HandleImgWBMP, 1},      {&P::HandleImgBmp, 1},         {&P::HandleImgGif, 1},
      {&P::HandleAudioMp3, 1},     {&P::HandleUnknown, 0}};
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(cases[i].keys, CountHandler(table, cases[i].handler)) << "case " << i;
}

// The stored order is kept, so each list's first and last entries are checked
// too.
TEST(DispatchTableTest, ListsHoldDistinctLowerCaseExtensionsWithoutDots) {
  struct {
    char const* const* entries;
    std::size_t count, expected_count;
    char const *first, *last;
  } const lists[] = {
      {unsupported_ext_img_format, std::size(unsupported_ext_img_format), 368, "001", "zif"},
      {unsuported_ext_audio_format, std::size(unsuported_ext_audio_format), 452, "4mp", "zvr"},
      {unsuported_ext_video_format, std::size(unsuported_ext_video_format), 319, "264", "zmv"},
      {unsuported_ext_document_format, std::size(unsuported_ext_document_format), 7, "doc", "pdf"}};
  for (auto const& list : lists) {
    SCOPED_TRACE(list.first);
    EXPECT_EQ(list.expected_count, list.count);
    EXPECT_STREQ(list.first, list.entries[0]);
    EXPECT_STREQ(list.last, list.entries[list.count - 1]);
    std::map<std::string, int> seen;
    for (std::size_t j = 0; j < list.count; ++j) {
      std::string const extension = list.entries[j];
      EXPECT_FALSE(extension.empty());
      EXPECT_EQ(std::string::npos, extension.find('.')) << extension;
      for (char c : extension)
        EXPECT_FALSE(std::isupper(static_cast<unsigned char>(c))) << extension;
      EXPECT_EQ(1, ++seen[extension]) << "duplicate " << extension;
    }
  }
}

TEST(DispatchTableTest, LaterListsWinForSharedExtensions) {
  QLThumbnailProvider provider;
  P::HandlerTable const& table = provider.handlers();
  for (char const* audio : {"abm", "ais", "cpt", "dcm", "ddt", "hdp", "omf", "pac", "pat", "psf",
                            "raw", "sid", "smp", "u"}) {
    ASSERT_TRUE(table.count(audio)) << audio;
    EXPECT_TRUE(table.at(audio) == &P::HandleAudioGeneric) << audio;
  }
  for (char const* video : {"ivr", "mpf", "pns", "pvr", "yuv", "box", "mgv", "mod", "mts", "rts",
                            "sbk", "seq", "stx", "tsp", "vgz"}) {
    ASSERT_TRUE(table.count(video)) << video;
    EXPECT_TRUE(table.at(video) == &P::HandleVideoGeneric) << video;
  }
  struct {
    char const* extension;
    P::Handler handler;
  } const own[] = {
      {"jpg", &P::HandleImgJpg},   {"jpeg", &P::HandleImgJpg}, {"png", &P::HandleImgPng},
      {"wbmp", &P::HandleImgWBMP}, {"bmp", &P::HandleImgBmp},  {"gif", &P::HandleImgGif},
      {"mp3", &P::HandleAudioMp3}, {"xdoc", &P::HandleDoc},    {"tiff", &P::HandleImgGeneric}};
  for (auto const& c : own) EXPECT_TRUE(table.at(c.extension) == c.handler) << c.extension;
  for (char const* none : {"docx", "gz", "zip", ""}) EXPECT_EQ(0u, table.count(none)) << none;
}

TEST(ExtensionTest, IsLowerCasedLastSuffixOfFinalComponent) {
  struct {
    char const* path;
    char const* extension;
  } const cases[] = {{"/photos/Photo.JPG", "jpg"},
                     {"notes.tar.gz", "gz"},
                     {"/docs/README", ""},
                     {"name.", ""},
                     {"/folder.with.dots/plain", ""},
                     {"report.DocX", "docx"},
                     {"", ""},
                     // Bytes above 127 pass through untouched instead of being
                     // misread as negative.
                     {"x.\xc3\x89T\xc3\xa9", "\xc3\x89t\xc3\xa9"}};
  for (auto const& c : cases) EXPECT_EQ(c.extension, LowerCaseExtension(c.path)) << c.path;
}

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

TEST_F(DispatchTest, UpperCaseJpegIsDecodedAndCached) {
  Rgb const photo = {10, 120, 200};
  Bytes const jpeg = qltest::Solid(qltest::Format::kJpeg, 96, 64, photo);
  EXPECT_TRUE(qltest::Near(photo, ColourFor("Photo.JPG", jpeg)));
  EXPECT_EQ(1u, qltest::ListFolder(cache_).size()) << log_.text();
  EXPECT_TRUE(log_.Contains("GetThumbnailFor - thumb generation took: "));
  EXPECT_TRUE(log_.Contains("GetThumbnailFor - thumb saving took: "));
}

TEST_F(DispatchTest, DefaultPicturesAreNeverCached) {
  QLThumbnailData first, second;
  ASSERT_TRUE(Request("unknown.qqq", Bytes{'x'}, first));
  ASSERT_TRUE(Request("unknown.qqq", Bytes{'x'}, second));
  // Garbage named .jpg: the decoder fails and the image picture stands in.
  EXPECT_TRUE(qltest::Near(qltest::kImageColor, ColourFor("broken.jpg", Bytes{'n', 'o', 't'})));
  EXPECT_TRUE(qltest::ListFolder(cache_).empty());
  // Every request went through generation: no hit was logged, the lookup was timed.
  EXPECT_FALSE(log_.Contains("Sending cached thumbanil"));
  EXPECT_EQ(3, log_.Count("GetThumbnailFor - cached thumb took: "));
}

TEST_F(DispatchTest, CacheHitSkipsClassificationAndIsLoggedWithTiming) {
  // Even a file type with no handler at all is served from the cache.
  std::string const path = temp_.File("anything.qqq");
  qltest::WriteFile(path, std::string("x"));
  qltest::SetMtime(path, 0x10);
  ASSERT_TRUE(boost::filesystem::create_directories(cache_));
  Bytes const stored{'s', 't', 'o', 'r', 'e', 'd'};
  qltest::WriteFile(cache_ + "/1_32x32_0_10.png", stored);

  QLThumbnailData data;
  qltest::FillRequest(data, path, cache_, 1, 32, 32);
  data.default_thumbnail_folder = temp_.File("no-such-folder");
  ASSERT_TRUE(provider_.GetThumbnailFor(data)) << log_.text();
  EXPECT_EQ(stored, qltest::ThumbnailBytes(data));
  EXPECT_TRUE(log_.Contains("GetThumbnailFor - cached thumb took: "));
  EXPECT_FALSE(log_.Contains("thumb generation took"));
}

// A known type whose handler fails gets the generic picture; without that
// one, any request that needs it fails.
TEST_F(DispatchTest, GenericPictureIsTheLastFallback) {
  ASSERT_EQ(0, ::unlink((defaults_ + "/video.jpg").c_str()));
  EXPECT_TRUE(qltest::Near(qltest::kAnyColor, ColourFor("clip.mkv")));

  ASSERT_EQ(0, ::unlink((defaults_ + "/any_file.jpg").c_str()));
  for (char const* name : {"notes.tar.gz", "clip.mkv"}) {
    QLThumbnailData data;
    EXPECT_FALSE(Request(name, Bytes{'x'}, data)) << name;
    EXPECT_FALSE(data.thumbnail) << name;
  }
}

}  // namespace
