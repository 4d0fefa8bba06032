// Fuzz target for the decoder helpers' decoders, in-process: camera RAW
// bytes through LibRaw's preview extraction, video bytes through the
// demuxers, decoders and scaler, HEIF, AVIF and JPEG XL bytes through
// libheif, libavif and libjxl, PDF bytes through poppler's first page,
// exactly as the helpers run them on their standard input (here a memory
// file). libdav1d 1.0.0 loses 40 bytes on some damaged AV1 streams
// (fuzz/media_decoder.lsan.supp): in the helper that memory dies with it.
//
// Input layout:
//   byte 0   % 6: 0 camera RAW, 1 video, 2 HEIF, 3 AVIF, 4 JPEG XL, 5 PDF
//   rest     the file
//
// Checks beyond "no crash, no leak, no sanitizer report": an answer the
// decoders give is one the daemon accepts under the same limits (it
// survives encoding and the daemon's strict reading), its RGB frame covers
// the box or the whole source, and it declares no more than the limits; a
// refusal (PDF) is only ever a PDF's.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "base/ql_unique_fd.h"
#include "base/ql_write_all.h"
#include "fuzz_support.h"
#include "media/ql_media_frame.h"
#include "media/ql_pdf_page.h"
#include "media/ql_raw_preview.h"
#include "media/ql_still_image.h"
#include "media/ql_video_frame.h"

namespace {

using qlfuzz::FuzzCheck;

// Small limits keep the fuzzer fast: 4 megapixels of source, a 64 x 48 box.
std::uint64_t const kMaxSourcePixels = 4000000;
std::uint64_t const kMaxOutputPixels = 64 * 64 * 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1) return 0;
  int const kind = data[0] % 6;
  QLUniqueFd file(memfd_create("media", MFD_CLOEXEC));
  FuzzCheck(file.valid(), "memfd_create");
  FuzzCheck(WriteAll(file.get(), data + 1, size - 1), "write the input");

  QLMediaAnswer answer;
  std::string error;
  QLMediaAnswerLimits limits;
  limits.max_jpeg_bytes = kQLMaxRawPreviewBytes;
  limits.max_pixels = kMaxOutputPixels;
  bool ok = false;
  if (kind != 0) {
    QLFrameRequest request;
    request.max_source_pixels = kMaxSourcePixels;
    request.box_width = 64;
    request.box_height = 48;
    request.max_output_pixels = kMaxOutputPixels;
    static QLStillFormat const kStill[] = {QLStillFormat::kHeif, QLStillFormat::kAvif,
                                           QLStillFormat::kJxl};
    if (kind == 1) {
      ok = ExtractVideoFrame(file.get(), request, &answer, &error);
    } else if (kind == 5) {
      ok = ExtractPdfPage(file.get(), request, &answer, &error);
    } else {
      ok = ExtractStillImage(file.get(), kStill[kind - 2], request, &answer, &error);
    }
    FuzzCheck(ok || kind == 5 || answer.kind != QLMediaAnswerKind::kRefused,
              "only a PDF is refused");
    if (ok) {
      FuzzCheck(answer.kind == QLMediaAnswerKind::kRgbPixels, "a frame answer holds pixels");
      FuzzCheck(answer.width >= std::min<std::uint32_t>(64, answer.original_width) ||
                    static_cast<std::uint64_t>(answer.width + 1) * answer.height > kMaxOutputPixels,
                "the frame covers the box unless the pixel cap stopped it");
    }
  } else {
    ok = ExtractRawPreview(file.get(), kMaxSourcePixels, &answer, &error);
    if (ok) FuzzCheck(answer.kind == QLMediaAnswerKind::kJpegPreview, "a RAW answer is a JPEG");
  }
  if (!ok) {
    FuzzCheck(!error.empty(), "a failure says why");
    return 0;
  }
  std::vector<std::uint8_t> const bytes = EncodeMediaAnswer(answer);
  QLMediaAnswer parsed;
  FuzzCheck(DecodeMediaAnswer(bytes.data(), bytes.size(), limits, &parsed, &error),
            "the daemon accepts the answer");
  FuzzCheck(parsed.payload == answer.payload, "the answer survives the round trip");
  return 0;
}
