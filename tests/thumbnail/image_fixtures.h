// The shared thumbnail test support under the name the ID3 tests include.
#ifndef QUORLIN_TESTS_THUMBNAIL_IMAGE_FIXTURES_H_
#define QUORLIN_TESTS_THUMBNAIL_IMAGE_FIXTURES_H_

#include "test_support.h"

namespace qlimg {
using namespace qltest;  // NOLINT: the same helpers under their older namespace
typedef QLTempDir ScratchFolder;
}  // namespace qlimg

#endif  // QUORLIN_TESTS_THUMBNAIL_IMAGE_FIXTURES_H_
