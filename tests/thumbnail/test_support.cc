#include "test_support.h"

#include <dirent.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/ql_array_deleter.h"
#include "log/ql_log.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_gd_helper.h"

namespace qltest {

Rgb const kRed = {220, 20, 20};
Rgb const kGreen = {20, 200, 20};
Rgb const kBlue = {20, 20, 220};
Rgb const kImageColor = {230, 120, 20};
Rgb const kAudioColor = {240, 230, 30};
Rgb const kVideoColor = {30, 200, 200};
Rgb const kDocColor = {150, 60, 200};
Rgb const kAnyColor = {120, 120, 120};

testing::AssertionResult LogCapture::Contains(std::string const& needle) const {
  std::string const all = text();
  testing::AssertionResult result(all.find(needle) != std::string::npos);
  return result << "the log " << (result ? "holds" : "lacks") << " \"" << needle << "\":\n" << all;
}

int LogCapture::Count(std::string const& needle) const {
  std::string const all = text();
  int count = 0;
  for (std::size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1))
    ++count;
  return count;
}

int LogCapture::CountLevel(std::string const& level) const {
  std::istringstream lines(text());
  int count = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, level.size(), level) == 0) ++count;
  }
  return count;
}

ScopedGdImage SolidPicture(int width, int height, Rgb color) {
  ScopedGdImage image(gdImageCreateTrueColor(width, height));
  gdImageFilledRectangle(image.get(), 0, 0, width - 1, height - 1,
                         gdTrueColor(color.r, color.g, color.b));
  return image;
}

// x + 1 and y + 1 as 12-bit numbers: low bytes in red and blue, high nibbles
// in green. Never black, as both are at least 1.
ScopedGdImage CoordinatePicture(int width, int height) {
  ScopedGdImage image(gdImageCreateTrueColor(width, height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int const cx = x + 1;
      int const cy = y + 1;
      image->tpixels[y][x] = gdTrueColor(cx & 0xFF, (cx >> 8) | ((cy >> 8) << 4), cy & 0xFF);
    }
  }
  return image;
}

bool CoordinateOf(Rgb color, int* x, int* y) {
  int const cx = color.r | ((color.g & 0x0F) << 8);
  int const cy = color.b | ((color.g >> 4) << 8);
  if (cx == 0 || cy == 0) return false;
  *x = cx - 1;
  *y = cy - 1;
  return true;
}

Point UprightPosition(int orientation, int x, int y, int W, int H) {
  switch (orientation) {
    case 2:
      return {W - 1 - x, y};
    case 3:
      return {W - 1 - x, H - 1 - y};
    case 4:
      return {x, H - 1 - y};
    case 5:
      return {y, x};
    case 6:
      return {H - 1 - y, x};
    case 7:
      return {H - 1 - y, W - 1 - x};
    case 8:
      return {y, W - 1 - x};
    default:
      return {x, y};
  }
}

void ExpectOriented(gdImagePtr result, int orientation, int W, int H) {
  bool const quarter = orientation >= 5 && orientation <= 8;
  ASSERT_EQ(quarter ? H : W, gdImageSX(result));
  ASSERT_EQ(quarter ? W : H, gdImageSY(result));
  int wrong = 0;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      Point const at = UprightPosition(orientation, x, y, W, H);
      int sx = -1, sy = -1;
      if (!CoordinateOf(ColorAt(result, at.x, at.y), &sx, &sy) || sx != x || sy != y) {
        if (++wrong <= 3)
          ADD_FAILURE() << "pixel " << x << "," << y << " not at " << at.x << "," << at.y
                        << " (found " << sx << "," << sy << ")";
      }
    }
  }
  EXPECT_EQ(0, wrong);
}

boost::shared_ptr<gdImageStruct> Shared(ScopedGdImage image) {
  return boost::shared_ptr<gdImageStruct>(image.release(), gdImgDestroyDeleter());
}

ScopedGdImage MarkedPicture(int width, int height) {
  ScopedGdImage image = SolidPicture(width, height, kBlue);
  int const block = std::min(width, height) / 4;
  gdImageFilledRectangle(image.get(), 0, 0, block - 1, block - 1,
                         gdTrueColor(kRed.r, kRed.g, kRed.b));
  gdImageFilledRectangle(image.get(), width - block, 0, width - 1, block - 1,
                         gdTrueColor(kGreen.r, kGreen.g, kGreen.b));
  return image;
}

void WriteDefaultPictures(std::string const& folder) {
  struct {
    char const* name;
    Rgb color;
  } const pictures[] = {{"image.jpg", kImageColor},
                        {"audio.jpg", kAudioColor},
                        {"video.jpg", kVideoColor},
                        {"doc.jpg", kDocColor},
                        {"any_file.jpg", kAnyColor}};
  for (auto const& picture : pictures) {
    WriteFile(folder + "/" + picture.name, Solid(Format::kJpeg, 64, 48, picture.color));
  }
}

void WriteFile(std::string const& path, Bytes const& bytes) {
  if (!WriteBytes(path, bytes)) ADD_FAILURE() << "cannot write " << path;
}

void WriteFile(std::string const& path, std::string const& text) {
  WriteFile(path, Bytes(text.begin(), text.end()));
}

Bytes ReadFile(std::string const& path) {
  if (!Exists(path)) ADD_FAILURE() << "cannot read " << path;
  return ReadBytes(path);
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

Bytes ThumbnailBytes(QLThumbnailData const& data) {
  if (!data.thumbnail || data.thumbnail_size <= 0) return Bytes();
  unsigned char const* bytes = static_cast<unsigned char const*>(data.thumbnail.get());
  return Bytes(bytes, bytes + data.thumbnail_size);
}

ScopedGdImage DecodeThumbnail(QLThumbnailData const& data) {
  if (!data.thumbnail || data.thumbnail_size <= 0) return ScopedGdImage();
  return ScopedGdImage(
      gdImageCreateFromPngPtr(static_cast<int>(data.thumbnail_size), data.thumbnail.get()));
}

bool CentreColour(Bytes const& png, Rgb* color) {
  static unsigned char const kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (png.size() < 8 || !std::equal(kSignature, kSignature + 8, png.begin())) return false;
  ScopedGdImage image(gdImageCreateFromPngPtr(static_cast<int>(png.size()),
                                              const_cast<unsigned char*>(png.data())));
  if (!image) return false;
  *color = ColorAt(image.get(), gdImageSX(image.get()) / 2, gdImageSY(image.get()) / 2);
  return true;
}

void SetThumbnail(QLThumbnailData& data, Bytes const& bytes) {
  boost::shared_ptr<unsigned char> copy(new unsigned char[bytes.size() + 1],
                                        [](unsigned char* p) { delete[] p; });
  std::copy(bytes.begin(), bytes.end(), copy.get());
  data.thumbnail = copy;
  data.thumbnail_size = static_cast<std::int64_t>(bytes.size());
}

void FillRequest(QLThumbnailData& data, std::string const& path, std::string const& cache,
                 std::uint64_t id, std::uint32_t width, std::uint32_t height, bool full_screen) {
  data.path = path;
  data.thumbnail_folder = cache;
  data.resource_id = id;
  data.width = width;
  data.height = height;
  data.full_screen = full_screen;
}

SocketPeer::SocketPeer() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
    ADD_FAILURE() << "socketpair failed";
    return;
  }
  socket_.reset(new QLProcessHelperSocket("thumbnail-test"));
  socket_->set_m_sock(fds[0]);
  peer_ = fds[1];
}

SocketPeer::~SocketPeer() {
  if (peer_ >= 0) close(peer_);
}

bool SocketPeer::Process(QLGDHelper& helper, std::string const& body) {
  boost::shared_ptr<unsigned char> buffer(new unsigned char[body.size() + 1],
                                          arrayDeleter<unsigned char>());
  std::memcpy(buffer.get(), body.data(), body.size());
  return helper.ProcessCommand(buffer, static_cast<unsigned int>(body.size()), socket_);
}

bool SocketPeer::ReadReply(Bytes* payload) {
  unsigned char header[4];
  if (!ReadExactly(header, 4)) return false;
  std::uint32_t const length = (std::uint32_t(header[0]) << 24) | (std::uint32_t(header[1]) << 16) |
                               (std::uint32_t(header[2]) << 8) | header[3];
  if (length > (1u << 26)) return false;
  payload->assign(length, 0);
  return length == 0 || ReadExactly(payload->data(), length);
}

bool SocketPeer::NothingSent() {
  struct pollfd p = {peer_, POLLIN, 0};
  if (poll(&p, 1, 50) == 0) return true;
  char byte;
  return recv(peer_, &byte, 1, MSG_DONTWAIT) == 0;  // closed without data
}

bool SocketPeer::ReadExactly(unsigned char* out, std::size_t size) {
  while (size > 0) {
    struct pollfd p = {peer_, POLLIN, 0};
    if (poll(&p, 1, 2000) <= 0) return false;
    ssize_t const got = recv(peer_, out, size, 0);
    if (got <= 0) return false;
    out += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

ProviderTest::ProviderTest() {
  data_.default_thumbnail_folder = folder_.path();
  data_.thumbnail_folder = folder_.File("cache");
  data_.width = 40;
  data_.height = 30;
}

std::string ProviderTest::Write(std::string const& name, Bytes const& bytes) {
  data_.path = folder_.File(name);
  WriteFile(data_.path, bytes);
  return data_.path;
}

Rgb ProviderTest::ThumbnailCentre() {
  Rgb color = {-1, -1, -1};
  EXPECT_TRUE(CentreColour(ThumbnailBytes(data_), &color)) << "no PNG thumbnail";
  return color;
}

}  // namespace qltest
