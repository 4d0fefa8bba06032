#include "media/ql_pdf_page.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "media/ql_decoder_input.h"

namespace {

bool Fail(std::string* error, std::string why) {
  *error = std::move(why);
  return false;
}

bool Refuse(QLMediaAnswer* answer, std::string* error, std::string why) {
  answer->kind = QLMediaAnswerKind::kRefused;
  return Fail(error, std::move(why));
}

// poppler's complaints about damaged files would go to standard error.
void DropMessage(std::string const&, void*) {}

std::string Number(double value) { return std::to_string(static_cast<long long>(value)); }

}  // namespace

bool ExtractPdfPage(int fd, QLFrameRequest const& request, QLMediaAnswer* answer,
                    std::string* error) {
  poppler::set_debug_error_function(DropMessage, nullptr);
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(fd, kQLMaxPdfFileBytes, &bytes, error)) return false;
  // From memory: poppler never learns a file name it could resolve other
  // names against.
  std::unique_ptr<poppler::document> document(poppler::document::load_from_raw_data(
      reinterpret_cast<char const*>(bytes.data()), static_cast<int>(bytes.size())));
  if (!document) return Fail(error, "poppler cannot read the document");
  if (document->is_locked()) return Refuse(answer, error, "encrypted with a password");
  if (document->pages() <= 0) return Refuse(answer, error, "no pages");
  std::unique_ptr<poppler::page> page(document->create_page(0));
  if (!page) return Fail(error, "poppler cannot read the first page");

  // The crop box as poppler clips it to the media box, in points, and the
  // page's /Rotate, which the renderer applies.
  poppler::rectf const box = page->page_rect(poppler::crop_box);
  double width = box.width();
  double height = box.height();
  poppler::page::orientation_enum const turn = page->orientation();
  if (turn == poppler::page::landscape || turn == poppler::page::seascape) {
    std::swap(width, height);
  }
  if (!std::isfinite(width) || !std::isfinite(height) || width < 1 || height < 1) {
    return Fail(error, "the first page has no area");
  }
  // The page just covers the box, as a video frame does.
  double const scale = std::max(request.box_width / width, request.box_height / height);
  double const pixels_wide = std::ceil(width * scale);
  double const pixels_high = std::ceil(height * scale);
  double const dpi = 72 * scale;
  if (pixels_wide > (1u << 20) || pixels_high > (1u << 20) ||
      pixels_wide * pixels_high > static_cast<double>(request.max_source_pixels)) {
    return Refuse(answer, error,
                  "first page of " + Number(width) + "x" + Number(height) + " points needs " +
                      Number(pixels_wide) + "x" + Number(pixels_high) + " pixels at " +
                      Number(dpi) + " dpi, over the source limit");
  }

  poppler::page_renderer renderer;
  renderer.set_image_format(poppler::image::format_rgb24);
  renderer.set_paper_color(0xffffffff);
  renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
  poppler::image const image = renderer.render_page(page.get(), dpi, dpi);
  if (!image.is_valid() || image.format() != poppler::image::format_rgb24) {
    return Fail(error, "poppler did not draw the first page");
  }
  int const drawn_width = image.width();
  int const drawn_height = image.height();
  // poppler rounds the raster's size its own way; one pixel more is all it
  // may add to what was checked.
  if (drawn_width <= 0 || drawn_height <= 0 || drawn_width > pixels_wide + 1 ||
      drawn_height > pixels_high + 1 || image.bytes_per_row() < drawn_width * 3) {
    return Fail(error, "poppler drew a page of an unexpected size");
  }
  return SampleRowsToAnswer(reinterpret_cast<std::uint8_t const*>(image.const_data()),
                            static_cast<std::size_t>(image.bytes_per_row()), 3,
                            static_cast<std::uint32_t>(drawn_width),
                            static_cast<std::uint32_t>(drawn_height), request, answer, error);
}
