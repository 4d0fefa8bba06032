// What the daemon's options set up for the thumbnail service: the values its
// command line takes, and the path confinement that judges request paths
// after symlinks and ".." are resolved, folders still to be made included.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/ql_sample_files.h"
#include "support/ql_temp_dir.h"
#include "thumbnail/ql_gd_helper.h"
#include "thumbnail/ql_path_confinement.h"
#include "thumbnail/ql_thumbnail_options.h"

namespace {

// Each option takes the ends of its range; a value beyond them is refused
// with one line and leaves the setting as it was.
TEST(CommandLineOptionsTest, EachOptionTakesItsRangeAndRefusesBeyond) {
  QLThumbnailOptions options;
  QLThumbnailOptions const defaults;
  auto const parse = [&options](std::vector<std::string> words) {
    std::vector<char*> argv{const_cast<char*>("quorlin_gd")};
    for (std::string& word : words) argv.push_back(&word[0]);
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ParseCommandLine(static_cast<int>(argv.size()), argv.data(),
                                 ThumbnailCommandLineOptions(&options),
                                 QLCommandLineMode::kReportAndGoOn, nullptr, &error));
    return testing::internal::GetCapturedStderr();
  };
  std::string const said =
      parse({"--png-level=10", "--png-filters=sub,bogus", "--jobs=0", "--jobs=65",
             "--max-source-pixels=-5", "--max-thumbnail-pixels=0", "--lock-wait-ms=3600001",
             "--memory-idle-ms=3600001", "--media-decoder=", "--cache-max-mb=0",
             "--cache-max-mb=16777217"});
  EXPECT_EQ(11, std::count(said.begin(), said.end(), '\n')) << said;
  EXPECT_EQ(0u, options.cache_max_mb);
  EXPECT_EQ(defaults.png_compression_level, options.png_compression_level);
  EXPECT_EQ(defaults.png_filters, options.png_filters);
  EXPECT_EQ(defaults.jobs, options.jobs);
  EXPECT_EQ(defaults.max_source_pixels, options.max_source_pixels);
  EXPECT_EQ(defaults.max_thumbnail_pixels, options.max_thumbnail_pixels);
  EXPECT_EQ(defaults.lock_wait_ms, options.lock_wait_ms);
  EXPECT_EQ(defaults.memory_idle_ms, options.memory_idle_ms);
  EXPECT_EQ(defaults.media_decoder.program, options.media_decoder.program);
  EXPECT_EQ("", parse({"--max-source-pixels=18446744073709551615", "--max-thumbnail-pixels=1",
                       "--jobs=64", "--lock-wait-ms=3600000", "--png-level=0",
                       "--decoder-memory-mb=65536", "--media-decoder=/opt/decoder",
                       "--jpeg-shrink-on-load", "--cache-max-mb=16777216"}));
  EXPECT_EQ(16777216u, options.cache_max_mb);
  EXPECT_TRUE(options.jpeg_shrink_on_load);
  EXPECT_EQ(UINT64_MAX, options.max_source_pixels);
  EXPECT_EQ(1u, options.max_thumbnail_pixels);
  EXPECT_EQ(64u, options.jobs);
  EXPECT_EQ(0, options.png_compression_level);
  EXPECT_EQ(3600000u, options.lock_wait_ms);
  EXPECT_EQ(65536u, options.media_decoder.memory_mb);
  EXPECT_EQ("/opt/decoder", options.media_decoder.program);
}

// The helper the process serves with has the command line's options. (That
// it confines requests to the allowed roots: hostile_peer_test.)
TEST(GDHelperTest, ProcessHelperTakesTheOptions) {
  ProcessThumbnailOptions() = QLThumbnailOptions();
  ProcessThumbnailOptions().jobs = 3;
  boost::shared_ptr<QLGDHelper> const helper =
      boost::static_pointer_cast<QLGDHelper>(GetProcessHelper());
  ProcessThumbnailOptions() = QLThumbnailOptions();
  EXPECT_EQ(3u, helper->provider().options().jobs);
}

TEST(QLPathConfinementTest, JudgesRealPathsAgainstTheRoots) {
  QLTempDir scratch;
  std::string const root = scratch.File("root"), outside = scratch.File("outside");
  ASSERT_EQ(0, mkdir(root.c_str(), 0700));
  ASSERT_EQ(0, mkdir(outside.c_str(), 0700));
  ASSERT_EQ(0, mkdir((root + "/photos").c_str(), 0700));
  ASSERT_TRUE(WriteFileText(root + "/photos/a.jpg", "x"));
  ASSERT_TRUE(WriteFileText(outside + "/secret.jpg", "x"));
  std::pair<std::string, std::string> const links[] = {
      {outside + "/secret.jpg", root + "/escape.jpg"},
      {outside, root + "/out"},
      {outside + "/none", root + "/dangling"},
      {root + "/photos", outside + "/in"},
      {root, scratch.File("root_link")}};
  for (auto const& link : links) ASSERT_EQ(0, symlink(link.first.c_str(), link.second.c_str()));

  QLPathConfinement open;
  EXPECT_TRUE(open.Contains("/etc/passwd")) << "no root allows all";
  for (std::string const& unusable :
       {scratch.File("missing"), root + "/photos/a.jpg", std::string()}) {
    QLPathConfinement confinement;
    std::string error;
    EXPECT_FALSE(confinement.AddRoot(unusable, &error)) << unusable;
    EXPECT_FALSE(error.empty()) << unusable;
    EXPECT_FALSE(confinement.Contains(root)) << "an unusable root refuses everything";
  }
  QLPathConfinement confinement;
  std::string error;
  // The root's own name reached through a symlink still counts as the root.
  ASSERT_TRUE(confinement.AddRoot(scratch.File("root_link") + "/", &error)) << error;
  struct {
    std::string path;
    bool inside;
  } const cases[] = {
      {root, true},
      {root + "/photos/../photos/./a.jpg", true},
      {outside + "/in/a.jpg", true},       // a symlink from outside into the root
      {root + "/cache/new/deeper", true},  // folders still to be made
      {root + "/photos/", true},
      {root + "/escape.jpg", false},      // file symlink pointing out
      {root + "/out/secret.jpg", false},  // folder symlink pointing out
      {root + "/out/cache/new", false},   // to be made beyond that symlink
      {root + "/dangling/new", false},    // made through a dangling symlink
      {root + "/photos/../../outside", false},
      {root + "/new/../../outside/cache", false},  // ".." below a missing name
      {root + "/new/./deeper", false},             // and "." alike
      {root + "x/a.jpg", false},                   // a sibling sharing the root's prefix
      {"/", false},
      {"", false},  // the working directory
  };
  for (auto const& c : cases) EXPECT_EQ(c.inside, confinement.Contains(c.path)) << c.path;
  QLPathConfinement whole_tree;
  ASSERT_TRUE(whole_tree.AddRoot("/", &error)) << error;
  EXPECT_TRUE(whole_tree.Contains("/ql-not-made-yet/cache")) << "to be made right below /";
}

}  // namespace
