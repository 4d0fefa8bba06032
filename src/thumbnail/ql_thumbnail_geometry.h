// Where a thumbnail's pixels come from: the canvas size and the source
// rectangle the resize step samples, for a picture of W x H and a request of
// w x h in either mode, and how that rectangle maps onto a picture that was
// decoded at a reduced size.
//
// Pure functions of their arguments; any thread may call them. The float
// arithmetic and truncations are part of the contract: thumbnails already
// stored elsewhere in the product were made with exactly these sizes.
#ifndef QUORLIN_THUMBNAIL_QL_THUMBNAIL_GEOMETRY_H_
#define QUORLIN_THUMBNAIL_QL_THUMBNAIL_GEOMETRY_H_

#include <cstdint>

struct QLThumbnailGeometry {
  int canvas_width = 0;
  int canvas_height = 0;
  // In the picture's own pixels; may reach outside it (x or y negative,
  // width or height past the edge) when the box is wider than the picture.
  int source_x = 0;
  int source_y = 0;
  int source_width = 0;
  int source_height = 0;
};

// float -> int truncating toward zero, saturating where the value does not
// fit (a plain cast would be undefined there).
int TruncateToInt(float value);

// Full screen: the picture's longer side becomes the request's longer side,
// the whole picture is the source. Otherwise the canvas is w x h and the
// source is the centred part of the picture that has the box's shape.
// Sizes are taken as signed 32-bit numbers, as the request's unsigned ones
// are: nonsense sizes give a canvas that cannot be created.
QLThumbnailGeometry ComputeThumbnailGeometry(int picture_width, int picture_height, int width,
                                             int height, bool full_screen);

// The most pixels a canvas for this request can have, whatever the picture:
// w x h for a box, the square of the longer requested side for full screen
// (the canvas of a square picture; any other shape gives a smaller one).
// Non-positive sizes count as 0.
std::uint64_t LargestCanvasPixels(int width, int height, bool full_screen);

// The source rectangle of `geometry` (computed on the original W x H) in the
// coordinates of the same picture decoded as reduced_width x reduced_height.
// Edges map proportionally (floor), so the picture's own edges map exactly.
QLThumbnailGeometry MapToReducedPicture(QLThumbnailGeometry const& geometry, int original_width,
                                        int original_height, int reduced_width, int reduced_height);

#endif  // QUORLIN_THUMBNAIL_QL_THUMBNAIL_GEOMETRY_H_
