// Everything the thumbnail service tests need, all made here: pictures drawn
// with libgd, EXIF blocks and ID3v2 tags written byte by byte, files in a
// scratch folder, a log capture, a socket pair for the command handler, and
// the service and provider fixtures.
//
// Single-threaded use from a test body, except that a SocketPeer may live on
// a worker thread of its own. LogCapture swaps the process-wide log stream
// and level and must not overlap another capture.
#ifndef QUORLIN_TESTS_THUMBNAIL_TEST_SUPPORT_H_
#define QUORLIN_TESTS_THUMBNAIL_TEST_SUPPORT_H_

#include <gd.h>
#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "ipc/ql_process_helper_socket.h"
#include "support/ql_log_capture.h"
#include "support/ql_sample_files.h"
#include "support/ql_temp_dir.h"
#include "thumbnail/ql_image_orientation.h"
#include "thumbnail/ql_thumbnail_data.h"
#include "thumbnail/ql_thumbnail_provider.h"

class QLGDHelper;

namespace qltest {

// Routes every log statement (DEBUG and up) into a string while alive.
class LogCapture {
 public:
  std::string text() const { return capture_.Text(); }
  // Whether the text holds `needle`; either way the message shows the text.
  testing::AssertionResult Contains(std::string const& needle) const;
  // Occurrences of `needle` anywhere in the text.
  int Count(std::string const& needle) const;
  // Lines starting with `level` (e.g. "ERROR:").
  int CountLevel(std::string const& level) const;
  void Clear() { capture_.Clear(); }

 private:
  QLLogCapture capture_;
};

// A true-colour picture filled with one colour.
ScopedGdImage SolidPicture(int width, int height, Rgb color);
// Pixel (x, y) has a colour from which x and y can be read back, never
// black, so pixels read from outside a source show up as black.
ScopedGdImage CoordinatePicture(int width, int height);
// Reads back (x, y) from a CoordinatePicture colour; false for anything else.
bool CoordinateOf(Rgb color, int* x, int* y);
boost::shared_ptr<gdImageStruct> Shared(ScopedGdImage image);

// A blue picture with a red block in its top-left and a green block in its
// top-right corner, each a quarter of the shorter side.
extern Rgb const kRed, kGreen, kBlue;
ScopedGdImage MarkedPicture(int width, int height);

// Where the EXIF standard shows stored pixel (x, y) of a W x H picture when
// the picture carries `orientation` (values outside 2..8: where it is).
struct Point {
  int x, y;
};
Point UprightPosition(int orientation, int x, int y, int W, int H);
// Every pixel of `result` is the pixel of a W x H CoordinatePicture that
// `orientation` puts there.
void ExpectOriented(gdImagePtr result, int orientation, int W, int H);

// Writes `bytes` to `path` (replacing it); fails the current test on error.
void WriteFile(std::string const& path, Bytes const& bytes);
void WriteFile(std::string const& path, std::string const& text);
Bytes ReadFile(std::string const& path);
bool Exists(std::string const& path);
// Sets access and modification time of `path`.
void SetMtime(std::string const& path, std::time_t when);
// Names of the entries of `folder` (no "." or ".."), sorted.
std::vector<std::string> ListFolder(std::string const& folder);

// The record's thumbnail bytes, copied, and decoded as PNG (null when not).
Bytes ThumbnailBytes(QLThumbnailData const& data);
ScopedGdImage DecodeThumbnail(QLThumbnailData const& data);
// The colour of the centre pixel of PNG bytes; false when they are no PNG.
bool CentreColour(Bytes const& png, Rgb* color);
// Installs a copy of `bytes` as the record's thumbnail.
void SetThumbnail(QLThumbnailData& data, Bytes const& bytes);
// Fills the fields that name a cache entry.
void FillRequest(QLThumbnailData& data, std::string const& path, std::string const& cache,
                 std::uint64_t id = 255, std::uint32_t width = 160, std::uint32_t height = 120,
                 bool full_screen = false);

// The five default pictures (64 x 48), each a different solid colour, so a
// thumbnail tells which one it was made from.
extern Rgb const kImageColor, kAudioColor, kVideoColor, kDocColor, kAnyColor;
void WriteDefaultPictures(std::string const& folder);

// One end of a socket pair as the helper's connection; the test reads the
// replies at the other end.
class SocketPeer {
 public:
  SocketPeer();
  ~SocketPeer();
  SocketPeer(SocketPeer const&) = delete;
  SocketPeer& operator=(SocketPeer const&) = delete;
  boost::shared_ptr<QLProcessHelperSocket> const& socket() const { return socket_; }
  // Hands `body` to the helper as one request on this connection.
  bool Process(QLGDHelper& helper, std::string const& body);
  // Reads one reply frame; false when none arrives.
  bool ReadReply(Bytes* payload);
  // True when no byte is waiting (nothing was sent).
  bool NothingSent();

 private:
  bool ReadExactly(unsigned char* out, std::size_t size);
  boost::shared_ptr<QLProcessHelperSocket> socket_;
  int peer_ = -1;
};

// A scratch folder, a log capture and a provider; `cache_` names "cache" in
// the folder, which is not made.
class ServiceTest : public testing::Test {
 protected:
  QLTempDir temp_;
  LogCapture log_;
  QLThumbnailProvider provider_;
  std::string cache_ = temp_.File("cache");
};

// A provider and a request record (40 x 30, box mode, defaults and cache in
// the scratch folder, which starts empty).
class ProviderTest : public testing::Test {
 protected:
  ProviderTest();
  // Writes a file named `name` into the folder and makes it the request's path.
  std::string Write(std::string const& name, Bytes const& bytes);
  // The centre colour of the record's thumbnail; fails the test when none.
  Rgb ThumbnailCentre();

  QLTempDir folder_;
  QLThumbnailProvider provider_;
  QLThumbnailData data_;
};

}  // namespace qltest

#endif  // QUORLIN_TESTS_THUMBNAIL_TEST_SUPPORT_H_
