#include "log/ql_log_buffer.h"

#include <algorithm>
#include <cstring>

namespace {
using Lock = boost::unique_lock<boost::recursive_mutex>;
}  // namespace

QLLogBuffer::QLLogBuffer(unsigned int capacity) : buffer_(static_cast<size_t>(capacity) + 1, 0) {
  ResetPutArea();
}

// Collected text is dropped, not handed over: the sinks may already be going
// away with the process. The sinks are released after the mutex, as members.
QLLogBuffer::~QLLogBuffer() = default;

void QLLogBuffer::ResetPutArea() {
  // The last element stays outside the put area, free for overflow().
  setp(buffer_.data(), buffer_.data() + buffer_.size() - 1);
}

void QLLogBuffer::AddLogger(boost::shared_ptr<QLLog> sink) {
  Lock lock(mutex_);
  sinks_.push_back(sink);
}

void QLLogBuffer::DoLogAndFlush() {
  Lock lock(mutex_);
  std::string text(pbase(), static_cast<size_t>(pptr() - pbase()));
  ResetPutArea();
  // Still under the lock: sinks keep no locks of their own, so they must
  // never be entered by two threads at once, even by a direct call.
  for (auto const& sink : sinks_) {
    sink->DoLog(text);
  }
}

int QLLogBuffer::sync() {
  Lock lock(mutex_);
  DoLogAndFlush();
  return 0;
}

std::streamsize QLLogBuffer::xsputn(char const* s, std::streamsize count) {
  Lock lock(mutex_);
  std::streamsize written = 0;
  while (written < count) {
    std::streamsize room = epptr() - pptr();
    if (room > 0) {
      std::streamsize chunk = std::min(room, count - written);
      memcpy(pptr(), s + written, static_cast<size_t>(chunk));
      pbump(static_cast<int>(chunk));
      written += chunk;
    } else {
      overflow(traits_type::to_int_type(s[written]));
      ++written;
    }
  }
  return written;
}

QLLogBuffer::int_type QLLogBuffer::overflow(int_type c) {
  Lock lock(mutex_);
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    // When the area is full pptr() is the reserved last element.
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    DoLogAndFlush();
  }
  return c;
}
