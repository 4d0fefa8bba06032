// The log statement every subsystem uses, and the two globals behind it.
//
// Contract:
//  - QL_ERROR / QL_WARN / QL_INFO / QL_DEBUG take a stream insertion chain
//    (`QL_INFO("count: " << n)`). Nothing in the chain is evaluated unless
//    `ql_log_level` lets the statement through: a filtered statement costs
//    one integer comparison.
//  - A statement that runs writes one whole line to `*qlloggeros`: level word,
//    "[" thread id "] [" CurrentTime() "] ", the message, std::endl.
//  - Any thread may log. The whole statement holds QLLogStatementMutex(), so
//    lines of concurrent statements never interleave and the shared stream is
//    never used by two threads at once. Never log from a signal handler.
//  - A statement that runs while `qlloggeros` is empty (before InitLogger)
//    writes nothing.
#ifndef QUORLIN_LOG_QL_LOG_H_
#define QUORLIN_LOG_QL_LOG_H_

#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <boost/thread/thread.hpp>
#include <ostream>

#include "log/ql_logger.h"

// Verbosity threshold: ERROR at >= 0, WARN at >= 1, INFO at >= 2, DEBUG at >= 3.
// Written once by InitLogger before any other thread starts; read everywhere.
extern int ql_log_level;

// The stream all statements write to; set by InitLogger, emptied by
// ShutdownLogger (ql_init_logger.h). It keeps its QLLogBuffer alive, so a
// statement never reaches a destroyed buffer. Guarded by
// QLLogStatementMutex() for every use after start-up.
extern boost::shared_ptr<std::ostream> qlloggeros;

// Held for the whole of one log statement (and by InitLogger while it swaps
// the stream). Recursive so a message expression may itself log.
boost::recursive_mutex& QLLogStatementMutex();

#define QL_LOG_STATEMENT(threshold, word, message)                                              \
  do {                                                                                          \
    if (ql_log_level >= (threshold)) {                                                          \
      boost::unique_lock<boost::recursive_mutex> ql_log_statement_lock_(QLLogStatementMutex()); \
      if (qlloggeros) {                                                                         \
        *qlloggeros << std::dec << word << "[" << boost::this_thread::get_id() << "] ["         \
                    << CurrentTime() << "] " << message << std::endl;                           \
      }                                                                                         \
    }                                                                                           \
  } while (0)

#define QL_ERROR(message) QL_LOG_STATEMENT(0, "ERROR:", message)
#define QL_WARN(message) QL_LOG_STATEMENT(1, "WARN: ", message)
#define QL_INFO(message) QL_LOG_STATEMENT(2, "INFO: ", message)
#define QL_DEBUG(message) QL_LOG_STATEMENT(3, "DEBUG:", message)

#endif  // QUORLIN_LOG_QL_LOG_H_
