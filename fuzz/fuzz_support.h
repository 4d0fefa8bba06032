// Helpers shared by the fuzz targets (header only: every fuzz/*_fuzzer.cc is
// built on its own, by libFuzzer and by the corpus replay). Sample files and
// the scratch folder come from the tests' support library. Used from the
// fuzzing thread alone, except FuzzCheck, which any thread may call.
#ifndef QUORLIN_FUZZ_FUZZ_SUPPORT_H_
#define QUORLIN_FUZZ_FUZZ_SUPPORT_H_

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>

#include "log/ql_log.h"
#include "support/ql_sample_files.h"
#include "support/ql_temp_dir.h"

namespace qlfuzz {

// A fault the sanitizers cannot see (a wrong result): stop with a message so
// libFuzzer keeps the input as a crash artifact.
inline void FuzzCheck(bool condition, char const* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }
}

// Every log statement is formatted in full (so its message code is fuzzed
// too) and then dropped, keeping the fuzzer quiet and fast.
inline void DiscardLogs() {
  struct Discard : std::streambuf {
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(char const*, std::streamsize n) override { return n; }
  };
  static Discard buffer;
  qlloggeros.reset(new std::ostream(&buffer));
  ql_log_level = 3;
}

// The target's scratch folder, made on first use and removed with its content
// when the process ends normally (a crashed run leaves it behind).
inline QLTempDir const& Scratch() {
  static QLTempDir const folder;
  return folder;
}

}  // namespace qlfuzz

#endif  // QUORLIN_FUZZ_FUZZ_SUPPORT_H_
