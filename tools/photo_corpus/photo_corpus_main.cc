// ql_photo_corpus: writes the comparison photos and a manifest into a folder.
//   ql_photo_corpus --out DIR [--full] [--quality N]
// Photos already present with the expected manifest line are kept.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/ql_command_line_option.h"
#include "ql_exif_preview.h"
#include "ql_photo_corpus.h"
#include "ql_photo_synth.h"

namespace {

// Part of every manifest line: raise it whenever DrawPhoto changes its
// pixels, so photos drawn by an older version are drawn again.
const int kDrawingVersion = 1;

std::string Tail(int quality) {
  return " " + std::to_string(quality) + " v" + std::to_string(kDrawingVersion);
}

int Usage(char const* program) {
  fprintf(stderr, "usage: %s --out DIR [--full] [--quality 1..100]\n", program);
  return 2;
}

// name -> manifest line, from an earlier run into the same folder.
std::map<std::string, std::string> ReadManifest(std::string const& path) {
  std::map<std::string, std::string> lines;
  std::ifstream in(path.c_str());
  std::string line;
  while (std::getline(in, line)) {
    std::string const name = line.substr(0, line.find(' '));
    lines[name] = line;
  }
  return lines;
}

bool FileHasSize(std::string const& path, std::size_t size) {
  std::ifstream in(path.c_str(), std::ios::binary | std::ios::ate);
  return in && static_cast<std::size_t>(in.tellg()) == size;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out;
  bool full = false;
  int quality = 90;
  std::vector<QLCommandLineOption> options(2);
  options[0].name = "out";
  options[0].takes_value = true;
  options[0].apply = [&out](char const* value) {
    out = value;
    return true;
  };
  options[1].name = "full";
  options[1].apply = [&full](char const*) { return full = true; };
  options.push_back(NumberOption("quality", 1, 100, "1 to 100",
                                 [&quality](std::uint64_t n) { quality = static_cast<int>(n); }));
  std::string error;
  std::vector<std::string> operands;
  if (!ParseCommandLine(argc, argv, options, QLCommandLineMode::kStopAtFirstError, &operands,
                        &error) ||
      !operands.empty()) {
    if (!error.empty()) fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return Usage(argv[0]);
  }
  if (out.empty()) return Usage(argv[0]);

  std::string const manifest_path = out + "/manifest.txt";
  std::map<std::string, std::string> const previous = ReadManifest(manifest_path);
  std::ostringstream manifest;
  for (QLCorpusPhoto const& photo : CorpusPlan(full)) {
    std::string const path = out + "/" + photo.name;
    auto const old = previous.find(photo.name);
    if (old != previous.end()) {
      // Keep a photo made earlier with the same plan line and quality.
      std::istringstream fields(old->second);
      std::string name, width, height, progressive, role;
      std::size_t bytes = 0;
      fields >> name >> width >> height >> progressive >> role >> bytes;
      std::string const expected = ManifestLine(photo, bytes) + Tail(quality);
      if (old->second == expected && FileHasSize(path, bytes)) {
        manifest << old->second << '\n';
        continue;
      }
    }
    QLPhotoSpec photo_spec;
    photo_spec.width = photo.width;
    photo_spec.height = photo.height;
    photo_spec.seed = photo.seed;
    ScopedPhoto picture = DrawPhoto(photo_spec);
    std::vector<unsigned char> jpeg = EncodeJpeg(picture.get(), quality, photo.progressive);
    if (photo.role == kCorpusPreview) {
      jpeg = WithExifPreview(jpeg, picture.get(), photo.orientation, 160, 120);
    }
    if (jpeg.empty()) {
      fprintf(stderr, "%s: cannot draw or encode %s\n", argv[0], photo.name.c_str());
      return 1;
    }
    std::ofstream file(path.c_str(), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<char const*>(jpeg.data()),
               static_cast<std::streamsize>(jpeg.size()));
    file.close();
    if (!file) {
      fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
      return 1;
    }
    manifest << ManifestLine(photo, jpeg.size()) << Tail(quality) << '\n';
    printf("wrote %s (%dx%d, %s, %zu bytes)\n", path.c_str(), photo.width, photo.height,
           photo.progressive ? "progressive" : "baseline", jpeg.size());
  }
  std::ofstream manifest_file(manifest_path.c_str(), std::ios::trunc);
  manifest_file << manifest.str();
  return manifest_file ? 0 : 1;
}
