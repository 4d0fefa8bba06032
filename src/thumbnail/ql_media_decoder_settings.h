// Settings of the media decoder helper (quorlin_gd_media_decoder), which
// decodes camera RAW previews and video frames in a child process: where
// it is, and the limits each run gets.
//
// Contract: a plain value inside QLThumbnailOptions, filled on the main
// thread by the command line before the provider serves and read-only
// afterwards; the option records point into the settings they fill, which
// must outlive the parse.
#ifndef QUORLIN_THUMBNAIL_QL_MEDIA_DECODER_SETTINGS_H_
#define QUORLIN_THUMBNAIL_QL_MEDIA_DECODER_SETTINGS_H_

#include <string>
#include <vector>

#include "base/ql_command_line_option.h"

struct QLMediaDecoderSettings {
  // Wall-clock time one run may take before it is killed. A request waits
  // for its run (and with one provider lock, every other request waits
  // too), so this is what one hostile or pathological file can cost the
  // others. Seeking to a key frame and decoding up to one group of pictures
  // of a 4K H.264 or HEVC video takes well under a second on a desktop core
  // and a few seconds on a slow storage-device core; 5 s leaves that room
  // and stays half of the 10 s a client waits for its answer.
  static constexpr unsigned kDefaultTimeoutMs = 5000;
  // Address space of one run. The helper maps LibRaw, FFmpeg and their codec
  // libraries (about 200 MiB of address space before it reads a byte) and
  // then holds the decoder's reference frames (a 4K HEVC stream keeps up
  // to 16 of about 12 MiB) or the mapped RAW file (commonly 20-100 MiB).
  // 1 GiB covers both with room; a file that needs more is refused as
  // failed, not left to grow inside the service's memory limit.
  static constexpr unsigned kDefaultMemoryMb = 1024;

  unsigned timeout_ms = kDefaultTimeoutMs;
  unsigned memory_mb = kDefaultMemoryMb;
  // The helper program; empty: the one next to the running daemon, else
  // the installed one (MediaDecoderProgram).
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

// --decoder-timeout-ms, --decoder-memory-mb and --media-decoder, setting
// `*target`. A refused value leaves its field as it was.
std::vector<QLCommandLineOption> MediaDecoderCommandLineOptions(QLMediaDecoderSettings* target);

#endif  // QUORLIN_THUMBNAIL_QL_MEDIA_DECODER_SETTINGS_H_
