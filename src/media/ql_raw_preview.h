// The embedded JPEG preview of a camera RAW file (dng cr2 cr3 nef arw orf
// rw2 raf pef srw), taken out by LibRaw without decoding the sensor data.
//
// Runs inside the media decoder helper, never in the daemon: LibRaw parses
// hostile maker formats, and a fault there must cost only the helper.
//
// Contract: stateless; any thread may call it on a descriptor it alone
// reads. The file is mapped read-only for the call and unmapped before it
// returns; nothing is kept between calls.
#ifndef QUORLIN_MEDIA_QL_RAW_PREVIEW_H_
#define QUORLIN_MEDIA_QL_RAW_PREVIEW_H_

#include <cstdint>
#include <string>

#include "media/ql_media_frame.h"

// Fills `answer` with the preview's JPEG bytes and the turn LibRaw reads
// from the file (EXIF numbering). A preview that declares more than
// `max_source_pixels` pixels or kQLMaxRawPreviewBytes is refused before
// it is read. False, with
// `*error` saying why, when the file is not a RAW LibRaw knows, has no JPEG
// preview, or the preview is too large.
bool ExtractRawPreview(int fd, std::uint64_t max_source_pixels, QLMediaAnswer* answer,
                       std::string* error);

// LibRaw's `flip` (bit 0 mirror, bit 1 upside down, bit 2 swapped axes) as
// the EXIF orientation that undoes it.
int RawFlipToOrientation(int flip);

#endif  // QUORLIN_MEDIA_QL_RAW_PREVIEW_H_
