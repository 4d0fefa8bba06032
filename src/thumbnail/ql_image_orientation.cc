#include "thumbnail/ql_image_orientation.h"

#include "log/ql_log.h"

namespace {

enum class Turn { kRight90, kHalf, kLeft90 };

// Copies every source pixel to its turned place. libgd's rotating copy
// samples around a floating-point centre and, for pictures whose diagonal is
// a whole number of pixels (every 4:3 size: 4 x 3, 120 x 90, 800 x 600), lands
// one pixel off: one edge line is lost and a black line appears opposite.
// Moving whole pixels keeps the picture intact for every size.
void CopyTurned(gdImagePtr source, gdImagePtr target, Turn turn) {
  int const width = gdImageSX(source);
  int const height = gdImageSY(source);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int tx = x;
      int ty = y;
      switch (turn) {
        case Turn::kRight90:
          tx = height - 1 - y;
          ty = x;
          break;
        case Turn::kHalf:
          tx = width - 1 - x;
          ty = height - 1 - y;
          break;
        case Turn::kLeft90:
          tx = y;
          ty = width - 1 - x;
          break;
      }
      gdImageSetPixel(target, tx, ty, gdImageGetTrueColorPixel(source, x, y));
    }
  }
}

// Makes the turned copy; `*result` holds the new picture (or null) as soon
// as it has been created, so the caller always owns whatever exists.
bool MakeTurned(gdImagePtr source, gdImagePtr* result, Turn turn) {
  int const width = gdImageSX(source);
  int const height = gdImageSY(source);
  bool const quarter = turn != Turn::kHalf;
  *result = gdImageCreateTrueColor(quarter ? height : width, quarter ? width : height);
  if (!*result) return false;
  CopyTurned(source, *result, turn);
  return true;
}

// The diagonal mirrors: a straight mirror into a temporary, then a quarter
// turn clockwise of the temporary.
bool MirrorThenTurnRight(gdImagePtr source, gdImagePtr* result,
                         bool (*mirror)(gdImageStruct*, gdImageStruct**)) {
  gdImagePtr temporary = nullptr;
  bool const mirrored = mirror(source, &temporary);
  ScopedGdImage temporary_owner(temporary);
  return mirrored && RotateImageRight90(temporary, result);
}

}  // namespace

bool OrientImage(gdImageStruct* source, gdImageStruct** result, int orientation) {
  if (!source || !result) return false;
  bool done = false;
  switch (orientation) {
    case 2:
      done = FlipImageHorizontal(source, result);
      break;
    case 3:
      done = MakeTurned(source, result, Turn::kHalf);
      break;
    case 4:
      done = FlipImageVertical(source, result);
      break;
    case 5:
      done = MirrorThenTurnRight(source, result, FlipImageVertical);
      break;
    case 6:
      done = RotateImageRight90(source, result);
      break;
    case 7:
      done = MirrorThenTurnRight(source, result, FlipImageHorizontal);
      break;
    case 8:
      done = MakeTurned(source, result, Turn::kLeft90);
      break;
    default:
      QL_ERROR("Unable to orient! Unknown orientation!");
      return false;
  }
  if (!done)
    QL_ERROR("Unable to change the image!"
             << "Out of memory?");
  return done;
}

bool RotateImageRight90(gdImageStruct* source, gdImageStruct** result) {
  if (!source || !result) return false;
  return MakeTurned(source, result, Turn::kRight90);
}

bool FlipImageVertical(gdImageStruct* source, gdImageStruct** result) {
  if (!source || !result) return false;
  int const width = gdImageSX(source);
  int const height = gdImageSY(source);
  *result = gdImageCreateTrueColor(width, height);
  if (!*result) return false;
  for (int y = 0; y < height; ++y) gdImageCopy(*result, source, 0, height - 1 - y, 0, y, width, 1);
  return true;
}

bool FlipImageHorizontal(gdImageStruct* source, gdImageStruct** result) {
  if (!source || !result) return false;
  int const width = gdImageSX(source);
  int const height = gdImageSY(source);
  *result = gdImageCreateTrueColor(width, height);
  if (!*result) return false;
  for (int x = 0; x < width; ++x) gdImageCopy(*result, source, width - 1 - x, 0, x, 0, 1, height);
  return true;
}
