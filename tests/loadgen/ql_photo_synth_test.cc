#include "ql_photo_synth.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "ql_photo_corpus.h"

namespace {

ScopedPhoto Draw(int width, int height, std::uint32_t seed) {
  QLPhotoSpec photo_spec;
  photo_spec.width = width;
  photo_spec.height = height;
  photo_spec.seed = seed;
  return DrawPhoto(photo_spec);
}

int Luma(int pixel) {
  return (299 * gdTrueColorGetRed(pixel) + 587 * gdTrueColorGetGreen(pixel) +
          114 * gdTrueColorGetBlue(pixel)) /
         1000;
}

// The start-of-frame marker of a JPEG: 0xC0 baseline, 0xC2 progressive.
int FrameMarker(std::vector<unsigned char> const& jpeg) {
  for (std::size_t i = 2; i + 1 < jpeg.size();) {
    if (jpeg[i] != 0xFF) return -1;
    int const marker = jpeg[i + 1];
    if (marker >= 0xC0 && marker <= 0xC2) return marker;
    i += 2 + ((jpeg[i + 2] << 8) | jpeg[i + 3]);
  }
  return -1;
}

TEST(PhotoSynthTest, DrawsTheRequestedSizeAsTrueColour) {
  ScopedPhoto const photo = Draw(321, 123, 5);
  ASSERT_TRUE(photo);
  EXPECT_EQ(321, gdImageSX(photo.get()));
  EXPECT_EQ(123, gdImageSY(photo.get()));
  EXPECT_TRUE(gdImageTrueColor(photo.get()));
}

TEST(PhotoSynthTest, TheSeedDecidesEveryPixel) {
  ScopedPhoto const a = Draw(200, 150, 9);
  ScopedPhoto const b = Draw(200, 150, 9);
  ScopedPhoto const c = Draw(200, 150, 10);
  int same_ab = 0, same_ac = 0;
  for (int y = 0; y < 150; ++y) {
    for (int x = 0; x < 200; ++x) {
      int const pa = gdImageTrueColorPixel(a.get(), x, y);
      same_ab += pa == gdImageTrueColorPixel(b.get(), x, y);
      same_ac += pa == gdImageTrueColorPixel(c.get(), x, y);
    }
  }
  EXPECT_EQ(200 * 150, same_ab);
  EXPECT_LT(same_ac, 200 * 150 / 20);
}

TEST(PhotoSynthTest, SizesOutsideTheLimitsGiveNoPicture) {
  EXPECT_FALSE(Draw(0, 10, 1));
  EXPECT_FALSE(Draw(10, -1, 1));
  EXPECT_FALSE(Draw(kMaxPhotoSide + 1, 10, 1));
  EXPECT_FALSE(Draw(10000, 10000, 1));  // 100 MP
}

TEST(PhotoSynthTest, PicturesHaveGrainEdgesAndBroadTones) {
  ScopedPhoto const photo = Draw(640, 480, 3);
  int changed = 0, strong_edges = 0, darkest = 255, brightest = 0;
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x + 1 < 640; ++x) {
      int const here = Luma(gdImageTrueColorPixel(photo.get(), x, y));
      int const right = Luma(gdImageTrueColorPixel(photo.get(), x + 1, y));
      changed += here != right;
      strong_edges += std::abs(here - right) > 40;
      darkest = std::min(darkest, here);
      brightest = std::max(brightest, here);
    }
  }
  int const pairs = 639 * 480;
  EXPECT_GT(changed, pairs * 8 / 10);   // grain: neighbours rarely match
  EXPECT_GT(strong_edges, 100);         // object outlines
  EXPECT_LT(strong_edges, pairs / 20);  // but mostly smooth
  EXPECT_GT(brightest - darkest, 100);  // gradients and objects span the tones
}

TEST(PhotoSynthTest, JpegsAreAsDenseAsPhotosAndTheKindIsChosen) {
  ScopedPhoto const photo = Draw(800, 600, 4);
  std::vector<unsigned char> const baseline = EncodeJpeg(photo.get(), 90, false);
  std::vector<unsigned char> const progressive = EncodeJpeg(photo.get(), 90, true);
  ASSERT_FALSE(baseline.empty());
  ASSERT_FALSE(progressive.empty());
  EXPECT_EQ(0xC0, FrameMarker(baseline));
  EXPECT_EQ(0xC2, FrameMarker(progressive));
  EXPECT_EQ(0, gdImageGetInterlaced(photo.get()));  // flag restored
  // Camera photos at quality 90 take roughly 1.5 to 4 bits per pixel; a
  // flat synthetic picture would take a fraction of one.
  double const bits_per_pixel = baseline.size() * 8.0 / (800 * 600);
  EXPECT_GT(bits_per_pixel, 1.2);
  EXPECT_LT(bits_per_pixel, 6.0);

  ScopedPhoto const back(gdImageCreateFromJpegPtr(static_cast<int>(progressive.size()),
                                                  const_cast<unsigned char*>(progressive.data())));
  ASSERT_TRUE(back);
  EXPECT_EQ(800, gdImageSX(back.get()));
  EXPECT_EQ(600, gdImageSY(back.get()));
}

TEST(PhotoSynthTest, EncodingRefusesNoPictureAndBadQuality) {
  ScopedPhoto const photo = Draw(16, 16, 1);
  EXPECT_TRUE(EncodeJpeg(nullptr, 90, false).empty());
  EXPECT_TRUE(EncodeJpeg(photo.get(), 0, false).empty());
  EXPECT_TRUE(EncodeJpeg(photo.get(), 101, true).empty());
}

TEST(PhotoCorpusTest, DefaultPlanHoldsEverySizeInBothKindsPlusWarmUpAndMemoryPhotos) {
  std::vector<QLCorpusPhoto> const plan = CorpusPlan(false);
  std::set<std::string> names;
  std::set<std::pair<int, bool>> kinds;
  int warmups = 0, memory = 0;
  for (QLCorpusPhoto const& photo : plan) {
    EXPECT_TRUE(names.insert(photo.name).second) << photo.name;
    if (photo.role == kCorpusWarmUp) ++warmups;
    if (photo.role == kCorpusMemory) {
      ++memory;
      EXPECT_NEAR(20.0, photo.width * static_cast<double>(photo.height) / 1e6, 0.5);
    }
    if (photo.role == kCorpusMeasured) {
      kinds.insert(std::make_pair(static_cast<int>(photo.width * double(photo.height) / 1e6 + 0.5),
                                  photo.progressive));
    }
  }
  EXPECT_EQ(1, warmups);
  EXPECT_EQ(1, memory);
  EXPECT_EQ((std::set<std::pair<int, bool>>{
                {2, false}, {2, true}, {12, false}, {12, true}, {24, false}, {24, true}}),
            kinds);
}

TEST(PhotoCorpusTest, FullPlanHasFourPhotosOfEachSizeAndKind) {
  std::map<std::string, int> per_kind;
  for (QLCorpusPhoto const& photo : CorpusPlan(true)) {
    if (photo.role != kCorpusMeasured) continue;
    ++per_kind[photo.name.substr(0, photo.name.rfind('_'))];
  }
  EXPECT_EQ(6u, per_kind.size());
  for (auto const& kind : per_kind) EXPECT_EQ(4, kind.second) << kind.first;
}

TEST(PhotoCorpusTest, ManifestLinesNameSizeKindRoleAndBytes) {
  QLCorpusPhoto photo;
  photo.name = "p12mp_prog_1.jpg";
  photo.width = 4000;
  photo.height = 3000;
  photo.progressive = true;
  EXPECT_EQ("p12mp_prog_1.jpg 4000 3000 1 measured 123", ManifestLine(photo, 123));
  photo.role = kCorpusMemory;
  EXPECT_EQ(std::string("memory"), RoleName(photo.role));
}

}  // namespace
