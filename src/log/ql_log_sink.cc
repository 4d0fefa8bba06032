#include "log/ql_log_sink.h"

// Out of line so the vtable has one home.
QLLog::~QLLog() = default;
