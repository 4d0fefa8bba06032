// QLLog2FILE: log sink appending to a file that rotates by size.
//
// Contract:
//  - Owns its FILE* (closed in the destructor unless it is stderr) and a
//    private copy of the file name. Not copyable.
//  - Before a piece would carry the file past the maximum size (position +
//    length > maximum; reaching it exactly is fine) the file is rotated:
//    "<folder>/4<base>" .. "<folder>/0<base>" move up by one ("5<base>" is
//    replaced), each move announced on stdout as "Moving log %s to %s!\n", the
//    current file becomes "<folder>/0<base>" and a fresh file is opened. A
//    bare name rotates within the working directory.
//  - If the file cannot be opened (at construction or after a rotation) the
//    sink says so on stderr and writes to stderr from then on, never rotating
//    again.
//  - Rotation is skipped, and writing simply goes on, when the sink holds no
//    name, when a numbered name would not fit the 4096-byte name buffers (a cut
//    name could move the wrong file), or when the file is still empty.
//  - Called only under the owning buffer's mutex (see QLLog).
#ifndef QUORLIN_LOG_QL_LOG2FILE_H_
#define QUORLIN_LOG_QL_LOG2FILE_H_

#include <cstdio>
#include <string>

#include "log/ql_log_sink.h"

class QLLog2FILE : public QLLog {
 public:
  // The size every production sink rotates at: 10 MiB.
  static constexpr long kDefaultMaxSize = 10485760;

  // Writes to stderr; holds no name, so never rotates.
  QLLog2FILE();
  QLLog2FILE(std::string file_name, long max_size);
  void DoLog(std::string const& text) override;
  ~QLLog2FILE() override;

  // True while the sink has fallen back to (or was built on) stderr.
  bool UsesStderr() const { return stream_ == stderr; }

 private:
  void rotate_log();

  FILE* stream_;
  char* file_name_;
  long max_size_;
};

#endif  // QUORLIN_LOG_QL_LOG2FILE_H_
