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
// Stateless; any thread may call it. Reads at most a few dozen bytes.
#ifndef QUORLIN_THUMBNAIL_QL_ID3_TAG_PROBE_H_
#define QUORLIN_THUMBNAIL_QL_ID3_TAG_PROBE_H_

#include <string>

// True when the file can be read and no ID3v2 tag header or footer in it
// claims bytes past its end (a file without any tag passes). False when the
// file is not a regular file, cannot be read, or a tag claims more than the
// file holds. The descriptor version reads with pread, leaving the offset
// where it was; the caller keeps the descriptor.
bool Id3TagsFitFile(int fd);
bool Id3TagsFitFile(std::string const& path);

#endif  // QUORLIN_THUMBNAIL_QL_ID3_TAG_PROBE_H_
