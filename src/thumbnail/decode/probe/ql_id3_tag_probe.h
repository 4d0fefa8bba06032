// Checking, before libid3tag opens an MP3 file, that every ID3v2 tag the
// library would find there lies inside the file.
//
// libid3tag allocates the whole size a tag header claims (up to 256 MiB) and
// only then notices that the file is shorter: a 14-byte upload could make the
// daemon reserve a quarter of a gigabyte per request. The library looks for
// tags in two places, and so does this check:
//   - a tag header ("ID3") at the start of the file;
//   - a tag footer ("3DI") in the last 10 bytes, or in the 10 bytes before an
//     ID3v1 tag ("TAG", the last 128 bytes), which points back to a tag header.
// A header's size is the synchsafe 28-bit count after it, plus 10 for the
// header and 10 more when its flags announce a footer.
//
// libid3tag also allocates, for a compressed frame, the whole inflated size
// the frame declares (up to 4 GiB in version 2.3) and inflates into it: a
// deflate stream grows up to a thousand times, so a tag of a few MB could fill
// gigabytes. Each tag that fits is therefore walked, frame header by frame
// header (after undoing a version 2.3 tag's unsynchronisation), and a
// compressed frame declaring more than kQLMaxInflatedId3FrameBytes makes the
// file fail the check too.
//
// Stateless; any thread may call it. Reads a few dozen bytes per tag header
// and footer and per frame header (a 64 KiB buffer at a time); a version 2.3
// tag marked unsynchronised is read whole, once, since its frames' places
// are only known after undoing it.
#ifndef QUORLIN_THUMBNAIL_DECODE_PROBE_QL_ID3_TAG_PROBE_H_
#define QUORLIN_THUMBNAIL_DECODE_PROBE_QL_ID3_TAG_PROBE_H_

#include <cstdint>
#include <string>

// Cover pictures are a few MB at most; larger compressed frames are refused.
constexpr std::uint32_t kQLMaxInflatedId3FrameBytes = 32u << 20;

// True when the file can be read and no ID3v2 tag header or footer in it
// claims bytes past its end (a file without any tag passes), nor a frame
// more inflated bytes than the limit above. False when the file is not a
// regular file, cannot be read, or a tag claims more than the file holds. The descriptor version
// reads with pread, leaving the offset where it was; the caller keeps the descriptor.
bool Id3TagsFitFile(int fd);
bool Id3TagsFitFile(std::string const& path);

#endif  // QUORLIN_THUMBNAIL_DECODE_PROBE_QL_ID3_TAG_PROBE_H_
