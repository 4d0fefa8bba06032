#include "media/ql_media_decoder_settings.h"

#include <limits.h>
#include <unistd.h>

#include <cstdint>

#include "base/ql_parse_number.h"

namespace {

// `name` in the folder of the running program, when it is there.
std::string ProgramNextToSelf(char const* name) {
  char self[PATH_MAX];
  ssize_t const length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return std::string();
  std::string path(self, static_cast<std::size_t>(length));
  std::string::size_type const slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  path.resize(slash + 1);
  path += name;
  return access(path.c_str(), X_OK) == 0 ? path : std::string();
}

QLCommandLineOption NumberOption(char const* name, std::string help, std::string expected,
                                 std::uint64_t low, std::uint64_t high, unsigned* target) {
  return {name, true, std::move(help), std::move(expected), [low, high, target](char const* value) {
            std::uint64_t number = 0;
            if (!ParseUnsigned(value, low, high, &number)) return false;
            *target = static_cast<unsigned>(number);
            return true;
          }};
}

}  // namespace

unsigned MediaDecoderCpuSeconds(QLMediaDecoderSettings const& settings) {
  return (settings.timeout_ms + 999) / 1000 + 1;
}

std::string MediaDecoderProgram(QLMediaDecoderSettings const& settings) {
  if (!settings.program.empty()) return settings.program;
  // Looked up once: the program does not move while the daemon runs.
  static std::string const next_to_self = ProgramNextToSelf("quorlin_gd_media_decoder");
  return next_to_self.empty() ? QL_HELPERS_INSTALLED_FOLDER "/quorlin_gd_media_decoder"
                              : next_to_self;
}

std::string StillDecoderProgram(QLMediaDecoderSettings const& settings) {
  if (!settings.program.empty()) return settings.program;
  static std::string const next_to_self = ProgramNextToSelf("quorlin_gd_still_decoder");
  return next_to_self.empty() ? QL_HELPERS_INSTALLED_FOLDER "/quorlin_gd_still_decoder"
                              : next_to_self;
}

std::string DocumentDecoderProgram(QLMediaDecoderSettings const& settings) {
  if (!settings.program.empty()) return settings.program;
  static std::string const next_to_self = ProgramNextToSelf("quorlin_gd_document_decoder");
  return next_to_self.empty() ? QL_HELPERS_INSTALLED_FOLDER "/quorlin_gd_document_decoder"
                              : next_to_self;
}

std::vector<QLCommandLineOption> MediaDecoderCommandLineOptions(QLMediaDecoderSettings* target) {
  std::vector<QLCommandLineOption> options;
  options.push_back(NumberOption(
      "decoder-timeout-ms",
      "      --decoder-timeout-ms N\n"
      "                            wall-clock limit of one decode in a helper process\n"
      "                            (RAW, video, PDF, HEIF, AVIF, JPEG XL) (default " +
          std::to_string(QLMediaDecoderSettings::kDefaultTimeoutMs) + ")\n",
      "100 to 60000", 100, 60000, &target->timeout_ms));
  options.push_back(NumberOption(
      "decoder-memory-mb",
      "      --decoder-memory-mb N\n"
      "                            address-space limit of that helper in MiB (default " +
          std::to_string(QLMediaDecoderSettings::kDefaultMemoryMb) + ")\n",
      "64 to 65536", 64, 65536, &target->memory_mb));
  options.push_back({"media-decoder", true,
                     "      --media-decoder PATH  the decoder helper for every format (default:\n"
                     "                            quorlin_gd_media_decoder,\n"
                     "                            quorlin_gd_still_decoder and\n"
                     "                            quorlin_gd_document_decoder next to the daemon,\n"
                     "                            else in " QL_HELPERS_INSTALLED_FOLDER ")\n",
                     "a program", [target](char const* value) {
                       if (*value == '\0') return false;
                       target->program = value;
                       return true;
                     }});
  return options;
}
