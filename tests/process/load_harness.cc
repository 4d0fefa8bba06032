#include "process/load_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <gd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "support/ql_sample_files.h"
#include "support/ql_socket_pair.h"
#include "support/ql_wait_until.h"

namespace load {

char const kSocketPath[] = "/tmp/qlGDProcesssSocket";
char const kPidFile[] = "/var/run/quorlin_gd.pid";
char const kProcessName[] = "quorlin_gd";

SourceKind const kAllSourceKinds[9] = {
    SourceKind::kJpeg,     SourceKind::kPng,     SourceKind::kGif,
    SourceKind::kBmp,      SourceKind::kWbmp,    SourceKind::kMp3,
    SourceKind::kDocument, SourceKind::kUnknown, SourceKind::kMissing};

namespace {

struct Picture {
  SourceKind kind;
  char const* file;
  int colour;  // 0xRRGGBB drawn in the middle; -1 when the reply is not ours to predict
};

Picture const kPictures[9] = {
    {SourceKind::kJpeg, "photo.jpg", 0x1e8cd2}, {SourceKind::kPng, "drawing.png", 0xc83c28},
    {SourceKind::kGif, "anim.gif", 0x14b43c},   {SourceKind::kBmp, "scan.bmp", 0xdcc81e},
    {SourceKind::kWbmp, "phone.wbmp", -1},      {SourceKind::kMp3, "song.mp3", 0x9628c8},
    {SourceKind::kDocument, "report.pdf", -1},  {SourceKind::kUnknown, "archive.xyz", -1},
    {SourceKind::kMissing, "gone.png", -1},
};

int Index(SourceKind kind) { return static_cast<int>(kind); }

class GdImage {
 public:
  explicit GdImage(gdImagePtr image) : image_(image) {}
  ~GdImage() {
    if (image_) gdImageDestroy(image_);
  }
  GdImage(GdImage const&) = delete;
  GdImage& operator=(GdImage const&) = delete;
  gdImagePtr get() const { return image_; }

 private:
  gdImagePtr image_;
};

}  // namespace

bool LongRun() {
  char const* value = std::getenv("QL_LONG_TESTS");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

bool Sanitized() {
#if defined(QL_LOAD_SANITIZED) && QL_LOAD_SANITIZED
  return true;
#else
  return false;
#endif
}

int Scaled(int plain_short, int sanitized_short, int long_run) {
  if (LongRun()) return long_run;
  return Sanitized() ? sanitized_short : plain_short;
}

int ReplyTimeoutMs() { return Sanitized() ? 60000 : 20000; }

int StopTimeoutMs() { return Sanitized() ? 10000 : 2000; }

bool RaiseDescriptorLimit(rlim_t wanted) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  if (limit.rlim_cur >= wanted) return true;
  if (limit.rlim_max < wanted) limit.rlim_max = wanted;  // needs privilege; we run as root
  limit.rlim_cur = wanted;
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

std::vector<std::string> DirEntries(std::string const& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (struct dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.push_back(entry->d_name);
    }
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> FilesIn(std::string const& folder) {
  std::vector<std::string> files;
  for (std::string const& name : DirEntries(folder)) {
    struct stat info;
    std::string const path = folder + "/" + name;
    if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) files.push_back(path);
  }
  return files;
}

int CountDescriptors(pid_t pid) {
  return static_cast<int>(DirEntries("/proc/" + std::to_string(pid) + "/fd").size());
}

int CountThreads(pid_t pid) {
  return static_cast<int>(DirEntries("/proc/" + std::to_string(pid) + "/task").size());
}

int SettledCount(int (*read)(pid_t), pid_t pid, int ceiling, int timeout_ms) {
  int last = read(pid);
  int same = 1;
  std::chrono::steady_clock::time_point const end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int const now = read(pid);
    same = now == last ? same + 1 : 1;
    last = now;
    if (same >= 3 && last <= ceiling) break;
  }
  return last;
}

int CountLogLines(std::string const& log, std::string const& level_word,
                  std::string const& message) {
  int count = 0;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.compare(0, level_word.size(), level_word) == 0 && line.size() >= message.size() &&
        line.compare(line.size() - message.size(), message.size(), message) == 0) {
      ++count;
    }
  }
  return count;
}

LoadDaemon::LoadDaemon(std::vector<std::string> const& extra_arguments, char const* binary,
                       QLDaemonExtras const& extras) {
  // Descriptors this test process got from whoever started it must not leak
  // into the daemon: they would skew its descriptor counts and limits.
  for (std::string const& name : DirEntries("/proc/self/fd")) {
    int const fd = std::atoi(name.c_str());
    int const flags = fd > 2 ? fcntl(fd, F_GETFD) : -1;
    if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
  std::vector<std::string> arguments = {"-o", scratch_.path()};
  arguments.insert(arguments.end(), extra_arguments.begin(), extra_arguments.end());
  process_.reset(new QLDaemonProcess(binary, arguments, scratch_.path(), extras));
}

bool LoadDaemon::WaitServing(std::string* why) {
  int const fd = ConnectWhenListening(kSocketPath, Sanitized() ? 30000 : 10000);
  if (fd < 0) {
    *why = "the daemon never accepted on " + std::string(kSocketPath);
    return false;
  }
  close(fd);
  pid_t owner = 0;
  WaitUntil([&] { return (owner = LivePidFromPidFile(kPidFile, kProcessName)) == pid(); }, 5000);
  if (owner != pid()) {
    *why =
        "the pid file names " + std::to_string(owner) + ", not our child " + std::to_string(pid());
    return false;
  }
  return true;
}

std::string LoadDaemon::LogText() const { return ReadFileText(scratch_.File("gd.log")); }

bool ForeignDaemonRunning() { return LivePidFromPidFile(kPidFile, kProcessName) != 0; }

void LiveDaemonTest::SetUp() {
  if (ForeignDaemonRunning()) GTEST_SKIP() << "a quorlin_gd not started here is running";
}

void LiveDaemonTest::TearDown() {
  if (!daemon_ || !daemon_->running()) return;
  daemon_->process().Signal(SIGTERM);
  int status = 0;
  EXPECT_TRUE(daemon_->process().WaitExit(StopTimeoutMs(), &status));
}

void LiveDaemonTest::StartDaemon(std::vector<std::string> const& arguments, char const* binary) {
  daemon_.reset(new LoadDaemon(arguments, binary));
  std::string why;
  ASSERT_TRUE(daemon_->WaitServing(&why)) << why;
}

void LiveDaemonTest::StartServing(std::vector<std::string> const& arguments) {
  StartDaemon(arguments);
  if (HasFatalFailure()) return;
  std::string why;
  ASSERT_TRUE(corpus_.Build(&why)) << why;
}

void LiveDaemonTest::StopServing(int signal_number, int timeout_ms) {
  ASSERT_TRUE(daemon_->process().Signal(signal_number));
  int status = 0;
  if (timeout_ms == 0) timeout_ms = StopTimeoutMs();
  ASSERT_TRUE(daemon_->process().WaitExit(timeout_ms, &status))
      << "no exit within " << timeout_ms << " ms";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(1, WEXITSTATUS(status));
}

LoadConnection::LoadConnection() : fd_(ConnectTo(kSocketPath)) {}

LoadConnection::~LoadConnection() { Close(); }

bool LoadConnection::SendFrame(std::string const& payload) {
  return ok() && WriteAll(fd_, Frame(payload));
}

bool LoadConnection::SendBytes(std::string const& bytes) { return ok() && WriteAll(fd_, bytes); }

bool LoadConnection::ReadReply(std::string* payload, int timeout_ms) {
  return ok() && ReadFrame(fd_, payload, timeout_ms);
}

bool LoadConnection::Ask(std::string const& payload, std::string* reply, int timeout_ms) {
  return SendFrame(payload) && ReadReply(reply, timeout_ms);
}

void LoadConnection::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

char const* SourceKindName(SourceKind kind) { return kPictures[Index(kind)].file; }

std::string DrawPicture(SourceKind kind, int width, int height, int colour) {
  static qltest::Format const kFormats[] = {qltest::Format::kJpeg, qltest::Format::kPng,
                                            qltest::Format::kGif, qltest::Format::kBmp,
                                            qltest::Format::kWbmp};
  if (Index(kind) > Index(SourceKind::kWbmp)) return std::string();
  qltest::Bytes const bytes =
      qltest::Solid(kFormats[Index(kind)], width, height,
                    {(colour >> 16) & 0xff, (colour >> 8) & 0xff, colour & 0xff});
  return std::string(bytes.begin(), bytes.end());
}

std::string Mp3WithCover(std::string const& jpeg) {
  qltest::Bytes const file = qltest::Mp3File(
      3, {qltest::ApicFrame(3, "image/jpeg", qltest::Bytes(jpeg.begin(), jpeg.end()))});
  return std::string(file.begin(), file.end());
}

bool IsPng(std::string const& bytes) {
  return bytes.size() > 8 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0;
}

bool DecodePng(std::string const& bytes, int* width, int* height, int* centre) {
  if (!IsPng(bytes)) return false;
  GdImage image(
      gdImageCreateFromPngPtr(static_cast<int>(bytes.size()), const_cast<char*>(bytes.data())));
  if (!image.get()) return false;
  *width = gdImageSX(image.get());
  *height = gdImageSY(image.get());
  int const pixel = gdImageGetTrueColorPixel(image.get(), *width / 2, *height / 2);
  *centre = (gdTrueColorGetRed(pixel) << 16) | (gdTrueColorGetGreen(pixel) << 8) |
            gdTrueColorGetBlue(pixel);
  return true;
}

bool NearColour(int a, int b) {
  for (int shift = 0; shift <= 16; shift += 8) {
    if (std::abs(((a >> shift) & 0xff) - ((b >> shift) & 0xff)) > 24) return false;
  }
  return true;
}

std::string RequestBody(std::string const& path, int width, int height, std::uint64_t resource_id,
                        std::string const& cache_folder, std::string const& default_folder) {
  std::ostringstream body;
  body << "{\"_path\":\"" << path << "\",\"_width\":" << width << ",\"_height\":" << height
       << ",\"_full_screen\":false,\"_resource_id\":" << resource_id << ",\"_thumbnail_folder\":\""
       << cache_folder << "\",\"_default_thumbnail_folder\":\"" << default_folder << "\"}";
  return body.str();
}

LoadCorpus::LoadCorpus() : cache_folder_(sources_.File("cache")), references_(9) {}

std::string LoadCorpus::Path(SourceKind kind) const {
  return sources_.File(kPictures[Index(kind)].file);
}

std::string LoadCorpus::Request(SourceKind kind, std::uint64_t resource_id,
                                std::string const& cache_folder) const {
  return RequestBody(Path(kind), kWidth, kHeight, resource_id, cache_folder);
}

std::string LoadCorpus::CachedRequest(SourceKind kind) const {
  return Request(kind, static_cast<std::uint64_t>(Index(kind)) + 1, cache_folder_);
}

std::string const& LoadCorpus::Reference(SourceKind kind) const { return references_[Index(kind)]; }

bool LoadCorpus::Build(std::string* why) {
  auto colour = [](SourceKind kind) { return kPictures[Index(kind)].colour; };
  struct {
    SourceKind kind;
    std::string bytes;
  } const files[] = {
      {SourceKind::kJpeg, DrawPicture(SourceKind::kJpeg, 640, 480, colour(SourceKind::kJpeg))},
      {SourceKind::kPng, DrawPicture(SourceKind::kPng, 400, 300, colour(SourceKind::kPng))},
      {SourceKind::kGif, DrawPicture(SourceKind::kGif, 320, 240, colour(SourceKind::kGif))},
      {SourceKind::kBmp, DrawPicture(SourceKind::kBmp, 200, 150, colour(SourceKind::kBmp))},
      {SourceKind::kWbmp, DrawPicture(SourceKind::kWbmp, 96, 72, 0)},
      {SourceKind::kMp3,
       Mp3WithCover(DrawPicture(SourceKind::kJpeg, 300, 300, colour(SourceKind::kMp3)))},
      {SourceKind::kDocument, "%PDF-1.4\n% not really a document\n"},
      {SourceKind::kUnknown, std::string("\x00\x01\x02 unknown", 12)},
  };
  for (auto const& file : files) {
    if (file.bytes.empty() || !WriteFileText(Path(file.kind), file.bytes)) {
      *why = std::string("cannot make ") + SourceKindName(file.kind) + " (" +
             std::to_string(file.bytes.size()) + " bytes drawn)";
      return false;
    }
  }

  LoadConnection connection;
  if (!connection.ok()) {
    *why = "cannot connect for the references";
    return false;
  }
  for (SourceKind kind : kAllSourceKinds) {
    std::string& reference = references_[Index(kind)];
    std::string const name = std::string("the reply for ") + SourceKindName(kind);
    if (!connection.Ask(CachedRequest(kind), &reference, ReplyTimeoutMs())) {
      *why = "no reply for " + std::string(SourceKindName(kind));
      return false;
    }
    int width = 0, height = 0, centre = 0;
    if (!DecodePng(reference, &width, &height, &centre)) {
      *why = name + " is not a PNG";
      return false;
    }
    if (width < 1 || width > kWidth || height < 1 || height > kHeight) {
      *why = name + " is " + std::to_string(width) + "x" + std::to_string(height);
      return false;
    }
    if (colour(kind) >= 0 && !NearColour(colour(kind), centre)) {
      *why = name + " has the wrong colour";
      return false;
    }
  }
  return true;
}

void Tally::Add(Tally const& other) {
  expected += other.expected;
  answered += other.answered;
  invalid += other.invalid;
  if (first_error.empty()) first_error = other.first_error;
}

namespace {

// A request whose reply must be `expected`; false ends the connection.
bool AskAndCheck(LoadConnection& connection, std::string const& body, std::string const& expected,
                 std::string const& what, Tally* tally) {
  ++tally->expected;
  std::string reply;
  if (!connection.Ask(body, &reply, ReplyTimeoutMs())) {
    tally->Fail(what + ": no reply");
    return false;
  }
  if (reply != expected) {
    tally->Fail(what + ": wrong reply of " + std::to_string(reply.size()) + " bytes");
    return false;
  }
  ++tally->answered;
  return true;
}

// A side connection that goes away without waiting for a reply.
void Vanish(std::string const& bytes, Tally* tally) {
  LoadConnection side;
  if (!side.ok()) {
    tally->Fail("side connection refused");
    return;
  }
  side.SendBytes(bytes);  // the daemon may already have closed a cut frame
}

}  // namespace

void RunMixedConnection(LoadCorpus const& corpus, int seed, int requests,
                        std::atomic<std::uint64_t>* next_id, Tally* tally) {
  LoadConnection connection;
  if (!connection.ok()) {
    tally->Fail("connection refused");
    return;
  }
  std::string const failure(1, '\0');
  for (int step = 0; step < requests; ++step) {
    SourceKind const kind = kAllSourceKinds[(seed + step) % 9];
    std::string const name = std::string(SourceKindName(kind)) + " step " + std::to_string(step);
    bool going = true;
    switch ((seed * 7 + step) % 10) {
      case 0:
      case 2:
      case 8:  // cache hit (or, for the kinds never cached, a fresh default picture)
        going = AskAndCheck(connection, corpus.CachedRequest(kind), corpus.Reference(kind),
                            "hit " + name, tally);
        break;
      case 1:
      case 5:  // miss: a resource the cache has never seen
        going = AskAndCheck(connection,
                            corpus.Request(kind, next_id->fetch_add(1), corpus.cache_folder()),
                            corpus.Reference(kind), "miss " + name, tally);
        break;
      case 3:  // invalid JSON gets no reply; the next request gets its own
        ++tally->invalid;
        going = connection.SendFrame("<request path=\"" + corpus.Path(kind) + "\"/>") &&
                AskAndCheck(connection, corpus.CachedRequest(kind), corpus.Reference(kind),
                            "after invalid JSON " + name, tally);
        break;
      case 4:  // a request without the size keys
        going = AskAndCheck(connection, "{\"_path\":\"" + corpus.Path(kind) + "\"}", failure,
                            "missing keys " + name, tally);
        break;
      case 6: {  // vanishes in the middle of the payload
        std::string const body = corpus.CachedRequest(kind);
        Vanish(Frame(body).substr(0, 4 + body.size() / 2), tally);
        break;
      }
      case 7:  // sends a whole request and leaves before the reply
        Vanish(Frame(corpus.Request(kind, next_id->fetch_add(1), corpus.cache_folder())), tally);
        break;
      case 9:  // an empty frame, then a side client gone inside the length
        going = AskAndCheck(connection, std::string(), failure, "empty frame " + name, tally);
        Vanish(std::string("\0\0", 2), tally);
        break;
    }
    if (!going) return;
  }
}

Tally RunWave(LoadCorpus const& corpus, int connections, int requests, int seed_base,
              std::atomic<std::uint64_t>* next_id) {
  std::vector<Tally> tallies(static_cast<size_t>(connections));
  std::vector<std::thread> clients;
  std::atomic<int> ready(0);
  for (int i = 0; i < connections; ++i) {
    clients.emplace_back([&, i] {
      // All threads start their traffic together.
      ++ready;
      while (ready.load() < connections) std::this_thread::yield();
      RunMixedConnection(corpus, seed_base + i, requests, next_id, &tallies[i]);
    });
  }
  Tally total;
  for (int i = 0; i < connections; ++i) {
    clients[i].join();
    total.Add(tallies[i]);
  }
  return total;
}

}  // namespace load
