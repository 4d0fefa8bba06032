// Linked only into the test daemon quorlin_gd_open_any_file: before main
// runs, the daemon is made to open files the way it did before special files
// were refused, so a named pipe named like a photo holds its request in the
// kernel, as it would a read from a network mount that has gone away.
#include "thumbnail/ql_regular_file_internal.h"

namespace {
bool const kSeamSet = (QLOpenAnyFileForTesting(), true);
}  // namespace
