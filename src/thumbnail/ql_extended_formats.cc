// Camera RAW and video decoding is not built yet: every such file falls back
// to its type's default picture, as with `--formats basic`. The real
// decoders replace the two functions below.
#include "thumbnail/ql_extended_formats.h"

bool DecodeCameraRawPreview(QLExtendedDecodeRequest const&, QLExtendedDecodeResult*) {
  return false;
}

bool DecodeVideoFrame(QLExtendedDecodeRequest const&, QLExtendedDecodeResult*) { return false; }
