// The format handlers: each turns the request's file (or, for the default
// picture handlers, one fixed picture) into the record's thumbnail and
// returns true when the record holds one. The dispatcher of
// QLThumbnailProvider picks one by extension; the provider's members of the
// same names call these with the context of the request.
//
// A handler sees only its context: the options (read-only, set before
// serving), the request's files (opened inside the path confinement, owned
// by the record and closed by the provider after the handler returns) and
// the record itself. It keeps no reference to either after it returns and
// shares no state with other handlers, so several may run at once on the
// worker threads, one per request. A failed decode falls back to the
// default picture of the file's kind; only the default picture handlers
// never leave save_to_cache set.
#ifndef QUORLIN_THUMBNAIL_DECODE_QL_FORMAT_HANDLERS_H_
#define QUORLIN_THUMBNAIL_DECODE_QL_FORMAT_HANDLERS_H_

#include "thumbnail/ql_request_files.h"
#include "thumbnail/ql_thumbnail_data.h"
#include "thumbnail/ql_thumbnail_options.h"

// Default pictures, looked up inside the request's default_thumbnail_folder.
extern char const* const kThumbFileDefaultImage;  // "image.jpg"
extern char const* const kThumbFileDefaultAudio;  // "audio.jpg"
extern char const* const kThumbFileDefaultVideo;  // "video.jpg"
extern char const* const kThumbFileDefaultDoc;    // "doc.jpg"
extern char const* const kThumbFileDefaultAny;    // "any_file.jpg"

// What a handler may use of the request it serves.
struct QLHandlerContext {
  QLThumbnailOptions const& options;
  QLRequestFiles& files;
};

// Files decoded in the daemon (ql_image_handlers.cc).
bool HandleImgJpg(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleImgPng(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleImgGif(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleImgBmp(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleImgWBMP(QLHandlerContext const& context, QLThumbnailData& data);
// With --formats extended only: WebP and TIFF in the daemon, HEIF, AVIF
// and JPEG XL in the still-picture helper.
bool HandleImgHeif(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleImgAvif(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleImgJxl(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleImgWebp(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleImgTiff(QLHandlerContext const& context, QLThumbnailData& data);
// The cover picture of an MP3's ID3v2 tag (ql_mp3_handler.cc).
bool HandleAudioMp3(QLHandlerContext const& context, QLThumbnailData& data);
// With --formats extended only: decoded in the media helper
// (ql_extended_media_handlers.cc).
bool HandleImgCameraRaw(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleVideoFrame(QLHandlerContext const& context, QLThumbnailData& data);
// The first page of a PDF, in the document helper; falls back to the
// document picture.
bool HandleDocPdf(QLHandlerContext const& context, QLThumbnailData& data);
// Default pictures (ql_default_picture_handlers.cc).
bool HandleImgGeneric(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleAudioGeneric(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleVideoGeneric(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleDoc(QLHandlerContext const& context, QLThumbnailData& data);
bool HandleUnknown(QLHandlerContext const& context, QLThumbnailData& data);

#endif  // QUORLIN_THUMBNAIL_DECODE_QL_FORMAT_HANDLERS_H_
