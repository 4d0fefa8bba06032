#include "ql_loadgen_options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Runs the parser on a command line given as one string of words.
bool Parse(std::string const& line, QLLoadgenOptions* options, std::string* error) {
  std::vector<std::string> words = {"ql_loadgen"};
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  return ParseLoadgenOptions(static_cast<int>(words.size()), argv.data(), options, error);
}

std::string WorkingDirectory() {
  char folder[PATH_MAX];
  return getcwd(folder, sizeof(folder)) ? folder : "";
}

TEST(LoadgenOptionsTest, EveryOptionIsReadAndRelativePathsBecomeAbsolute) {
  QLLoadgenOptions options;
  std::string error;
  ASSERT_TRUE(Parse(
      "--socket /tmp/s --clients 8 --cache-root cache --defaults /d --width 1920 --height 1080 "
      "--full-screen --miss-rounds 3 --miss-copies 4 --hits 5000 --warmup w.jpg --pid 77 "
      "--new-connection --timeout 9 --format kv --label shrink a.jpg /abs/b.jpg",
      &options, &error))
      << error;
  std::string const here = WorkingDirectory();
  EXPECT_EQ("/tmp/s", options.socket);
  EXPECT_EQ(8u, options.clients);
  EXPECT_EQ(here + "/cache", options.cache_root);
  EXPECT_EQ("/d", options.default_folder);
  EXPECT_EQ(1920u, options.width);
  EXPECT_EQ(1080u, options.height);
  EXPECT_TRUE(options.full_screen);
  EXPECT_EQ(3u, options.miss_rounds);
  EXPECT_EQ(4u, options.miss_copies);
  EXPECT_EQ(5000u, options.hits);
  EXPECT_EQ(here + "/w.jpg", options.warmup);
  EXPECT_EQ(77, options.daemon_pid);
  EXPECT_TRUE(options.new_connection);
  EXPECT_EQ(9u, options.timeout_seconds);
  EXPECT_TRUE(options.key_values);
  EXPECT_EQ("shrink", options.label);
  EXPECT_EQ((std::vector<std::string>{here + "/a.jpg", "/abs/b.jpg"}), options.files);
}

TEST(LoadgenOptionsTest, DefaultsAreOneClientOneMissRoundAndNoHits) {
  QLLoadgenOptions options;
  std::string error;
  ASSERT_TRUE(Parse("--cache-root /c p.jpg", &options, &error)) << error;
  EXPECT_EQ(1u, options.clients);
  EXPECT_EQ(1u, options.miss_rounds);
  EXPECT_EQ(1u, options.miss_copies);
  EXPECT_EQ(0u, options.hits);
  EXPECT_EQ(160u, options.width);
  EXPECT_EQ(120u, options.height);
  EXPECT_FALSE(options.full_screen);
  EXPECT_FALSE(options.key_values);
  EXPECT_EQ("/tmp/qlGDProcesssSocket", options.socket);
}

TEST(LoadgenOptionsTest, HitsAloneAreEnoughWork) {
  QLLoadgenOptions options;
  std::string error;
  EXPECT_TRUE(Parse("--cache-root /c --miss-rounds 0 --hits 10 p.jpg", &options, &error)) << error;
}

TEST(LoadgenOptionsTest, NumbersOutsideTheirRangeAreRefusedWithTheOptionNamed) {
  // Each line names its option first; the error must name it too.
  for (std::string const line : {"--clients 0", "--clients 257", "--width 12x", "--height -4",
                                 "--hits 1e3", "--pid 0", "--timeout 99999", "--miss-rounds 1001",
                                 "--width 65536", "--miss-copies 0", "--miss-copies 65"}) {
    QLLoadgenOptions options;
    std::string error;
    EXPECT_FALSE(Parse(line + " --cache-root /c p.jpg", &options, &error)) << line;
    EXPECT_NE(std::string::npos, error.find(line.substr(0, line.find(' '))))
        << line << ": " << error;
  }
}

TEST(LoadgenOptionsTest, IncompleteCommandLinesAreRefused) {
  char const* const lines[] = {
      "--cache-root /c",                        // no photos
      "p.jpg",                                  // no cache root
      "--cache-root /c --miss-rounds 0 p.jpg",  // nothing to do
      "--cache-root /c --format json p.jpg",    // unknown format
      "--cache-root /c --bogus p.jpg",          // unknown option
      "--cache-root /c p.jpg --clients",        // missing value
  };
  for (char const* line : lines) {
    QLLoadgenOptions options;
    std::string error;
    EXPECT_FALSE(Parse(line, &options, &error)) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
}

}  // namespace
