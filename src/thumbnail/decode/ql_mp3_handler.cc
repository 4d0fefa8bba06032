// HandleAudioMp3: the thumbnail of an MP3 file is made
// from a picture attached to its ID3v2 tag ("APIC" frames).
#include <gd.h>
#include <id3tag.h>

#include <cctype>
#include <climits>
#include <string>

#include "log/ql_log.h"
#include "thumbnail/decode/probe/ql_id3_tag_probe.h"
#include "thumbnail/decode/probe/ql_image_header_probe.h"
#include "thumbnail/decode/ql_format_handlers.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_image_resize.h"
#include "thumbnail/ql_regular_file.h"
#include "thumbnail/ql_request_files.h"

namespace {

struct id3tagDeleter {
  void operator()(struct id3_file* file) const {
    if (file) id3_file_close(file);
  }
};

// Indexes of the APIC fields we read.
unsigned int const kMimeField = 1;
unsigned int const kPictureField = 4;

// The formats DecodeCover's decoders read.
unsigned const kCoverFormats =
    kQLImageJpeg | kQLImagePng | kQLImageGif | kQLImageWbmp | kQLImageGd2;

typedef gdImagePtr (*MemoryDecoder)(int size, void* data);

// Decodes the picture bytes as the MIME type says, then by trying every
// decoder that might fit: tags often carry wrong or non-standard types
// ("image/jpg", upper case, or none at all).
boost::shared_ptr<gdImageStruct> DecodeCover(std::string const& mime, int size, void* bytes) {
  boost::shared_ptr<gdImageStruct> picture;
  MemoryDecoder by_type = nullptr;
  if (mime == "image/jpeg" || mime == "jpg" || mime == "jpeg") {
    by_type = gdImageCreateFromJpegPtr;
  } else if (mime == "image/gif" || mime == "gif") {
    by_type = gdImageCreateFromGifPtr;
  } else if (mime == "image/png" || mime == "png") {
    by_type = gdImageCreateFromPngPtr;
  }
  if (by_type) picture.reset(by_type(size, bytes), gdImgDestroyDeleter());

  static MemoryDecoder const kFallbacks[] = {gdImageCreateFromJpegPtr, gdImageCreateFromWBMPPtr,
                                             gdImageCreateFromPngPtr, gdImageCreateFromGifPtr,
                                             gdImageCreateFromGd2Ptr};
  for (MemoryDecoder decode : kFallbacks) {
    if (picture) break;
    picture.reset(decode(size, bytes), gdImgDestroyDeleter());
  }
  return picture;
}

}  // namespace

bool HandleAudioMp3(QLHandlerContext const& context, QLThumbnailData& data) {
  // libid3tag would reserve whatever a tag claims before finding the file too
  // short; such a tag cannot be read anyway, so the file is treated as one
  // without a cover.
  // Both read the one descriptor checked to be a regular file.
  QLRegularFile source = context.files.Source();
  if (!source.is_open() || !Id3TagsFitFile(source.fd())) return HandleAudioGeneric(context, data);
  // The tag file stays open until we return, fallback included: the picture
  // bytes are read where they lie inside it.
  boost::shared_ptr<id3_file> file(id3_file_fdopen(source.fd(), ID3_FILE_MODE_READONLY),
                                   id3tagDeleter());
  if (!file) return HandleAudioGeneric(context, data);  // libid3tag left the descriptor to us
  source.Release();                                     // id3_file_close closes it now
  id3_tag* tag = id3_file_tag(file.get());
  if (!tag) return HandleAudioGeneric(context, data);

  for (unsigned int index = 0;; ++index) {
    id3_frame* frame = id3_tag_findframe(tag, "APIC", index);
    if (!frame) break;
    if (frame->nfields <= kPictureField) continue;
    union id3_field* mime_field = id3_frame_field(frame, kMimeField);
    union id3_field* picture_field = id3_frame_field(frame, kPictureField);
    if (!mime_field || id3_field_type(mime_field) != ID3_FIELD_TYPE_LATIN1) continue;
    if (!picture_field || id3_field_type(picture_field) != ID3_FIELD_TYPE_BINARYDATA) continue;

    std::string mime;
    if (id3_latin1_t const* latin1 = id3_field_getlatin1(mime_field)) {
      for (; *latin1; ++latin1) mime += static_cast<char>(std::tolower(*latin1));
    }
    id3_length_t length = 0;
    id3_byte_t const* bytes = id3_field_getbinarydata(picture_field, &length);
    // The decoders take an int byte count; an empty or larger picture holds
    // nothing any of them could decode.
    if (!bytes || length == 0 || length > static_cast<id3_length_t>(INT_MAX)) continue;

    // Any of the decoders below may end up reading the bytes, so the size is
    // read from whichever header they hold; an over-large cover is skipped
    // like an undecodable one.
    QLImageHeader header;
    if (ProbeImageBytes(bytes, length, kCoverFormats, &header) &&
        SourcePictureOverLimit(
            header, context.options.max_source_pixels,
            "Attached picture " + std::to_string(index) + " of \"" + data.path + "\"")) {
      continue;
    }
    boost::shared_ptr<gdImageStruct> picture =
        DecodeCover(mime, static_cast<int>(length), const_cast<id3_byte_t*>(bytes));
    if (!picture) continue;
    data.save_to_cache = true;
    if (ResizeImage(context.options, picture, data, 1)) return true;
  }
  return HandleAudioGeneric(context, data);
}
