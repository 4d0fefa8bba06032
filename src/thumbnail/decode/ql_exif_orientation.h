// Reads the EXIF Orientation of a picture file, as a JPEG's turning hint,
// and on request the small JPEG preview the EXIF block may carry.
//
// Stateless free functions; any thread may call them. They release every
// libexif object before returning. The descriptor version reads with pread
// from offset 0, so it leaves the descriptor's offset (and a stdio stream
// over it) where it was; the caller keeps ownership. Hostile EXIF data can only make the
// answer 1 or an arbitrary 16-bit value, never a crash or an over-read.
#ifndef QUORLIN_THUMBNAIL_DECODE_QL_EXIF_ORIENTATION_H_
#define QUORLIN_THUMBNAIL_DECODE_QL_EXIF_ORIENTATION_H_

#include <string>

// The Orientation entry (tag 0x0112) of IFD 0 only, read in the byte order
// of the EXIF block and taken as a signed 16-bit number (so 0x8000 and above
// come out negative). 1 (upright) when the file cannot be read, carries no
// EXIF block, or IFD 0 has no usable Orientation entry.
int ReadExifOrientation(int fd);
// The same, and when `preview` is not null it receives the JPEG preview of
// IFD 1 (JPEGInterchangeFormat), or is emptied when there is none. The
// preview lies inside the EXIF segment, so it is never larger than 64 KiB.
int ReadExifOrientation(int fd, std::string* preview);
// The same for the regular file at `path` (anything else reads as upright).
int ReadExifOrientation(std::string const& path);

#endif  // QUORLIN_THUMBNAIL_DECODE_QL_EXIF_ORIENTATION_H_
