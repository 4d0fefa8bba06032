#include "protocol/ql_thumbnail_format.h"

#include <cstring>

namespace {

struct FormatRow {
  QLThumbnailFormat format;
  char const* name;
  char const* extension;
  // The signature, with '?' bytes that may be anything (RIFF's length).
  char const* signature;
  std::size_t signature_size;
};

FormatRow const kRows[] = {
    {QLThumbnailFormat::kPng, "png", ".png", "\x89PNG\r\n\x1a\n", 8},
    {QLThumbnailFormat::kJpeg, "jpeg", ".jpg", "\xff\xd8\xff", 3},
    {QLThumbnailFormat::kWebp, "webp", ".webp", "RIFF????WEBP", 12},
};

FormatRow const& RowOf(QLThumbnailFormat format) {
  for (FormatRow const& row : kRows) {
    if (row.format == format) return row;
  }
  return kRows[0];
}

}  // namespace

QLThumbnailFormat const kAllThumbnailFormats[3] = {
    QLThumbnailFormat::kPng, QLThumbnailFormat::kJpeg, QLThumbnailFormat::kWebp};

char const* ThumbnailFormatName(QLThumbnailFormat format) { return RowOf(format).name; }

char const* ThumbnailFormatExtension(QLThumbnailFormat format) { return RowOf(format).extension; }

bool ParseThumbnailFormat(char const* name, QLThumbnailFormat* format) {
  if (name == nullptr) return false;
  for (FormatRow const& row : kRows) {
    if (std::strcmp(name, row.name) == 0) {
      *format = row.format;
      return true;
    }
  }
  return false;
}

bool HasThumbnailSignature(QLThumbnailFormat format, unsigned char const* bytes, std::size_t size) {
  FormatRow const& row = RowOf(format);
  if (bytes == nullptr || size < row.signature_size) return false;
  for (std::size_t i = 0; i < row.signature_size; ++i) {
    if (row.signature[i] != '?' && static_cast<unsigned char>(row.signature[i]) != bytes[i]) {
      return false;
    }
  }
  return true;
}

bool SniffThumbnailFormat(unsigned char const* bytes, std::size_t size, QLThumbnailFormat* format) {
  for (FormatRow const& row : kRows) {
    if (HasThumbnailSignature(row.format, bytes, size)) {
      *format = row.format;
      return true;
    }
  }
  return false;
}
