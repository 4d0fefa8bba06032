// Fuzz target for the command handler: the input is one whole request body,
// handed twice to QLGDHelper::ProcessCommand with one end of a socket pair as
// the connection, through parsing, dispatch, the handlers, the resize step
// and the cache, to the reply.
//
// The requests work inside the scratch folder, which is also the working
// folder: "defaults/" holds the five default pictures, "sources/" one small
// file of each kind. A request only runs when its three path values are
// relative and stay inside (no ".." component, no NUL byte), and its canvas
// is quick to make; after each input whatever it added is removed, so every
// input meets the same folder. Checks: invalid JSON gets no reply, valid JSON
// exactly one frame per call (the zero byte when over the parser's caps), which is one zero byte or
// a PNG file image, the same both times (the second often from the cache).
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

#include "fuzz_support.h"
#include "json/json_parser.h"
#include "protocol/ql_thumbnail_request.h"
#include "support/ql_socket_pair.h"
#include "thumbnail/ql_gd_helper.h"

namespace fs = std::filesystem;
using qlfuzz::FuzzCheck;
using qltest::Format;

QLGDHelper* g_helper = nullptr;
std::set<fs::path>* g_fixed = nullptr;  // the folder's entries as made at start-up

std::set<fs::path> ListTree() {
  std::set<fs::path> entries;
  for (auto const& entry : fs::recursive_directory_iterator(qlfuzz::Scratch().path()))
    entries.insert(entry.path());
  return entries;
}

// True when `path` is relative and cannot leave the working folder.
bool StaysInside(std::string const& path) {
  if (path.find('\0') != std::string::npos || (!path.empty() && path[0] == '/')) return false;
  for (auto const& part : fs::path(path))
    if (part == "..") return false;
  return true;
}

// Canvases libgd refuses at once (a side of 0 or below, or more than INT_MAX
// pixels) are quick, so are small ones; the ones in between would only cost
// time and memory. The folder's pictures are no narrower than 2 to 5, so in
// full-screen mode the shorter side is at least 0.4 times the longer.
bool QuickToServe(QLThumbnailRequest const& request) {
  std::int64_t const w = static_cast<std::int32_t>(request.width);
  std::int64_t const h = static_cast<std::int32_t>(request.height);
  if (w <= 0 || h <= 0) return true;
  if (request.full_screen) return std::max(w, h) <= 1024 || std::max(w, h) >= 100000;
  return w * h <= 1024 * 1024 || w * h > INT32_MAX;
}

// libFuzzer reads its corpus folders and file flags after initialisation,
// from inside the scratch folder: relative ones are made absolute first.
void MakePathArgumentsAbsolute(int argc, char** argv) {
  static std::vector<std::string> kept(static_cast<size_t>(argc));
  for (int i = 1; i < argc; ++i) {
    std::string const argument = argv[i];
    size_t value = 0;
    for (char const* flag : {"-artifact_prefix=", "-exact_artifact_path=", "-dict="})
      if (argument.rfind(flag, 0) == 0) value = std::strlen(flag);
    if ((argument[0] == '-' && value == 0) || argument.size() == value || argument[value] == '/')
      continue;
    kept[i] = argument.substr(0, value) + (fs::current_path() / argument.substr(value)).string();
    argv[i] = &kept[i][0];
  }
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  MakePathArgumentsAbsolute(*argc, *argv);
  qlfuzz::DiscardLogs();
  std::string const root = qlfuzz::Scratch().path();
  FuzzCheck(fs::create_directory(root + "/defaults") && fs::create_directory(root + "/sources"),
            "folders");
  FuzzCheck(qltest::WriteDefaultPictures(root + "/defaults"), "default pictures");
  struct {
    char const* name;
    qltest::Bytes bytes;
  } const sources[] = {
      {"photo.jpg", qltest::Solid(Format::kJpeg, 40, 30, {30, 90, 160})},
      {"tall.jpeg", qltest::Solid(Format::kJpeg, 20, 50, {160, 90, 30})},
      {"picture.png", qltest::Solid(Format::kPng, 24, 16, {200, 100, 50})},
      {"anim.gif", qltest::Solid(Format::kGif, 16, 16, {50, 200, 100})},
      {"scan.bmp", qltest::Solid(Format::kBmp, 12, 20, {100, 50, 200})},
      {"mono.wbmp", qltest::Solid(Format::kWbmp, 16, 8, {0, 0, 0})},
      {"song.mp3", qltest::Mp3File(3, {qltest::ApicFrame(
                                          3, "image/jpeg",
                                          qltest::Solid(Format::kJpeg, 16, 16, {10, 200, 200}))})},
      {"notes.txt", {'h', 'i', '\n'}},
      {"broken.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0x00}}};
  for (auto const& source : sources)
    FuzzCheck(qltest::WriteBytes(root + "/sources/" + source.name, source.bytes), "sources");
  g_fixed = new std::set<fs::path>(ListTree());
  // Relative request paths resolve inside the folder; the provider pins the
  // working folder when it is made, so this comes first.
  FuzzCheck(chdir(root.c_str()) == 0, "chdir into the scratch folder");
  g_helper = new QLGDHelper();
  QLThumbnailOptions options = g_helper->provider().options();
  options.max_source_pixels = 4000000;
  options.max_thumbnail_pixels = 512 * 512;
  g_helper->provider().SetOptions(options);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  JSON::JSONParser parser;
  parser.parse(reinterpret_cast<char const*>(data), static_cast<unsigned int>(size));
  // A request the daemon cannot read is answered before any file is touched.
  QLThumbnailRequest request;
  char const* missing = nullptr;
  if (parser.errorState == 0 && ReadRequest(parser, &request, &missing) &&
      (!StaysInside(request.path) || !StaysInside(request.thumbnail_folder) ||
       !StaysInside(request.default_folder) || !QuickToServe(request))) {
    return 0;
  }

  QLSocketPair pair;
  std::vector<std::string> frames;
  std::thread reader([&] {
    std::string payload;
    while (ReadFrame(pair.peer(), &payload)) frames.push_back(payload);
  });
  boost::shared_ptr<unsigned char> body(new unsigned char[size + 1],
                                        [](unsigned char* p) { delete[] p; });
  std::memcpy(body.get(), data, size);
  bool const first = g_helper->ProcessCommand(body, static_cast<unsigned int>(size), pair.ours());
  bool const second = g_helper->ProcessCommand(body, static_cast<unsigned int>(size), pair.ours());
  pair.ours()->Close();  // the reader sees the end of the stream
  reader.join();

  FuzzCheck(first == second, "the same body is judged the same twice");
  FuzzCheck(frames.size() == (first ? 2u : 0u), "one reply per valid body, none for invalid JSON");
  FuzzCheck(parser.errorState != 3 || (first && frames[0] == std::string(1, '\0')),
            "a body over the parser's caps gets the failure reply");
  std::uint32_t width = 0, height = 0;
  if (first && frames[0].size() == 1) {
    FuzzCheck(frames[0][0] == '\0', "a one-byte reply is the zero byte");
  } else if (first) {
    FuzzCheck(qltest::PngSize(reinterpret_cast<unsigned char const*>(frames[0].data()),
                              frames[0].size(), &width, &height) &&
                  width > 0 && height > 0,
              "a longer reply is a PNG file image with pixels");
  }
  FuzzCheck(!first || frames[0] == frames[1], "a repeated request gets the same thumbnail");

  std::set<fs::path> const now = ListTree();
  for (fs::path const& entry : now) {
    std::error_code error;
    if (!g_fixed->count(entry)) fs::remove_all(entry, error);
  }
  for (fs::path const& entry : *g_fixed)
    FuzzCheck(now.count(entry) == 1, "a request removed a file it does not own");
  return 0;
}
