// Fuzz target for the command handler: the input is one whole request body,
// handed to QLGDHelper::ProcessCommand with one end of a socket pair as the
// connection, through parsing, dispatch, the handlers, the resize step and
// the cache, to the reply.
//
// The requests work inside a sandbox folder made at start-up, which is also
// the working folder: "defaults/" holds the five default pictures (drawn
// with libgd), "sources/" a few small source files, "cache/" is empty. A
// request only runs when its three path values are relative and stay inside
// the sandbox (no ".." component, no NUL byte); anything else is skipped, so
// no input can read or write outside it. After each input every file the
// request left behind is removed, so an input always meets the same folder.
//
// Checks beyond "no crash, no leak, no sanitizer report":
//  - invalid JSON (ProcessCommand false) gets no reply, valid JSON exactly
//    one frame, which is one zero byte or a PNG file image;
//  - the body is handled twice; the second answer (often from the cache) is
//    byte for byte the first.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/ql_array_deleter.h"
#include "fuzz_support.h"
#include "ipc/ql_process_helper_socket.h"
#include "json/json_parser.h"
#include "thumbnail/ql_gd_helper.h"
#include "thumbnail/ql_thumbnail_options.h"

namespace {

namespace fs = std::filesystem;
using qlfuzz::Bytes;
using qlfuzz::FuzzCheck;

// Largest side of a thumbnail canvas the fuzzer lets a request make.
std::int64_t const kMaxRequestedSide = 1024;

QLTempDir* g_sandbox = nullptr;
QLGDHelper* g_helper = nullptr;
// Every file and folder of the sandbox as made at start-up, relative paths.
std::set<std::string>* g_fixed = nullptr;

Bytes Mp3WithCover(Bytes const& cover) {
  return qltest::Mp3File(3, {qltest::ApicFrame(3, "image/jpeg", cover)});
}

void MakeSandbox(std::string const& root) {
  FuzzCheck(fs::create_directory(root + "/defaults") && fs::create_directory(root + "/sources") &&
                fs::create_directory(root + "/cache"),
            "sandbox folders");
  FuzzCheck(qlfuzz::WriteDefaultPictures(root + "/defaults"), "default pictures");
  std::string const sources = root + "/sources/";
  FuzzCheck(qlfuzz::WriteBytes(sources + "photo.jpg",
                               qltest::Solid(qltest::Format::kJpeg, 40, 30, {30, 90, 160})) &&
                qlfuzz::WriteBytes(sources + "tall.jpeg",
                                   qltest::Solid(qltest::Format::kJpeg, 20, 50, {160, 90, 30})) &&
                qlfuzz::WriteBytes(sources + "picture.png",
                                   qltest::Solid(qltest::Format::kPng, 24, 16, {200, 100, 50})) &&
                qlfuzz::WriteBytes(sources + "anim.gif",
                                   qltest::Solid(qltest::Format::kGif, 16, 16, {50, 200, 100})) &&
                qlfuzz::WriteBytes(sources + "scan.bmp",
                                   qltest::Solid(qltest::Format::kBmp, 12, 20, {100, 50, 200})) &&
                qlfuzz::WriteBytes(sources + "mono.wbmp",
                                   qltest::Solid(qltest::Format::kWbmp, 16, 8, {0, 0, 0})) &&
                qlfuzz::WriteBytes(
                    sources + "song.mp3",
                    Mp3WithCover(qltest::Solid(qltest::Format::kJpeg, 16, 16, {10, 200, 200}))) &&
                qlfuzz::WriteBytes(sources + "notes.txt", Bytes{'h', 'i', '\n'}) &&
                qlfuzz::WriteBytes(sources + "broken.jpg", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00}),
            "source files");
}

std::set<std::string> ListTree(std::string const& root) {
  std::set<std::string> entries;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    entries.insert(fs::relative(it->path(), root).string());
  }
  return entries;
}

// Removes everything a request added to the sandbox (cache files, folders
// it created). Start-up files are never written to by a request; one that
// went missing is a finding.
void RestoreSandbox() {
  std::string const& root = g_sandbox->path();
  std::set<std::string> const now = ListTree(root);
  for (std::string const& entry : now) {
    if (g_fixed->count(entry) == 0) {
      std::error_code error;
      fs::remove_all(root + "/" + entry, error);
    }
  }
  for (std::string const& entry : *g_fixed) {
    FuzzCheck(now.count(entry) == 1, "a request removed a file it does not own");
  }
}

// True when `path` is relative and cannot leave the working folder.
bool StaysInside(std::string const& path) {
  if (path.find('\0') != std::string::npos) return false;
  if (!path.empty() && path[0] == '/') return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

// Whether a request of this size can be served quickly. Canvases libgd
// refuses at once (a side of 0 or below, or more than INT_MAX pixels) are
// quick; so are small ones. In between, a canvas of up to two thousand
// million pixels would only cost time and memory and find nothing new.
bool QuickToServe(std::uint32_t width, std::uint32_t height, bool full_screen) {
  std::int64_t const w = static_cast<std::int32_t>(width);
  std::int64_t const h = static_cast<std::int32_t>(height);
  if (w <= 0 || h <= 0) return true;
  if (full_screen) {
    // The longer side becomes max(w, h); the sandbox's pictures are no
    // narrower than 2 to 5, so the shorter side is at least 0.4 times that.
    std::int64_t const side = std::max(w, h);
    return side <= kMaxRequestedSide || side >= 100000;
  }
  return w * h <= kMaxRequestedSide * kMaxRequestedSide || w * h > INT32_MAX;
}

// The values ProcessCommand will read, parsed the same way it parses them.
bool RequestIsSafe(uint8_t const* data, size_t size) {
  JSON::JSONParser parser;
  parser.parse(reinterpret_cast<char const*>(data), static_cast<unsigned int>(size));
  if (parser.errorState != 0) return true;  // rejected before any file is touched
  for (char const* key : {"_path", "_thumbnail_folder", "_default_thumbnail_folder"}) {
    boost::shared_ptr<JSON::JSONNode> node = parser.node(key);
    if (node && !StaysInside(node->stringValue)) return false;
  }
  boost::shared_ptr<JSON::JSONNode> width = parser.node("_width");
  boost::shared_ptr<JSON::JSONNode> height = parser.node("_height");
  boost::shared_ptr<JSON::JSONNode> full_screen = parser.node("_full_screen");
  if (!width || !height || !full_screen) return true;  // answered as a failure
  return QuickToServe(static_cast<std::uint32_t>(width->intValue),
                      static_cast<std::uint32_t>(height->intValue), full_screen->boolValue);
}

// Collects every frame the handler sends until the connection ends.
void ReadFrames(int fd, std::vector<std::string>* frames) {
  auto read_exactly = [fd](size_t size, std::string* out) {
    out->assign(size, '\0');
    size_t got = 0;
    while (got < size) {
      ssize_t n = read(fd, &(*out)[got], size - got);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  };
  std::string header;
  std::string payload;
  while (read_exactly(4, &header)) {
    uint32_t length = 0;
    for (char c : header) length = (length << 8) | static_cast<unsigned char>(c);
    FuzzCheck(read_exactly(length, &payload), "a reply frame arrives whole");
    frames->push_back(payload);
  }
}

void CheckReply(std::string const& reply) {
  if (reply.size() == 1) {
    FuzzCheck(reply[0] == '\0', "a one-byte reply is the zero byte");
    return;
  }
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  FuzzCheck(qlfuzz::PngSize(reinterpret_cast<unsigned char const*>(reply.data()), reply.size(),
                            &width, &height),
            "a longer reply is a PNG file image");
  FuzzCheck(width > 0 && height > 0, "a thumbnail has pixels");
}

// The fuzzer works from inside the sandbox, so the corpus folders and the
// file flags of the command line are made absolute first (libFuzzer reads
// them only after this initialisation; the replay reads its arguments after
// it too). The program's own path may not be changed here: for -merge and
// -fork, which start the program again, call it by its absolute path.
void MakePathArgumentsAbsolute(int argc, char** argv) {
  static std::vector<std::string>* kept = new std::vector<std::string>();
  kept->reserve(static_cast<size_t>(argc));
  char const* const kFileFlags[] = {"-artifact_prefix=", "-exact_artifact_path=", "-dict="};
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    std::string flag;
    if (!argument.empty() && argument[0] == '-') {
      for (char const* file_flag : kFileFlags) {
        if (argument.compare(0, std::strlen(file_flag), file_flag) == 0) flag = file_flag;
      }
      if (flag.empty()) continue;
    }
    std::string value = argument.substr(flag.size());
    if (value.empty() || value[0] == '/') continue;
    bool const folder_prefix = value.back() == '/';
    value = (fs::current_path() / value).string();
    if (folder_prefix && value.back() != '/') value += '/';
    kept->push_back(flag + value);
    argv[i] = &kept->back()[0];
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  MakePathArgumentsAbsolute(*argc, *argv);
  qlfuzz::DiscardLogs();
  g_sandbox = new QLTempDir();
  MakeSandbox(g_sandbox->path());
  g_fixed = new std::set<std::string>(ListTree(g_sandbox->path()));
  // Relative request paths resolve inside the sandbox; the provider pins the
  // working folder when it is made, so this comes first.
  FuzzCheck(chdir(g_sandbox->path().c_str()) == 0, "chdir into the sandbox");
  g_helper = new QLGDHelper();
  QLThumbnailOptions options = g_helper->provider().options();
  options.max_source_pixels = 4000000;
  options.max_thumbnail_pixels = 512 * 512;
  g_helper->provider().SetOptions(options);
  // Removed at normal exit (libFuzzer's end of run, or the replay's).
  std::atexit([] { delete g_sandbox; });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (!RequestIsSafe(data, size)) return 0;

  int fds[2];
  FuzzCheck(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0, "socketpair");
  boost::shared_ptr<QLProcessHelperSocket> connection(new QLProcessHelperSocket("fuzz"));
  connection->set_m_sock(fds[0]);
  std::vector<std::string> frames;
  std::thread reader(ReadFrames, fds[1], &frames);

  boost::shared_ptr<unsigned char> body(new unsigned char[size > 0 ? size : 1],
                                        arrayDeleter<unsigned char>());
  if (size > 0) std::memcpy(body.get(), data, size);
  unsigned int const length = static_cast<unsigned int>(size);
  bool const first = g_helper->ProcessCommand(body, length, connection);
  bool const second = g_helper->ProcessCommand(body, length, connection);

  connection->Close();  // the reader sees the end of the stream
  reader.join();
  close(fds[1]);

  FuzzCheck(first == second, "the same body is judged the same twice");
  if (!first) {
    FuzzCheck(frames.empty(), "invalid JSON gets no reply");
  } else {
    FuzzCheck(frames.size() == 2, "each valid body gets exactly one reply");
    CheckReply(frames[0]);
    FuzzCheck(frames[0] == frames[1], "a repeated request gets the same thumbnail");
  }
  RestoreSandbox();
  return 0;
}
