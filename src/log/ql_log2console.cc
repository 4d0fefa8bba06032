#include "log/ql_log2console.h"

#include <cstdio>

QLLog2Console::QLLog2Console() {
  fputs("Log started!\n", stderr);
  fflush(stderr);
}

void QLLog2Console::DoLog(std::string const& text) {
  // fwrite, not fputs: a piece may carry a NUL from a streamed value and must
  // still reach the console whole.
  fwrite(text.data(), 1, text.size(), stderr);
  fflush(stderr);
}

QLLog2Console::~QLLog2Console() {
  fputs("Log ended!\n", stderr);
  fflush(stderr);
}
