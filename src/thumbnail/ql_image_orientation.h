// Turning a scaled thumbnail upright according to its EXIF orientation.
//
// Internal to the thumbnail service (used by QLThumbnailProvider::ResizeImage
// and by the tests). Stateless free functions; any thread may call them on
// pictures it owns. Each leaves `source` as it was and, on success, stores a
// new picture in `*result` that the caller owns and must gdImageDestroy.
// Every picture made on the way is released before returning.
#ifndef QUORLIN_THUMBNAIL_QL_IMAGE_ORIENTATION_H_
#define QUORLIN_THUMBNAIL_QL_IMAGE_ORIENTATION_H_

#include <gd.h>

#include <memory>

#include "thumbnail/ql_gd_deleters.h"

// Sole owner of a libgd picture inside one function.
typedef std::unique_ptr<gdImageStruct, gdImgDestroyDeleter> ScopedGdImage;

// Applies EXIF orientation 2..8 (mirrors, half turn, quarter turns and the two
// diagonal mirrors). Returns false silently for a null argument; logs and
// returns false for an orientation outside 2..8 or a picture that cannot be
// created.
bool OrientImage(gdImageStruct* source, gdImageStruct** result, int orientation);

// Quarter turn clockwise: a W x H source gives H x W, (x, y) -> (H-1-y, x).
bool RotateImageRight90(gdImageStruct* source, gdImageStruct** result);
// Top to bottom mirror: row y goes to row H-1-y.
bool FlipImageVertical(gdImageStruct* source, gdImageStruct** result);
// Left to right mirror: column x goes to column W-1-x.
bool FlipImageHorizontal(gdImageStruct* source, gdImageStruct** result);

#endif  // QUORLIN_THUMBNAIL_QL_IMAGE_ORIENTATION_H_
