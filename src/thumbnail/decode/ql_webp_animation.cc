#include "thumbnail/decode/ql_webp_animation.h"

#include <gd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <vector>

#include "thumbnail/ql_gd_deleters.h"

namespace {

struct DemuxDelete {
  void operator()(WebPDemuxer* demuxer) const { WebPDemuxDelete(demuxer); }
};

struct IteratorRelease {
  WebPIterator* iterator;
  ~IteratorRelease() { WebPDemuxReleaseIterator(iterator); }
};

QLDecodedPicture Fail(std::string* error, char const* why) {
  *error = why;
  return QLDecodedPicture();
}

bool ReadPrefix(int fd, std::vector<std::uint8_t>* bytes, std::string* error) {
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
    *error = "not a readable file";
    return false;
  }
  std::uint64_t const size =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(info.st_size), kQLMaxWebpPrefixBytes);
  try {
    bytes->resize(static_cast<std::size_t>(size));
  } catch (std::bad_alloc const&) {
    *error = "out of memory";
    return false;
  }
  std::size_t have = 0;
  while (have < bytes->size()) {
    ssize_t const got =
        pread(fd, bytes->data() + have, bytes->size() - have, static_cast<off_t>(have));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // shorter now than fstat said: what is there is parsed
    have += static_cast<std::size_t>(got);
  }
  bytes->resize(have);
  return true;
}

}  // namespace

QLDecodedPicture DecodeFirstWebpFrame(int fd, std::uint64_t max_canvas_pixels, std::string* error) {
  std::vector<std::uint8_t> bytes;
  if (!ReadPrefix(fd, &bytes, error)) return QLDecodedPicture();
  WebPData const data = {bytes.data(), bytes.size()};
  WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
  std::unique_ptr<WebPDemuxer, DemuxDelete> demuxer(WebPDemuxPartial(&data, &state));
  if (!demuxer || state < WEBP_DEMUX_PARSED_HEADER) return Fail(error, "no WebP header");
  std::uint32_t const canvas_width = WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH);
  std::uint32_t const canvas_height = WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT);
  if (canvas_width == 0 || canvas_height == 0 || canvas_width > (1u << 24) ||
      canvas_height > (1u << 24) ||
      static_cast<std::uint64_t>(canvas_width) * canvas_height > max_canvas_pixels) {
    return Fail(error, "canvas over the source limit");
  }
  WebPIterator frame;
  if (!WebPDemuxGetFrame(demuxer.get(), 1, &frame)) return Fail(error, "no first frame");
  IteratorRelease const release{&frame};
  if (!frame.complete || frame.width <= 0 || frame.height <= 0 || frame.x_offset < 0 ||
      frame.y_offset < 0 ||
      static_cast<std::uint64_t>(frame.x_offset) + static_cast<std::uint64_t>(frame.width) >
          canvas_width ||
      static_cast<std::uint64_t>(frame.y_offset) + static_cast<std::uint64_t>(frame.height) >
          canvas_height) {
    return Fail(error, "first frame cut short or outside the canvas");
  }
  std::size_t const stride = static_cast<std::size_t>(frame.width) * 4;
  std::vector<std::uint8_t> rgba;
  try {
    rgba.resize(stride * static_cast<std::size_t>(frame.height));
  } catch (std::bad_alloc const&) {
    return Fail(error, "out of memory");
  }
  if (!WebPDecodeRGBAInto(frame.fragment.bytes, frame.fragment.size, rgba.data(), rgba.size(),
                          static_cast<int>(stride))) {
    return Fail(error, "the first frame does not decode");
  }
  QLDecodedPicture decoded;
  decoded.picture.reset(
      gdImageCreateTrueColor(static_cast<int>(canvas_width), static_cast<int>(canvas_height)),
      gdImgDestroyDeleter());
  if (!decoded.picture) return Fail(error, "out of memory");
  gdImagePtr const canvas = decoded.picture.get();
  int const transparent = gdTrueColorAlpha(0, 0, 0, gdAlphaTransparent);
  for (int y = 0; y < gdImageSY(canvas); ++y) {
    std::fill(canvas->tpixels[y], canvas->tpixels[y] + gdImageSX(canvas), transparent);
  }
  for (int y = 0; y < frame.height; ++y) {
    std::uint8_t const* p = rgba.data() + stride * static_cast<std::size_t>(y);
    int* row = canvas->tpixels[frame.y_offset + y] + frame.x_offset;
    for (int x = 0; x < frame.width; ++x, p += 4) {
      row[x] = gdTrueColorAlpha(p[0], p[1], p[2], gdAlphaMax - (p[3] >> 1));
    }
  }
  decoded.original_width = static_cast<int>(canvas_width);
  decoded.original_height = static_cast<int>(canvas_height);
  return decoded;
}
