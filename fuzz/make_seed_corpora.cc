// Writes the seed corpora of the frame_receiver, command_handler,
// image_handler and exif_orientation fuzz targets into <out>/<target>/.
// Pictures are drawn with libgd; EXIF blocks, ID3v2 tags and frames are
// written byte by byte. Built and run by fuzz/make_seed_corpora.sh.
//   make_seed_corpora <out folder>
// Single-threaded; every file is rewritten on each run (same bytes).
#include <gd.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

std::string g_out;
int g_files = 0;

void Put(std::string const& target, std::string const& name, Bytes const& bytes) {
  std::string const folder = g_out + "/" + target;
  mkdir(folder.c_str(), 0755);
  std::string const path = folder + "/" + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  std::fclose(file);
  ++g_files;
}

Bytes Text(std::string const& text) { return Bytes(text.begin(), text.end()); }

void Append(Bytes* to, Bytes const& bytes) { to->insert(to->end(), bytes.begin(), bytes.end()); }

void Put16(Bytes* to, bool big_endian, unsigned value) {
  if (big_endian) {
    to->push_back(static_cast<unsigned char>(value >> 8));
    to->push_back(static_cast<unsigned char>(value));
  } else {
    to->push_back(static_cast<unsigned char>(value));
    to->push_back(static_cast<unsigned char>(value >> 8));
  }
}

void Put32(Bytes* to, bool big_endian, std::uint32_t value) {
  if (big_endian) {
    Put16(to, true, value >> 16);
    Put16(to, true, value & 0xFFFF);
  } else {
    Put16(to, false, value & 0xFFFF);
    Put16(to, false, value >> 16);
  }
}

// ---- pictures ----

enum Format { kJpeg, kPng, kGif, kBmp, kBmpRle, kWbmp };

// A gradient with a mark in the top-left corner; palette pictures for the
// formats that want them.
gdImagePtr Draw(int width, int height, bool palette) {
  gdImagePtr image = palette ? gdImageCreate(width, height) : gdImageCreateTrueColor(width, height);
  if (!image) std::exit(1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int const red = x * 255 / width;
      int const green = y * 255 / height;
      int color = palette ? gdImageColorResolve(image, red & 0xC0, green & 0xC0, 128)
                          : gdTrueColor(red, green, 128);
      if (x < width / 3 && y < height / 3) {
        color = palette ? gdImageColorResolve(image, 255, 0, 0) : gdTrueColor(255, 0, 0);
      }
      gdImageSetPixel(image, x, y, color);
    }
  }
  return image;
}

Bytes Encode(int width, int height, Format format, bool interlace = false) {
  bool const palette = format == kGif || format == kBmpRle;
  gdImagePtr image = Draw(width, height, palette);
  if (interlace) gdImageInterlace(image, 1);
  int size = 0;
  void* data = nullptr;
  switch (format) {
    case kJpeg:
      data = gdImageJpegPtr(image, &size, 75);
      break;
    case kPng:
      data = gdImagePngPtr(image, &size);
      break;
    case kGif:
      data = gdImageGifPtr(image, &size);
      break;
    case kBmp:
      data = gdImageBmpPtr(image, &size, 0);
      break;
    case kBmpRle:
      data = gdImageBmpPtr(image, &size, 1);
      break;
    case kWbmp:
      data = gdImageWBMPPtr(image, &size, gdTrueColor(255, 0, 0));
      break;
  }
  gdImageDestroy(image);
  if (!data || size <= 0) std::exit(1);
  unsigned char const* begin = static_cast<unsigned char const*>(data);
  Bytes bytes(begin, begin + size);
  gdFree(data);
  return bytes;
}

Bytes FirstHalf(Bytes const& bytes) {
  return Bytes(bytes.begin(), bytes.begin() + bytes.size() / 2);
}

// ---- EXIF ----

struct Entry {
  unsigned tag, type;
  std::uint32_t count, value;
};

// IFD: count, entries, next-IFD offset. SHORT values sit left-justified.
void PutIfd(Bytes* to, bool be, std::vector<Entry> const& entries, std::uint32_t next) {
  Put16(to, be, static_cast<unsigned>(entries.size()));
  for (Entry const& e : entries) {
    Put16(to, be, e.tag);
    Put16(to, be, e.type);
    Put32(to, be, e.count);
    if (e.type == 3 && e.count == 1) {
      Put16(to, be, e.value);
      Put16(to, be, 0);
    } else {
      Put32(to, be, e.value);
    }
  }
  Put32(to, be, next);
}

// "Exif\0\0" and a TIFF block: IFD 0 and optionally IFD 1 (with a tiny
// JPEG preview, without which libexif drops IFD 1).
Bytes ExifBody(bool be, std::vector<Entry> const& ifd0, std::vector<Entry> ifd1 = {}) {
  Bytes tiff = Text(be ? "MM" : "II");
  Put16(&tiff, be, 42);
  Put32(&tiff, be, 8);
  std::uint32_t const ifd0_size = 2 + 12 * static_cast<std::uint32_t>(ifd0.size()) + 4;
  Bytes preview;
  if (!ifd1.empty()) {
    preview = Encode(8, 8, kJpeg);
    std::uint32_t const ifd1_size = 2 + 12 * static_cast<std::uint32_t>(ifd1.size() + 2) + 4;
    ifd1.push_back({0x0201, 4, 1, 8 + ifd0_size + ifd1_size});
    ifd1.push_back({0x0202, 4, 1, static_cast<std::uint32_t>(preview.size())});
  }
  PutIfd(&tiff, be, ifd0, ifd1.empty() ? 0 : 8 + ifd0_size);
  if (!ifd1.empty()) PutIfd(&tiff, be, ifd1, 0);
  Append(&tiff, preview);
  Bytes body = {'E', 'x', 'i', 'f', 0, 0};
  Append(&body, tiff);
  return body;
}

Entry Orientation(unsigned value) { return {0x0112, 3, 1, value}; }

Bytes App1(Bytes const& body) {
  Bytes segment = {0xFF, 0xE1};
  Put16(&segment, true, static_cast<unsigned>(body.size() + 2));
  Append(&segment, body);
  return segment;
}

Bytes WithSegment(Bytes const& jpeg, Bytes const& segment) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  Append(&out, segment);
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

// ---- ID3v2 ----

void PutSynchsafe(Bytes* to, std::uint32_t value) {
  for (int shift = 21; shift >= 0; shift -= 7) {
    to->push_back(static_cast<unsigned char>((value >> shift) & 0x7F));
  }
}

Bytes Apic(int version, std::string const& mime, Bytes const& picture) {
  Bytes body = {0x00};
  Append(&body, Text(mime));
  body.insert(body.end(), {0x00, 0x03, 0x00});
  Append(&body, picture);
  Bytes frame = Text("APIC");
  if (version == 4) {
    PutSynchsafe(&frame, static_cast<std::uint32_t>(body.size()));
  } else {
    Put32(&frame, true, static_cast<std::uint32_t>(body.size()));
  }
  frame.insert(frame.end(), {0x00, 0x00});
  Append(&frame, body);
  return frame;
}

Bytes Mp3(int version, std::vector<Bytes> const& frames) {
  Bytes content;
  for (Bytes const& frame : frames) Append(&content, frame);
  Bytes file;
  if (!frames.empty()) {
    file = Text("ID3");
    file.insert(file.end(), {static_cast<unsigned char>(version), 0x00, 0x00});
    PutSynchsafe(&file, static_cast<std::uint32_t>(content.size()));
    Append(&file, content);
  }
  file.insert(file.end(), {0xFF, 0xFB, 0x90, 0x00});
  file.resize(file.size() + 60, 0x00);
  return file;
}

// ---- targets ----

Bytes Frame(std::string const& payload) {
  Bytes frame;
  Put32(&frame, true, static_cast<std::uint32_t>(payload.size()));
  Append(&frame, Text(payload));
  return frame;
}

void FrameReceiverSeeds() {
  char const* t = "frame_receiver";
  Put(t, "one_frame", Frame("{\"_path\":\"a.jpg\"}"));
  Bytes two = Frame("first");
  Append(&two, Frame("second"));
  Put(t, "two_frames", two);
  Bytes empty = Frame("");
  Append(&empty, Frame("after an empty frame"));
  Put(t, "empty_frame_then_frame", empty);
  Put(t, "cut_in_length", Bytes{0x00, 0x00});
  Bytes cut = {0x00, 0x00, 0x01, 0x2C};
  Append(&cut, Text("only a part of three hundred bytes"));
  Put(t, "cut_in_payload", cut);
  Bytes at_limit = {0x00, 0x00, 0x04, 0x00};
  at_limit.resize(4 + 1024, 'x');
  Put(t, "frame_at_limit", at_limit);
  Bytes over_limit = {0x00, 0x00, 0x04, 0x01};
  over_limit.resize(4 + 1025, 'y');
  Put(t, "frame_over_limit", over_limit);
  Put(t, "huge_length", Bytes{0xFF, 0xFF, 0xFF, 0xFF, 'z'});
  Put(t, "negative_as_int", Bytes{0x80, 0x00, 0x00, 0x00});
  Bytes many;
  for (int i = 0; i < 20; ++i) Append(&many, Frame(std::string(static_cast<size_t>(i), 'k')));
  Put(t, "many_frames", many);
}

std::string Request(std::string const& path, int width, int height, bool full_screen,
                    std::string const& resource, std::string const& cache = "cache",
                    std::string const& defaults = "defaults") {
  return "{\"_path\":\"" + path + "\",\"_width\":" + std::to_string(width) +
         ",\"_height\":" + std::to_string(height) +
         ",\"_full_screen\":" + (full_screen ? "true" : "false") + ",\"_resource_id\":" + resource +
         ",\"_thumbnail_folder\":\"" + cache + "\",\"_default_thumbnail_folder\":\"" + defaults +
         "\"}";
}

void CommandHandlerSeeds() {
  char const* t = "command_handler";
  Put(t, "jpg", Text(Request("sources/photo.jpg", 16, 12, false, "1")));
  Put(t, "jpeg_full_screen", Text(Request("sources/tall.jpeg", 24, 24, true, "2")));
  Put(t, "png", Text(Request("sources/picture.png", 10, 10, false, "3")));
  Put(t, "gif", Text(Request("sources/anim.gif", 8, 8, true, "4")));
  Put(t, "bmp", Text(Request("sources/scan.bmp", 9, 7, false, "5")));
  Put(t, "wbmp", Text(Request("sources/mono.wbmp", 8, 4, false, "6")));
  Put(t, "mp3", Text(Request("sources/song.mp3", 12, 12, false, "7")));
  Put(t, "document", Text(Request("sources/notes.txt", 12, 12, false, "8")));
  Put(t, "unknown_type", Text(Request("sources/archive.zip", 12, 12, false, "9")));
  Put(t, "missing_file", Text(Request("sources/gone.jpg", 12, 12, false, "10")));
  Put(t, "broken_jpeg", Text(Request("sources/broken.jpg", 12, 12, false, "11")));
  Put(t, "upper_case_extension", Text(Request("sources/photo.JPG", 12, 12, false, "12")));
  Put(t, "nested_cache", Text(Request("sources/photo.jpg", 12, 12, false, "13", "cache/a/b")));
  Put(t, "empty_cache_folder", Text(Request("sources/photo.jpg", 12, 12, false, "14", "")));
  Put(t, "file_as_cache_folder",
      Text(Request("sources/photo.jpg", 12, 12, false, "15", "sources/notes.txt")));
  Put(t, "no_default_pictures",
      Text(Request("sources/archive.zip", 12, 12, false, "16", "cache", "nowhere")));
  Put(t, "big_resource_id",
      Text(Request("sources/photo.jpg", 8, 8, false, "18446744073709551615")));
  std::string over_32_bits = Request("sources/photo.jpg", 1, 8, false, "17");
  over_32_bits.replace(over_32_bits.find("\"_width\":1"), 10, "\"_width\":4294967308");
  Put(t, "width_over_32_bits", Text(over_32_bits));
  Put(t, "zero_width", Text(Request("sources/photo.jpg", 0, 8, false, "18")));
  Put(t, "negative_height", Text(Request("sources/photo.jpg", 8, -8, true, "19")));
  Put(t, "huge_box", Text(Request("sources/photo.jpg", 100000, 100000, false, "20")));
  Put(t, "width_as_string",
      Text("{\"_path\":\"sources/photo.jpg\",\"_width\":\"16\",\"_height\":12,\"_full_screen\":1,"
           "\"_resource_id\":21,\"_thumbnail_folder\":\"cache\",\"_default_thumbnail_folder\":"
           "\"defaults\"}"));
  Put(t, "missing_key", Text("{\"_path\":\"sources/photo.jpg\",\"_width\":16,\"_height\":12}"));
  Put(t, "cut_after_member", Text("{\"_path\":\"sources/photo.jpg\",\"_width\":16,"));
  Put(t, "not_json", Text("GET / HTTP/1.0\r\n\r\n"));
  Put(t, "empty", Bytes());
  Put(t, "escaped_path", Text(Request("sources\\/photo\\u002ejpg", 16, 12, false, "22")));
}

void ImageHandlerSeeds() {
  char const* t = "image_handler";
  // byte 0: extension (% 6) and mode ((/ 6) % 2); bytes 1, 2: width - 1, height - 1.
  auto seed = [t](std::string const& name, int extension, bool full_screen, int w, int h,
                  Bytes const& file) {
    Bytes input = {static_cast<unsigned char>(extension + (full_screen ? 6 : 0)),
                   static_cast<unsigned char>(w - 1), static_cast<unsigned char>(h - 1)};
    Append(&input, file);
    Put(t, name, input);
  };
  enum { kJpg, kPngExt, kGifExt, kBmpExt, kWbmpExt, kMp3 };
  Bytes const jpeg = Encode(12, 9, kJpeg);
  seed("jpeg", kJpg, false, 8, 8, jpeg);
  seed("jpeg_progressive", kJpg, true, 16, 10, Encode(9, 14, kJpeg, true));
  for (unsigned orientation : {3u, 6u, 8u, 5u}) {
    seed("jpeg_exif_" + std::to_string(orientation), kJpg, orientation % 2 == 0, 10, 6,
         WithSegment(jpeg, App1(ExifBody(orientation != 6, {Orientation(orientation)}))));
  }
  seed("jpeg_cut", kJpg, false, 8, 8, FirstHalf(jpeg));
  seed("png", kPngExt, false, 8, 6, Encode(10, 7, kPng));
  seed("png_interlaced", kPngExt, true, 20, 20, Encode(7, 10, kPng, true));
  seed("png_cut", kPngExt, false, 8, 6, FirstHalf(Encode(10, 7, kPng)));
  seed("png_holding_jpeg", kPngExt, false, 8, 8,
       WithSegment(jpeg, App1(ExifBody(true, {Orientation(6)}))));
  seed("gif", kGifExt, false, 8, 8, Encode(11, 6, kGif));
  seed("gif_interlaced", kGifExt, true, 12, 12, Encode(6, 11, kGif, true));
  seed("gif_cut", kGifExt, false, 8, 8, FirstHalf(Encode(11, 6, kGif)));
  seed("bmp", kBmpExt, false, 8, 8, Encode(9, 5, kBmp));
  seed("bmp_rle", kBmpExt, true, 8, 8, Encode(9, 5, kBmpRle));
  seed("bmp_cut", kBmpExt, false, 8, 8, FirstHalf(Encode(9, 5, kBmp)));
  seed("wbmp", kWbmpExt, false, 8, 8, Encode(13, 5, kWbmp));
  seed("wbmp_cut", kWbmpExt, false, 8, 8, FirstHalf(Encode(13, 5, kWbmp)));
  Bytes const small_jpeg = Encode(6, 6, kJpeg);
  seed("mp3_jpeg_cover", kMp3, false, 8, 8, Mp3(3, {Apic(3, "image/jpeg", small_jpeg)}));
  seed("mp3_png_cover_v4", kMp3, true, 8, 8, Mp3(4, {Apic(4, "image/png", Encode(5, 7, kPng))}));
  seed("mp3_gif_cover_odd_mime", kMp3, false, 8, 8, Mp3(3, {Apic(3, "GIF", Encode(5, 5, kGif))}));
  seed("mp3_second_cover", kMp3, false, 8, 8,
       Mp3(3, {Apic(3, "image/jpeg", Text("not a picture")), Apic(3, "image/jpg", small_jpeg)}));
  seed("mp3_wbmp_cover", kMp3, false, 8, 8, Mp3(3, {Apic(3, "", Encode(8, 3, kWbmp))}));
  seed("mp3_no_tag", kMp3, false, 8, 8, Mp3(3, {}));
  seed("mp3_cut_tag", kMp3, false, 8, 8, FirstHalf(Mp3(3, {Apic(3, "image/jpeg", small_jpeg)})));
  seed("empty_file", kJpg, false, 8, 8, Bytes());
}

void ExifOrientationSeeds() {
  char const* t = "exif_orientation";
  auto app1 = [t](std::string const& name, Bytes const& body) {
    Bytes input = {0x00};
    Append(&input, body);
    Put(t, name, input);
  };
  auto whole = [t](std::string const& name, Bytes const& file) {
    Bytes input = {0x01};
    Append(&input, file);
    Put(t, name, input);
  };
  app1("motorola_6", ExifBody(true, {Orientation(6)}));
  app1("intel_8", ExifBody(false, {Orientation(8)}));
  app1("intel_3_with_ifd1", ExifBody(false, {Orientation(3)}, {Orientation(6)}));
  app1("only_in_ifd1", ExifBody(true, {{0x010F, 2, 4, 0x41424300}}, {Orientation(8)}));
  app1("negative", ExifBody(true, {Orientation(0x8001)}));
  app1("as_long", ExifBody(false, {{0x0112, 4, 1, 6}}));
  app1("count_zero", ExifBody(true, {{0x0112, 3, 0, 6}}));
  app1("count_large", ExifBody(true, {{0x0112, 3, 0x40000000, 8}}));
  app1("exif_pointer_to_itself", ExifBody(true, {Orientation(6), {0x8769, 4, 1, 8}}));
  app1("offset_outside", ExifBody(false, {{0x0112, 3, 4, 0x7FFFFFF0}}));
  Bytes cut = ExifBody(true, {Orientation(6), Orientation(3)});
  cut.resize(cut.size() - 10);
  app1("cut", cut);
  app1("no_exif_header", Text("II*\0"));
  Bytes const jpeg = Encode(8, 8, kJpeg);
  whole("jpeg_with_exif", WithSegment(jpeg, App1(ExifBody(false, {Orientation(6)}))));
  whole("jpeg_without_exif", jpeg);
  whole("png", Encode(4, 4, kPng));
  whole("empty", Bytes());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <out folder>\n", argv[0]);
    return 2;
  }
  g_out = argv[1];
  mkdir(g_out.c_str(), 0755);
  FrameReceiverSeeds();
  CommandHandlerSeeds();
  ImageHandlerSeeds();
  ExifOrientationSeeds();
  std::printf("%d seed files in %s\n", g_files, g_out.c_str());
  return 0;
}
