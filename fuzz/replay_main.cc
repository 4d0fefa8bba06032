// Replays fuzz inputs without libFuzzer: every argument is a file or a folder,
// and every regular file found is passed once to LLVMFuzzerTestOneInput, in
// name order. A fuzz target's own checks abort on a fault, so a clean run
// means every input passed. Used by the ctest replay of the committed corpora.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

namespace {

bool ReadFile(fs::path const& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    fs::path path(argv[i]);
    std::error_code error;
    if (fs::is_directory(path, error)) {
      for (auto const& entry : fs::directory_iterator(path, error)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else if (fs::is_regular_file(path, error)) {
      files.push_back(path);
    } else {
      std::fprintf(stderr, "no corpus at %s\n", argv[i]);
    }
    if (error) {
      std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
  }
  std::sort(files.begin(), files.end());
  std::vector<uint8_t> bytes;
  for (auto const& file : files) {
    if (!ReadFile(file, bytes)) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 1;
    }
    // An empty vector's data() may be null; libFuzzer never passes null.
    uint8_t const empty = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &empty : bytes.data(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", files.size());
  return 0;
}
