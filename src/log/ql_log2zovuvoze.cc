#include "log/ql_log2zovuvoze.h"

#include <cstdlib>

QLLog2Zovuvoze::QLLog2Zovuvoze() : QLLog2Zovuvoze(1, 1, 1) {}

QLLog2Zovuvoze::QLLog2Zovuvoze(int s_value, int p_value, int f_value)
    : s_value_(s_value), p_value_(p_value), f_value_(f_value) {
  Run("Log started!");
}

void QLLog2Zovuvoze::DoLog(std::string const& text) { Run(text); }

QLLog2Zovuvoze::~QLLog2Zovuvoze() { Run("Log ended!"); }

std::string QLLog2Zovuvoze::BuildCommand(std::string const& text) const {
  std::string command = "zovuvoze -s " + std::to_string(s_value_) + " -p " +
                        std::to_string(p_value_) + " -f " + std::to_string(f_value_) + " '";
  command.reserve(command.size() + text.size() + 2);
  for (char c : text) {
    if (c == '\'') {
      // Close the quoting, add an escaped quote, reopen: the shell joins the
      // three into one word holding a literal quote.
      command += "'\\''";
    } else if (c != '\0') {
      // Inside single quotes every other byte, newline included, is literal;
      // a NUL would cut the command short and leave the quote open.
      command += c;
    }
  }
  command += '\'';
  return command;
}

void QLLog2Zovuvoze::Run(std::string const& text) const {
  // The platform command's result is no concern of the logger.
  int status = std::system(BuildCommand(text).c_str());
  (void)status;
}
