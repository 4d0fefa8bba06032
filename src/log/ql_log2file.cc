#include "log/ql_log2file.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/ql_fs_identity.h"

namespace {

// Room for one numbered log name, terminator included.
constexpr size_t kNameBufferSize = 4096;
// Rotated logs are numbered 0 (newest) to this (oldest).
constexpr unsigned kOldestRotated = 5;

struct FreeDeleter {
  void operator()(char* p) const { free(p); }
};
using MallocedChars = std::unique_ptr<char, FreeDeleter>;

// "<folder>/<number><base>"; false if it does not fit the buffer.
bool NumberedName(char const* folder, unsigned number, char const* base, char* out) {
  int length = snprintf(out, kNameBufferSize, "%s/%u%s", folder, number, base);
  return length >= 0 && static_cast<size_t>(length) < kNameBufferSize;
}

FILE* OpenOrFallBack(char const* name) {
  FILE* stream = fopen(name, "a");
  if (stream == nullptr) {
    fprintf(stderr, "Cannot open log file %s Using stderr instead!\n", name);
    fflush(stderr);
    return stderr;
  }
  return stream;
}

}  // namespace

QLLog2FILE::QLLog2FILE() : stream_(stderr), file_name_(nullptr), max_size_(kDefaultMaxSize) {
  fputs("Log started!\n", stream_);
  fflush(stream_);
}

QLLog2FILE::QLLog2FILE(std::string file_name, long max_size)
    : stream_(OpenOrFallBack(file_name.c_str())), file_name_(nullptr), max_size_(max_size) {
  file_name_ = static_cast<char*>(malloc(file_name.size() + 1));
  if (file_name_ == nullptr) {
    fputs("Memory allocation failed in constructor!\n", stream_);
  } else {
    memcpy(file_name_, file_name.c_str(), file_name.size() + 1);
  }
  fputs("Log started!\n", stream_);
  fflush(stream_);
}

void QLLog2FILE::DoLog(std::string const& text) {
  if (stream_ != stderr) {
    long position = ftell(stream_);
    // An empty file is never rotated: moving it would only push a real log
    // out of the numbered set.
    if (position > 0 && position + static_cast<long>(text.size()) > max_size_) {
      rotate_log();
    }
  }
  // fwrite, not fputs: the size check counted every byte of the piece.
  fwrite(text.data(), 1, text.size(), stream_);
  fflush(stream_);
}

QLLog2FILE::~QLLog2FILE() {
  fputs("Log ended!\n", stream_);
  if (stream_ != nullptr && stream_ != stderr) {
    fflush(stream_);
    fclose(stream_);
  } else {
    fflush(stderr);
  }
  free(file_name_);
}

void QLLog2FILE::rotate_log() {
  if (stream_ == stderr) return;
  // Without a name there is nothing to move or reopen: keep writing.
  if (file_name_ == nullptr) return;
  // The log is the daemon's own file, even when the line that fills it is
  // written on a thread acting with a caller's rights.
  QLActAsProcess const as_process;

  char const* slash = strrchr(file_name_, '/');
  char const* base = slash != nullptr ? slash + 1 : file_name_;
  MallocedChars folder(slash != nullptr ? strndup(file_name_, slash - file_name_) : strdup("."));
  if (!folder) {
    fputs("Memory allocation failed for folder_name!\n", stream_);
    return;
  }

  // Build every name first: if one would be cut, moving files under cut
  // names could overwrite an unrelated file, so the rotation is abandoned.
  char names[kOldestRotated + 1][kNameBufferSize];
  for (unsigned i = 0; i <= kOldestRotated; ++i) {
    if (!NumberedName(folder.get(), i, base, names[i])) return;
  }

  for (unsigned i = kOldestRotated; i-- > 0;) {
    printf("Moving log %s to %s!\n", names[i], names[i + 1]);
    // A missing source (fewer rotated logs so far) is expected.
    rename(names[i], names[i + 1]);
  }
  folder.reset();

  fflush(stream_);
  fclose(stream_);
  rename(file_name_, names[0]);
  stream_ = OpenOrFallBack(file_name_);
}
