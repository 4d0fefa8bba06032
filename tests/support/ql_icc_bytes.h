// The bytes of an lcms2 profile, as a file or segment would carry them, for
// tests that make their own profiles. Header-only, so test support needs no
// lcms2; the tests that include it link lcms2 themselves.
#ifndef QUORLIN_TESTS_SUPPORT_QL_ICC_BYTES_H_
#define QUORLIN_TESTS_SUPPORT_QL_ICC_BYTES_H_

#include <lcms2.h>

#include <string>

namespace qltest {

// Serialises `profile` and closes it.
inline std::string IccBytes(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);  // the size; given a buffer, lcms2 keeps it
  std::string bytes(size, '\0');
  cmsSaveProfileToMem(profile, &bytes[0], &size);
  cmsCloseProfile(profile);
  return bytes;
}

}  // namespace qltest

#endif  // QUORLIN_TESTS_SUPPORT_QL_ICC_BYTES_H_
