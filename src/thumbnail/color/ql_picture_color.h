// The colour step of colour management: which conversion to sRGB one
// decoded file's thumbnail gets, from the profile it carries or names
// (ql_embedded_profile.h) and the shared transform cache
// (ql_color_transform_cache.h).
//
// A profile that cannot be used costs exactly one WARN line naming the file
// and the reason, and the thumbnail is made as without colour management.
// sRGB, whether declared or recognised by a profile's content, and files
// that say nothing get no conversion, so their thumbnails keep their bytes.
// HDR code points (PQ, HLG) and other 'nclx' spaces are left as decoded.
//
// Stateless apart from the process's transform cache: any thread may call
// FindPictureColor on a descriptor it alone uses.
#ifndef QUORLIN_THUMBNAIL_COLOR_QL_PICTURE_COLOR_H_
#define QUORLIN_THUMBNAIL_COLOR_QL_PICTURE_COLOR_H_

#include <memory>
#include <string>

#include "thumbnail/color/ql_color_transform.h"
#include "thumbnail/color/ql_embedded_profile.h"

struct QLPictureColor {
  // Applied to the finished thumbnail canvas; null: none.
  std::shared_ptr<QLColorTransform const> canvas;
  // A CMYK profile: the JPEG decoder converts CMYK samples through it
  // (decode/ql_cmyk_jpeg_decoder.h); the canvas is then already sRGB.
  std::string cmyk_profile;
};

// `fd` is the open source file, `container` its layout, `path` the name the
// WARN line gives.
QLPictureColor FindPictureColor(int fd, QLProfileContainer container, std::string const& path);

#endif  // QUORLIN_THUMBNAIL_COLOR_QL_PICTURE_COLOR_H_
