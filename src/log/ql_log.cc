#include "log/ql_log.h"

int ql_log_level = 0;
boost::shared_ptr<std::ostream> qlloggeros;

boost::recursive_mutex& QLLogStatementMutex() {
  // Function-local so it exists before any static initialiser could log.
  static boost::recursive_mutex mutex;
  return mutex;
}
