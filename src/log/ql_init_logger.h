// InitLogger: builds the sinks the settings ask for and points the log
// statement at the buffer. ShutdownLogger: detaches it again.
//
// Contract:
//  - Call InitLogger on the main thread before other threads start (it adds
//    sinks to the buffer and sets `ql_log_level`). It swaps `qlloggeros`
//    while holding QLLogStatementMutex(), so a statement on another thread
//    sees either the old stream or the new one, never a torn one.
//  - Sinks are added in the order console, file (rotating at 10 MiB),
//    syslog, platform logger command.
//  - The stream installed in `qlloggeros` shares ownership of the buffer: the
//    buffer (and its sinks) lives until both the caller's pointer and the
//    stream are gone, so a late log statement can never reach a destroyed
//    buffer. ShutdownLogger() drops the stream (later statements write
//    nothing); the buffer's sinks then write their closing lines as soon as
//    the caller has let go of it too.
#ifndef QUORLIN_LOG_QL_INIT_LOGGER_H_
#define QUORLIN_LOG_QL_INIT_LOGGER_H_

#include <boost/shared_ptr.hpp>

#include "log/ql_log_buffer.h"
#include "log/ql_log_settings.h"

void InitLogger(QLLogSettings const& settings, boost::shared_ptr<QLLogBuffer> const& buffer);

void ShutdownLogger();

#endif  // QUORLIN_LOG_QL_INIT_LOGGER_H_
