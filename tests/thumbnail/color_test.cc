// Colour: the profile of a HEIF's primary item; the shared transform cache,
// one transform per distinct profile, reused while kept, never more than its
// bound kept, safe to share across threads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <string>
#include <thread>
#include <vector>

#include "base/ql_unique_fd.h"
#include "support/ql_icc_bytes.h"
#include "support/ql_temp_dir.h"
#include "thumbnail/color/ql_color_transform_cache.h"
#include "thumbnail/color/ql_embedded_profile.h"

namespace {

std::string Box(char const* type, std::string const& body) {
  std::uint32_t const n = static_cast<std::uint32_t>(body.size() + 8);
  return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + type + body;
}

// Item 2 is the primary one; 'ipma' lists item 1 first, with the other 'colr'.
TEST(EmbeddedProfileTest, HeifTakesThePrimaryItemsColour) {
  auto const nclx = [](char primaries) {
    return Box("colr", std::string("nclx\0", 5) + primaries + std::string("\0\x0d\0\0\0", 5));
  };
  std::string const ipma("\0\0\0\0\0\0\0\x02\0\x01\x01\x01\0\x02\x01\x02", 16);
  std::string const file =
      Box("ftyp", "heicmif1") +
      Box("meta", std::string(4, '\0') + Box("pitm", std::string("\0\0\0\0\0\x02", 6)) +
                      Box("iprp", Box("ipco", nclx(1) + nclx(12)) + Box("ipma", ipma)));
  QLTempDir dir;
  ASSERT_TRUE(WriteFileText(dir.File("p3.heic"), file));
  QLUniqueFd const fd(open(dir.File("p3.heic").c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(12, ReadEmbeddedProfile(fd.get(), QLProfileContainer::kHeif).primaries);
}

// An RGB profile of sRGB's primaries with a plain power curve.
std::string GammaProfile(double gamma) {
  cmsCIExyY const white = {0.3127, 0.3290, 1.0};
  cmsCIExyYTRIPLE const primaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
  cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  std::string const bytes = qltest::IccBytes(cmsCreateRGBProfile(&white, &primaries, curves));
  cmsFreeToneCurve(curve);
  return bytes;
}

TEST(ColorTransformCacheTest, BuildsEachProfileOnceAndKeepsAtMostItsBound) {
  QLColorTransformCache cache;
  std::size_t const count = QLColorTransformCache::kMaxEntries + 1;
  std::vector<std::string> profiles;
  std::vector<std::shared_ptr<QLColorTransform const>> first;
  std::string problem;
  for (std::size_t i = 0; i < count; ++i) {
    profiles.push_back(GammaProfile(1.4 + 0.1 * static_cast<double>(i)));
    first.push_back(cache.Get(profiles.back(), QLColorTransform::Input::kRgb, &problem));
    ASSERT_TRUE(first.back()) << problem;
    EXPECT_FALSE(first.back()->identity());
  }
  EXPECT_EQ(QLColorTransformCache::kMaxEntries, cache.size());
  // The newest is reused; the oldest went and is built afresh. The same
  // bytes for CMYK samples are another key, and refused with a reason.
  EXPECT_EQ(first.back(), cache.Get(profiles.back(), QLColorTransform::Input::kRgb, &problem));
  EXPECT_NE(first.front(), cache.Get(profiles.front(), QLColorTransform::Input::kRgb, &problem));
  EXPECT_FALSE(cache.Get(profiles.back(), QLColorTransform::Input::kCmyk, &problem));
  EXPECT_NE(std::string::npos, problem.find("unsupported")) << problem;
  // sRGB by content: lcms2's own sRGB profile converts nothing.
  EXPECT_TRUE(
      cache.Get(qltest::IccBytes(cmsCreate_sRGBProfile()), QLColorTransform::Input::kRgb, &problem)
          ->identity());

  // Threads meeting one new profile all get a transform, and one is kept.
  std::string const shared = GammaProfile(3.0);
  std::vector<std::thread> threads;
  std::vector<bool> got(4, false);
  for (std::size_t t = 0; t < got.size(); ++t) {
    threads.emplace_back([&, t] {
      std::string why;
      got[t] = static_cast<bool>(cache.Get(shared, QLColorTransform::Input::kRgb, &why));
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::vector<bool>(got.size(), true), got);
  auto const kept = cache.Get(shared, QLColorTransform::Input::kRgb, &problem);
  EXPECT_EQ(kept, cache.Get(shared, QLColorTransform::Input::kRgb, &problem));
}

}  // namespace
