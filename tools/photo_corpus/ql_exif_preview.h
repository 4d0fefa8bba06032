// The EXIF block cameras and phones write into their JPEGs, reduced to what
// a thumbnailer looks at: IFD 0 with the Orientation tag and IFD 1 holding a
// small JPEG of the same picture (usually 160x120), so that comparison runs
// can measure thumbnails made from that preview.
//
// Stateless free function; any thread may call it. The photo is only read;
// the returned bytes are the caller's.
#ifndef QUORLIN_TOOLS_PHOTO_CORPUS_QL_EXIF_PREVIEW_H_
#define QUORLIN_TOOLS_PHOTO_CORPUS_QL_EXIF_PREVIEW_H_

#include <gd.h>

#include <vector>

// `jpeg` (the encoding of `photo`) with an EXIF segment after its start
// marker: Orientation `orientation` (1..8) and a preview_width x
// preview_height JPEG of `photo`. Empty on failure, or when the preview
// does not fit the 64 KiB of one segment.
std::vector<unsigned char> WithExifPreview(std::vector<unsigned char> const& jpeg, gdImagePtr photo,
                                           int orientation, int preview_width, int preview_height);

#endif  // QUORLIN_TOOLS_PHOTO_CORPUS_QL_EXIF_PREVIEW_H_
