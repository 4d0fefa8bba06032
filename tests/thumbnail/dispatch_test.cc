// Classification of files by extension and the dispatch of GetThumbnailFor:
// the handler table, the extension rule, and which picture each kind of
// file ends up with (told apart by the colour of solid default pictures).
#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <cctype>
#include <cstring>
#include <map>
#include <string>

#include "service_test_support.h"
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
  EXPECT_EQ(343, CountHandler(table, &P::HandleImgGeneric));
  EXPECT_EQ(441, CountHandler(table, &P::HandleAudioGeneric));
  EXPECT_EQ(319, CountHandler(table, &P::HandleVideoGeneric));
  EXPECT_EQ(7, CountHandler(table, &P::HandleDoc));
  EXPECT_EQ(2, CountHandler(table, &P::HandleImgJpg));
  EXPECT_EQ(1, CountHandler(table, &P::HandleImgPng));
  EXPECT_EQ(1, CountHandler(table, &P::HandleImgWBMP));
  EXPECT_EQ(1, CountHandler(table, &P::HandleImgBmp));
  EXPECT_EQ(1, CountHandler(table, &P::HandleImgGif));
  EXPECT_EQ(1, CountHandler(table, &P::HandleAudioMp3));
  EXPECT_EQ(0, CountHandler(table, &P::HandleUnknown));
}

TEST(DispatchTableTest, ListsHoldDistinctLowerCaseExtensionsWithoutDots) {
  struct List {
    char const* const* entries;
    std::size_t count;
  } const lists[] = {{unsupported_ext_img_format, std::size(unsupported_ext_img_format)},
                     {unsuported_ext_audio_format, std::size(unsuported_ext_audio_format)},
                     {unsuported_ext_video_format, std::size(unsuported_ext_video_format)},
                     {unsuported_ext_document_format, std::size(unsuported_ext_document_format)}};
  std::size_t const expected_counts[] = {368, 452, 319, 7};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(expected_counts[i], lists[i].count);
    std::map<std::string, int> seen;
    for (std::size_t j = 0; j < lists[i].count; ++j) {
      std::string const extension = lists[i].entries[j];
      EXPECT_FALSE(extension.empty());
      EXPECT_EQ(std::string::npos, extension.find('.')) << extension;
      for (char c : extension)
        EXPECT_FALSE(std::isupper(static_cast<unsigned char>(c))) << extension;
      EXPECT_EQ(1, ++seen[extension]) << "duplicate " << extension;
    }
  }
  // The stored order is kept: first and last entries of each list.
  EXPECT_STREQ("001", unsupported_ext_img_format[0]);
  EXPECT_STREQ("zif", unsupported_ext_img_format[367]);
  EXPECT_STREQ("4mp", unsuported_ext_audio_format[0]);
  EXPECT_STREQ("zvr", unsuported_ext_audio_format[451]);
  EXPECT_STREQ("264", unsuported_ext_video_format[0]);
  EXPECT_STREQ("zmv", unsuported_ext_video_format[318]);
  EXPECT_STREQ("doc", unsuported_ext_document_format[0]);
  EXPECT_STREQ("pdf", unsuported_ext_document_format[6]);
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
  EXPECT_TRUE(table.at("jpg") == &P::HandleImgJpg);
  EXPECT_TRUE(table.at("jpeg") == &P::HandleImgJpg);
  EXPECT_TRUE(table.at("png") == &P::HandleImgPng);
  EXPECT_TRUE(table.at("wbmp") == &P::HandleImgWBMP);
  EXPECT_TRUE(table.at("bmp") == &P::HandleImgBmp);
  EXPECT_TRUE(table.at("gif") == &P::HandleImgGif);
  EXPECT_TRUE(table.at("mp3") == &P::HandleAudioMp3);
  EXPECT_TRUE(table.at("xdoc") == &P::HandleDoc);
  EXPECT_TRUE(table.at("tiff") == &P::HandleImgGeneric);
  EXPECT_EQ(0u, table.count("docx"));
  EXPECT_EQ(0u, table.count("gz"));
  EXPECT_EQ(0u, table.count("zip"));
  EXPECT_EQ(0u, table.count(""));
}

TEST(ExtensionTest, IsLowerCasedLastSuffixOfFinalComponent) {
  EXPECT_EQ("jpg", LowerCaseExtension("/photos/Photo.JPG"));
  EXPECT_EQ("gz", LowerCaseExtension("notes.tar.gz"));
  EXPECT_EQ("", LowerCaseExtension("/docs/README"));
  EXPECT_EQ("", LowerCaseExtension("name."));
  EXPECT_EQ("", LowerCaseExtension("/folder.with.dots/plain"));
  EXPECT_EQ("docx", LowerCaseExtension("report.DocX"));
  EXPECT_EQ("", LowerCaseExtension(""));
  // Bytes above 127 pass through untouched instead of being misread as negative.
  EXPECT_EQ("\xc3\x89t\xc3\xa9", LowerCaseExtension("x.\xc3\x89T\xc3\xa9"));
}

// GetThumbnailFor through the real handlers, with solid-colour defaults.
class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    defaults_ = temp_ / "defaults";
    cache_ = temp_ / "cache";
    ASSERT_TRUE(boost::filesystem::create_directories(defaults_));
    qltest::WriteDefaultPictures(defaults_);
  }

  // Makes a file named `name` holding `content` and asks for its thumbnail.
  bool Request(std::string const& name, Bytes const& content, QLThumbnailData& data,
               std::uint64_t id = 1) {
    data.path = temp_ / name;
    qltest::WriteFile(data.path, content);
    data.width = 32;
    data.height = 32;
    data.full_screen = false;
    data.resource_id = id;
    data.thumbnail_folder = cache_;
    data.default_thumbnail_folder = defaults_;
    return provider_.GetThumbnailFor(data);
  }

  // The colour of the thumbnail made for a file named `name`.
  Rgb ColourFor(std::string const& name, Bytes const& content = Bytes{'x'}) {
    QLThumbnailData data;
    EXPECT_TRUE(Request(name, content, data)) << name << "\n" << log_.text();
    Rgb colour = {-1, -1, -1};
    EXPECT_TRUE(
        qltest::CentreColour(qltest::ThumbnailBytes(data.thumbnail, data.thumbnail_size), &colour))
        << name;
    return colour;
  }

  qltest::TempFolder temp_;
  qltest::LogCapture log_;
  QLThumbnailProvider provider_;
  std::string defaults_;
  std::string cache_;
};

TEST_F(DispatchTest, EachKindGetsItsOwnDefaultPicture) {
  EXPECT_TRUE(qltest::Near(qltest::kAudioColor, ColourFor("scan.raw")));
  EXPECT_TRUE(qltest::Near(qltest::kVideoColor, ColourFor("clip.mod")));
  EXPECT_TRUE(qltest::Near(qltest::kVideoColor, ColourFor("frame.yuv")));
  EXPECT_TRUE(qltest::Near(qltest::kImageColor, ColourFor("picture.TIFF")));
  EXPECT_TRUE(qltest::Near(qltest::kDocColor, ColourFor("report.xdoc")));
  EXPECT_TRUE(qltest::Near(qltest::kAnyColor, ColourFor("report.docx")));
  EXPECT_TRUE(qltest::Near(qltest::kAnyColor, ColourFor("notes.tar.gz")));
  EXPECT_TRUE(qltest::Near(qltest::kAnyColor, ColourFor("README")));
  EXPECT_TRUE(qltest::Near(qltest::kAnyColor, ColourFor("trailing.")));
  EXPECT_TRUE(qltest::Near(qltest::kAnyColor, ColourFor("archive.zip")));
}

TEST_F(DispatchTest, UpperCaseJpegIsDecodedAndCached) {
  Rgb const photo = {10, 120, 200};
  Bytes const jpeg = qltest::SolidJpeg(96, 64, photo);
  EXPECT_TRUE(qltest::Near(photo, ColourFor("Photo.JPG", jpeg)));
  EXPECT_EQ(1u, qltest::ListFolder(cache_).size()) << log_.text();
  EXPECT_TRUE(log_.Contains("GetThumbnailFor - thumb generation took: ")) << log_.text();
  EXPECT_TRUE(log_.Contains("GetThumbnailFor - thumb saving took: ")) << log_.text();
}

TEST_F(DispatchTest, DefaultPicturesAreNeverCached) {
  QLThumbnailData first, second;
  ASSERT_TRUE(Request("unknown.qqq", Bytes{'x'}, first));
  ASSERT_TRUE(Request("unknown.qqq", Bytes{'x'}, second));
  EXPECT_TRUE(qltest::ListFolder(cache_).empty());
  // Both requests went through generation: no hit was logged.
  EXPECT_FALSE(log_.Contains("Sending cached thumbanil")) << log_.text();
}

TEST_F(DispatchTest, CacheHitSkipsClassificationAndIsLoggedWithTiming) {
  // Even a file type with no handler at all is served from the cache.
  std::string const path = temp_ / "anything.qqq";
  qltest::WriteFile(path, std::string("x"));
  qltest::SetMtime(path, 0x10);
  ASSERT_TRUE(boost::filesystem::create_directories(cache_));
  Bytes const stored{'s', 't', 'o', 'r', 'e', 'd'};
  qltest::WriteFile(cache_ + "/1_32x32_0_10.png", stored);

  QLThumbnailData data;
  data.path = path;
  data.width = data.height = 32;
  data.full_screen = false;
  data.resource_id = 1;
  data.thumbnail_folder = cache_;
  data.default_thumbnail_folder = temp_ / "no-such-folder";
  ASSERT_TRUE(provider_.GetThumbnailFor(data)) << log_.text();
  EXPECT_EQ(stored, qltest::ThumbnailBytes(data.thumbnail, data.thumbnail_size));
  EXPECT_TRUE(log_.Contains("GetThumbnailFor - cached thumb took: ")) << log_.text();
  EXPECT_FALSE(log_.Contains("thumb generation took")) << log_.text();
}

TEST_F(DispatchTest, MissLogsCachedTimingToo) {
  QLThumbnailData data;
  ASSERT_TRUE(Request("x.txt", Bytes{'x'}, data));
  EXPECT_TRUE(log_.Contains("GetThumbnailFor - cached thumb took: ")) << log_.text();
}

TEST_F(DispatchTest, FailedDecoderFallsBackWithoutCaching) {
  // Garbage named .jpg: the decoder fails and the image picture stands in.
  EXPECT_TRUE(qltest::Near(qltest::kImageColor,
                           ColourFor("broken.jpg", Bytes{'n', 'o', 't', ' ', 'j', 'p', 'g'})));
  EXPECT_TRUE(qltest::ListFolder(cache_).empty()) << log_.text();
}

TEST_F(DispatchTest, MissingGenericPictureMeansFailure) {
  ASSERT_EQ(0, ::unlink((defaults_ + "/any_file.jpg").c_str()));
  QLThumbnailData unknown;
  EXPECT_FALSE(Request("notes.tar.gz", Bytes{'x'}, unknown));
  EXPECT_FALSE(unknown.thumbnail);

  // A known type whose handler fails ends at the generic picture too.
  ASSERT_EQ(0, ::unlink((defaults_ + "/doc.jpg").c_str()));
  QLThumbnailData doc;
  EXPECT_FALSE(Request("letter.pdf", Bytes{'x'}, doc));
}

TEST_F(DispatchTest, KnownTypeWhoseHandlerFailsGetsGenericPicture) {
  ASSERT_EQ(0, ::unlink((defaults_ + "/video.jpg").c_str()));
  EXPECT_TRUE(qltest::Near(qltest::kAnyColor, ColourFor("clip.mkv")));
}

}  // namespace
