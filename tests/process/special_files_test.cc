// Special files where the daemon expects a picture (named pipes, devices,
// sockets: anyone who can write into a share can leave them).
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "process/load_harness.h"
#include "support/ql_temp_dir.h"

namespace load {
namespace {

enum class Special { kFifo, kCharDevice, kSocket };

bool MakeSpecial(Special kind, std::string const& path) {
  switch (kind) {
    case Special::kFifo:
      return mkfifo(path.c_str(), 0644) == 0;
    case Special::kCharDevice:
      return symlink("/dev/zero", path.c_str()) == 0;
    case Special::kSocket: {
      // The socket file outlives the descriptor that bound it.
      int const fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address = {};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
      bool const bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      close(fd);
      return bound;
    }
  }
  return false;
}

class SpecialFilesTest : public LiveDaemonTest {
 protected:
  QLTempDir temp_;
};

TEST_F(SpecialFilesTest, AnsweredAtOnceWithTheFallbackOfAFileThatCannotBeOpened) {
  StartDaemon({"-l", "0", "--formats", "extended"});
  if (HasFatalFailure()) return;
  std::string const photo = temp_.File("normal.jpg");
  ASSERT_TRUE(WriteFileText(photo, Picture(qltest::Format::kJpeg, 320, 240, 0x3264c8)));
  std::string const normal = RequestBody(photo, 64, 48, 1, temp_.File("cache"));
  // The default pictures, each a link to the real one, so a row can put a
  // special file in the place of one.
  std::string const defaults = temp_.File("defaults");
  ASSERT_EQ(0, mkdir(defaults.c_str(), 0755));
  for (char const* picture : {"image.jpg", "audio.jpg", "video.jpg", "any_file.jpg"}) {
    ASSERT_EQ(0, symlink((std::string(QL_DEFAULT_PICTURES_DIR) + "/" + picture).c_str(),
                         (defaults + "/" + picture).c_str()));
  }
  std::string const document = temp_.File("report.pdf");
  ASSERT_TRUE(WriteFileText(document, "%PDF-1.4"));

  struct Row {
    char const* name;  // the special file: in the sources, or a default picture
    Special kind;
    char const* what;  // how the ERROR line names it
    bool is_default;   // the special file is a default picture; report.pdf is asked for
  } const rows[] = {
      {"photo.jpg", Special::kFifo, "a named pipe", false},
      {"clip.avi", Special::kFifo, "a named pipe", false},
      {"doc.jpg", Special::kFifo, "a named pipe", true},
      {"zero.jpg", Special::kCharDevice, "a character device", false},
      {"socket.png", Special::kSocket, "a socket", false},
  };
  std::uint64_t id = 100;
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    std::string const special = (row.is_default ? defaults : temp_.path()) + "/" + row.name;
    std::string const request = RequestBody(row.is_default ? document : special, 64, 48, ++id,
                                            temp_.File("cache"), defaults);
    LoadConnection connection;
    // The reference: what the same request gets while the file is missing.
    std::string fallback, reply;
    ASSERT_TRUE(connection.Ask(request, &fallback, ReplyTimeoutMs()));
    ASSERT_TRUE(IsPng(fallback));
    // Missing, the file is reported by the request that met it, once.
    EXPECT_EQ(row.is_default ? 0 : 1, CountLogLines(daemon_->LogText(), "ERROR:",
                                                    "Unable to open file \"" + special +
                                                        "\" in order to generate its thumbnail."));
    ASSERT_TRUE(MakeSpecial(row.kind, special)) << std::strerror(errno);
    // A second (more under the sanitizers' slower decoding), not forever.
    ASSERT_TRUE(connection.Ask(request, &reply, Sanitized() ? 5000 : 1000)) << "no answer in time";
    EXPECT_EQ(fallback, reply);
    ASSERT_TRUE(connection.Ask(normal, &reply, ReplyTimeoutMs()));
    EXPECT_TRUE(IsPng(reply)) << "a normal request right after";
  }
  StopServing();
  std::string const log = daemon_->LogText();
  for (Row const& row : rows) {
    std::string const special = (row.is_default ? defaults : temp_.path()) + "/" + row.name;
    EXPECT_EQ(1, CountLogLines(log, "ERROR:",
                               "Not reading \"" + special + "\": it is " + row.what +
                                   ", not a regular file."))
        << row.name;
  }
}

}  // namespace
}  // namespace load
