// Camera RAW previews, video frames and PDF pages are decoded by a decoder
// helper in a child process with limits (ql_media_decoders.h); these are
// the provider's entries to it.
#include "thumbnail/decode/ql_extended_formats.h"

#include "thumbnail/decode/ql_media_decoders.h"

namespace {

QLMediaDecodeTarget TargetOf(QLExtendedDecodeRequest const& request) {
  QLMediaDecodeTarget target;
  target.path = request.path;
  target.fd = request.fd;
  target.width = request.width;
  target.height = request.height;
  target.full_screen = request.full_screen;
  return target;
}

}  // namespace

bool DecodeCameraRawPreview(QLExtendedDecodeRequest const& request,
                            QLExtendedDecodeResult* result) {
  return DecodeRawPreviewInHelper(TargetOf(request), *request.options, &result->picture,
                                  &result->orientation);
}

bool DecodeVideoFrame(QLExtendedDecodeRequest const& request, QLExtendedDecodeResult* result) {
  return DecodeVideoFrameInHelper(TargetOf(request), *request.options, &result->picture,
                                  &result->orientation);
}

bool DecodePdfFirstPage(QLExtendedDecodeRequest const& request, QLExtendedDecodeResult* result) {
  result->orientation = 1;
  return DecodePdfPageInHelper(TargetOf(request), *request.options, &result->picture);
}
