// The camera RAW and video handlers of QLThumbnailProvider (only in the
// table with `--formats extended`): the decoders of ql_extended_formats.h,
// then the scale, turn and cache of any decoded file. A failed decode gets
// the default picture the file's type gets with `--formats basic`; a "cr3",
// which no list names, gets the image picture like the other RAW files.
#include "log/ql_log.h"
#include "thumbnail/decode/ql_extended_formats.h"
#include "thumbnail/ql_request_files.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

typedef bool (*ExtendedDecoder)(QLExtendedDecodeRequest const&, QLExtendedDecodeResult*);
typedef bool (QLThumbnailProvider::*Fallback)(QLThumbnailData&);

// Like the other file handlers: a failed decode gets `fallback`'s picture, a
// failed resize of a decoded picture is a failed handler.
bool HandleWithDecoder(QLThumbnailProvider& provider, QLThumbnailData& data, ExtendedDecoder decode,
                       Fallback fallback, char const* timing_text) {
  QLTimer timer;
  QLRegularFile source = provider.FilesOf(data).Source();
  if (!source.is_open()) {
    if (!source.reported()) {
      QL_ERROR("Unable to open file \"" << data.path << "\" in order to generate its thumbnail.");
    }
    return (provider.*fallback)(data);
  }
  QLExtendedDecodeRequest request;
  request.path = data.path;
  request.fd = source.fd();
  request.width = static_cast<int>(data.width);
  request.height = static_cast<int>(data.height);
  request.full_screen = data.full_screen;
  request.options = &provider.options();
  QLExtendedDecodeResult result;
  if (!decode(request, &result) || !result.picture) return (provider.*fallback)(data);
  QL_DEBUG(timing_text << timer.get_duration());
  return provider.ResizeImage(result.picture.picture, data, result.orientation,
                              result.picture.original_width, result.picture.original_height);
}

}  // namespace

bool QLThumbnailProvider::HandleImgCameraRaw(QLThumbnailData& data) {
  return HandleWithDecoder(*this, data, DecodeCameraRawPreview,
                           &QLThumbnailProvider::HandleImgGeneric,
                           "HandleImgCameraRaw: decode took: ");
}

bool QLThumbnailProvider::HandleVideoFrame(QLThumbnailData& data) {
  return HandleWithDecoder(*this, data, DecodeVideoFrame, &QLThumbnailProvider::HandleVideoGeneric,
                           "HandleVideoFrame: decode took: ");
}
