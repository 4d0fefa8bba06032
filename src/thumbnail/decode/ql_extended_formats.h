// The decoders behind `--formats extended` for camera RAW files, videos and
// PDFs, as the thumbnail provider calls them.
//
// The provider sends every file whose extension is in kCameraRawExtensions
// (ql_thumbnail_extensions.h),
// and every file whose extension gets the video default picture, to
// DecodeCameraRawPreview or DecodeVideoFrame. A false result makes the
// provider fall back exactly as with `--formats basic` (the image or video
// default picture); a true result is scaled with the picture's original size
// (shrink-on-load geometry), turned by `orientation` and cached like any
// decoded file.
//
// Contract for an implementation:
// - called on the worker thread of one request, inside its job slot (or
//   under the provider lock); several calls may run at once with --jobs, so
//   an implementation keeps no unguarded shared state;
// - `request.fd` is a regular file opened inside the path confinement with
//   the caller's rights, but nothing else is known: it may be hostile, huge
//   or never-ending; the source-pixel limit
//   (request.options->max_source_pixels) is checked against the size the
//   file declares before anything of that size is allocated;
// - returns within a bounded time, logs its own ERROR (or WARN) line on a failure,
//   never throws;
// - on success fills `result->picture` (owned by its shared_ptr with
//   gdImgDestroyDeleter) and its original size, and sets `result->orientation`
//   to the EXIF-style turn still to apply (1 when the picture is upright).
#ifndef QUORLIN_THUMBNAIL_DECODE_QL_EXTENDED_FORMATS_H_
#define QUORLIN_THUMBNAIL_DECODE_QL_EXTENDED_FORMATS_H_

#include <string>

#include "thumbnail/decode/ql_jpeg_scaled_decoder.h"
#include "thumbnail/ql_thumbnail_extensions.h"
#include "thumbnail/ql_thumbnail_options.h"

struct QLExtendedDecodeRequest {
  std::string path;  // for the log lines
  int fd = -1;       // the file, open for reading and checked to be regular
  int width = 0;     // the requested thumbnail, for a reduced decode
  int height = 0;
  bool full_screen = false;
  QLThumbnailOptions const* options = nullptr;  // never null; outlives the call
};

struct QLExtendedDecodeResult {
  QLDecodedPicture picture;  // original_width/height: the size stored in the file
  int orientation = 1;       // EXIF orientation (2..8) still to apply; 1: upright
};

// The embedded preview of a camera RAW file. False when it has none or it
// cannot be decoded.
bool DecodeCameraRawPreview(QLExtendedDecodeRequest const& request, QLExtendedDecodeResult* result);

// One representative frame of a video. False when none can be decoded.
bool DecodeVideoFrame(QLExtendedDecodeRequest const& request, QLExtendedDecodeResult* result);

// The first page of a PDF, upright, drawn at the size the thumbnail needs.
// False when it cannot be drawn (a locked or empty document, or a page too
// large at that size, with a WARN line instead of the ERROR line).
bool DecodePdfFirstPage(QLExtendedDecodeRequest const& request, QLExtendedDecodeResult* result);

#endif  // QUORLIN_THUMBNAIL_DECODE_QL_EXTENDED_FORMATS_H_
