// The file handlers: JPEG, PNG, GIF, BMP and WBMP
// files decoded straight from an open handle, by libgd or, for JPEG when the
// options ask for it, by the shrink-on-load decoder or from the EXIF
// preview; WebP and TIFF by libgd (an animated WebP's first frame by
// libwebp's demuxer); HEIF, AVIF and JPEG XL by the still-picture helper in
// a child process (ql_media_decoders.h). The size in the file's header is
// checked against the source limit before any decoder runs. Only regular
// files are read (ql_regular_file.h).
#include <gd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "log/ql_log.h"
#include "thumbnail/color/ql_picture_color.h"
#include "thumbnail/decode/probe/ql_image_header_probe.h"
#include "thumbnail/decode/ql_cmyk_jpeg_decoder.h"
#include "thumbnail/decode/ql_embedded_preview.h"
#include "thumbnail/decode/ql_exif_orientation.h"
#include "thumbnail/decode/ql_format_handlers.h"
#include "thumbnail/decode/ql_jpeg_scaled_decoder.h"
#include "thumbnail/decode/ql_media_decoders.h"
#include "thumbnail/decode/ql_webp_animation.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_image_resize.h"
#include "thumbnail/ql_regular_file.h"
#include "thumbnail/ql_request_files.h"

namespace {

// How the file handlers differ from one another besides their decoder.
enum FileHandlerTrait : unsigned {
  kReadsExif = 1u << 0,
  kTimerCoversOpen = 1u << 1,  // the timer also measures opening and the EXIF read
  kJpegRetry = 1u << 2,        // try the JPEG decoder when `decode` finds nothing
  // The decoder is run only on a header the probe recognised, and the turn
  // is the orientation the probe read from it (TIFF's tag, WebP's EXIF).
  // For the formats whose decoders come with the extended set: their size
  // cannot be checked otherwise.
  kNeedsHeader = 1u << 3,
  // Decoded by the still-picture helper instead of `decode`: libheif,
  // libavif and libdav1d have long histories of faults on hostile files,
  // libavif aborts when an allocation fails and libdav1d 1.0.0 leaks on
  // some streams; in the child each costs one default picture.
  kInHelper = 1u << 4,
};

// The file handlers share one shape and differ in these points only.
struct FileHandlerShape {
  char const* timing_text;              // null: no timer and no timing line
  char const* format_name;              // "JPEG" in "Invalid JPEG format for "
  gdImagePtr (*decode)(FILE*);          // null: the JPEG decoder, shrinking on load if asked
  unsigned header_formats;              // whose headers the decoders below would read
  unsigned traits;                      // FileHandlerTrait bits
  char const* helper_format = nullptr;  // kInHelper: the still-picture helper's mode

  bool Has(FileHandlerTrait trait) const { return (traits & trait) != 0; }
};

// Where the profile of a file with this probed header is kept.
QLProfileContainer ProfileContainerOf(unsigned format) {
  switch (format) {
    case kQLImageJpeg:
      return QLProfileContainer::kJpeg;
    case kQLImagePng:
      return QLProfileContainer::kPng;
    case kQLImageWebp:
      return QLProfileContainer::kWebp;
    case kQLImageTiff:
      return QLProfileContainer::kTiff;
    case kQLImageHeif:
    case kQLImageAvif:
      return QLProfileContainer::kHeif;
    default:
      return QLProfileContainer::kNone;
  }
}

QLDecodedPicture DecodeWithLibgd(gdImagePtr (*decode)(FILE*), FILE* file) {
  QLDecodedPicture decoded;
  decoded.picture.reset(decode(file), gdImgDestroyDeleter());
  if (decoded.picture) {
    decoded.original_width = gdImageSX(decoded.picture.get());
    decoded.original_height = gdImageSY(decoded.picture.get());
  }
  return decoded;
}

bool HandleFile(QLHandlerContext const& context, QLThumbnailData& data,
                FileHandlerShape const& shape) {
  QLTimer timer;
  QLRegularFile source = context.files.Source();
  QLUniqueFile file = OpenRegularFileStream(source);
  if (!file) {
    // A special file or a refused path has had its own ERROR line.
    if (!source.reported()) {
      QL_ERROR("Unable to open file \"" << data.path << "\" in order to generate its thumbnail.");
    }
    return HandleImgGeneric(context, data);
  }
  // The size the header claims is checked before a decoder can allocate for
  // it; a file over the limit is treated like one that does not decode.
  QLImageHeader header;
  bool const probed = ProbeImageFile(file.get(), shape.header_formats, &header);
  if (probed &&
      SourcePictureOverLimit(header, context.options.max_source_pixels, "\"" + data.path + "\"")) {
    return HandleImgGeneric(context, data);
  }
  if (shape.Has(kNeedsHeader) && !probed) {
    QL_ERROR("Invalid " << shape.format_name << " format for \"" << data.path
                        << "\": no picture size in its header; it is not decoded.");
    return HandleImgGeneric(context, data);
  }
  // The EXIF preview is looked at only for a file whose header says JPEG,
  // so the photo's size it is checked against is known.
  std::string preview;
  bool const previews = context.options.embedded_previews && shape.decode == nullptr &&
                        !shape.Has(kInHelper) && probed && header.format == kQLImageJpeg;
  int orientation = shape.Has(kReadsExif)
                        ? ReadExifOrientation(fileno(file.get()), previews ? &preview : nullptr)
                        : 1;
  if (shape.Has(kNeedsHeader)) orientation = header.orientation;
  if (!shape.Has(kTimerCoversOpen)) timer.reset();

  int const width = static_cast<int>(data.width);
  int const height = static_cast<int>(data.height);
  bool const shrink = context.options.jpeg_shrink_on_load;
  // The EXIF preview is taken as in the photo's colour space: cameras
  // write both from the same processing.
  QLPictureColor color;
  if (context.options.color_management && probed) {
    color = FindPictureColor(fileno(file.get()), ProfileContainerOf(header.format), data.path);
  }
  QLDecodedPicture picture;
  if (!preview.empty()) {
    picture =
        DecodeEmbeddedPreview(preview, static_cast<int>(header.width),
                              static_cast<int>(header.height), width, height, data.full_screen);
  }
  if (!picture && !color.cmyk_profile.empty()) {
    // Without a usable profile the JPEG is decoded as it would be without one.
    picture = DecodeCmykJpeg(file.get(), color.cmyk_profile, data.path, width, height,
                             data.full_screen, shrink);
  }
  // Without a usable preview, the file itself is decoded.
  if (!picture && shape.Has(kInHelper)) {
    QLMediaDecodeTarget target;
    target.path = data.path;
    target.fd = fileno(file.get());
    target.width = width;
    target.height = height;
    target.full_screen = data.full_screen;
    // A failure has had its ERROR line.
    int turn = 1;
    if (!DecodeStillImageInHelper(target, context.options, shape.helper_format, &picture, &turn)) {
      return HandleImgGeneric(context, data);
    }
    if (turn != 1) orientation = turn;  // the helper read it (JPEG XL)
  } else if (!picture && probed && header.animated) {
    std::string why;
    picture = DecodeFirstWebpFrame(fileno(file.get()), context.options.max_source_pixels, &why);
    if (!picture) {
      QL_ERROR("Invalid " << shape.format_name << " animation in \"" << data.path << "\": " << why);
      return HandleImgGeneric(context, data);
    }
  } else if (!picture && shape.decode) {
    picture = DecodeWithLibgd(shape.decode, file.get());
  } else if (!picture) {
    picture = DecodeJpegForThumbnail(file.get(), width, height, data.full_screen, shrink);
  }
  if (!picture && shape.Has(kJpegRetry) && fseek(file.get(), 0, SEEK_SET) == 0) {
    // Some files named .png hold JPEG data; they still get their thumbnail.
    picture = DecodeJpegForThumbnail(file.get(), width, height, data.full_screen, shrink);
  }
  file.reset();
  if (shape.timing_text) QL_DEBUG(shape.timing_text << timer.get_duration());

  if (picture) {
    return ResizeImage(context.options, picture.picture, data, orientation, picture.original_width,
                       picture.original_height, color.canvas.get());
  }
  QL_ERROR("Invalid " << shape.format_name << " format for \"" << data.path << "\"");
  return HandleImgGeneric(context, data);
}

}  // namespace

bool HandleImgJpg(QLHandlerContext const& context, QLThumbnailData& data) {
  static FileHandlerShape const kShape = {"HandleImgJpg: open file took: ", "JPEG", nullptr,
                                          kQLImageJpeg, kReadsExif};
  return HandleFile(context, data, kShape);
}

bool HandleImgPng(QLHandlerContext const& context, QLThumbnailData& data) {
  static FileHandlerShape const kShape = {"HandleImgPng: open file took: ", "PNG",
                                          gdImageCreateFromPng, kQLImagePng | kQLImageJpeg,
                                          kReadsExif | kTimerCoversOpen | kJpegRetry};
  return HandleFile(context, data, kShape);
}

bool HandleImgGif(QLHandlerContext const& context, QLThumbnailData& data) {
  static FileHandlerShape const kShape = {"HandleImgGif: open file took: ", "GIF",
                                          gdImageCreateFromGif, kQLImageGif, 0};
  return HandleFile(context, data, kShape);
}

bool HandleImgBmp(QLHandlerContext const& context, QLThumbnailData& data) {
  static FileHandlerShape const kShape = {"HandleImgBmp: open file took: ", "BMP",
                                          gdImageCreateFromBmp, kQLImageBmp, 0};
  return HandleFile(context, data, kShape);
}

bool HandleImgWBMP(QLHandlerContext const& context, QLThumbnailData& data) {
  static FileHandlerShape const kShape = {nullptr, "WBMP", gdImageCreateFromWBMP, kQLImageWbmp, 0};
  return HandleFile(context, data, kShape);
}

// libgd decodes TIFF without its orientation tag (beyond mirroring) and WebP
// without its EXIF block, the helper HEIF and AVIF without their rotation
// and mirroring; each probe reads the turn the file asks for
// (ql_image_header_probe.h), which ResizeImage applies. WebP and TIFF stay
// in the daemon: libgd's readers of them are small and old, and the child
// would add its start-up to a decode of a few milliseconds.
bool HandleImgHeif(QLHandlerContext const& context, QLThumbnailData& data) {
  static FileHandlerShape const kShape = {
      "HandleImgHeif: open file took: ", "HEIF", nullptr, kQLImageHeif,
      kNeedsHeader | kInHelper,          "heif"};
  return HandleFile(context, data, kShape);
}

bool HandleImgAvif(QLHandlerContext const& context, QLThumbnailData& data) {
  static FileHandlerShape const kShape = {
      "HandleImgAvif: open file took: ", "AVIF", nullptr, kQLImageAvif,
      kNeedsHeader | kInHelper,          "avif"};
  return HandleFile(context, data, kShape);
}

// JPEG XL: no header probe of its own; the helper checks the codestream's
// size before it allocates, and reads the orientation.
bool HandleImgJxl(QLHandlerContext const& context, QLThumbnailData& data) {
  static FileHandlerShape const kShape = {
      "HandleImgJxl: open file took: ", "JPEG XL", nullptr, 0, kInHelper, "jxl"};
  return HandleFile(context, data, kShape);
}

// An animated WebP (the probe reads the flag) gets its first frame through
// libwebp's demuxer; a still one libgd's reader.
bool HandleImgWebp(QLHandlerContext const& context, QLThumbnailData& data) {
  static FileHandlerShape const kShape = {"HandleImgWebp: open file took: ", "WebP",
                                          gdImageCreateFromWebp, kQLImageWebp, kNeedsHeader};
  return HandleFile(context, data, kShape);
}

bool HandleImgTiff(QLHandlerContext const& context, QLThumbnailData& data) {
  static FileHandlerShape const kShape = {"HandleImgTiff: open file took: ", "TIFF",
                                          gdImageCreateFromTiff, kQLImageTiff, kNeedsHeader};
  return HandleFile(context, data, kShape);
}
