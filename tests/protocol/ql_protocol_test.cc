// The request body read back as the daemon reads it, and cache names read
// back as written; the names themselves are pinned in cache_test.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>

#include "json/json_parser.h"
#include "protocol/ql_cache_file_name.h"
#include "protocol/ql_thumbnail_request.h"

namespace {

TEST(ThumbnailRequestTest, BodyReadsBackAndAMissingKeyIsNamed) {
  QLThumbnailRequest const sent = {"/a \"b\"\\c.jpg",     4294967295u, 7,           true,
                                   0x8000000000000001ULL, "/cache",    "/defaults", true};
  JSON::JSONParser parser;
  std::string body = BuildRequestJson(sent);
  ASSERT_EQ(0, parser.parse(body.data(), static_cast<unsigned int>(body.size()))) << body;
  QLThumbnailRequest read;
  char const* missing = nullptr;
  ASSERT_TRUE(ReadRequest(parser, &read, &missing));
  EXPECT_EQ(BuildRequestJson(sent), BuildRequestJson(read));  // the id as its negative twin
  EXPECT_TRUE(read.background);

  // Spelt out by hand, as the device's services send it: each key is found.
  body =
      "{\"_path\":\"/a\",\"_width\":1,\"_height\":2,\"_full_screen\":true,\"_resource_id\":-1,"
      "\"_thumbnail_folder\":\"/c\",\"_default_thumbnail_folder\":\"/d\"}";
  ASSERT_EQ(0, parser.parse(body.data(), static_cast<unsigned int>(body.size())));
  ASSERT_TRUE(ReadRequest(parser, &read, &missing)) << missing;
  EXPECT_FALSE(read.background) << "the optional key is absent";
  EXPECT_EQ(BuildRequestJson({"/a", 1, 2, true, UINT64_MAX, "/c", "/d"}), BuildRequestJson(read));
  body.erase(body.find("\"_height\":2,"), 12);
  ASSERT_EQ(0, parser.parse(body.data(), static_cast<unsigned int>(body.size())));
  EXPECT_FALSE(ReadRequest(parser, &read, &missing));
  EXPECT_STREQ(kRequestHeightKey, missing);
}

TEST(CacheFileNameTest, OnlyNamesTheDaemonWritesParse) {
  QLCacheEntryKey key;
  std::int64_t modified = 0;
  ASSERT_TRUE(
      ParseCacheFileName("ffffffffffffffff_4294967295x4294967295_1_5f5e1000.png", &key, &modified));
  EXPECT_EQ(std::make_tuple(UINT64_MAX, 4294967295u, 4294967295u, true, std::int64_t{0x5f5e1000}),
            std::make_tuple(key.resource_id, key.width, key.height, key.full_screen, modified));
  ASSERT_TRUE(ParseCacheFileName(CacheFileName(key, -1), &key, &modified));
  EXPECT_EQ(-1, modified) << "a time before the epoch comes back";
  ASSERT_TRUE(ParseCacheFileName("ff_1x1_0_1.webp", &key, &modified));
  EXPECT_EQ(QLThumbnailFormat::kWebp, key.format);
  EXPECT_EQ("ff_1x1_0_1.jpg", CacheFileName({255, 1, 1, false, QLThumbnailFormat::kJpeg}, 1));
  for (char const* name :
       {"FF_1x1_0_1.png", "0ff_1x1_0_1.png", "ff_01x1_0_1.png", "ff_1x1_2_1.png", "ff_1x1_0_1.jpeg",
        "ff_1x1_0_1.png.tmp", ".tmp-1-2-ff_1x1_0_1.png", "ff_4294967296x1_0_1.png",
        "ff_+1x1_0_1.png", "ff_1x1_0_.png", "ff_1x1_0_1", ".png", "f"}) {
    EXPECT_FALSE(ParseCacheFileName(name, &key, &modified)) << name;
  }
}

}  // namespace
