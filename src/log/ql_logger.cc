#include "log/ql_logger.h"

#include <time.h>

#include <iomanip>
#include <sstream>

std::string CurrentTime() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct tm local;
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);

  std::ostringstream out;
  out << std::setfill('0') << std::setw(4) << local.tm_year + 1900 << "." << std::setw(2)
      << local.tm_mon + 1 << "." << std::setw(2) << local.tm_mday << " " << std::setw(2)
      << local.tm_hour << ":" << std::setw(2) << local.tm_min << ":" << std::setw(2)
      << local.tm_sec << "." << std::left << std::setw(3) << now.tv_usec / 1000;
  return out.str();
}

QLTimer::QLTimer() : start_(), end_(), elapsed_() { reset(); }

void QLTimer::reset() { gettimeofday(&start_, nullptr); }

std::string QLTimer::get_duration() {
  gettimeofday(&end_, nullptr);
  elapsed_.tv_sec = end_.tv_sec - start_.tv_sec;
  elapsed_.tv_usec = end_.tv_usec - start_.tv_usec;
  if (elapsed_.tv_usec < 0) {
    elapsed_.tv_sec -= 1;
    elapsed_.tv_usec += 1000000;
  }
  std::ostringstream out;
  out << std::fixed << std::setprecision(6)
      << static_cast<double>(elapsed_.tv_sec) + static_cast<double>(elapsed_.tv_usec) / 1000000.0
      << " s" << std::endl;
  return out.str();
}
