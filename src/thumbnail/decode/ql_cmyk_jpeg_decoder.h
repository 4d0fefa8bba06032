// Decoding a CMYK or YCCK JPEG through its embedded CMYK profile: libjpeg
// gives the CMYK samples, each decoded row goes through the profile's lcms2
// transform (ql_color_transform.h) into sRGB, so the picture handed to the
// resize step is already sRGB. A canvas has no room for a fourth channel,
// so unlike RGB pictures these are converted at decode; with shrink-on-load
// the decode is DCT-scaled first, as for other JPEGs. Samples are taken as
// stored inverted when the file has an Adobe marker (what Adobe's writers
// and libjpeg's CMYK output do), as libgd's decoder takes them.
//
// libjpeg's fatal errors longjmp out of its error handler only inside
// C-style functions in which no object with a destructor is alive.
// Stateless apart from the process's transform cache: any thread may call
// it on a FILE* it alone uses.
#ifndef QUORLIN_THUMBNAIL_DECODE_QL_CMYK_JPEG_DECODER_H_
#define QUORLIN_THUMBNAIL_DECODE_QL_CMYK_JPEG_DECODER_H_

#include <cstdio>
#include <string>

#include "thumbnail/decode/ql_jpeg_scaled_decoder.h"

// Decodes `file` (at its start) through the CMYK profile `icc` for a
// thumbnail of `width` x `height`. An empty picture, with one WARN line
// naming `path`, when the JPEG is not CMYK or YCCK or the profile cannot be
// used; the caller then decodes as without colour management (the file is
// left at its start).
QLDecodedPicture DecodeCmykJpeg(std::FILE* file, std::string const& icc, std::string const& path,
                                int width, int height, bool full_screen, bool shrink_on_load);

#endif  // QUORLIN_THUMBNAIL_DECODE_QL_CMYK_JPEG_DECODER_H_
