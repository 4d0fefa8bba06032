// Deleters for libgd resources held by boost::shared_ptr. Each does nothing for a
// null pointer, so a failed library call leaves an empty pointer behind and
// emptiness is the test for failure.
#ifndef QUORLIN_THUMBNAIL_QL_GD_DELETERS_H_
#define QUORLIN_THUMBNAIL_QL_GD_DELETERS_H_

#include <gd.h>

struct gdImgDestroyDeleter {
  void operator()(gdImagePtr image) const {
    if (image) gdImageDestroy(image);
  }
};

struct gdDeleter {
  void operator()(void* buffer) const {
    if (buffer) gdFree(buffer);
  }
};

#endif  // QUORLIN_THUMBNAIL_QL_GD_DELETERS_H_
