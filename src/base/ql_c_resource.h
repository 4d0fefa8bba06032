// Owners for resources of C libraries that are released by one call: the
// deleter does nothing for a null pointer, so a failed open leaves an empty
// holder and emptiness is the test for failure.
//
// Contract: std::unique_ptr semantics (move-only, one owner, not
// thread-safe); the resource is released when the holder goes.
#ifndef QUORLIN_BASE_QL_C_RESOURCE_H_
#define QUORLIN_BASE_QL_C_RESOURCE_H_

#include <dirent.h>
#include <stdio.h>

#include <memory>

// Calls `Release` on a non-null pointer.
template <auto Release>
struct QLReleaseDeleter {
  template <typename T>
  void operator()(T* resource) const {
    if (resource) Release(resource);
  }
};

// A T* released with `Release`, e.g. QLUniqueCResource<FILE, fclose>.
template <typename T, auto Release>
using QLUniqueCResource = std::unique_ptr<T, QLReleaseDeleter<Release>>;

using QLUniqueFile = QLUniqueCResource<FILE, fclose>;
using QLUniqueDir = QLUniqueCResource<DIR, closedir>;

#endif  // QUORLIN_BASE_QL_C_RESOURCE_H_
