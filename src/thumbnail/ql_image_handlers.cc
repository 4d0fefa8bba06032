// The file handlers of QLThumbnailProvider: JPEG, PNG, GIF, BMP and WBMP
// files decoded by libgd straight from an open handle.
#include <gd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "log/ql_log.h"
#include "thumbnail/ql_exif_orientation.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

struct FileCloser {
  void operator()(FILE* file) const {
    if (file) fclose(file);
  }
};
typedef std::unique_ptr<FILE, FileCloser> ScopedFile;

// The five handlers share one shape and differ in these points only.
struct FileHandlerShape {
  char const* timing_text;  // null: no timer and no timing line
  char const* format_name;  // "JPEG" in "Invalid JPEG format for "
  gdImagePtr (*decode)(FILE*);
  bool reads_exif;
  bool timer_covers_open;  // the timer also measures opening and the EXIF read
  bool jpeg_retry;         // try the JPEG decoder when `decode` finds nothing
};

bool HandleFile(QLThumbnailProvider& provider, QLThumbnailData& data,
                FileHandlerShape const& shape) {
  QLTimer timer;
  ScopedFile file(fopen(data.path.c_str(), "rb"));
  if (!file) {
    QL_ERROR("Unable to open file \"" << data.path << "\" in order to generate its thumbnail.");
    return provider.HandleImgGeneric(data);
  }
  int const orientation = shape.reads_exif ? ReadExifOrientation(data.path) : 1;
  if (!shape.timer_covers_open) timer.reset();

  boost::shared_ptr<gdImageStruct> picture(shape.decode(file.get()), gdImgDestroyDeleter());
  if (!picture && shape.jpeg_retry && fseek(file.get(), 0, SEEK_SET) == 0) {
    // Some files named .png hold JPEG data; they still get their thumbnail.
    picture.reset(gdImageCreateFromJpeg(file.get()), gdImgDestroyDeleter());
  }
  file.reset();
  if (shape.timing_text) QL_DEBUG(shape.timing_text << timer.get_duration());

  if (picture) return provider.ResizeImage(picture, data, orientation);
  QL_ERROR("Invalid " << shape.format_name << " format for \"" << data.path << "\"");
  return provider.HandleImgGeneric(data);
}

}  // namespace

bool QLThumbnailProvider::HandleImgJpg(QLThumbnailData& data) {
  static FileHandlerShape const kShape = {
      "HandleImgJpg: open file took: ", "JPEG", gdImageCreateFromJpeg, true, false, false};
  return HandleFile(*this, data, kShape);
}

bool QLThumbnailProvider::HandleImgPng(QLThumbnailData& data) {
  static FileHandlerShape const kShape = {
      "HandleImgPng: open file took: ", "PNG", gdImageCreateFromPng, true, true, true};
  return HandleFile(*this, data, kShape);
}

bool QLThumbnailProvider::HandleImgGif(QLThumbnailData& data) {
  static FileHandlerShape const kShape = {
      "HandleImgGif: open file took: ", "GIF", gdImageCreateFromGif, false, false, false};
  return HandleFile(*this, data, kShape);
}

bool QLThumbnailProvider::HandleImgBmp(QLThumbnailData& data) {
  static FileHandlerShape const kShape = {
      "HandleImgBmp: open file took: ", "BMP", gdImageCreateFromBmp, false, false, false};
  return HandleFile(*this, data, kShape);
}

bool QLThumbnailProvider::HandleImgWBMP(QLThumbnailData& data) {
  static FileHandlerShape const kShape = {nullptr, "WBMP", gdImageCreateFromWBMP,
                                          false,   false,  false};
  return HandleFile(*this, data, kShape);
}
