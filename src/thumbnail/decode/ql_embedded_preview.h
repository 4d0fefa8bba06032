// Making a JPEG's thumbnail from the small preview its EXIF block carries
// (IFD 1) instead of from the photo, when the preview is good enough.
//
// Good enough means what shrink-on-load means by it
// (ChooseJpegScaleDenominator): the part of the preview the thumbnail
// samples holds at least as many pixels as the thumbnail, in each
// direction; and the preview shows the whole photo: its shape is the
// photo's within one preview pixel in each direction (a letterboxed or
// cropped preview fails). The photo's EXIF orientation turns the preview as
// it would turn the photo, so the thumbnail has the size and orientation a
// decode of the photo gives. Trade-off: a program that changed the photo
// but not its preview makes the thumbnail show the old picture; that is
// why this is an option.
//
// Stateless functions; any thread may call them. The preview bytes are at
// most an EXIF segment (64 KiB); a preview claiming a size larger than the
// photo is refused before anything is decoded.
#ifndef QUORLIN_THUMBNAIL_DECODE_QL_EMBEDDED_PREVIEW_H_
#define QUORLIN_THUMBNAIL_DECODE_QL_EMBEDDED_PREVIEW_H_

#include <string>

#include "thumbnail/decode/ql_jpeg_scaled_decoder.h"

// Whether a preview of preview_width x preview_height can stand in for a
// photo of photo_width x photo_height for a thumbnail of width x height
// (in full_screen mode or not).
bool PreviewServesThumbnail(int preview_width, int preview_height, int photo_width,
                            int photo_height, int width, int height, bool full_screen);

// The decoded preview when it can stand in (original_width/height are the
// photo's, so QLThumbnailProvider::ResizeImage frames it as the photo);
// an empty picture otherwise, or when it does not decode.
QLDecodedPicture DecodeEmbeddedPreview(std::string const& preview, int photo_width,
                                       int photo_height, int width, int height, bool full_screen);

#endif  // QUORLIN_THUMBNAIL_DECODE_QL_EMBEDDED_PREVIEW_H_
