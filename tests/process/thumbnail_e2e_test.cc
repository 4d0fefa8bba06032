// End to end: the real daemon on the real socket, asked by the real client.
// Every input file is made here.
#include <gd.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "process/load_harness.h"
#include "protocol/ql_cache_file_name.h"
#include "protocol/ql_thumbnail_format.h"
#include "support/ql_sample_files.h"
#include "support/ql_temp_dir.h"

namespace load {
namespace {

QLToolRun RunClient(std::vector<std::string> const& arguments, std::string const& scratch) {
  return RunTool(QL_CLIENT_BINARY, arguments, scratch, 60000);
}

// Each case starts its own daemon (the shared fixture skips when one not
// started here holds the socket).
class ThumbnailEndToEndTest : public LiveDaemonTest {
 protected:
  void SetUp() override {
    LiveDaemonTest::SetUp();
    if (IsSkipped()) return;
    StartDaemon({"-l", "3"});
    cache_ = temp_.File("cache");
    output_ = temp_.File("out.png");
  }

  // Writes `bytes` to a file `name` in the test's folder; its path.
  std::string Source(std::string const& name, std::string const& bytes) {
    std::string const path = temp_.File(name);
    EXPECT_TRUE(WriteFileText(path, bytes)) << path;
    return path;
  }

  // Runs the client for one request; `extra` is appended.
  QLToolRun Ask(std::string const& path, std::string const& id,
                std::vector<std::string> const& extra = {}) const {
    std::vector<std::string> args = {"--path",        path,       "--width",
                                     "160",           "--height", "120",
                                     "--resource-id", id,         "--thumbnail-folder",
                                     cache_,          "--output", output_};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunClient(args, temp_.path());
  }

  QLTempDir temp_;
  std::string cache_;
  std::string output_;
};

TEST_F(ThumbnailEndToEndTest, NoPictureAtAllIsReportedByTheClient) {
  std::string const empty_defaults = temp_.File("no-defaults");
  ASSERT_EQ(0, mkdir(empty_defaults.c_str(), 0755));
  QLToolRun const run = Ask(Source("backup.zip", "x"), "6", {"--default-folder", empty_defaults});
  EXPECT_EQ(5, run.status) << run.messages;
  EXPECT_NE(std::string::npos, run.messages.find("could not make a thumbnail")) << run.messages;
  EXPECT_NE(0, access(output_.c_str(), F_OK));
}

// A smooth photo-like gradient: what the lossy formats are for.
std::string GradientJpeg() {
  qltest::Picture picture(gdImageCreateTrueColor(640, 480));
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      gdImageSetPixel(picture.get(), x, y, gdTrueColor(x * 255 / 639, y * 255 / 479, 96));
    }
  }
  qltest::Bytes const jpeg = qltest::Encode(picture.get(), qltest::Format::kJpeg);
  return std::string(jpeg.begin(), jpeg.end());
}

qltest::Picture DecodeReply(std::string const& bytes) {
  QLThumbnailFormat format;
  if (!SniffThumbnailFormat(reinterpret_cast<unsigned char const*>(bytes.data()), bytes.size(),
                            &format)) {
    return nullptr;
  }
  int const size = static_cast<int>(bytes.size());
  void* const data = const_cast<char*>(bytes.data());
  switch (format) {
    case QLThumbnailFormat::kPng:
      return qltest::Picture(gdImageCreateFromPngPtr(size, data));
    case QLThumbnailFormat::kJpeg:
      return qltest::Picture(gdImageCreateFromJpegPtr(size, data));
    case QLThumbnailFormat::kWebp:
      return qltest::Picture(gdImageCreateFromWebpPtr(size, data));
  }
  return nullptr;
}

// One cache folder, the daemon restarted in each format in turn: every reply
// is in the format asked for, its cache file ends and starts as that format,
// a hit serves those very bytes, and a file of another format is never
// served for it. The lossy ones look like the PNG. (The upper-case extension
// is how cameras name files; it must still find the JPEG decoder.)
TEST_F(ThumbnailEndToEndTest, EachThumbnailFormatIsMadeCachedAndKeptApart) {
  std::string const photo = Source("Gradient.JPG", GradientJpeg());
  struct {
    char const* option;
    QLThumbnailFormat format;
  } const kRuns[] = {{"png", QLThumbnailFormat::kPng},
                     {"jpeg", QLThumbnailFormat::kJpeg},
                     {"webp", QLThumbnailFormat::kWebp},
                     {"png", QLThumbnailFormat::kPng}};
  std::string png;
  for (auto const& run : kRuns) {
    SCOPED_TRACE(run.option);
    StopServing();
    StartDaemon({"-l", "3", "--cache-dir-tag", "--thumbnail-format", run.option});
    ASSERT_EQ(0, Ask(photo, "5").status);
    std::string const made = ReadFileText(output_);
    EXPECT_TRUE(HasThumbnailSignature(
        run.format, reinterpret_cast<unsigned char const*>(made.data()), made.size()));
    std::vector<std::string> const cached = CacheFolderEntries(cache_);
    ASSERT_EQ(1u, cached.size()) << "the entry's file of another format is gone";
    std::string const extension = ThumbnailFormatExtension(run.format);
    EXPECT_EQ(cached[0].size() - extension.size(), cached[0].rfind(extension)) << cached[0];
    EXPECT_EQ(made, ReadFileText(cache_ + "/" + cached[0]));
    ASSERT_EQ(0, Ask(photo, "5").status);
    EXPECT_EQ(made, ReadFileText(output_)) << "the hit serves the cached file";

    if (png.empty()) {
      png = made;
      continue;
    }
    if (run.format == QLThumbnailFormat::kPng) {
      EXPECT_EQ(png, made) << "PNG comes back byte for byte";
      continue;
    }
    qltest::Picture const expected = DecodeReply(png);
    qltest::Picture const got = DecodeReply(made);
    ASSERT_TRUE(expected && got);
    ASSERT_EQ(gdImageSX(expected.get()), gdImageSX(got.get()));
    ASSERT_EQ(gdImageSY(expected.get()), gdImageSY(got.get()));
    EXPECT_LE(qltest::MeanDifference(got.get(), expected.get()), 6.0);
  }
  // The daemon made the folder, so it marked it for backup tools to skip (only
  // when asked: FullDiskIsReportedOnceAndEveryReplyIsSent).
  EXPECT_EQ(0u, ReadFileText(cache_ + "/CACHEDIR.TAG")
                    .rfind("Signature: 8a477f597d28d172789f06886806bc55\n", 0));
}

// A disk that fills up: every reply is still sent, no temporary file is
// left, and the full folder is reported once, not once per miss.
TEST_F(ThumbnailEndToEndTest, FullDiskIsReportedOnceAndEveryReplyIsSent) {
  StopServing();
  std::string const small = temp_.File("small");
  ASSERT_EQ(0, mkdir(small.c_str(), 0755));
  // A private mount namespace, which the daemon started below inherits.
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } const unmount{small};
  cache_ = small + "/cache";
  StartDaemon({"-l", "3"});
  std::string const photo = Source("gradient.jpg", GradientJpeg());
  LoadConnection connection;
  int const kMisses = 40;
  for (int id = 1; id <= kMisses; ++id) {
    std::string reply;
    ASSERT_TRUE(connection.Ask(RequestBody(photo, 160, 120, id, cache_), &reply, ReplyTimeoutMs()));
    EXPECT_TRUE(IsPng(reply)) << id;
  }
  std::vector<std::string> const cached = CacheFolderEntries(cache_);
  EXPECT_LT(cached.size(), static_cast<std::size_t>(kMisses) / 2) << "the disk never filled";
  EXPECT_NE(0, access((cache_ + "/CACHEDIR.TAG").c_str(), F_OK)) << "no tag unless asked";
  for (std::string const& name : cached) {
    QLCacheEntryKey key;
    std::int64_t modified = 0;
    EXPECT_TRUE(ParseCacheFileName(name, &key, &modified)) << name << " left behind";
  }
  std::string const log = daemon_->LogText();
  EXPECT_EQ(1, CountLogLines(log, "ERROR:", "")) << log;
}

// 2,000 misses (distinct ids, thumbnails of about 2 KB) into a folder capped
// at 1 MiB, where a foreign file of half that appears halfway; the first
// four ids are asked again every 50 misses. One connection's requests run one after
// another and each eviction runs after its reply, before the next request
// is read: so after every miss's reply the cache files but the one it just
// saved (the reply's bytes) take at most the cap. Each time they are asked
// again, the four hit entries are still there (recency is the hit's), while
// at the end the oldest never hit are gone; the foreign file neither counts
// nor goes, and the eviction stops at 90% of the cap.
TEST_F(ThumbnailEndToEndTest, CappedFolderStaysUnderItsCapAndKeepsWhatIsHit) {
  StopServing();
  StartDaemon({"-l", "1", "--cache-max-mb", "1"});
  std::uint64_t const cap = 1u << 20;
  qltest::Picture noise(gdImageCreateTrueColor(24, 24));
  unsigned seed = 1;
  for (int i = 0; i < 24 * 24; ++i) {
    seed = seed * 1103515245u + 12345u;
    gdImageSetPixel(noise.get(), i % 24, i / 24, static_cast<int>((seed >> 8) & 0xffffff));
  }
  qltest::Bytes const png = qltest::Encode(noise.get(), qltest::Format::kPng);
  std::string const source = Source("noise.png", std::string(png.begin(), png.end()));
  struct stat info;
  ASSERT_EQ(0, stat(source.c_str(), &info));
  auto const file_of = [&](int id) {
    return cache_ + "/" + CacheFileName({std::uint64_t(id), 24, 24, false}, info.st_mtime);
  };
  std::string const foreign = cache_ + "/notes.bin";
  auto const cache_bytes = [&] {
    std::uint64_t total = 0;
    QLCacheEntryKey key;
    std::int64_t time = 0;
    struct stat file;
    for (std::string const& name : DirEntries(cache_)) {
      if (ParseCacheFileName(name, &key, &time) &&
          stat((cache_ + "/" + name).c_str(), &file) == 0) {
        total += static_cast<std::uint64_t>(file.st_size);
      }
    }
    return total;
  };
  LoadConnection connection;
  std::string reply;
  for (int id = 1; id <= 2000; ++id) {
    // Someone else changes the folder: the index lists it again.
    if (id == 1000) {
      ASSERT_TRUE(WriteFileText(foreign, std::string(cap / 2, 'x')));
    }
    ASSERT_TRUE(connection.Ask(RequestBody(source, 24, 24, id, cache_), &reply, ReplyTimeoutMs()));
    ASSERT_TRUE(IsPng(reply)) << id;
    ASSERT_LE(cache_bytes(), cap + reply.size()) << "after the miss of " << id;
    for (int hit = 1; id % 50 == 0 && hit <= 4; ++hit) {
      ASSERT_EQ(0, access(file_of(hit).c_str(), F_OK)) << hit << " gone by miss " << id;
      ASSERT_TRUE(connection.Ask(RequestBody(source, 24, 24, hit, cache_), &reply, 20000));
    }
  }
  int survivors = 0;
  for (int id = 5; id <= 100; ++id) survivors += access(file_of(id).c_str(), F_OK) == 0;
  EXPECT_EQ(0, survivors) << "of the oldest entries never hit";
  EXPECT_GT(cache_bytes(), cap * 8 / 10);
  EXPECT_EQ(cap / 2, ReadFileText(foreign).size());
}

}  // namespace
}  // namespace load
