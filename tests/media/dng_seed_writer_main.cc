// Writes DNG samples into a folder, for fuzz/make_media_seeds.sh: previews
// in three orientations, a preview larger than the fuzzer's source limit
// would allow to be read, and one cut short.
//   ql_dng_seed_writer FOLDER
#include <cstdio>
#include <string>

#include "support/ql_dng_sample.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ql_dng_seed_writer FOLDER\n");
    return 2;
  }
  std::string const folder = argv[1];
  qltest::Bytes const preview = qltest::Solid(qltest::Format::kJpeg, 32, 24, {40, 90, 200});
  bool ok = !preview.empty();
  for (int orientation : {1, 6, 8}) {
    ok = ok && qltest::WriteBytes(folder + "/dng_orientation_" + std::to_string(orientation),
                                  qltest::DngWithPreview(preview, 32, 24, orientation));
  }
  // The preview's IFD claims 4000 x 3000 pixels.
  ok = ok && qltest::WriteBytes(folder + "/dng_claims_12_megapixels",
                                qltest::DngWithPreview(preview, 4000, 3000, 1));
  qltest::Bytes const whole = qltest::DngWithPreview(preview, 32, 24, 3);
  ok = ok && qltest::WriteBytes(folder + "/dng_cut_short",
                                qltest::Bytes(whole.begin(), whole.begin() + whole.size() / 2));
  return ok ? 0 : 1;
}
