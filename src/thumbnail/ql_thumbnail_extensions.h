// The four extension lists that fill the thumbnail handler table: lower-case
// file-name extensions without the leading dot, grouped by the default
// picture a file of that kind gets. The arrays are constant data, safe to
// read from any thread. Order matters only for the table build: a later list
// overrides an earlier one for an extension present in both.
//
// Three of the four names are spelled "unsuported_"; other code already
// refers to them by these names.
#ifndef QUORLIN_THUMBNAIL_QL_THUMBNAIL_EXTENSIONS_H_
#define QUORLIN_THUMBNAIL_QL_THUMBNAIL_EXTENSIONS_H_

#include <string>

extern char const* const unsupported_ext_img_format[368];
extern char const* const unsuported_ext_audio_format[452];
extern char const* const unsuported_ext_video_format[319];
extern char const* const unsuported_ext_document_format[7];

// Decoded only with `--formats extended`: HEIF (heic, heif, hif), AVIF, WebP
// and TIFF through libgd, and camera RAW previews. All RAW extensions but
// "cr3" are in the image list above; the other four formats' "webp", "tif"
// and "tiff" are too, "heic", "heif", "hif" and "avif" are in no list.
extern char const* const kHeifExtensions[3];
extern char const* const kCameraRawExtensions[10];

// The lower-cased extension of the last component of `path`, without its
// leading dot: "Photo.JPG" gives "jpg", "notes.tar.gz" gives "gz", "README"
// and "name." give "". May throw boost::filesystem::filesystem_error.
std::string LowerCaseExtension(std::string const& path);

#endif  // QUORLIN_THUMBNAIL_QL_THUMBNAIL_EXTENSIONS_H_
