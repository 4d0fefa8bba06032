#include "log/ql_init_logger.h"

#include <ostream>

#include "log/ql_log.h"
#include "log/ql_log2console.h"
#include "log/ql_log2file.h"
#include "log/ql_log2syslog.h"
#include "log/ql_log2zovuvoze.h"

namespace {

// Priority the syslog sink is built with.
constexpr int kSyslogPriority = 5;

// Deletes the stream, then lets go of the buffer it writes into.
struct StreamOverBufferDeleter {
  boost::shared_ptr<QLLogBuffer> buffer;
  void operator()(std::ostream* stream) {
    delete stream;
    buffer.reset();
  }
};

void ReplaceStream(boost::shared_ptr<std::ostream> stream) {
  boost::shared_ptr<std::ostream> old;
  {
    boost::unique_lock<boost::recursive_mutex> lock(QLLogStatementMutex());
    old.swap(qlloggeros);
    qlloggeros = stream;
  }
  // `old` (and possibly its buffer with the sinks' closing lines) goes here,
  // outside the statement lock.
}

}  // namespace

void InitLogger(QLLogSettings const& settings, boost::shared_ptr<QLLogBuffer> const& buffer) {
  ql_log_level = settings.log_level;
  if (!buffer) return;

  if (settings.log_to_console) {
    buffer->AddLogger(boost::shared_ptr<QLLog>(new QLLog2Console()));
  }
  if (!settings.log_file_path.empty()) {
    buffer->AddLogger(boost::shared_ptr<QLLog>(
        new QLLog2FILE(settings.log_file_path, QLLog2FILE::kDefaultMaxSize)));
  }
  if (settings.log_to_syslog) {
    buffer->AddLogger(boost::shared_ptr<QLLog>(new QLLog2Syslog(kSyslogPriority)));
  }
  if (settings.log_to_zovuvoze) {
    buffer->AddLogger(boost::shared_ptr<QLLog>(new QLLog2Zovuvoze()));
  }

  ReplaceStream(boost::shared_ptr<std::ostream>(new std::ostream(buffer.get()),
                                                StreamOverBufferDeleter{buffer}));
}

void ShutdownLogger() { ReplaceStream(boost::shared_ptr<std::ostream>()); }
