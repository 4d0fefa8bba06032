// QLLogBuffer: the stream buffer behind `qlloggeros`. Collects characters and
// hands the collected text to every sink when it is flushed or full.
//
// Contract:
//  - Put area of `capacity` characters plus one reserved element for the
//    character that overflow() receives when the area is full, so a full
//    area is handed over as capacity + 1 characters. A flush hands over
//    whatever was collected, even nothing (each sink then gets "").
//  - Owns its sinks by shared pointer, in the order added; they are released
//    (and write their closing lines) when the buffer is destroyed. Text still
//    collected at destruction is discarded.
//  - Thread safety: xsputn, overflow, sync, DoLogAndFlush and AddLogger all
//    hold `mutex_` (recursive: overflow and sync call DoLogAndFlush while
//    holding it). Every sink's DoLog runs under `mutex_`, so sinks need no
//    locks of their own. A log statement additionally holds
//    QLLogStatementMutex() so lines never interleave.
#ifndef QUORLIN_LOG_QL_LOG_BUFFER_H_
#define QUORLIN_LOG_QL_LOG_BUFFER_H_

#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <streambuf>
#include <string>
#include <vector>

#include "log/ql_log_sink.h"

class QLLogBuffer : public std::basic_streambuf<char> {
 public:
  explicit QLLogBuffer(unsigned int capacity);
  QLLogBuffer(QLLogBuffer const&) = delete;
  QLLogBuffer& operator=(QLLogBuffer const&) = delete;
  ~QLLogBuffer() override;

  void AddLogger(boost::shared_ptr<QLLog> sink);
  // Hands the collected text (possibly empty) to every sink, in order.
  void DoLogAndFlush();

 protected:
  int sync() override;
  std::streamsize xsputn(char const* s, std::streamsize count) override;
  int_type overflow(int_type c) override;

 private:
  void ResetPutArea();

  std::vector<char> buffer_;
  std::vector<boost::shared_ptr<QLLog>> sinks_;
  boost::recursive_mutex mutex_;
};

#endif  // QUORLIN_LOG_QL_LOG_BUFFER_H_
