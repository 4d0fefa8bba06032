// The finishing step of every decoded picture: scale it to the request's
// thumbnail, turn it upright and encode it as PNG into the request record.
//
// Stateless free functions; any thread may call them, each on a record of
// its own. `image` is only read; the record's thumbnail bytes are owned by
// the record afterwards. QLThumbnailProvider::ResizeImage calls these with
// the provider's options; the format handlers call them directly with the
// options of their context.
#ifndef QUORLIN_THUMBNAIL_QL_IMAGE_RESIZE_H_
#define QUORLIN_THUMBNAIL_QL_IMAGE_RESIZE_H_

#include <gd.h>

#include <boost/shared_ptr.hpp>

#include "thumbnail/ql_thumbnail_data.h"
#include "thumbnail/ql_thumbnail_options.h"

class QLColorTransform;

// Scales, turns (EXIF orientation 2..8) and PNG-encodes `image` into the
// record and sets save_to_cache. On failure returns false (with an ERROR
// line) and leaves thumbnail, thumbnail_size and save_to_cache untouched.
bool ResizeImage(QLThumbnailOptions const& options, boost::shared_ptr<gdImageStruct> image,
                 QLThumbnailData& data, int orientation);
// The same for a picture decoded at a reduced size: the geometry is that of
// the original_width x original_height picture, mapped onto `image`, so the
// thumbnail has the size and framing a full-size decode would give. A
// `color` transform (colour management) converts the finished canvas, scaled
// and turned, to sRGB just before the encode, so its cost follows the
// thumbnail's size, not the picture's.
bool ResizeImage(QLThumbnailOptions const& options, boost::shared_ptr<gdImageStruct> image,
                 QLThumbnailData& data, int orientation, int original_width, int original_height,
                 QLColorTransform const* color = nullptr);

#endif  // QUORLIN_THUMBNAIL_QL_IMAGE_RESIZE_H_
