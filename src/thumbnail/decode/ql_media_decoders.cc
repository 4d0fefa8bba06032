#include "thumbnail/decode/ql_media_decoders.h"

#include <gd.h>

#include <algorithm>

#include "log/ql_log.h"
#include "media/ql_media_decoder_runner.h"
#include "thumbnail/decode/probe/ql_image_header_probe.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_regular_file.h"

namespace {

QLChildLimits LimitsOf(QLMediaDecoderSettings const& settings) {
  QLChildLimits limits;
  limits.wall_clock_ms = settings.timeout_ms;
  limits.address_space_bytes = static_cast<std::uint64_t>(settings.memory_mb) << 20;
  limits.cpu_seconds = MediaDecoderCpuSeconds(settings);
  return limits;
}

// Runs the helper on the file: the still-picture one for "heif" and "avif",
// else the media one. False after one ERROR line.
bool RunOnFile(QLMediaDecodeTarget const& target, QLThumbnailOptions const& options,
               std::string const& program, std::vector<std::string> const& arguments,
               QLMediaAnswerLimits const& limits, QLMediaAnswer* answer) {
  std::string error;
  // Only the helpers built with the daemon are known to have the "wait"
  // mode of helpers started ahead; at most one of each waits per job slot.
  unsigned const ahead = options.media_decoder.program.empty() ? std::max(options.jobs, 1u) : 0;
  if (!RunMediaDecoder(program, arguments, target.fd, LimitsOf(options.media_decoder), limits,
                       answer, &error, ahead)) {
    // A sound file the helper declines to draw is no fault.
    if (answer->kind == QLMediaAnswerKind::kRefused) {
      QL_WARN("Not drawing \"" << target.path << "\": " << error);
    } else {
      QL_ERROR("Media decoder failed for \"" << target.path << "\": " << error);
    }
    return false;
  }
  return true;
}

QLDecodedPicture DecodeJpegBytes(std::vector<std::uint8_t> const& bytes,
                                 QLMediaDecodeTarget const& target, bool shrink_on_load) {
  QLDecodedPicture decoded;
  if (shrink_on_load) {
    QLJpegDecodeStatus const status = DecodeJpegScaled(bytes.data(), bytes.size(), target.width,
                                                       target.height, target.full_screen, &decoded);
    if (status == QLJpegDecodeStatus::kDecoded) return decoded;
    decoded = QLDecodedPicture();
    if (status == QLJpegDecodeStatus::kFailed) return decoded;
  }
  decoded.picture.reset(gdImageCreateFromJpegPtr(static_cast<int>(bytes.size()),
                                                 const_cast<std::uint8_t*>(bytes.data())),
                        gdImgDestroyDeleter());
  if (decoded.picture) {
    decoded.original_width = gdImageSX(decoded.picture.get());
    decoded.original_height = gdImageSY(decoded.picture.get());
  }
  return decoded;
}

}  // namespace

bool DecodeRawPreviewInHelper(QLMediaDecodeTarget const& target, QLThumbnailOptions const& options,
                              QLDecodedPicture* picture, int* orientation) {
  QLMediaAnswerLimits limits;
  limits.max_jpeg_bytes = kQLMaxRawPreviewBytes;
  QLMediaAnswer answer;
  if (!RunOnFile(target, options, MediaDecoderProgram(options.media_decoder),
                 {"raw", std::to_string(options.max_source_pixels)}, limits, &answer)) {
    return false;
  }
  if (answer.kind != QLMediaAnswerKind::kJpegPreview) {
    QL_ERROR("Media decoder failed for \"" << target.path << "\": no preview in its answer");
    return false;
  }
  // The helper checked the size LibRaw reported; the JPEG's own header is
  // what the decoder below allocates for.
  QLImageHeader header;
  std::string const what = "the preview of \"" + target.path + "\"";
  if (!ProbeImageBytes(answer.payload.data(), answer.payload.size(), kQLImageJpeg, &header)) {
    QL_ERROR("Invalid JPEG format for " << what);
    return false;
  }
  if (SourcePictureOverLimit(header, options.max_source_pixels, what)) return false;
  QLDecodedPicture decoded = DecodeJpegBytes(answer.payload, target, options.jpeg_shrink_on_load);
  if (!decoded) {
    QL_ERROR("Invalid JPEG format for " << what);
    return false;
  }
  *picture = decoded;
  *orientation = answer.orientation;
  return true;
}

namespace {

// Runs `program` in `mode` ("video", "heif", "avif"), which answers with
// RGB rows scaled down no further than the thumbnail needs.
bool DecodeRgbInHelper(QLMediaDecodeTarget const& target, QLThumbnailOptions const& options,
                       std::string const& program, char const* mode,
                       std::uint64_t max_original_pixels, QLDecodedPicture* picture,
                       int* orientation) {
  // The frame never needs more pixels than the largest canvas.
  std::uint64_t const max_output =
      std::min(options.max_thumbnail_pixels, options.max_source_pixels);
  QLMediaAnswerLimits limits;
  limits.max_pixels = max_output;
  std::vector<std::string> const arguments = {
      mode, std::to_string(options.max_source_pixels), std::to_string(std::max(target.width, 1)),
      std::to_string(std::max(target.height, 1)), std::to_string(max_output)};
  QLMediaAnswer answer;
  if (!RunOnFile(target, options, program, arguments, limits, &answer)) return false;
  if (answer.kind != QLMediaAnswerKind::kRgbPixels || answer.original_width > (1u << 20) ||
      answer.original_height > (1u << 20) ||
      static_cast<std::uint64_t>(answer.original_width) * answer.original_height >
          max_original_pixels) {
    QL_ERROR("Media decoder failed for \"" << target.path << "\": no usable frame in its answer");
    return false;
  }
  int const width = static_cast<int>(answer.width);
  int const height = static_cast<int>(answer.height);
  boost::shared_ptr<gdImageStruct> image(gdImageCreateTrueColor(width, height),
                                         gdImgDestroyDeleter());
  if (!image) {
    QL_ERROR("Media decoder failed for \"" << target.path << "\": no memory for the frame");
    return false;
  }
  std::uint8_t const* rgb = answer.payload.data();
  for (int y = 0; y < height; ++y) {
    int* row = image->tpixels[y];
    for (int x = 0; x < width; ++x, rgb += 3) row[x] = gdTrueColor(rgb[0], rgb[1], rgb[2]);
  }
  picture->picture = image;
  picture->original_width = static_cast<int>(answer.original_width);
  picture->original_height = static_cast<int>(answer.original_height);
  picture->denominator = 1;
  *orientation = answer.orientation;
  return true;
}

}  // namespace

bool DecodeVideoFrameInHelper(QLMediaDecodeTarget const& target, QLThumbnailOptions const& options,
                              QLDecodedPicture* picture, int* orientation) {
  // Non-square pixels may widen the shown frame beyond the stored one.
  return DecodeRgbInHelper(target, options, MediaDecoderProgram(options.media_decoder), "video",
                           8 * options.max_source_pixels, picture, orientation);
}

bool DecodeStillImageInHelper(QLMediaDecodeTarget const& target, QLThumbnailOptions const& options,
                              char const* format, QLDecodedPicture* picture, int* orientation) {
  return DecodeRgbInHelper(target, options, StillDecoderProgram(options.media_decoder), format,
                           options.max_source_pixels, picture, orientation);
}

bool DecodePdfPageInHelper(QLMediaDecodeTarget const& target, QLThumbnailOptions const& options,
                           QLDecodedPicture* picture) {
  int upright = 1;  // the helper applies the page's /Rotate
  return DecodeRgbInHelper(target, options, DocumentDecoderProgram(options.media_decoder), "pdf",
                           options.max_source_pixels, picture, &upright);
}
