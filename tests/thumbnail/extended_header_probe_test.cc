// Header probes of the extended formats on hand-made headers: the ISOBMFF
// walk to 'ispe', 'irot', 'imir' and the primary item's associations; WebP's
// three headers and its EXIF chunk; TIFF's first directory and the turn left
// after libgd's own mirroring; and hostile sizes and cut data.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "support/ql_sample_files.h"
#include "thumbnail/decode/probe/ql_image_header_probe.h"

namespace {

using qltest::Bytes;

unsigned const kExtended = kQLImageHeif | kQLImageAvif | kQLImageWebp | kQLImageTiff;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (Bytes const& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Be32(std::uint32_t v) {
  return {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
          static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}
Bytes Le32(std::uint32_t v) {
  return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
}
Bytes Text(char const* text) { return Bytes(text, text + std::string(text).size()); }

// An ISOBMFF box; `size_change` spoils its size field.
Bytes Box(char const* type, Bytes const& body, int size_change = 0) {
  return Cat({Be32(static_cast<std::uint32_t>(8 + body.size() + size_change)), Text(type), body});
}
Bytes Ftyp(char const* brand) { return Box("ftyp", Cat({Text(brand), Be32(0), Text("mif1")})); }
Bytes Ispe(std::uint32_t w, std::uint32_t h) {
  return Box("ispe", Cat({Be32(0), Be32(w), Be32(h)}));
}
// 'pitm' naming item 1, then 'iprp' holding `properties` and an 'ipma'
// giving `item` the (1-based, 7-bit) property indices `links` after the
// entries `others` (3 bytes each: another item, a count of links), then the
// boxes `after`.
Bytes Meta(Bytes const& properties, std::uint16_t item, Bytes const& links, Bytes const& after = {},
           Bytes const& others = {}) {
  Bytes const ipma = Box("ipma", Cat({Be32(0),
                                      Be32(static_cast<std::uint32_t>(others.size() / 3 + 1)),
                                      others,
                                      {0, static_cast<unsigned char>(item)},
                                      {static_cast<unsigned char>(links.size())},
                                      links}));
  return Box("meta", Cat({Be32(0), Box("hdlr", Bytes(24, 0)), Box("pitm", Cat({Be32(0), {0, 1}})),
                          Box("iprp", Cat({Box("ipco", properties), ipma})), after}));
}
// `box` with size 0: it runs to the end of the file.
Bytes ToEnd(Bytes box) {
  box[0] = box[1] = box[2] = box[3] = 0;
  return box;
}

// A TIFF header and a first directory of (tag, type, value) entries.
Bytes Tiff(std::initializer_list<std::array<std::uint32_t, 3>> entries, std::uint32_t offset = 8) {
  Bytes out =
      Cat({Text("II*"), {0}, Le32(offset), {static_cast<unsigned char>(entries.size()), 0}});
  for (auto const& e : entries) {
    Bytes const value = Le32(e[2]);
    out = Cat({out,
               {static_cast<unsigned char>(e[0]), static_cast<unsigned char>(e[0] >> 8)},
               {static_cast<unsigned char>(e[1]), 0},
               Le32(1),
               value});
  }
  return Cat({out, Le32(0)});
}

Bytes Riff(Bytes const& chunks) {
  return Cat({Text("RIFF"), Le32(4 + chunks.size()), Text("WEBP"), chunks});
}
Bytes Chunk(char const* type, Bytes const& body) {
  return Cat({Text(type), Le32(body.size()), body});
}
// A VP8X chunk (EXIF flag when `exif`) for a canvas of w x h.
Bytes Vp8x(std::uint32_t w, std::uint32_t h, bool exif) {
  Bytes body = {static_cast<unsigned char>(exif ? 0x08 : 0), 0, 0, 0};
  for (std::uint32_t v : {w - 1, h - 1}) {
    body = Cat({body,
                {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                 static_cast<unsigned char>(v >> 16)}});
  }
  return Chunk("VP8X", body);
}

struct Row {
  char const* name;
  Bytes bytes;
  unsigned format;  // 0: not recognised
  std::uint32_t width, height;
  int orientation;
};

TEST(ExtendedHeaderProbeTest, ReadsSizeAndTurnOrRefuses) {
  Bytes const irot3 = Box("irot", {3});
  Bytes const imir0 = Box("imir", {0});
  Bytes const orientation8 = Tiff({{274, 3, 8}});
  Bytes const whole = Cat({Ftyp("heic"), Meta(Ispe(8, 6), 1, {1})});
  Bytes unused;  // fifteen turns before the one that counts: sixteen are remembered
  for (int i = 0; i < 15; ++i) unused = Cat({unused, imir0});
  Bytes others;  // the 4096 items whose properties are looked at
  for (int i = 0; i < 4096; ++i) others = Cat({others, {0, 2, 0}});
  // Big-endian, its directory past 16 MiB (after the picture data, as writers put it).
  Bytes far = Cat({Text("MM"), {0, 42}, Be32(1u << 24)});
  far.resize(1u << 24);
  far = Cat({far,
             {0, 2, 1, 0, 0, 3},
             Be32(1),
             {1, 44, 0, 0, 1, 1, 0, 3},
             Be32(1),
             {0, 200, 0, 0},
             Be32(0)});
  Row const rows[] = {
      {"largest ispe counts, primary rotated",
       Cat({Ftyp("heic"), Meta(Cat({Ispe(100, 50), irot3, Ispe(4000, 3000)}), 1, {1, 0x82})}),
       kQLImageHeif, 4000, 3000, 6},
      {"turn then mirror",
       Cat({Ftyp("heic"), Meta(Cat({Ispe(8, 6), Box("irot", {1}), imir0}), 1, {1, 2, 3})}),
       kQLImageHeif, 8, 6, 5},
      {"sixteenth turn", Cat({Ftyp("heic"), Meta(Cat({Ispe(8, 6), unused, irot3}), 1, {1, 17})}),
       kQLImageHeif, 8, 6, 6},
      {"another item's turn", Cat({Ftyp("heic"), Meta(Cat({Ispe(8, 6), irot3}), 2, {1, 2})}),
       kQLImageHeif, 8, 6, 1},
      {"avif brand", Cat({Ftyp("avif"), Meta(Cat({Ispe(8, 6), Box("imir", {1})}), 1, {2})}),
       kQLImageAvif, 8, 6, 2},
      {"huge ispe", Cat({Ftyp("avif"), Meta(Ispe(60000, 60000), 1, {1})}), kQLImageAvif, 60000,
       60000, 1},
      {"no ispe", Cat({Ftyp("heic"), Meta(irot3, 1, {1})}), 0, 0, 0, 0},
      {"box longer than its parent",
       Cat({Ftyp("heic"), Meta(Box("ispe", Cat({Be32(0), Be32(8), Be32(6)}), 64), 1, {1})}), 0, 0,
       0, 0},
      {"box shorter than its header",
       Cat({Ftyp("heic"), Box("free", {}, -6), Meta(Ispe(8, 6), 1, {1})}), 0, 0, 0, 0},
      {"cut in ispe", Bytes(whole.begin(), whole.begin() + 90), 0, 0, 0, 0},
      {"64-bit box size",
       Cat({Ftyp("heic"), Be32(1), Text("free"), Be32(0), Be32(21), Bytes(5, 0),
            Meta(Ispe(8, 6), 1, {1})}),
       kQLImageHeif, 8, 6, 1},
      {"ipma entry running past its box",
       Cat({Ftyp("heic"), Meta(Ispe(8, 6), 1, {1}, {}, {0, 2, 5})}), 0, 0, 0, 0},
      {"primary's turn past 4096 items",
       Cat({Ftyp("heic"), Meta(Cat({Ispe(8, 6), irot3}), 1, {1, 2}, {}, others)}), kQLImageHeif, 8,
       6, 1},
      {"broken box after iprp", Cat({Ftyp("heic"), Meta(Ispe(8, 6), 1, {1}, Box("free", {}, -6))}),
       0, 0, 0, 0},
      {"box to the end inside meta",
       Cat({Ftyp("heic"), ToEnd(Meta(Ispe(8, 6), 1, {1}, ToEnd(Box("free", {}))))}), 0, 0, 0, 0},
      {"ftyp over 4 KiB",
       Cat({Box("ftyp", Cat({Text("heic"), Be32(0), Bytes(4092, 'x')})), Meta(Ispe(8, 6), 1, {1})}),
       0, 0, 0, 0},
      {"vp8 frame", Riff(Chunk("VP8 ", {0, 0, 0, 0x9D, 0x01, 0x2A, 0x40, 0x01, 0xF0, 0x00})),
       kQLImageWebp, 320, 240, 1},
      {"vp8 bad start code",
       Riff(Chunk("VP8 ", {0, 0, 0, 0x9D, 0x01, 0x2B, 0x40, 0x01, 0xF0, 0x00})), 0, 0, 0, 0},
      {"unknown first chunk", Riff(Chunk("VP8Z", Bytes(10, 0))), 0, 0, 0, 0},
      {"vp8l", Riff(Chunk("VP8L", {0x2F, 0x3F, 0xC0, 0x0B, 0, 0, 0, 0, 0, 0})), kQLImageWebp, 64,
       48, 1},
      {"vp8x with exif",
       Riff(Cat(
           {Vp8x(16384, 16384, true), Chunk("VP8L", Bytes(10, 0)), Chunk("EXIF", orientation8)})),
       kQLImageWebp, 16384, 16384, 8},
      {"vp8x with Exif prefix",
       Riff(Cat({Vp8x(5, 3, true), Chunk("EXIF", Cat({Text("Exif"), {0, 0}, orientation8}))})),
       kQLImageWebp, 5, 3, 8},
      {"tiff 8-bit, tag 6", Tiff({{256, 3, 300}, {257, 4, 200}, {258, 3, 8}, {274, 3, 6}}),
       kQLImageTiff, 300, 200, 7},
      {"tiff 8-bit, tag 3", Tiff({{256, 3, 300}, {257, 3, 200}, {258, 3, 8}, {274, 3, 3}}),
       kQLImageTiff, 300, 200, 1},
      {"tiff 1-bit, tag 6", Tiff({{256, 3, 300}, {257, 3, 200}, {274, 3, 6}}), kQLImageTiff, 300,
       200, 6},
      {"big-endian tiff", far, kQLImageTiff, 300, 200, 1},
      {"tiff without height", Tiff({{256, 3, 300}}), 0, 0, 0, 0},
      {"tiff directory past the end", Tiff({{256, 3, 300}, {257, 3, 200}}, 4000), 0, 0, 0, 0},
  };
  for (Row const& row : rows) {
    QLImageHeader header;
    bool const found = ProbeImageBytes(row.bytes.data(), row.bytes.size(), kExtended, &header);
    EXPECT_EQ(row.format != 0, found) << row.name;
    if (!found || row.format == 0) continue;
    EXPECT_EQ(row.format, header.format) << row.name;
    EXPECT_EQ(row.width, header.width) << row.name;
    EXPECT_EQ(row.height, header.height) << row.name;
    EXPECT_EQ(row.orientation, header.orientation) << row.name;
  }
}

}  // namespace
