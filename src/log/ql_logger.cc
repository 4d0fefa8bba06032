#include "log/ql_logger.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <sstream>

#include "base/ql_write_all.h"

std::string FormatTimeStamp(struct timeval const& when) {
  struct tm local;
  time_t seconds = when.tv_sec;
  localtime_r(&seconds, &local);

  std::ostringstream out;
  out << std::setfill('0') << std::setw(4) << local.tm_year + 1900 << "." << std::setw(2)
      << local.tm_mon + 1 << "." << std::setw(2) << local.tm_mday << " " << std::setw(2)
      << local.tm_hour << ":" << std::setw(2) << local.tm_min << ":" << std::setw(2) << local.tm_sec
      << "." << std::left << std::setw(3) << when.tv_usec / 1000;
  return out.str();
}

std::string CurrentTime() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return FormatTimeStamp(now);
}

QLTimer::QLTimer() : start_(), end_(), elapsed_() { reset(); }

void QLTimer::reset() { gettimeofday(&start_, nullptr); }

std::string QLTimer::get_duration() {
  gettimeofday(&end_, nullptr);
  elapsed_ = Elapsed(start_, end_);
  return FormatElapsed(elapsed_);
}

struct timeval QLTimer::Elapsed(struct timeval const& start, struct timeval const& end) {
  struct timeval elapsed;
  elapsed.tv_sec = end.tv_sec - start.tv_sec;
  elapsed.tv_usec = end.tv_usec - start.tv_usec;
  if (elapsed.tv_usec < 0) {
    elapsed.tv_sec -= 1;
    elapsed.tv_usec += 1000000;
  }
  return elapsed;
}

std::string QLTimer::FormatElapsed(struct timeval const& elapsed) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(6)
      << static_cast<double>(elapsed.tv_sec) + static_cast<double>(elapsed.tv_usec) / 1000000.0
      << " s" << std::endl;
  return out.str();
}

char* print_time() {
  time_t now = time(nullptr);
  char time_text[64];
  // ctime_r: the fallback printer may be called from any thread.
  if (ctime_r(&now, time_text) == nullptr) return nullptr;
  size_t length = strlen(time_text);
  char* result = static_cast<char*>(malloc(length + 1));
  if (result == nullptr) {
    printf("LOGGER: Fatal error!");
    fflush(stdout);
    return nullptr;
  }
  // Everything but ctime's closing newline.
  size_t kept = length > 0 && time_text[length - 1] == '\n' ? length - 1 : length;
  memcpy(result, time_text, kept);
  result[kept] = '\0';
  return result;
}

namespace {

constexpr int kNoFile = -1;
constexpr size_t kLineBufferSize = 2048;
constexpr size_t kMaxPieceLength = kLineBufferSize - 1;
char const kDefaultFallbackLogPath[] = "/tmp/quorlin_log.txt";

// The descriptor is open only during one call; ql_log_print takes no lock.
int fp = kNoFile;
std::string& FallbackLogPath() {
  static std::string path = kDefaultFallbackLogPath;
  return path;
}

char const* OrPlaceholder(char const* text) { return text != nullptr ? text : "(null)"; }

void CloseFallbackLog() {
  if (fp != kNoFile) close(fp);
  fp = kNoFile;
}

// The bytes of a formatted piece that the buffer holds, at most 2047.
size_t HeldLength(int formatted) {
  return formatted > static_cast<int>(kMaxPieceLength) ? kMaxPieceLength
                                                       : static_cast<size_t>(formatted);
}

}  // namespace

void SetFallbackLogPathForTesting(std::string const& path) {
  FallbackLogPath() = path.empty() ? std::string(kDefaultFallbackLogPath) : path;
}

void ql_log_print(char const* file, int line, char const* function, char const* format, ...) {
  if (fp == kNoFile) {
    fp = open(FallbackLogPath().c_str(), O_RDWR | O_CREAT | O_APPEND | O_SYNC, 0666);
    if (fp < 0) {
      fp = kNoFile;
      // A logger of last resort must not take the daemon down with it: the
      // line is dropped and the caller goes on.
      printf("Error creating the logs!");
      fflush(stdout);
      return;
    }
  }

  char buffer[kLineBufferSize];
  int length;
  char* time_text = print_time();
  if (time_text != nullptr) {
    length = snprintf(buffer, kLineBufferSize, "(%lu)[%s %s %d %s] ",
                      static_cast<unsigned long>(pthread_self()), time_text, OrPlaceholder(file),
                      line, OrPlaceholder(function));
    free(time_text);
  } else {
    length = snprintf(buffer, kLineBufferSize, "(%lu)[?NULL? %s %d %s] ",
                      static_cast<unsigned long>(pthread_self()), OrPlaceholder(file), line,
                      OrPlaceholder(function));
  }
  if (length <= 0) length = snprintf(buffer, kLineBufferSize, "(\?\?)[\?\?\?\?] ");
  bool ok = WriteAll(fp, buffer, HeldLength(length));

  if (ok) {
    length = 0;
    if (format != nullptr) {
      va_list arguments;
      va_start(arguments, format);
      length = vsnprintf(buffer, kLineBufferSize, format, arguments);
      va_end(arguments);
    }
    if (length <= 0) length = snprintf(buffer, kLineBufferSize, "LOGGER: problem with line!");
    ok = WriteAll(fp, buffer, HeldLength(length)) && WriteAll(fp, "\n", 1);
  }

  if (!ok) {
    printf("LOGGER: write error!");
    fflush(stdout);
  }
  CloseFallbackLog();
}
