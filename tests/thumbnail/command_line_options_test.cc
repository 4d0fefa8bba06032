// The thumbnail options as the daemon's command line takes them: the frame's
// parse_arguments with the options this helper contributes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main/ql_helper_process_main.h"
#include "thumbnail/ql_thumbnail_options.h"

namespace {

class CommandLineOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { ProcessThumbnailOptions() = QLThumbnailOptions(); }
  void TearDown() override { ProcessThumbnailOptions() = QLThumbnailOptions(); }

  int Parse(std::vector<std::string> words) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("quorlin_gd"));
    for (size_t i = 0; i < words.size(); ++i) argv.push_back(&words[i][0]);
    argv.push_back(nullptr);
    return parse_arguments(static_cast<int>(argv.size()) - 1, argv.data(), &arguments_);
  }

  QLArguments arguments_;
};

TEST_F(CommandLineOptionsTest, OutOfRangeOptionsAreIgnored) {
  EXPECT_EQ(1, Parse({"--png-level", "10", "--png-filters", "sub,bogus", "--jobs", "0", "--jobs",
                      "65", "--max-source-pixels", "-5", "--max-thumbnail-pixels", "0",
                      "--lock-wait-ms", "3600001", "--memory-idle-ms", "3600001"}));
  QLThumbnailOptions const defaults;
  QLThumbnailOptions const& options = ProcessThumbnailOptions();
  EXPECT_EQ(defaults.png_compression_level, options.png_compression_level);
  EXPECT_EQ(defaults.png_filters, options.png_filters);
  EXPECT_EQ(defaults.jobs, options.jobs);
  EXPECT_EQ(defaults.max_source_pixels, options.max_source_pixels);
  EXPECT_EQ(defaults.max_thumbnail_pixels, options.max_thumbnail_pixels);
  EXPECT_EQ(defaults.lock_wait_ms, options.lock_wait_ms);
  EXPECT_EQ(defaults.memory_idle_ms, options.memory_idle_ms);
  EXPECT_EQ(0, Parse({"--jobs"}));
}

}  // namespace
