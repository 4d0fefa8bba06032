#include "ql_photo_synth.h"

#include <algorithm>
#include <cmath>

namespace {

// xorshift32: small, fast and fully determined by its seed.
class Random {
 public:
  explicit Random(std::uint32_t seed) : state_(seed ? seed : 0x9e3779b9u) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  // Uniform in [low, high].
  int Range(int low, int high) {
    return low + static_cast<int>(Next() % static_cast<std::uint32_t>(high - low + 1));
  }
  double Unit() { return (Next() >> 8) * (1.0 / 16777216.0); }

 private:
  std::uint32_t state_;
};

int Clamp(int value) { return value < 0 ? 0 : (value > 255 ? 255 : value); }

// Smooth value noise: random values on a lattice with `cell` pixels between
// points, blended with smoothstep weights. Values are in [-amplitude,
// amplitude].
class ValueNoise {
 public:
  ValueNoise(int width, int height, int cell, double amplitude, Random& random)
      : cell_(std::max(cell, 2)), columns_(width / cell_ + 2), rows_(height / cell_ + 2) {
    lattice_.resize(static_cast<std::size_t>(columns_) * rows_);
    for (float& value : lattice_) value = static_cast<float>((random.Unit() * 2 - 1) * amplitude);
  }

  // Prepares the row weights for picture row `y`; then At(x) is cheap.
  void StartRow(int y) {
    row_ = y / cell_;
    float const t = static_cast<float>(y % cell_) / cell_;
    row_weight_ = t * t * (3 - 2 * t);
  }
  float At(int x) const {
    int const column = x / cell_;
    float t = static_cast<float>(x % cell_) / cell_;
    t = t * t * (3 - 2 * t);
    float const* top = &lattice_[static_cast<std::size_t>(row_) * columns_ + column];
    float const* bottom = top + columns_;
    float const upper = top[0] + (top[1] - top[0]) * t;
    float const lower = bottom[0] + (bottom[1] - bottom[0]) * t;
    return upper + (lower - upper) * row_weight_;
  }

 private:
  int cell_;
  int columns_;
  int rows_;
  std::vector<float> lattice_;
  int row_ = 0;
  float row_weight_ = 0;
};

// Sky-like vertical gradient with colour drift, written straight into the
// true-colour rows.
void PaintBackground(gdImagePtr photo, Random& random) {
  int const width = gdImageSX(photo);
  int const height = gdImageSY(photo);
  int const longer = std::max(width, height);
  int const top[3] = {random.Range(60, 200), random.Range(90, 210), random.Range(140, 250)};
  int const bottom[3] = {random.Range(30, 140), random.Range(40, 150), random.Range(10, 90)};
  ValueNoise red(width, height, longer / 5, 30, random);
  ValueNoise green(width, height, longer / 5, 30, random);
  ValueNoise blue(width, height, longer / 4, 30, random);
  for (int y = 0; y < height; ++y) {
    red.StartRow(y);
    green.StartRow(y);
    blue.StartRow(y);
    double const f = static_cast<double>(y) / height;
    int const base[3] = {static_cast<int>(top[0] + (bottom[0] - top[0]) * f),
                         static_cast<int>(top[1] + (bottom[1] - top[1]) * f),
                         static_cast<int>(top[2] + (bottom[2] - top[2]) * f)};
    int* row = photo->tpixels[y];
    for (int x = 0; x < width; ++x) {
      row[x] = gdTrueColor(Clamp(base[0] + static_cast<int>(red.At(x))),
                           Clamp(base[1] + static_cast<int>(green.At(x))),
                           Clamp(base[2] + static_cast<int>(blue.At(x))));
    }
  }
}

// Objects with hard edges: hills, round things, boxes and thin branches.
void PaintObjects(gdImagePtr photo, Random& random) {
  int const width = gdImageSX(photo);
  int const height = gdImageSY(photo);
  int const longer = std::max(width, height);
  gdImageAlphaBlending(photo, 0);

  // A horizon of hills across the lower half.
  std::vector<gdPoint> hill;
  int const horizon = height / 2 + random.Range(-height / 8, height / 8);
  for (int x = 0; x <= width; x += std::max(width / 24, 1)) {
    gdPoint point = {x, horizon + random.Range(-height / 10, height / 10)};
    hill.push_back(point);
  }
  gdPoint corner1 = {width, height};
  gdPoint corner2 = {0, height};
  hill.push_back(corner1);
  hill.push_back(corner2);
  gdImageFilledPolygon(
      photo, hill.data(), static_cast<int>(hill.size()),
      gdTrueColor(random.Range(40, 110), random.Range(70, 140), random.Range(30, 80)));

  int const objects = 6 + random.Range(0, 6);
  for (int i = 0; i < objects; ++i) {
    int const color =
        gdTrueColor(random.Range(20, 240), random.Range(20, 240), random.Range(20, 240));
    int const cx = random.Range(0, width - 1);
    int const cy = random.Range(height / 4, height - 1);
    int const size = random.Range(longer / 20, longer / 6);
    switch (i % 3) {
      case 0:
        gdImageFilledEllipse(photo, cx, cy, size, size * 3 / 4, color);
        break;
      case 1:
        gdImageFilledRectangle(photo, cx, cy, std::min(cx + size, width - 1),
                               std::min(cy + size / 2, height - 1), color);
        break;
      default: {
        gdPoint points[3] = {{cx, cy}, {cx + size, cy + size / 3}, {cx + size / 4, cy + size}};
        gdImageFilledPolygon(photo, points, 3, color);
        break;
      }
    }
  }
  gdImageSetThickness(photo, std::max(1, longer / 1500));
  int const branches = 20 + random.Range(0, 20);
  for (int i = 0; i < branches; ++i) {
    int const x = random.Range(0, width - 1);
    int const y = random.Range(0, height - 1);
    gdImageLine(photo, x, y, x + random.Range(-longer / 8, longer / 8),
                y + random.Range(-longer / 8, longer / 8),
                gdTrueColor(random.Range(10, 80), random.Range(10, 60), random.Range(0, 40)));
  }
  gdImageSetThickness(photo, 1);
}

// Texture and grain over everything: two octaves of luminance noise and a
// triangular per-pixel noise, as a sensor and real surfaces give.
void AddTextureAndGrain(gdImagePtr photo, Random& random) {
  int const width = gdImageSX(photo);
  int const height = gdImageSY(photo);
  ValueNoise middle(width, height, std::max(width, height) / 60, 18, random);
  ValueNoise fine(width, height, 4, 16, random);
  Random grain(random.Next());
  for (int y = 0; y < height; ++y) {
    middle.StartRow(y);
    fine.StartRow(y);
    int* row = photo->tpixels[y];
    for (int x = 0; x < width; ++x) {
      std::uint32_t const bits = grain.Next();
      int const noise = static_cast<int>(bits & 7) + static_cast<int>((bits >> 3) & 7) - 7;
      int const shift = static_cast<int>(middle.At(x) + fine.At(x)) + noise;
      int const pixel = row[x];
      row[x] = gdTrueColor(Clamp(gdTrueColorGetRed(pixel) + shift),
                           Clamp(gdTrueColorGetGreen(pixel) + shift),
                           Clamp(gdTrueColorGetBlue(pixel) + shift + ((bits >> 6) & 3) - 1));
    }
  }
}

}  // namespace

ScopedPhoto DrawPhoto(QLPhotoSpec const& photo_spec) {
  if (photo_spec.width < 1 || photo_spec.height < 1 || photo_spec.width > kMaxPhotoSide ||
      photo_spec.height > kMaxPhotoSide ||
      static_cast<std::uint64_t>(photo_spec.width) * static_cast<std::uint64_t>(photo_spec.height) >
          kMaxPhotoPixels) {
    return ScopedPhoto();
  }
  ScopedPhoto photo(gdImageCreateTrueColor(photo_spec.width, photo_spec.height));
  if (!photo) return photo;
  Random random(photo_spec.seed * 2654435761u + 1u);
  PaintBackground(photo.get(), random);
  PaintObjects(photo.get(), random);
  AddTextureAndGrain(photo.get(), random);
  return photo;
}

std::vector<unsigned char> EncodeJpeg(gdImagePtr photo, int quality, bool progressive) {
  std::vector<unsigned char> bytes;
  if (photo == nullptr || quality < 1 || quality > 100) return bytes;
  int const interlaced = gdImageGetInterlaced(photo);
  gdImageInterlace(photo, progressive ? 1 : 0);
  int size = 0;
  std::unique_ptr<void, gdDeleter> jpeg(gdImageJpegPtr(photo, &size, quality));
  gdImageInterlace(photo, interlaced);
  if (!jpeg || size <= 0) return bytes;
  unsigned char const* begin = static_cast<unsigned char const*>(jpeg.get());
  bytes.assign(begin, begin + size);
  return bytes;
}
