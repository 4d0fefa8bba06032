// The default-picture handlers: thumbnails made from
// one of five fixed JPEG pictures in the request's default picture folder.
// Such thumbnails are never stored in the cache.
#include <gd.h>

#include <boost/filesystem/path.hpp>
#include <cstdio>
#include <string>

#include "log/ql_log.h"
#include "thumbnail/decode/probe/ql_image_header_probe.h"
#include "thumbnail/decode/ql_format_handlers.h"
#include "thumbnail/decode/ql_jpeg_scaled_decoder.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_image_resize.h"
#include "thumbnail/ql_regular_file.h"
#include "thumbnail/ql_request_files.h"

char const* const kThumbFileDefaultImage = "image.jpg";
char const* const kThumbFileDefaultAudio = "audio.jpg";
char const* const kThumbFileDefaultVideo = "video.jpg";
char const* const kThumbFileDefaultDoc = "doc.jpg";
char const* const kThumbFileDefaultAny = "any_file.jpg";

namespace {

// Decodes `name` from the request's default folder; empty when the picture
// is missing, not a regular file, not a JPEG or larger than the source limit (the folder comes
// with the request, so its pictures are checked like any file). `timing_text`,
// when given, logs how long opening and decoding took (only once the file
// has opened).
QLDecodedPicture DecodeDefaultPicture(QLHandlerContext const& context, QLThumbnailData& data,
                                      char const* name, char const* timing_text) {
  std::string const path = (boost::filesystem::path(data.default_thumbnail_folder) / name).string();
  QLRegularFile opened = context.files.DefaultPicture(name);
  QLUniqueFile file = OpenRegularFileStream(opened);
  if (!file) return QLDecodedPicture();
  QLTimer timer;
  QLImageHeader header;
  if (ProbeImageFile(file.get(), kQLImageJpeg, &header) &&
      SourcePictureOverLimit(header, context.options.max_source_pixels, "\"" + path + "\"")) {
    return QLDecodedPicture();
  }
  QLDecodedPicture picture = DecodeJpegForThumbnail(file.get(), static_cast<int>(data.width),
                                                    static_cast<int>(data.height), data.full_screen,
                                                    context.options.jpeg_shrink_on_load);
  file.reset();
  if (timing_text) QL_DEBUG(timing_text << timer.get_duration());
  return picture;
}

bool ThumbnailFromDefault(QLHandlerContext const& context, QLThumbnailData& data, char const* name,
                          char const* timing_text) {
  QLDecodedPicture picture = DecodeDefaultPicture(context, data, name, timing_text);
  if (!picture) return false;
  bool const made = ResizeImage(context.options, picture.picture, data, 1, picture.original_width,
                                picture.original_height);
  data.save_to_cache = false;
  return made;
}

}  // namespace

bool HandleImgGeneric(QLHandlerContext const& context, QLThumbnailData& data) {
  return ThumbnailFromDefault(context, data, kThumbFileDefaultImage,
                              "HandleImgGeneric: open file took: ");
}

bool HandleAudioGeneric(QLHandlerContext const& context, QLThumbnailData& data) {
  return ThumbnailFromDefault(context, data, kThumbFileDefaultAudio, nullptr);
}

bool HandleVideoGeneric(QLHandlerContext const& context, QLThumbnailData& data) {
  return ThumbnailFromDefault(context, data, kThumbFileDefaultVideo, nullptr);
}

bool HandleDoc(QLHandlerContext const& context, QLThumbnailData& data) {
  return ThumbnailFromDefault(context, data, kThumbFileDefaultDoc, nullptr);
}

bool HandleUnknown(QLHandlerContext const& context, QLThumbnailData& data) {
  return ThumbnailFromDefault(context, data, kThumbFileDefaultAny, nullptr);
}
