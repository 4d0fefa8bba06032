// Reading a picture's width and height from its header, before any decoder
// runs, so that a file claiming an enormous size can be refused before the
// decoder allocates memory for it.
//
// Reads only the bytes the header needs (a JPEG's segments are skipped, not
// read), allocates nothing whose size comes from the input, and stops at the
// end of the data; hostile input gives "not recognised" or a size, never
// more. Stateless functions: any thread may call them on a FILE* or buffer
// it alone uses.
//
// Each format's size is read the way its libgd/libjpeg/libpng decoder reads
// it, so the size checked is the size that decoder would allocate:
//   JPEG  the first start-of-frame segment (markers C0..CF except C4, C8, CC),
//         skipping stray bytes between segments as libjpeg does;
//   PNG   the IHDR chunk, which must come first;
//   GIF   the logical screen (libgd refuses images reaching outside it);
//   BMP   the info header (16-bit sizes in the 12-byte OS/2 header, 32-bit
//         ones otherwise; a negative height means top-down, its magnitude
//         counts);
//   WBMP  a type byte of 0, then the multi-byte width and height after the
//         header bytes;
//   GD2   libgd's own format, reachable through the attached-picture decoders;
//   HEIF, AVIF  the largest 'ispe' property after an 'ftyp' naming the format,
//         and the orientation from the primary item's 'irot' and 'imir';
//   WebP  the VP8 frame header, the VP8L header or the VP8X canvas, and the
//         Orientation of a VP8X file's EXIF chunk;
//   TIFF  ImageWidth and ImageLength of the first directory (the one libgd
//         decodes) and its Orientation tag.
// Only the last four set QLImageHeader::orientation; their decoders ignore it.
#ifndef QUORLIN_THUMBNAIL_DECODE_PROBE_QL_IMAGE_HEADER_PROBE_H_
#define QUORLIN_THUMBNAIL_DECODE_PROBE_QL_IMAGE_HEADER_PROBE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Bits naming the formats a probe may recognise.
enum QLImageFormat : unsigned {
  kQLImageJpeg = 1u << 0,
  kQLImagePng = 1u << 1,
  kQLImageGif = 1u << 2,
  kQLImageBmp = 1u << 3,
  kQLImageWbmp = 1u << 4,
  kQLImageGd2 = 1u << 5,
  kQLImageHeif = 1u << 6,
  kQLImageAvif = 1u << 7,
  kQLImageWebp = 1u << 8,
  kQLImageTiff = 1u << 9,
};

struct QLImageHeader {
  unsigned format = 0;  // one QLImageFormat bit once recognised
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  // The EXIF-style turn the file asks for where its probe reads one (TIFF's
  // Orientation tag, a WebP's EXIF chunk); 1 otherwise.
  int orientation = 1;
  // A WebP whose VP8X header announces an animation (libgd reads only
  // still WebP files).
  bool animated = false;
  std::uint64_t pixels() const { return static_cast<std::uint64_t>(width) * height; }
};

// "JPEG", "PNG", ... for one format bit; "unknown" otherwise.
char const* ImageFormatName(unsigned format);

// Tries the formats in `formats` (a mask of QLImageFormat bits) from the start
// of the data. True when one of them was recognised and its size read. A WBMP
// has no signature, so kQLImageWbmp belongs only in masks whose decoders
// include the WBMP one. The file variant reads from the start and leaves the
// file positioned at its start again (error flag cleared).
bool ProbeImageFile(std::FILE* file, unsigned formats, QLImageHeader* header);
bool ProbeImageBytes(void const* bytes, std::size_t size, unsigned formats, QLImageHeader* header);

// When `header` was recognised and holds more than `max_pixels` pixels, logs
// an ERROR line naming `what` (e.g. the quoted file name), the format and the
// size, and returns true. Otherwise returns false and logs nothing.
bool SourcePictureOverLimit(QLImageHeader const& header, std::uint64_t max_pixels,
                            std::string const& what);

#endif  // QUORLIN_THUMBNAIL_DECODE_PROBE_QL_IMAGE_HEADER_PROBE_H_
