// Encoding of a finished thumbnail canvas in the format the options choose:
// PNG (the default, ql_png_encoder.h), JPEG or WebP at the options' quality.
//
// The canvas is opaque: ResizeImage draws every picture onto a true-colour
// canvas without alpha saving, so a transparent source has always come out
// as an opaque PNG, and JPEG and WebP lose nothing of it.
//
// Contract: the returned buffer owns its bytes and carries its own deleter;
// it is empty on failure. Nothing is shared between calls: any thread may
// call with a canvas of its own.
#ifndef QUORLIN_THUMBNAIL_QL_THUMBNAIL_ENCODER_H_
#define QUORLIN_THUMBNAIL_QL_THUMBNAIL_ENCODER_H_

#include <gd.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>

#include "thumbnail/ql_thumbnail_options.h"

// The quality a format gets when the command line sets none: small files
// whose loss a thumbnail does not show.
int DefaultThumbnailQuality(QLThumbnailFormat format);

// Encodes `image` in options.thumbnail_format. On success `*size` holds the
// byte count.
boost::shared_ptr<void> EncodeThumbnail(gdImagePtr image, QLThumbnailOptions const& options,
                                        std::int64_t* size);

#endif  // QUORLIN_THUMBNAIL_QL_THUMBNAIL_ENCODER_H_
