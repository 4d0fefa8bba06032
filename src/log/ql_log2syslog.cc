#include "log/ql_log2syslog.h"

#include <syslog.h>

namespace {
// Every message goes out at this priority, whatever the sink keeps.
constexpr int kNoticePriority = LOG_NOTICE;
}  // namespace

QLLog2Syslog::QLLog2Syslog() : priority_(kNoticePriority) {
  openlog("QUORLIN", LOG_PID, LOG_DAEMON);
  syslog(kNoticePriority, "%s\n", "Log started!");
}

QLLog2Syslog::QLLog2Syslog(int priority) : priority_(priority) {
  syslog(kNoticePriority, "%s", "Log started!\n");
}

void QLLog2Syslog::DoLog(std::string const& text) {
  // Always through "%s": the text is never used as a format.
  syslog(kNoticePriority, "%s", text.c_str());
}

QLLog2Syslog::~QLLog2Syslog() {
  syslog(kNoticePriority, "%s\n", "Log ended!");
  closelog();
}
