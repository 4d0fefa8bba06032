// Camera RAW previews, video frames, PDF pages and HEIF, AVIF and JPEG XL
// pictures for the thumbnail provider, decoded by a decoder helper in a child
// process (media/ql_media_decoder_runner.h) so that LibRaw, FFmpeg, poppler,
// libheif, libavif and libjxl never run inside the daemon.
//
// RAW: the helper hands back the embedded JPEG preview and LibRaw's turn;
// the preview's JPEG header is checked against the source-pixel limit, then
// it is decoded by the daemon's JPEG path (shrink-on-load when the options
// ask for it). Video: the helper hands back one frame as RGB, already scaled
// down as far as the requested thumbnail allows, with its display rotation.
// HEIF and AVIF: likewise the stored picture, not turned; the caller has
// read its irot and imir with the header probe and checked its size.
//
// Contract: stateless; called on a request's worker thread, several at
// once with --jobs. `options` are the provider's (read-only while it
// serves). A false result has logged exactly one ERROR line (the file
// cannot be opened or is not a regular file, the helper failed, or the
// preview is over the limit or undecodable) and leaves `*picture` empty;
// the caller falls back to the type's default picture. On true `*picture`
// owns the decoded picture with its original (displayed) size and
// `*orientation` is the EXIF turn still to apply.
#ifndef QUORLIN_THUMBNAIL_DECODE_QL_MEDIA_DECODERS_H_
#define QUORLIN_THUMBNAIL_DECODE_QL_MEDIA_DECODERS_H_

#include <string>

#include "thumbnail/decode/ql_jpeg_scaled_decoder.h"
#include "thumbnail/ql_thumbnail_options.h"

// What is decoded and for which thumbnail.
struct QLMediaDecodeTarget {
  std::string path;  // for the log lines
  int fd = -1;       // the file, open for reading; the caller keeps it open
  int width = 0;     // the requested thumbnail
  int height = 0;
  bool full_screen = false;
};

bool DecodeRawPreviewInHelper(QLMediaDecodeTarget const& target, QLThumbnailOptions const& options,
                              QLDecodedPicture* picture, int* orientation);

bool DecodeVideoFrameInHelper(QLMediaDecodeTarget const& target, QLThumbnailOptions const& options,
                              QLDecodedPicture* picture, int* orientation);

// `format`: "heif", "avif" or "jxl". `*orientation`: 1 for HEIF and AVIF
// (the caller turns them by its header probe), the file's for JPEG XL.
bool DecodeStillImageInHelper(QLMediaDecodeTarget const& target, QLThumbnailOptions const& options,
                              char const* format, QLDecodedPicture* picture, int* orientation);

// The first page of a PDF, upright, drawn just large enough for the
// thumbnail. A locked document, one without pages or a page over the
// source limit at that size logs one WARN line instead of the ERROR line.
bool DecodePdfPageInHelper(QLMediaDecodeTarget const& target, QLThumbnailOptions const& options,
                           QLDecodedPicture* picture);

#endif  // QUORLIN_THUMBNAIL_DECODE_QL_MEDIA_DECODERS_H_
