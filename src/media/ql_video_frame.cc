#include "media/ql_video_frame.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>

namespace {

// A frame that has not turned up after this many packets of its stream is
// not going to: the last frame decoded is taken instead. One GOP of common
// cameras is far shorter; the helper's time limit bounds the rest.
constexpr int kMaxPackets = 3000;
constexpr int kReadBufferSize = 64 * 1024;

struct FormatCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerFreer {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};
// The custom reader and its buffer (which libavformat may have replaced).
struct IoFreer {
  void operator()(AVIOContext* io) const {
    if (io) av_freep(&io->buffer);
    avio_context_free(&io);
  }
};

// Reads the descriptor by offset, so the decoder sees exactly the file it
// was given.
struct FdReader {
  int fd;
  std::int64_t size;
  std::int64_t offset;
};

int ReadPacket(void* opaque, std::uint8_t* buffer, int size) {
  FdReader* reader = static_cast<FdReader*>(opaque);
  ssize_t got;
  do {
    got = pread(reader->fd, buffer, static_cast<std::size_t>(size), reader->offset);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return AVERROR(errno);
  if (got == 0) return AVERROR_EOF;
  reader->offset += got;
  return static_cast<int>(got);
}

std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
  FdReader* reader = static_cast<FdReader*>(opaque);
  std::int64_t base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
      return reader->size;
    case SEEK_SET:
      break;
    case SEEK_CUR:
      base = reader->offset;
      break;
    case SEEK_END:
      base = reader->size;
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (offset > INT64_MAX - base || base + offset < 0) return AVERROR(EINVAL);
  reader->offset = base + offset;
  return reader->offset;
}

// Playlists, concatenation lists and reference files name other files or
// URLs; the helper reads the one file it was handed and nothing else.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, char const*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

bool Fail(std::string* error, std::string why) {
  *error = std::move(why);
  return false;
}

std::string AvError(char const* what, int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof text);
  return std::string(what) + ": " + text;
}

std::string SizeText(std::int64_t width, std::int64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

bool OverLimit(std::int64_t width, std::int64_t height, std::uint64_t limit) {
  return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > limit;
}

// The presentation time, in stream time base, of 10% into the video, or
// AV_NOPTS_VALUE when the first frame is wanted.
std::int64_t TargetTimestamp(AVFormatContext const* format, AVStream const* stream) {
  std::int64_t duration_us = format->duration;
  if (duration_us == AV_NOPTS_VALUE && stream->duration != AV_NOPTS_VALUE) {
    duration_us = av_rescale_q(stream->duration, stream->time_base, AV_TIME_BASE_Q);
  }
  if (duration_us == AV_NOPTS_VALUE || duration_us < AV_TIME_BASE) return AV_NOPTS_VALUE;
  std::int64_t const start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
  return start + av_rescale_q(duration_us / 10, AV_TIME_BASE_Q, stream->time_base);
}

}  // namespace

int RotationToOrientation(double counter_clockwise_degrees) {
  if (std::isnan(counter_clockwise_degrees)) return 1;
  long const quarter = std::lround(counter_clockwise_degrees / 90.0);
  switch (((quarter % 4) + 4) % 4) {
    case 1:  // shown a quarter turn counter-clockwise
      return 8;
    case 2:
      return 3;
    case 3:  // shown a quarter turn clockwise
      return 6;
    default:
      return 1;
  }
}

namespace {

// Converts `frame` (shown as display_width x display_height) into the answer.
bool FrameToAnswer(AVFrame const* frame, std::uint32_t display_width, std::uint32_t display_height,
                   int orientation, QLFrameRequest const& request, QLMediaAnswer* answer,
                   std::string* error) {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  ChooseVideoOutputSize(display_width, display_height, request, &width, &height);
  std::unique_ptr<SwsContext, ScalerFreer> scaler(
      sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                     static_cast<int>(width), static_cast<int>(height), AV_PIX_FMT_RGB24, SWS_AREA,
                     nullptr, nullptr, nullptr));
  if (!scaler) return Fail(error, "unsupported pixel format");
  // swscale may write past the row's end with its vector code: it gets
  // padded rows of its own, copied out packed.
  std::uint8_t* planes[4] = {nullptr};
  int strides[4] = {0};
  int const size = av_image_alloc(planes, strides, static_cast<int>(width),
                                  static_cast<int>(height), AV_PIX_FMT_RGB24, 64);
  if (size < 0) return Fail(error, AvError("cannot allocate the frame", size));
  std::unique_ptr<std::uint8_t, void (*)(std::uint8_t*)> owned(planes[0],
                                                               [](std::uint8_t* p) { av_free(p); });
  int const rows =
      sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
  if (rows != static_cast<int>(height)) return Fail(error, "scaling failed");
  answer->kind = QLMediaAnswerKind::kRgbPixels;
  answer->orientation = orientation;
  answer->width = width;
  answer->height = height;
  answer->original_width = display_width;
  answer->original_height = display_height;
  std::size_t const row_bytes = static_cast<std::size_t>(width) * 3;
  answer->payload.resize(row_bytes * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    std::copy_n(planes[0] + static_cast<std::size_t>(y) * strides[0], row_bytes,
                answer->payload.data() + y * row_bytes);
  }
  return true;
}

}  // namespace

bool ExtractVideoFrame(int fd, QLFrameRequest const& request, QLMediaAnswer* answer,
                       std::string* error) {
  av_log_set_level(AV_LOG_QUIET);
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return Fail(error, "not a regular file");
  FdReader reader = {fd, info.st_size, 0};

  std::uint8_t* buffer = static_cast<std::uint8_t*>(av_malloc(kReadBufferSize));
  if (!buffer) return Fail(error, "out of memory");
  std::unique_ptr<AVIOContext, IoFreer> io(
      avio_alloc_context(buffer, kReadBufferSize, 0, &reader, ReadPacket, nullptr, Seek));
  if (!io) {
    av_free(buffer);
    return Fail(error, "out of memory");
  }
  AVFormatContext* opening = avformat_alloc_context();
  if (!opening) return Fail(error, "out of memory");
  opening->pb = io.get();
  opening->flags |= AVFMT_FLAG_CUSTOM_IO;
  opening->io_open = RefuseNestedOpen;
  // Demuxers that open their nested files themselves (concat) copy this
  // list; no protocol is on it.
  opening->protocol_whitelist = av_strdup("none");
  if (!opening->protocol_whitelist) {
    avformat_free_context(opening);
    return Fail(error, "out of memory");
  }
  int status = avformat_open_input(&opening, nullptr, nullptr, nullptr);
  if (status < 0) return Fail(error, AvError("not a video", status));  // frees `opening`
  std::unique_ptr<AVFormatContext, FormatCloser> format(opening);
  status = avformat_find_stream_info(format.get(), nullptr);
  if (status < 0) return Fail(error, AvError("no stream information", status));

  AVCodec const* codec = nullptr;
  int const index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (index < 0 || !codec) return Fail(error, AvError("no decodable video stream", index));
  AVStream* stream = format->streams[index];
  AVCodecParameters const* parameters = stream->codecpar;
  if (parameters->width <= 0 || parameters->height <= 0) return Fail(error, "no frame size");
  if (OverLimit(parameters->width, parameters->height, request.max_source_pixels)) {
    return Fail(error, "frame of " + SizeText(parameters->width, parameters->height) +
                           " pixels is over the source limit");
  }
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (static_cast<int>(i) != index) format->streams[i]->discard = AVDISCARD_ALL;
  }

  std::unique_ptr<AVCodecContext, CodecFreer> decoder(avcodec_alloc_context3(codec));
  if (!decoder) return Fail(error, "out of memory");
  status = avcodec_parameters_to_context(decoder.get(), parameters);
  if (status < 0) return Fail(error, AvError("bad codec parameters", status));
  // One thread: the helper's CPU limit is per process, and one frame is
  // all it decodes.
  decoder->thread_count = 1;
  status = avcodec_open2(decoder.get(), codec, nullptr);
  if (status < 0) return Fail(error, AvError("cannot open the decoder", status));

  std::int64_t const target = TargetTimestamp(format.get(), stream);
  if (target != AV_NOPTS_VALUE &&
      av_seek_frame(format.get(), index, target, AVSEEK_FLAG_BACKWARD) >= 0) {
    avcodec_flush_buffers(decoder.get());
  }

  std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
  std::unique_ptr<AVFrame, FrameFreer> chosen(av_frame_alloc());
  if (!packet || !frame || !chosen) return Fail(error, "out of memory");
  bool have_frame = false;
  bool done = false;
  bool flushing = false;
  int packets = 0;
  while (!done) {
    if (!flushing) {
      status = av_read_frame(format.get(), packet.get());
      if (status < 0 || ++packets > kMaxPackets) {
        flushing = true;
        avcodec_send_packet(decoder.get(), nullptr);
      } else {
        bool const ours = packet->stream_index == index;
        if (ours) status = avcodec_send_packet(decoder.get(), packet.get());
        av_packet_unref(packet.get());
        // A damaged packet is skipped; the next one may decode.
        if (!ours) continue;
      }
    }
    for (;;) {
      status = avcodec_receive_frame(decoder.get(), frame.get());
      if (status == AVERROR(EAGAIN) && !flushing) break;
      if (status < 0) {
        done = flushing;
        break;
      }
      if (OverLimit(frame->width, frame->height, request.max_source_pixels)) {
        return Fail(error, "decoded frame of " + SizeText(frame->width, frame->height) +
                               " pixels is over the source limit");
      }
      av_frame_unref(chosen.get());
      av_frame_move_ref(chosen.get(), frame.get());
      have_frame = true;
      std::int64_t const time = chosen->best_effort_timestamp;
      if (target == AV_NOPTS_VALUE || time == AV_NOPTS_VALUE || time >= target) {
        done = true;
        break;
      }
    }
  }
  if (!have_frame) return Fail(error, "no frame could be decoded");

  // Non-square pixels are shown stretched to their display aspect.
  std::uint32_t display_width = static_cast<std::uint32_t>(chosen->width);
  std::uint32_t const display_height = static_cast<std::uint32_t>(chosen->height);
  AVRational const aspect = av_guess_sample_aspect_ratio(format.get(), stream, chosen.get());
  if (aspect.num > 0 && aspect.den > 0) {
    double const shown = static_cast<double>(display_width) * aspect.num / aspect.den;
    if (shown >= 1.0 && shown <= 8.0 * display_width && shown <= 65535.0 * 4) {
      display_width = static_cast<std::uint32_t>(std::lround(shown));
    }
  }
  int orientation = 1;
  std::size_t matrix_size = 0;
  std::uint8_t const* matrix =
      av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &matrix_size);
  if (matrix && matrix_size >= 9 * sizeof(std::int32_t)) {
    orientation = RotationToOrientation(
        av_display_rotation_get(reinterpret_cast<std::int32_t const*>(matrix)));
  }
  return FrameToAnswer(chosen.get(), display_width, display_height, orientation, request, answer,
                       error);
}
