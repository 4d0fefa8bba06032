// Smoke run of the load generator binary against the real daemon on the real
// socket (these tests hold the quorlin_daemon resource lock).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "ql_photo_synth.h"
#include "support/ql_daemon_launcher.h"
#include "support/ql_temp_dir.h"

namespace {

char const kSocketPath[] = "/tmp/qlGDProcesssSocket";

struct PipeCloser {
  void operator()(FILE* pipe) const {
    if (pipe) pclose(pipe);
  }
};

// Runs a shell command; its "key=value" output lines and exit status.
std::map<std::string, std::string> RunKeyValues(std::string const& command, int* status) {
  std::map<std::string, std::string> values;
  std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
  if (!pipe) return values;
  char line[512];
  while (fgets(line, sizeof(line), pipe.get())) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    std::size_t const equals = text.find('=');
    if (equals != std::string::npos) values[text.substr(0, equals)] = text.substr(equals + 1);
  }
  *status = pclose(pipe.release());
  return values;
}

void WritePhoto(std::string const& path, int width, int height, bool progressive) {
  QLPhotoSpec photo_spec;
  photo_spec.width = width;
  photo_spec.height = height;
  photo_spec.seed = static_cast<std::uint32_t>(width);
  ScopedPhoto const photo = DrawPhoto(photo_spec);
  std::vector<unsigned char> const jpeg = EncodeJpeg(photo.get(), 90, progressive);
  std::ofstream(path.c_str(), std::ios::binary)
      .write(reinterpret_cast<char const*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
}

double Number(std::map<std::string, std::string> const& values, std::string const& key) {
  auto const found = values.find(key);
  return found == values.end() ? -1 : std::stod(found->second);
}

TEST(LoadgenDaemonTest, MissesThenHitsOverTheRealSocket) {
  QLTempDir folder;
  WritePhoto(folder.File("a.jpg"), 640, 480, false);
  WritePhoto(folder.File("b.jpg"), 480, 640, true);
  QLDaemonProcess daemon(QL_DAEMON_BINARY, {"-l", "0", "-o", folder.path()}, folder.path());
  int const probe = ConnectWhenListening(kSocketPath, 10000);
  ASSERT_GE(probe, 0) << "the daemon did not start listening";
  close(probe);

  int status = -1;
  std::string const command = std::string(QL_LOADGEN_BINARY) + " --format kv --label smoke" +
                              " --clients 2 --miss-rounds 2 --hits 40 --pid " +
                              std::to_string(daemon.pid()) + " --cache-root " +
                              folder.File("cache") + " --warmup " + folder.File("a.jpg") + " " +
                              folder.File("a.jpg") + " " + folder.File("b.jpg");
  std::map<std::string, std::string> const values = RunKeyValues(command, &status);
  EXPECT_EQ(0, status);
  EXPECT_EQ(4, Number(values, "smoke.miss.ok"));  // two photos, two rounds
  EXPECT_EQ(0, Number(values, "smoke.miss.failed"));
  EXPECT_EQ(40, Number(values, "smoke.hit.ok"));
  EXPECT_GT(Number(values, "smoke.hit.per_s"), 0);
  EXPECT_GT(Number(values, "smoke.miss.p50_ms"), 0);
  EXPECT_GE(Number(values, "smoke.miss.p99_ms"), Number(values, "smoke.miss.p50_ms"));
  EXPECT_GE(Number(values, "smoke.miss.cpu_ms_per_request"), 0);
  EXPECT_GT(Number(values, "smoke.miss.peak_rss_kb"), 0);
  EXPECT_GT(Number(values, "smoke.miss.file.b.jpg.ms"), 0);

  ASSERT_TRUE(daemon.Signal(SIGTERM));
  int exit_status = 0;
  EXPECT_TRUE(daemon.WaitExit(10000, &exit_status));
}

TEST(LoadgenDaemonTest, NoDaemonIsReportedAsSuch) {
  QLTempDir folder;
  WritePhoto(folder.File("a.jpg"), 64, 48, false);
  int status = -1;
  RunKeyValues(std::string(QL_LOADGEN_BINARY) + " --socket " + folder.File("none.sock") +
                   " --cache-root " + folder.File("cache") + " --warmup " + folder.File("a.jpg") +
                   " " + folder.File("a.jpg") + " 2>/dev/null",
               &status);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(3, WEXITSTATUS(status));
}

}  // namespace
