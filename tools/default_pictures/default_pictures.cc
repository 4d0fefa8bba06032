// Draws the five default pictures the thumbnail service falls back to and
// writes them as JPEG files into the folder named on the command line:
// image.jpg, audio.jpg, video.jpg, doc.jpg and any_file.jpg, 512 by 512 each.
//
//   quorlin_gd_default_pictures OUTPUT_FOLDER
//
// Single-threaded build tool; every libgd resource is held by a RAII owner.
#include <gd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "base/ql_c_resource.h"

namespace {

const int kSize = 512;
const int kJpegQuality = 90;

struct ImageDeleter {
  void operator()(gdImagePtr image) const {
    if (image) gdImageDestroy(image);
  }
};
typedef std::unique_ptr<gdImage, ImageDeleter> Image;

struct GdFreeDeleter {
  void operator()(void* bytes) const {
    if (bytes) gdFree(bytes);
  }
};

int Rgb(gdImagePtr image, int r, int g, int b) { return gdImageColorAllocate(image, r, g, b); }

void Polygon(gdImagePtr image, std::initializer_list<gdPoint> points, int color) {
  gdPoint copy[16];
  int n = 0;
  for (gdPoint const& p : points) copy[n++] = p;
  gdImageFilledPolygon(image, copy, n, color);
}

// A sheet of paper with its top-right corner folded down, as file icons have.
void Page(gdImagePtr image, int fill, int outline, int fold) {
  const int left = 120, top = 56, right = 392, bottom = 456, corner = 88;
  Polygon(
      image,
      {{left, top}, {right - corner, top}, {right, top + corner}, {right, bottom}, {left, bottom}},
      fill);
  gdImageSetThickness(image, 8);
  gdPoint outline_points[] = {
      {left, top}, {right - corner, top}, {right, top + corner}, {right, bottom}, {left, bottom}};
  gdImagePolygon(image, outline_points, 5, outline);
  Polygon(image, {{right - corner, top}, {right - corner, top + corner}, {right, top + corner}},
          fold);
  gdPoint fold_points[] = {
      {right - corner, top}, {right - corner, top + corner}, {right, top + corner}};
  gdImagePolygon(image, fold_points, 3, outline);
  gdImageSetThickness(image, 1);
}

// Landscape: sky, sun, two mountains with snow caps, meadow.
void DrawImage(gdImagePtr image) {
  gdImageFilledRectangle(image, 0, 0, kSize - 1, kSize - 1, Rgb(image, 120, 190, 240));
  gdImageFilledEllipse(image, 380, 120, 120, 120, Rgb(image, 255, 210, 40));
  Polygon(image, {{-40, 420}, {170, 170}, {380, 420}}, Rgb(image, 110, 110, 125));
  Polygon(image, {{170, 170}, {128, 220}, {212, 220}}, Rgb(image, 245, 245, 250));
  Polygon(image, {{180, 420}, {350, 230}, {560, 420}}, Rgb(image, 85, 90, 105));
  Polygon(image, {{350, 230}, {316, 268}, {384, 268}}, Rgb(image, 245, 245, 250));
  gdImageFilledRectangle(image, 0, 410, kSize - 1, kSize - 1, Rgb(image, 70, 160, 70));
}

// Two beamed eighth notes.
void DrawAudio(gdImagePtr image) {
  gdImageFilledRectangle(image, 0, 0, kSize - 1, kSize - 1, Rgb(image, 250, 240, 220));
  int const ink = Rgb(image, 40, 30, 70);
  gdImageFilledEllipse(image, 170, 380, 120, 88, ink);
  gdImageFilledEllipse(image, 370, 340, 120, 88, ink);
  gdImageFilledRectangle(image, 214, 130, 230, 380, ink);
  gdImageFilledRectangle(image, 414, 90, 430, 340, ink);
  Polygon(image, {{214, 130}, {430, 90}, {430, 140}, {214, 180}}, ink);
}

// Film strip with sprocket holes and a play triangle.
void DrawVideo(gdImagePtr image) {
  gdImageFilledRectangle(image, 0, 0, kSize - 1, kSize - 1, Rgb(image, 230, 230, 235));
  gdImageFilledRectangle(image, 40, 96, 472, 416, Rgb(image, 30, 30, 35));
  int const hole = Rgb(image, 230, 230, 235);
  for (int x = 60; x < 460; x += 56) {
    gdImageFilledRectangle(image, x, 112, x + 28, 136, hole);
    gdImageFilledRectangle(image, x, 376, x + 28, 400, hole);
  }
  gdImageFilledRectangle(image, 56, 156, 456, 356, Rgb(image, 70, 110, 190));
  Polygon(image, {{216, 186}, {216, 326}, {330, 256}}, Rgb(image, 255, 255, 255));
}

// A page with lines of text.
void DrawDoc(gdImagePtr image) {
  gdImageFilledRectangle(image, 0, 0, kSize - 1, kSize - 1, Rgb(image, 215, 225, 240));
  Page(image, Rgb(image, 255, 255, 255), Rgb(image, 60, 70, 90), Rgb(image, 200, 205, 215));
  int const text = Rgb(image, 90, 100, 120);
  for (int y = 180; y <= 420; y += 30) {
    int const end = (y / 30) % 3 == 0 ? 300 : 356;
    gdImageFilledRectangle(image, 152, y, end, y + 10, text);
  }
  gdImageFilledRectangle(image, 152, 110, 260, 128, Rgb(image, 40, 90, 170));
}

// A blank generic file.
void DrawAnyFile(gdImagePtr image) {
  gdImageFilledRectangle(image, 0, 0, kSize - 1, kSize - 1, Rgb(image, 235, 235, 235));
  Page(image, Rgb(image, 180, 185, 195), Rgb(image, 70, 75, 85), Rgb(image, 225, 228, 232));
}

bool WriteJpeg(gdImagePtr image, std::string const& path) {
  int size = 0;
  std::unique_ptr<void, GdFreeDeleter> bytes(gdImageJpegPtr(image, &size, kJpegQuality));
  if (!bytes || size <= 0) {
    std::fprintf(stderr, "cannot encode %s\n", path.c_str());
    return false;
  }
  QLUniqueFile file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    std::fprintf(stderr, "cannot create %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = std::fwrite(bytes.get(), 1, static_cast<size_t>(size), file.get()) ==
            static_cast<size_t>(size);
  ok = (std::fclose(file.release()) == 0) && ok;
  if (!ok) std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  std::string folder = argv[1];
  if (!folder.empty() && folder[folder.size() - 1] != '/') folder += '/';

  struct Picture {
    char const* name;
    std::function<void(gdImagePtr)> draw;
  };
  Picture const pictures[] = {{"image.jpg", DrawImage},
                              {"audio.jpg", DrawAudio},
                              {"video.jpg", DrawVideo},
                              {"doc.jpg", DrawDoc},
                              {"any_file.jpg", DrawAnyFile}};
  for (Picture const& picture : pictures) {
    Image image(gdImageCreateTrueColor(kSize, kSize));
    if (!image) {
      std::fprintf(stderr, "cannot allocate a %dx%d canvas\n", kSize, kSize);
      return 1;
    }
    picture.draw(image.get());
    if (!WriteJpeg(image.get(), folder + picture.name)) return 1;
  }
  return 0;
}
