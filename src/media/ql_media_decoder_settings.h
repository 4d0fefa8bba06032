// Settings of the decoder helpers, which decode camera RAW previews, video
// frames (quorlin_gd_media_decoder), HEIF, AVIF and JPEG XL pictures
// (quorlin_gd_still_decoder) and PDF pages (quorlin_gd_document_decoder) in
// a child process: where they are, and the limits each run gets.
//
// Contract: a plain value inside QLThumbnailOptions, filled on the main
// thread by the command line before the provider serves and read-only
// afterwards; the option records point into the settings they fill, which
// must outlive the parse.
#ifndef QUORLIN_MEDIA_QL_MEDIA_DECODER_SETTINGS_H_
#define QUORLIN_MEDIA_QL_MEDIA_DECODER_SETTINGS_H_

#include <string>
#include <vector>

#include "base/ql_command_line_option.h"

struct QLMediaDecoderSettings {
  // Wall-clock time one run may take before it is killed. A request waits
  // for its run (and with one provider lock, every other request waits
  // too), so this is what one hostile or pathological file can cost the
  // others. Measured on a desktop core: the frame of a 4K H.264 video
  // (seek, then a dozen frames up to 10%) takes 1 s; a storage device's
  // slower cores need a few times that. 5 s leaves that room; a file that
  // needs more (very long groups of pictures) gets the default picture.
  static constexpr unsigned kDefaultTimeoutMs = 5000;
  // Address space of one run. The helper maps LibRaw, FFmpeg and their codec
  // libraries (about 150 MiB before it reads a byte; it does not start at
  // 128 MiB). The 4K H.264 frame above ran within 256 MiB (75 MiB resident);
  // HEVC keeps up to 16 reference frames, 8K ones four times the size, and
  // a RAW file is mapped whole (commonly 20-100 MiB). 1 GiB covers these;
  // a file that needs more fails, instead of growing inside the service's
  // memory limit.
  static constexpr unsigned kDefaultMemoryMb = 1024;

  unsigned timeout_ms = kDefaultTimeoutMs;
  unsigned memory_mb = kDefaultMemoryMb;
  // The helper program for every format; empty: the ones next to the
  // running daemon, else the installed ones (MediaDecoderProgram,
  // StillDecoderProgram).
  std::string program;
};

// The CPU seconds a run may use: its wall-clock limit rounded up, plus one.
// The parent kills a run at its deadline; this limit still ends a helper
// whose daemon died before it could.
unsigned MediaDecoderCpuSeconds(QLMediaDecoderSettings const& settings);

// The helper to run: settings.program when set; else
// "quorlin_gd_media_decoder" in the folder of the running program when it
// is there; else the path the package installs it at.
std::string MediaDecoderProgram(QLMediaDecoderSettings const& settings);

// The HEIF, AVIF and JPEG XL helper, found the same way: settings.program
// when set (it decodes every format); else "quorlin_gd_still_decoder" next
// to the running program, else where the package installs it.
std::string StillDecoderProgram(QLMediaDecoderSettings const& settings);

// The PDF helper, found the same way ("quorlin_gd_document_decoder").
std::string DocumentDecoderProgram(QLMediaDecoderSettings const& settings);

// --decoder-timeout-ms, --decoder-memory-mb and --media-decoder, setting
// `*target`. A refused value leaves its field as it was.
std::vector<QLCommandLineOption> MediaDecoderCommandLineOptions(QLMediaDecoderSettings* target);

#endif  // QUORLIN_MEDIA_QL_MEDIA_DECODER_SETTINGS_H_
