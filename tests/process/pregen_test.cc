// quorlin_gd_pregen: its list and size parsing on their own, the real tool
// against the real daemon over generated files, and its prune of a cache
// written by name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "process/load_harness.h"
#include "protocol/ql_cache_file_name.h"
#include "ql_pregen_entries.h"
#include "ql_pregen_options.h"
#include "support/ql_temp_dir.h"

namespace load {
namespace {

TEST(PregenParseTest, ListLinesAndSizes) {
  struct Row {
    std::string line;
    bool ok;
    std::uint64_t id;
    std::string path;
  };
  Row const rows[] = {
      {"42\t/photos/a b.jpg", true, 42, "/photos/a b.jpg"},
      {"0xFFFFFFFFFFFFFFFF\t/x/../y.png\r", true, ~0ULL, "/y.png"},
      {"-1\t/n.jpg", true, ~0ULL, "/n.jpg"},
      {"-9223372036854775808\t/min.jpg", true, 0x8000000000000000ULL, "/min.jpg"},
      {"-9223372036854775809\t/below.jpg", false, 0, ""},
      {"18446744073709551616\t/over.jpg", false, 0, ""},
      {"12abc\t/a.jpg", false, 0, ""},
      {" 12\t/a.jpg", false, 0, ""},
      {"\t/a.jpg", false, 0, ""},
      {"12\t", false, 0, ""},
      {"12 /a.jpg", false, 0, ""},
      {std::string("12\t/a\0b.jpg", 11), false, 0, ""},
  };
  for (Row const& row : rows) {
    QLPregenEntry entry;
    std::string error;
    EXPECT_EQ(row.ok, ParseListLine(row.line, &entry, &error)) << row.line;
    EXPECT_EQ(row.ok, error.empty()) << row.line;
    if (row.ok) {
      EXPECT_EQ(row.id, entry.resource_id) << row.line;
      EXPECT_EQ(row.path, entry.path) << row.line;
    }
  }

  // An overlong line is one bad entry under its own number; reading goes on
  // with the next line, and blank and comment lines are not entries.
  // A line of exactly the longest length is still read.
  std::istringstream list("1\t/" + std::string(kMaxListLineBytes - 3, 'a') + "\n\n# note\n2\t/" +
                          std::string(kMaxListLineBytes, 'x') + "\nbad\n3\t/c.jpg");
  std::vector<QLPregenEntry> entries;
  std::string error;
  ASSERT_TRUE(ReadList(list, &entries, &error)) << error;
  ASSERT_EQ(4u, entries.size());
  EXPECT_TRUE(entries[0].error.empty()) << entries[0].error;
  EXPECT_EQ(kMaxListLineBytes - 2, entries[0].path.size());  // less "1\t"
  EXPECT_EQ(4u, entries[1].line);
  EXPECT_NE(std::string::npos, entries[1].error.find("longer than")) << entries[1].error;
  EXPECT_EQ(5u, entries[2].line);
  EXPECT_FALSE(entries[2].error.empty());
  EXPECT_EQ(6u, entries[3].line);
  EXPECT_EQ("/c.jpg", entries[3].path);
  EXPECT_EQ(3u, entries[3].resource_id);

  struct SizeRow {
    char const* text;
    bool ok;
    std::uint32_t width, height;
    bool full;
  };
  SizeRow const sizes[] = {
      {"160x120", true, 160, 120, false},   {"1x4294967295:full", true, 1, 4294967295u, true},
      {"0x120", false, 0, 0, false},        {"160x", false, 0, 0, false},
      {"160", false, 0, 0, false},          {"160x120:fit", false, 0, 0, false},
      {"160x120:", false, 0, 0, false},     {"-1x5", false, 0, 0, false},
      {"4294967296x1", false, 0, 0, false}, {"0x10x10", false, 0, 0, false},
  };
  for (SizeRow const& row : sizes) {
    QLPregenSize size;
    EXPECT_EQ(row.ok, ParsePregenSize(row.text, &size)) << row.text;
    if (row.ok) {
      EXPECT_EQ(row.width, size.width) << row.text;
      EXPECT_EQ(row.height, size.height) << row.text;
      EXPECT_EQ(row.full, size.full_screen) << row.text;
    }
  }
}

QLToolRun RunPregenTool(std::vector<std::string> const& arguments, std::string const& scratch) {
  return RunTool(QL_PREGEN_BINARY, arguments, scratch, 120000);
}

// The tool's summary: its messages from the last "done: " on.
std::string Summary(std::string const& text) {
  std::string::size_type const at = text.rfind("done: ");
  return at == std::string::npos ? "" : text.substr(at);
}

class PregenRunTest : public LiveDaemonTest {};

TEST_F(PregenRunTest, CountsEachOutcomeAndASecondRunMakesNothing) {
  StartDaemon({"-l", "1", "--jobs", "2"});
  QLTempDir library;
  QLTempDir scratch;
  std::ostringstream list;
  int decodable = 0;
  int defaults = 0;
  std::uint64_t id = 1;
  auto add = [&](std::string const& name, std::string const& bytes, bool decodes) {
    ASSERT_TRUE(WriteFileText(library.File(name), bytes));
    list << id++ << "\t" << library.File(name) << "\n";
    (decodes ? decodable : defaults) += 1;
  };
  char const* const extensions[] = {"jpg", "png", "gif", "bmp"};
  qltest::Format const kinds[] = {qltest::Format::kJpeg, qltest::Format::kPng, qltest::Format::kGif,
                                  qltest::Format::kBmp};
  for (int i = 0; i < 8; ++i) {
    std::string const picture = Picture(kinds[i % 4], 40 + i, 30 + i, 0x102030 * (i + 1));
    ASSERT_FALSE(picture.empty());
    add("p" + std::to_string(i) + "." + extensions[i % 4], picture, true);
    // Every fourth picture also appears cut short: a broken file of its type.
    if (i % 4 == 0) add("cut" + std::to_string(i) + ".jpg", picture.substr(0, 60), false);
  }
  // A JPEG under another name: the PNG handler tries it as a JPEG, the BMP one does not.
  std::string const jpeg = Picture(qltest::Format::kJpeg, 40, 30, 0x405060);
  add("jpeg.png", jpeg, true);
  add("jpeg.bmp", jpeg, false);
  add("song.mp3", Mp3WithCover(Picture(qltest::Format::kJpeg, 50, 50, 0x9628c8)), true);
  add("report.pdf", "%PDF-1.4 not really", false);
  list << id++ << "\t" << library.File("gone.png") << "\n";  // listed but missing
  ++defaults;
  std::string const bad_line = "line " + std::to_string(id);  // lines so far: id - 1
  list << "not-a-number\t" << library.File("p1.png") << "\n";
  list << id++ << "\n";
  int const bad_lines = 2;
  ASSERT_TRUE(WriteFileText(scratch.File("list"), list.str()));

  std::string const cache = scratch.File("cache");
  std::vector<std::string> arguments = {"--size=32x24", "--size=64x64:full", "--connections=2"};
  arguments.insert(arguments.end(),
                   {"--list=" + scratch.File("list"), "--thumbnail-folder=" + cache,
                    "--default-folder=" QL_DEFAULT_PICTURES_DIR});
  int const sizes = 2;
  int const total = (decodable + defaults + bad_lines) * sizes;
  std::string const counts_first =
      "made " + std::to_string(decodable * sizes) + ", already cached 0, default picture " +
      std::to_string(defaults * sizes) + ", failed " + std::to_string(bad_lines * sizes);
  std::string const counts_second = "made 0, already cached " + std::to_string(decodable * sizes) +
                                    ", default picture " + std::to_string(defaults * sizes) +
                                    ", failed " + std::to_string(bad_lines * sizes);

  QLToolRun const first = RunPregenTool(arguments, scratch.path());
  EXPECT_EQ(1, first.status) << first.messages;  // the bad lines failed
  std::string const first_summary = Summary(first.messages);
  EXPECT_EQ(0u, first_summary.find("done: " + std::to_string(total) + " of " +
                                   std::to_string(total) + " requests"))
      << first.messages;
  EXPECT_NE(std::string::npos, first_summary.find(counts_first)) << first.messages;
  EXPECT_NE(std::string::npos, first.messages.find(bad_line + ": bad resource id"))
      << first.messages;
  // "made" is what the cache folder really holds.
  EXPECT_EQ(static_cast<std::size_t>(decodable * sizes), CacheFolderEntries(cache).size());

  QLToolRun const second = RunPregenTool(arguments, scratch.path());
  EXPECT_EQ(1, second.status) << second.messages;
  EXPECT_NE(std::string::npos, Summary(second.messages).find(counts_second)) << second.messages;

  // A walk of the same files (the cache folder inside is skipped) without bad
  // lines or missing files: every request gets a thumbnail, status 0.
  std::vector<std::string> const walk_arguments = {"--walk=" + library.path(), "--size=32x24",
                                                   "--thumbnail-folder=" + library.File("cache"),
                                                   "--default-folder=" QL_DEFAULT_PICTURES_DIR};
  QLToolRun const walk = RunPregenTool(walk_arguments, scratch.path());
  EXPECT_EQ(0, walk.status) << walk.messages;
  EXPECT_NE(std::string::npos,
            Summary(walk.messages)
                .find("made " + std::to_string(decodable) + ", already cached 0, default picture " +
                      std::to_string(defaults - 1) + ", failed 0"))
      << walk.messages;
  // Walked again, now with the thumbnails in it: they are not walked.
  QLToolRun const again = RunPregenTool(walk_arguments, scratch.path());
  EXPECT_EQ(0, again.status) << again.messages;
  EXPECT_EQ(0u, Summary(again.messages)
                    .find("done: " + std::to_string(decodable + defaults - 1) + " of " +
                          std::to_string(decodable + defaults - 1) + " requests"))
      << again.messages;
  EXPECT_NE(std::string::npos, Summary(again.messages).find("made 0,")) << again.messages;
}

// --prune asks no daemon: cache files written by name for sources current,
// changed, renamed under their id (a rename keeps the time), deleted, listed
// twice and not listed, beside entries that are no cache files.
TEST(PregenPruneTest, RemovesExactlyTheStaleFiles) {
  QLTempDir library;
  QLTempDir scratch;
  std::string const cache = scratch.File("cache");
  ASSERT_EQ(0, mkdir(cache.c_str(), 0700));
  std::int64_t const t = 1500000000;
  auto source = [&](std::string const& name, std::int64_t modified) {
    struct timespec const times[2] = {{modified, 0}, {modified, 0}};
    ASSERT_TRUE(WriteFileText(library.File(name), "source"));
    ASSERT_EQ(0, utimensat(AT_FDCWD, library.File(name).c_str(), times, 0));
  };
  std::vector<std::string> remaining = {"CACHEDIR.TAG", "notes.txt", "sub"};
  // A file of `id` bytes: the stale ones (ids 2, 4 and 9) hold 15.
  auto cached = [&](std::uint64_t id, std::uint32_t width, QLThumbnailFormat format,
                    std::int64_t modified, bool stays) {
    std::string const name = CacheFileName({id, width, width, width > 32, format}, modified);
    ASSERT_TRUE(WriteFileText(cache + "/" + name, std::string(id, 'x')));
    if (stays) remaining.push_back(name);
  };
  source("current.jpg", t);
  cached(1, 32, QLThumbnailFormat::kPng, t, true);
  cached(1, 64, QLThumbnailFormat::kJpeg, t, true);
  source("changed.jpg", t + 60);
  cached(2, 32, QLThumbnailFormat::kPng, t, false);
  cached(2, 32, QLThumbnailFormat::kWebp, t + 60, true);
  source("before.jpg", t);
  ASSERT_EQ(0, rename(library.File("before.jpg").c_str(), library.File("after.jpg").c_str()));
  cached(3, 32, QLThumbnailFormat::kPng, t, true);
  cached(4, 32, QLThumbnailFormat::kPng, t, false);  // deleted.jpg is gone
  source("five.jpg", t + 5);
  cached(5, 32, QLThumbnailFormat::kPng, t + 5, true);
  cached(9, 32, QLThumbnailFormat::kJpeg, t, false);
  std::string list;
  for (char const* line : {"1\tcurrent.jpg", "2\tchanged.jpg", "3\tafter.jpg", "4\tdeleted.jpg",
                           "5\tgone.jpg", "5\tfive.jpg"}) {
    list += std::string(line, 2) + library.File(line + 2) + "\n";
  }
  // Never touched: other names, folders, and a link named like a stale file.
  ASSERT_TRUE(WriteFileText(cache + "/CACHEDIR.TAG", "x") &&
              WriteFileText(cache + "/notes.txt", ""));
  remaining.push_back(CacheFileName({9, 48, 48, false, QLThumbnailFormat::kPng}, t));
  remaining.push_back(CacheFileName({9, 16, 16, false, QLThumbnailFormat::kPng}, t));
  ASSERT_EQ(0, mkdir((cache + "/sub").c_str(), 0700));
  ASSERT_EQ(0, mkdir((cache + "/" + remaining[remaining.size() - 2]).c_str(), 0700));
  ASSERT_EQ(0,
            symlink(library.File("current.jpg").c_str(), (cache + "/" + remaining.back()).c_str()));
  std::sort(remaining.begin(), remaining.end());
  std::vector<std::string> const before = DirEntries(cache);

  // A bad line could have named any id: no unlisted file goes, and the run failed.
  std::vector<std::string> args = {"--list=" + scratch.File("list"), "--thumbnail-folder=" + cache,
                                   "--prune", "--dry-run"};
  ASSERT_TRUE(WriteFileText(scratch.File("list"), list + "bad line\n"));
  QLToolRun const partial = RunPregenTool(args, scratch.path());
  EXPECT_EQ(1, partial.status) << partial.messages;
  EXPECT_NE(std::string::npos, partial.messages.find("would remove 2 cache files ("))
      << partial.messages;
  std::string const counts =
      "3 cache files (15 bytes), kept 5, 5 other entries left alone, 0 failed";
  ASSERT_TRUE(WriteFileText(scratch.File("list"), list));
  QLToolRun const dry = RunPregenTool(args, scratch.path());
  EXPECT_EQ(0, dry.status) << dry.messages;
  EXPECT_NE(std::string::npos, dry.messages.find("would remove " + counts)) << dry.messages;
  EXPECT_EQ(before, DirEntries(cache));
  args.pop_back();
  QLToolRun const pruned = RunPregenTool(args, scratch.path());
  EXPECT_EQ(0, pruned.status) << pruned.messages;
  EXPECT_NE(std::string::npos, pruned.messages.find("removed " + counts)) << pruned.messages;
  EXPECT_EQ(remaining, DirEntries(cache));
  EXPECT_EQ(2, RunPregenTool({"--list=-", "--size=8x8", "--dry-run"}, scratch.path()).status);
}

}  // namespace
}  // namespace load
