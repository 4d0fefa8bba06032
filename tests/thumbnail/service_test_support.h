// Helpers shared by the dispatch, cache and command-handler tests: a
// temporary folder, a log capture, pictures drawn with libgd and files
// written byte by byte. Everything is made by the tests themselves.
//
// Single-threaded use from the test body; LogCapture swaps the process-wide
// log stream and must not overlap another LogCapture.
#ifndef QUORLIN_TESTS_THUMBNAIL_SERVICE_TEST_SUPPORT_H_
#define QUORLIN_TESTS_THUMBNAIL_SERVICE_TEST_SUPPORT_H_

#include <boost/shared_ptr.hpp>
#include <ctime>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace qltest {

typedef std::vector<unsigned char> Bytes;

// A fresh folder under /tmp, removed with everything in it on destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(TempFolder const&) = delete;
  TempFolder& operator=(TempFolder const&) = delete;
  std::string const& path() const { return path_; }
  // path() + "/" + name
  std::string operator/(std::string const& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Routes every log statement into a string at DEBUG level while alive.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(LogCapture const&) = delete;
  LogCapture& operator=(LogCapture const&) = delete;
  std::string text() const;
  bool Contains(std::string const& needle) const {
    return text().find(needle) != std::string::npos;
  }
  // Number of lines starting with `level` (e.g. "ERROR:").
  int CountLevel(std::string const& level) const;
  void Clear();

 private:
  boost::shared_ptr<std::ostringstream> stream_;
  boost::shared_ptr<std::ostream> saved_stream_;
  int saved_level_;
};

struct Rgb {
  int r, g, b;
};

// A true-colour picture of one colour, encoded by libgd.
Bytes SolidJpeg(int width, int height, Rgb color);
Bytes SolidPng(int width, int height, Rgb color);

// Writes `bytes` to `path` (replacing it); fails the current test on error.
void WriteFile(std::string const& path, Bytes const& bytes);
void WriteFile(std::string const& path, std::string const& text);
Bytes ReadFile(std::string const& path);
bool Exists(std::string const& path);
// Sets access and modification time of `path`.
void SetMtime(std::string const& path, std::time_t when);
// Names of the plain entries of `folder` (no "." or ".."), sorted.
std::vector<std::string> ListFolder(std::string const& folder);

// The five default pictures, each a different solid colour, so a thumbnail
// tells which one it was made from.
extern const Rgb kImageColor, kAudioColor, kVideoColor, kDocColor, kAnyColor;
void WriteDefaultPictures(std::string const& folder);

// Decodes PNG bytes and returns the colour of the centre pixel; false when
// the bytes are not a PNG.
bool CentreColour(Bytes const& png, Rgb* color);
// True when every channel differs by at most `tolerance` (JPEG is lossy).
bool Near(Rgb a, Rgb b, int tolerance = 24);

// The thumbnail bytes of a record, copied.
Bytes ThumbnailBytes(boost::shared_ptr<void> const& thumbnail, long long size);

}  // namespace qltest

#endif  // QUORLIN_TESTS_THUMBNAIL_SERVICE_TEST_SUPPORT_H_
