// The camera RAW, video and PDF handlers (only in the
// table with `--formats extended`): the decoders of ql_extended_formats.h,
// then the scale, turn and cache of any decoded file. A failed decode gets
// the default picture the file's type gets with `--formats basic`; a "cr3",
// which no list names, gets the image picture like the other RAW files.
#include "log/ql_log.h"
#include "thumbnail/decode/ql_extended_formats.h"
#include "thumbnail/decode/ql_format_handlers.h"
#include "thumbnail/ql_image_resize.h"
#include "thumbnail/ql_request_files.h"

namespace {

typedef bool (*ExtendedDecoder)(QLExtendedDecodeRequest const&, QLExtendedDecodeResult*);
typedef bool (*Fallback)(QLHandlerContext const&, QLThumbnailData&);

// Like the other file handlers: a failed decode gets `fallback`'s picture, a
// failed resize of a decoded picture is a failed handler.
bool HandleWithDecoder(QLHandlerContext const& context, QLThumbnailData& data,
                       ExtendedDecoder decode, Fallback fallback, char const* timing_text) {
  QLTimer timer;
  QLRegularFile source = context.files.Source();
  if (!source.is_open()) {
    if (!source.reported()) {
      QL_ERROR("Unable to open file \"" << data.path << "\" in order to generate its thumbnail.");
    }
    return fallback(context, data);
  }
  QLExtendedDecodeRequest request;
  request.path = data.path;
  request.fd = source.fd();
  request.width = static_cast<int>(data.width);
  request.height = static_cast<int>(data.height);
  request.full_screen = data.full_screen;
  request.options = &context.options;
  QLExtendedDecodeResult result;
  if (!decode(request, &result) || !result.picture) return fallback(context, data);
  QL_DEBUG(timing_text << timer.get_duration());
  return ResizeImage(context.options, result.picture.picture, data, result.orientation,
                     result.picture.original_width, result.picture.original_height);
}

}  // namespace

bool HandleImgCameraRaw(QLHandlerContext const& context, QLThumbnailData& data) {
  return HandleWithDecoder(context, data, DecodeCameraRawPreview, HandleImgGeneric,
                           "HandleImgCameraRaw: decode took: ");
}

bool HandleVideoFrame(QLHandlerContext const& context, QLThumbnailData& data) {
  return HandleWithDecoder(context, data, DecodeVideoFrame, HandleVideoGeneric,
                           "HandleVideoFrame: decode took: ");
}

bool HandleDocPdf(QLHandlerContext const& context, QLThumbnailData& data) {
  return HandleWithDecoder(context, data, DecodePdfFirstPage, HandleDoc,
                           "HandleDocPdf: decode took: ");
}
