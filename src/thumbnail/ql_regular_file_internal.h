// Test seam of ql_regular_file: makes every later QLRegularFile open its path
// the way files were opened before special files were refused (blocking, and
// whatever the file is), so a test daemon can get a request stuck reading a
// named pipe. Only test programs call it, before they serve.
#ifndef QUORLIN_THUMBNAIL_QL_REGULAR_FILE_INTERNAL_H_
#define QUORLIN_THUMBNAIL_QL_REGULAR_FILE_INTERNAL_H_

void QLOpenAnyFileForTesting();

#endif  // QUORLIN_THUMBNAIL_QL_REGULAR_FILE_INTERNAL_H_
