#include "service_test_support.h"

#include <dirent.h>
#include <gd.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "log/ql_log.h"

namespace qltest {

TempFolder::TempFolder() {
  char name[] = "/tmp/ql_service_test_XXXXXX";
  char* made = mkdtemp(name);
  if (!made) ADD_FAILURE() << "mkdtemp failed";
  path_ = made ? made : "/tmp";
}

TempFolder::~TempFolder() {
  if (path_ == "/tmp") return;
  boost::system::error_code ignored;
  // Tests may leave read-only or oddly named entries behind; remove_all copes.
  boost::filesystem::remove_all(path_, ignored);
}

LogCapture::LogCapture()
    : stream_(new std::ostringstream), saved_stream_(qlloggeros), saved_level_(ql_log_level) {
  boost::unique_lock<boost::recursive_mutex> lock(QLLogStatementMutex());
  qlloggeros = stream_;
  ql_log_level = 3;
}

LogCapture::~LogCapture() {
  boost::unique_lock<boost::recursive_mutex> lock(QLLogStatementMutex());
  qlloggeros = saved_stream_;
  ql_log_level = saved_level_;
}

std::string LogCapture::text() const {
  boost::unique_lock<boost::recursive_mutex> lock(QLLogStatementMutex());
  return stream_->str();
}

int LogCapture::CountLevel(std::string const& level) const {
  std::istringstream lines(text());
  int count = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, level.size(), level) == 0) ++count;
  }
  return count;
}

void LogCapture::Clear() {
  boost::unique_lock<boost::recursive_mutex> lock(QLLogStatementMutex());
  stream_->str("");
}

namespace {

struct ImageOwner {
  explicit ImageOwner(gdImagePtr i) : image(i) {}
  ~ImageOwner() {
    if (image) gdImageDestroy(image);
  }
  gdImagePtr image;
};

Bytes Encode(int width, int height, Rgb color, bool png) {
  ImageOwner owner(gdImageCreateTrueColor(width, height));
  if (!owner.image) {
    ADD_FAILURE() << "cannot allocate canvas";
    return Bytes();
  }
  int const c = gdTrueColor(color.r, color.g, color.b);
  gdImageFilledRectangle(owner.image, 0, 0, width - 1, height - 1, c);
  int size = 0;
  void* data = png ? gdImagePngPtr(owner.image, &size) : gdImageJpegPtr(owner.image, &size, 95);
  if (!data) {
    ADD_FAILURE() << "cannot encode";
    return Bytes();
  }
  unsigned char const* bytes = static_cast<unsigned char const*>(data);
  Bytes out(bytes, bytes + size);
  gdFree(data);
  return out;
}

}  // namespace

Bytes SolidJpeg(int width, int height, Rgb color) { return Encode(width, height, color, false); }
Bytes SolidPng(int width, int height, Rgb color) { return Encode(width, height, color, true); }

void WriteFile(std::string const& path, Bytes const& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<char const*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

void WriteFile(std::string const& path, std::string const& text) {
  WriteFile(path, Bytes(text.begin(), text.end()));
}

Bytes ReadFile(std::string const& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return Bytes();
  }
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(std::string const& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

void SetMtime(std::string const& path, std::time_t when) {
  struct utimbuf times;
  times.actime = when;
  times.modtime = when;
  if (utime(path.c_str(), &times) != 0) ADD_FAILURE() << "utime failed on " << path;
}

std::vector<std::string> ListFolder(std::string const& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (struct dirent* entry = readdir(dir)) {
    std::string const name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

const Rgb kImageColor = {220, 40, 40};
const Rgb kAudioColor = {40, 200, 40};
const Rgb kVideoColor = {40, 40, 220};
const Rgb kDocColor = {230, 220, 40};
const Rgb kAnyColor = {200, 40, 200};

void WriteDefaultPictures(std::string const& folder) {
  WriteFile(folder + "/image.jpg", SolidJpeg(64, 64, kImageColor));
  WriteFile(folder + "/audio.jpg", SolidJpeg(64, 64, kAudioColor));
  WriteFile(folder + "/video.jpg", SolidJpeg(64, 64, kVideoColor));
  WriteFile(folder + "/doc.jpg", SolidJpeg(64, 64, kDocColor));
  WriteFile(folder + "/any_file.jpg", SolidJpeg(64, 64, kAnyColor));
}

bool CentreColour(Bytes const& png, Rgb* color) {
  static unsigned char const kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (png.size() < 8 || !std::equal(kSignature, kSignature + 8, png.begin())) return false;
  ImageOwner owner(gdImageCreateFromPngPtr(static_cast<int>(png.size()),
                                           const_cast<unsigned char*>(png.data())));
  if (!owner.image) return false;
  int const pixel =
      gdImageGetTrueColorPixel(owner.image, gdImageSX(owner.image) / 2, gdImageSY(owner.image) / 2);
  color->r = gdTrueColorGetRed(pixel);
  color->g = gdTrueColorGetGreen(pixel);
  color->b = gdTrueColorGetBlue(pixel);
  return true;
}

bool Near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

Bytes ThumbnailBytes(boost::shared_ptr<void> const& thumbnail, long long size) {
  if (!thumbnail || size <= 0) return Bytes();
  unsigned char const* bytes = static_cast<unsigned char const*>(thumbnail.get());
  return Bytes(bytes, bytes + size);
}

}  // namespace qltest
