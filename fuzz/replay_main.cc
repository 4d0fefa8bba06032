// Replays fuzz inputs without libFuzzer: every argument is a file or a folder,
// and every regular file found is passed once to LLVMFuzzerTestOneInput, in
// name order. A fuzz target's own checks abort on a fault, so a clean run
// means every input passed. Used by the ctest replay of the committed corpora.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/ql_sample_files.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    if (fs::is_directory(argv[i], error)) {
      for (auto const& entry : fs::directory_iterator(argv[i], error))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else if (fs::is_regular_file(argv[i], error)) {
      files.push_back(argv[i]);
    }
    if (error || files.empty()) {
      std::fprintf(stderr, "no corpus at %s\n", argv[i]);
      return 1;
    }
  }
  std::sort(files.begin(), files.end());
  for (auto const& file : files) {
    qltest::Bytes const bytes = qltest::ReadBytes(file.string());
    uint8_t const empty = 0;  // libFuzzer never passes null
    LLVMFuzzerTestOneInput(bytes.empty() ? &empty : bytes.data(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", files.size());
  return 0;
}
