#include "support/ql_format_samples.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/ql_sample_files.h"

namespace qltest {
namespace {

struct Point {
  int x, y;
};

// Where the EXIF orientation `o` shows stored pixel (x, y) of a w x h file.
Point ShownAt(int o, int x, int y, int w, int h) {
  switch (o) {
    case 2:
      return {w - 1 - x, y};
    case 3:
      return {w - 1 - x, h - 1 - y};
    case 4:
      return {x, h - 1 - y};
    case 5:
      return {y, x};
    case 6:
      return {h - 1 - y, x};
    case 7:
      return {h - 1 - y, w - 1 - x};
    case 8:
      return {y, w - 1 - x};
    default:
      return {x, y};
  }
}

// Runs `tool` with `arguments` (paths of ours: no quoting needed) quietly.
std::string Run(std::string const& tool, std::string const& arguments) {
  if (std::system(("command -v " + tool + " >/dev/null").c_str()) != 0) {
    return tool + " is not installed (scripts/install-deps.sh installs it)";
  }
  std::string const command = tool + " " + arguments + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return "\"" + command + "\" failed";
  return "";
}

// A TIFF block holding only an Orientation entry, as WebP's EXIF chunk holds it.
Bytes OrientationTiff(int orientation) {
  return {'I',  'I',  42, 0, 8, 0, 0, 0,  // header, IFD at 8
          1,    0,                        // one entry
          0x12, 0x01, 3,  0, 1, 0, 0, 0, static_cast<unsigned char>(orientation), 0, 0, 0,  // 274
          0,    0,    0,  0};  // no next IFD
}

// heif-enc has no rotation option: its 16-byte 'pixi' property of the
// primary picture becomes an 'irot' or 'imir' of the same size, so no
// offset in the file moves.
std::string PatchHeifTransform(std::string const& path, int orientation) {
  static int const kProperty[9][2] = {{0, 0}, {0, 0},   {'m', 1}, {'r', 2}, {'m', 0},
                                      {0, 0}, {'r', 3}, {0, 0},   {'r', 1}};
  if (orientation == 1) return "";
  if (orientation < 1 || orientation > 8 || kProperty[orientation][0] == 0) {
    return "HEIF samples come in orientations 1, 2, 3, 4, 6 and 8 only";
  }
  Bytes bytes = ReadBytes(path);
  std::string const text(bytes.begin(), bytes.end());
  std::string::size_type const at = text.find("pixi");
  if (at == std::string::npos || at < 4 || bytes[at - 1] != 16) return "no 'pixi' in " + path;
  char const* type = kProperty[orientation][0] == 'r' ? "irot" : "imir";
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(type[i]);
  bytes[at + 4] = static_cast<unsigned char>(kProperty[orientation][1]);
  for (std::size_t i = at + 5; i < at + 12; ++i) bytes[i] = 0;
  return WriteBytes(path, bytes) ? "" : "cannot write " + path;
}

std::string EncodeSample(SampleSpec const& recipe, std::string const& source,
                         std::string const& path) {
  static char const* const kAvifTurn[9] = {"",         "",
                                           "--imir 1", "--irot 2",
                                           "--imir 0", "--irot 1 --imir 0",
                                           "--irot 3", "--irot 1 --imir 1",
                                           "--irot 1"};
  std::string const o = std::to_string(recipe.orientation);
  std::string why;
  switch (recipe.format) {
    case SampleFormat::kHeif:
      why = Run("heif-enc", "-q 90 -o " + path + " " + source);
      return why.empty() ? PatchHeifTransform(path, recipe.orientation) : why;
    case SampleFormat::kAvif:
      return Run(
          "avifenc",
          std::string("-l ") +
              kAvifTurn[recipe.orientation >= 1 && recipe.orientation <= 8 ? recipe.orientation
                                                                           : 1] +
              " " + source + " " + path);
    case SampleFormat::kWebpLossy:
    case SampleFormat::kWebpLossless: {
      std::string const mode = recipe.format == SampleFormat::kWebpLossless ? "-lossless" : "-q 90";
      why = Run("cwebp", mode + " " + source + " -o " + path);
      if (!why.empty() || recipe.orientation == 1) return why;
      std::string const exif = path + ".exif";
      if (!WriteBytes(exif, OrientationTiff(recipe.orientation))) return "cannot write " + exif;
      return Run("webpmux", "-set exif " + exif + " " + path + " -o " + path);
    }
    case SampleFormat::kJxl: {
      std::string const jpeg = path + ".jpg";
      why = Run("ffmpeg", "-loglevel error -y -i " + source + " -q:v 1 " + path + ".plain.jpg");
      if (why.empty()) {
        why = Run("exif", "--create-exif --ifd=0 -t 0x0112 --set-value=" + o + " -o " + jpeg + " " +
                              path + ".plain.jpg");
      }
      if (why.empty()) why = Run("cjxl", "--lossless_jpeg=1 " + jpeg + " " + path);
      std::remove(jpeg.c_str());
      std::remove((path + ".plain.jpg").c_str());
      return why;
    }
    case SampleFormat::kWebpAnimated: {
      std::string const negative = path + ".neg.png";
      why = Run("ffmpeg", "-loglevel error -y -i " + source + " -vf negate " + negative);
      if (why.empty()) {
        why = Run("img2webp", "-lossless " + source + " -d 200 " + negative + " -o " + path);
      }
      std::remove(negative.c_str());
      return why;
    }
    default: {
      char const* format = recipe.format == SampleFormat::kTiffGray      ? "gray"
                           : recipe.format == SampleFormat::kTiffRgb16   ? "rgb48le"
                           : recipe.format == SampleFormat::kTiffPalette ? "pal8"
                                                                         : "rgb24";
      why = Run("ffmpeg", "-loglevel error -y -i " + source + " -pix_fmt " + format +
                              " -f image2 " + "-c:v tiff " + path);
      if (!why.empty() || recipe.orientation == 1) return why;
      return Run("tiffset", "-s 274 " + o + " " + path);
    }
  }
}

}  // namespace

gdImagePtr DrawShownPicture(int width, int height, int bottom_right) {
  gdImagePtr image = gdImageCreateTrueColor(width, height);
  if (!image) return nullptr;
  gdImageFilledRectangle(image, 0, 0, width / 2 - 1, height - 1, gdTrueColor(220, 30, 30));
  gdImageFilledRectangle(image, width / 2, 0, width - 1, height / 2 - 1, gdTrueColor(30, 200, 30));
  gdImageFilledRectangle(image, width / 2, height / 2, width - 1, height - 1, bottom_right);
  return image;
}

std::string MakePdf(PdfRecipe const& recipe) {
  int const w = recipe.width, h = recipe.height, m = 20;  // m: the black margin
  // A rectangle of the page as shown (y down) in the page's own space
  // (y up): /Rotate 90 shows the page turned clockwise.
  auto rect = [&](int x0, int y0, int x1, int y1) {
    int const px = recipe.rotate == 90 ? y0 : x0, py = recipe.rotate == 90 ? x0 : h - y1;
    int const pw = recipe.rotate == 90 ? y1 - y0 : x1 - x0,
              ph = recipe.rotate == 90 ? x1 - x0 : y1 - y0;
    return std::to_string(px + m) + " " + std::to_string(py + m) + " " + std::to_string(pw) + " " +
           std::to_string(ph) + " re f\n";
  };
  int const sw = recipe.rotate == 90 ? h : w, sh = recipe.rotate == 90 ? w : h;  // as stored
  std::string const outer = std::to_string(sw + 2 * m) + " " + std::to_string(sh + 2 * m);
  std::string content = "0 g 0 0 " + outer + " re " + std::to_string(m) + " " + std::to_string(m) +
                        " " + std::to_string(sw) + " " + std::to_string(sh) + " re f*\n";
  content += "0.863 0.118 0.118 rg " + rect(0, 0, w / 2, h);
  content += "0.118 0.784 0.118 rg " + rect(w / 2, 0, w, h / 2);
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + outer + "] /CropBox [" + std::to_string(m) +
          " " + std::to_string(m) + " " + std::to_string(sw + m) + " " + std::to_string(sh + m) +
          "] /Rotate " + std::to_string(recipe.rotate) +
          " /Contents 4 0 R /Resources << /XObject << /F0 5 0 R >> >> >>"};
  if (recipe.damage == PdfRecipe::kEndlessForms) {
    content = "/F0 Do\n";
    for (int i = 0; i < 28; ++i) {
      std::string const next = "/F" + std::to_string(i + 1);
      std::string const body = i < 27 ? next + " Do " + next + " Do" : "0 g 0 0 1 1 re f";
      objects.push_back("<< /Type /XObject /Subtype /Form /BBox [0 0 " + outer +
                        "] /Resources << /XObject << " + next + " " + std::to_string(i + 6) +
                        " 0 R >> >> /Length " + std::to_string(body.size()) + " >>\nstream\n" +
                        body + "\nendstream");
    }
  }
  objects.insert(objects.begin() + 3, "<< /Length " + std::to_string(content.size()) +
                                          " >>\nstream\n" + content + "\nendstream");
  std::string trailer;
  if (recipe.damage == PdfRecipe::kLocked) {
    objects.push_back("<< /Filter /Standard /V 1 /R 2 /O <" + std::string(64, '1') + "> /U <" +
                      std::string(64, '2') + "> /P -4 >>");
    trailer = " /Encrypt " + std::to_string(objects.size()) + " 0 R /ID [<" + std::string(32, '0') +
              "> <" + std::string(32, '0') + ">]";
  }
  std::string pdf = "%PDF-1.4\n";
  std::string xref = "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t i = 0; i < objects.size(); ++i) {
    char entry[24];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
    xref += entry;
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  std::size_t const start = pdf.size();
  pdf += xref + "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R" +
         trailer + " >>\nstartxref\n" + std::to_string(start) + "\n%%EOF\n";
  return recipe.damage == PdfRecipe::kCutInHalf ? pdf.substr(0, pdf.size() / 2) : pdf;
}

std::string JxlHeaderOnly(std::uint32_t width, std::uint32_t height) {
  // The codestream signature, then the SizeHeader and ImageMetadata as bits,
  // least significant first: not small; height - 1 in 30 bits (selector 3);
  // no ratio; width - 1 in 30 bits; all_default metadata.
  std::string out = "\xFF\x0A";
  std::uint64_t bits = 0;
  int count = 0;
  auto put = [&](std::uint64_t value, int n) {
    for (int i = 0; i < n; ++i, ++count) {
      bits |= ((value >> i) & 1u) << (count % 8);
      if (count % 8 == 7) {
        out += static_cast<char>(bits);
        bits = 0;
      }
    }
  };
  put(0, 1);
  put(3, 2);
  put(height - 1, 30);
  put(0, 3);
  put(3, 2);
  put(width - 1, 30);
  put(1, 1);
  put(0, 8 - count % 8);
  return out;
}

std::string MakeFormatSample(SampleSpec const& recipe, std::string const& path) {
  bool const swapped = recipe.orientation >= 5 && recipe.orientation <= 8;
  int const w = swapped ? recipe.height : recipe.width;  // as stored
  int const h = swapped ? recipe.width : recipe.height;
  gdImagePtr shown = DrawShownPicture(recipe.width, recipe.height);
  gdImagePtr stored = gdImageCreateTrueColor(w, h);
  if (!shown || !stored) {
    if (shown) gdImageDestroy(shown);
    if (stored) gdImageDestroy(stored);
    return "cannot draw the picture";
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Point const p = ShownAt(recipe.orientation, x, y, w, h);
      gdImageSetPixel(stored, x, y, gdImageGetTrueColorPixel(shown, p.x, p.y));
    }
  }
  Bytes const png = Encode(stored, Format::kPng);
  gdImageDestroy(shown);
  gdImageDestroy(stored);
  std::string const source = path + ".src.png";
  if (png.empty() || !WriteBytes(source, png)) return "cannot write " + source;
  std::string const why = EncodeSample(recipe, source, path);
  std::remove(source.c_str());
  std::remove((path + ".exif").c_str());
  return why;
}

}  // namespace qltest
