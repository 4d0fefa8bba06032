// A caller that is not root, against the daemon running as root: each row
// plants one way of reaching, through the daemon, what the caller cannot
// reach itself, and shows it refused. Every row runs against a daemon with
// an allowed root and one without. Needs root (the daemon's rights and a
// second identity); the peer is an unassigned numeric uid, which the kernel
// needs no account for.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "load_harness.h"

namespace load {
namespace {

uid_t const kPeer = 54321;
uid_t const kOtherUser = 54322;
int const kSecret = 0xe01010;  // the colour of everything the peer may not see
int const kPhoto = 0x2040c0;   // the peer's own photo

class HostilePeerTest : public LiveDaemonTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: the daemon acts for a caller only as root";
    LiveDaemonTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(0, chmod(t_.path().c_str(), 0755));
    std::string const red_jpeg = Picture(qltest::Format::kJpeg, 64, 48, kSecret);
    std::string const red_png = Picture(qltest::Format::kPng, 64, 48, kSecret);
    // Root's own: a folder only root may enter, and root-only files in the
    // peer's allowed root.
    Folder(secret_, 0700, 0);
    Folder(secret_ + "/cache", 0700, 0);
    Folder(root_, 0755, kPeer);
    Folder(root_ + "/rootcache", 0700, 0);
    File(secret_ + "/secret.jpg", red_jpeg, 0600, 0);
    File(secret_ + "/any_file.jpg", red_jpeg, 0600, 0);
    File(root_ + "/rootonly.jpg", red_jpeg, 0600, 0);
    File(root_ + "/rootonly.png", red_png, 0600, 0);
    File(t_.File("public.jpg"), red_jpeg, 0644, 0);  // readable, outside the root
    // The peer's own, and a folder of another user.
    for (char const* name : {"/cache", "/defaults", "/mine"}) Folder(root_ + name, 0755, kPeer);
    File(root_ + "/photo.jpg", Picture(qltest::Format::kJpeg, 64, 48, kPhoto), 0644, kPeer);
    for (char const* name : {"image.jpg", "any_file.jpg"}) {
      std::string const picture = ReadFileText(std::string(QL_DEFAULT_PICTURES_DIR) + "/" + name);
      File(root_ + "/defaults/" + name, picture, 0644, kPeer);
    }
    Folder(t_.File("other"), 0700, kOtherUser);
    File(t_.File("other") + "/9_32x24_0_1.png", red_png, 0600, kOtherUser);
    File(t_.File("decoder"), "#!/bin/sh\nexec sleep 60\n", 0755, 0);
    File(root_ + "/clip.mp4", "not a video", 0644, 0);
    struct stat photo;
    ASSERT_EQ(0, stat((root_ + "/photo.jpg").c_str(), &photo));
    std::ostringstream hex;
    hex << std::hex << photo.st_mtime;
    photo_time_ = hex.str();
  }

  void Folder(std::string const& path, mode_t mode, uid_t owner) {
    ASSERT_EQ(0, mkdir(path.c_str(), mode));
    ASSERT_EQ(0, chown(path.c_str(), owner, owner));
  }
  void File(std::string const& path, std::string const& bytes, mode_t mode, uid_t owner) {
    ASSERT_TRUE(WriteFileText(path, bytes));
    ASSERT_EQ(0, chmod(path.c_str(), mode));
    ASSERT_EQ(0, chown(path.c_str(), owner, owner));
  }
  // A symlink of the peer's; replaced in one step when it exists.
  static void Link(std::string const& target, std::string const& path) {
    std::string const fresh = path + ".new";
    ASSERT_EQ(0, symlink(target.c_str(), fresh.c_str()));
    ASSERT_EQ(0, lchown(fresh.c_str(), kPeer, kPeer));
    ASSERT_EQ(0, rename(fresh.c_str(), path.c_str()));
  }

  // Runs every row against a daemon started with `extra` arguments.
  void RunRows(std::vector<std::string> extra, bool confined);

  QLTempDir t_;
  std::string const secret_ = t_.File("secret"), root_ = t_.File("root");
  std::string photo_time_;
};

struct Row {
  char const* attack;
  std::string path, cache, defaults;
  std::function<void()> swap;  // while the provider lock is held; null: no wait
  std::string untouched;       // a folder that must stay empty, or a .png that must stay
  bool confined_only = false;  // the peer may read the target itself: only the root bars it
};

void HostilePeerTest::RunRows(std::vector<std::string> extra, bool confined) {
  std::string const defaults = root_ + "/defaults", cache = root_ + "/cache";
  std::string const photo = root_ + "/photo.jpg", notes = root_ + "/notes.xyz";
  Link(secret_ + "/secret.jpg", root_ + "/mine/any_file.jpg");
  Link(secret_ + "/secret.jpg", root_ + "/mine/image.jpg");
  // Planted where the daemon looks for the photo's cached thumbnail.
  Link(root_ + "/rootonly.png", cache + "/1_32x24_0_" + photo_time_ + ".png");
  Row const rows[] = {
      {"cache entry symlink", photo, cache, defaults, nullptr, ""},
      {"NUL in the path", root_ + "/rootonly.jpg\\u0000.jpg", cache, defaults, nullptr, ""},
      {"NUL in the cache folder", photo, root_ + "/rootonly.png\\u0000", defaults, nullptr, ""},
      {"NUL in the default folder", notes, cache, root_ + "/rootonly.jpg\\u0000", nullptr, ""},
      {"root-only source", root_ + "/rootonly.jpg", cache, defaults, nullptr, ""},
      {"root-only cache folder", photo, root_ + "/rootcache", defaults, nullptr,
       root_ + "/rootcache"},
      {"folder made under a root-only one", photo, secret_ + "/made/here", defaults, nullptr,
       secret_ + "/made"},
      {"default picture symlink", notes, cache, root_ + "/mine", nullptr, ""},
      {"another user's cache folder", photo, t_.File("other"), defaults, nullptr,
       t_.File("other") + "/9_32x24_0_1.png"},
      {"source swapped", root_ + "/link.jpg", cache, defaults,
       [&] { Link(secret_ + "/secret.jpg", root_ + "/link.jpg"); }, ""},
      {"source swapped to a readable file outside", root_ + "/link.jpg", cache, defaults,
       [&] { Link(t_.File("public.jpg"), root_ + "/link.jpg"); }, "", true},
      {"cache folder swapped", photo, root_ + "/cachelink", defaults,
       [&] { Link(secret_ + "/cache", root_ + "/cachelink"); }, secret_ + "/cache"},
      {"default folder swapped", notes, cache, root_ + "/deflink",
       [&] { Link(secret_, root_ + "/deflink"); }, ""},
  };
  extra.insert(extra.end(), {"-l", "2", "--socket-mode", "0666", "--formats", "extended",
                             "--media-decoder", t_.File("decoder"), "--decoder-timeout-ms", "800"});
  StartDaemon(extra);
  int id = 0;
  for (Row const& row : rows) {
    SCOPED_TRACE(std::string(row.attack) + (confined ? ", with an allowed root" : ""));
    ++id;
    if (row.confined_only && !confined) continue;
    Link(photo, root_ + "/link.jpg");
    Link(cache, root_ + "/cachelink");
    Link(defaults, root_ + "/deflink");
    LoadConnection holder;  // root's request holds the lock while a decoder hangs
    if (row.swap) {
      ASSERT_TRUE(holder.SendFrame(RequestBody(root_ + "/clip.mp4", 32, 24, 99, cache, defaults)));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    int const fd = ConnectAs(kPeer);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, Frame(RequestBody(row.path, 32, 24, id, row.cache, row.defaults))));
    std::string reply, held;
    if (row.swap) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      row.swap();
      ASSERT_TRUE(holder.ReadReply(&held, ReplyTimeoutMs()));
    }
    ASSERT_TRUE(ReadFrame(fd, &reply, ReplyTimeoutMs()));
    close(fd);
    // A thumbnail may come back (of the peer's own photo, or a default
    // picture), but never one of what it cannot read.
    EXPECT_FALSE(IsPng(reply) && NearColour(kSecret, CentreColour(reply)));
    if (id == 1) {  // what the peer may have, it gets, and its cache file is its own
      EXPECT_TRUE(IsPng(reply) && NearColour(kPhoto, CentreColour(reply)));
      struct stat saved;
      std::string const name = cache + "/1_32x24_0_" + photo_time_ + ".png";
      ASSERT_EQ(0, lstat(name.c_str(), &saved));
      EXPECT_TRUE(S_ISREG(saved.st_mode) && saved.st_uid == kPeer) << saved.st_uid;
    }
    if (row.untouched.find(".png") != std::string::npos) {
      EXPECT_EQ(0, access(row.untouched.c_str(), F_OK)) << "removed";
    } else if (!row.untouched.empty()) {
      EXPECT_TRUE(DirEntries(row.untouched).empty()) << "written into " << row.untouched;
    }
  }
  StopServing();
}

TEST_F(HostilePeerTest, RefusedWithAnAllowedRoot) { RunRows({"--allow-root", root_}, true); }

TEST_F(HostilePeerTest, RefusedWithoutAnAllowedRoot) { RunRows({}, false); }

}  // namespace
}  // namespace load
