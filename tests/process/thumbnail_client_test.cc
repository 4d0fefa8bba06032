// The client's own logic, without a daemon: its command line and the request
// it builds, read back with the daemon's JSON parser.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "json/json_parser.h"
#include "ql_client.h"
#include "ql_client_options.h"

namespace {

// Runs the parser on a command line given as words separated by blanks.
bool Parse(std::string const& line, QLClientOptions* options, std::string* error) {
  std::vector<std::string> words = {"quorlin_gd_client"};
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  return ParseClientOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

// A relative path is made absolute; without --resource-id the identifier
// follows that absolute path.
TEST(ThumbnailClientOptionsTest, MakesPathsAbsoluteAndDerivesTheResourceId) {
  QLClientOptions options;
  std::string error;
  ASSERT_TRUE(Parse("--path sub/../photo.jpg --output -", &options, &error)) << error;
  char folder[4096];
  ASSERT_NE(nullptr, getcwd(folder, sizeof folder));
  EXPECT_EQ(std::string(folder) + "/photo.jpg", options.path);
  EXPECT_EQ(ResourceIdForPath(options.path), options.resource_id);
  EXPECT_NE(ResourceIdForPath("/a.jpg"), ResourceIdForPath("/b.jpg"));
}

// Both value forms, hexadecimal ids and the limits of every number.
TEST(ThumbnailClientOptionsTest, AcceptsValuesInRangeOnly) {
  QLClientOptions options;
  std::string error;
  ASSERT_TRUE(
      Parse("--path=/x.png --output o --width=4294967295 --height 7 --resource-id "
            "0xFFFFFFFFFFFFFFFF --full-screen --default-folder=/d --timeout=3",
            &options, &error))
      << error;
  EXPECT_EQ(4294967295u, options.width);
  EXPECT_EQ(~0ULL, options.resource_id);
  EXPECT_TRUE(options.full_screen);
  EXPECT_EQ("/d", options.default_folder);
  std::string const base = "--path /x --output - ";
  for (std::string const& bad :
       {base + "--width 4294967296", base + "--height 0", base + "--width -5",
        base + "--resource-id 18446744073709551616", base + "--resource-id 12abc",
        base + "--full-screen=maybe", base + "--bogus", base + "--socket " + std::string(108, 's'),
        std::string("--path /x --output")}) {
    error.clear();
    EXPECT_FALSE(Parse(bad, &options, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(ThumbnailClientRequestTest, DaemonParserReadsEveryKeyBack) {
  QLClientOptions options;
  options.path = "/photos/a \"quoted\" name\\with\tescapes.jpg";
  options.width = 4294967295u;
  options.height = 33;
  options.full_screen = true;
  options.resource_id = 0xfedcba9876543210ULL;  // above 2^63
  options.thumbnail_folder = "/cache/folder";
  options.default_folder = "/defaults";
  std::string const json = BuildRequestJson(RequestFor(options));

  JSON::JSONParser parser;
  ASSERT_EQ(0, parser.parse(json.data(), static_cast<unsigned int>(json.size()))) << json;
  ASSERT_TRUE(parser.node("_path")) << json;
  EXPECT_EQ(options.path, parser.node("_path")->stringValue);
  EXPECT_EQ(options.width, static_cast<std::uint32_t>(parser.node("_width")->intValue));
  EXPECT_EQ(options.height, static_cast<std::uint32_t>(parser.node("_height")->intValue));
  EXPECT_TRUE(parser.node("_full_screen")->boolValue);
  EXPECT_EQ(options.resource_id, static_cast<std::uint64_t>(parser.node("_resource_id")->intValue));
  EXPECT_EQ(options.thumbnail_folder, parser.node("_thumbnail_folder")->stringValue);
  EXPECT_EQ(options.default_folder, parser.node("_default_thumbnail_folder")->stringValue);
}

}  // namespace
