#include "support/ql_dng_sample.h"

#include <cstdint>

namespace qltest {
namespace {

enum Type : std::uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4 };

struct Entry {
  std::uint16_t tag;
  Type type;
  std::vector<std::uint32_t> values;  // numbers; for kAscii the characters
};

void Put16(Bytes* out, std::uint32_t v) {
  out->push_back(static_cast<unsigned char>(v));
  out->push_back(static_cast<unsigned char>(v >> 8));
}

void Put32(Bytes* out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

Entry Ascii(std::uint16_t tag, std::string const& text) {
  Entry entry{tag, kAscii, {}};
  for (char c : text) entry.values.push_back(static_cast<unsigned char>(c));
  entry.values.push_back(0);
  return entry;
}

// A little-endian IFD placed at `offset`, its out-of-line values after it.
Bytes Ifd(std::uint32_t offset, std::vector<Entry> const& entries) {
  Bytes table;
  Bytes extra;
  std::uint32_t const extra_offset = offset + 2 + 12 * entries.size() + 4;
  Put16(&table, static_cast<std::uint32_t>(entries.size()));
  for (Entry const& entry : entries) {
    Bytes value;
    for (std::uint32_t v : entry.values) {
      if (entry.type == kShort) {
        Put16(&value, v);
      } else if (entry.type == kLong) {
        Put32(&value, v);
      } else {
        value.push_back(static_cast<unsigned char>(v));
      }
    }
    Put16(&table, entry.tag);
    Put16(&table, entry.type);
    Put32(&table, static_cast<std::uint32_t>(entry.values.size()));
    if (value.size() <= 4) {
      value.resize(4, 0);
      table.insert(table.end(), value.begin(), value.end());
    } else {
      Put32(&table, extra_offset + static_cast<std::uint32_t>(extra.size()));
      extra.insert(extra.end(), value.begin(), value.end());
      if (extra.size() % 2) extra.push_back(0);
    }
  }
  Put32(&table, 0);  // no next IFD
  table.insert(table.end(), extra.begin(), extra.end());
  return table;
}

}  // namespace

Bytes DngWithPreview(Bytes const& preview, int preview_width, int preview_height, int orientation) {
  std::uint32_t const kRawWidth = 128;
  std::uint32_t const kRawHeight = 96;
  Bytes file = {'I', 'I', 42, 0, 0, 0, 0, 0};
  std::uint32_t const preview_offset = static_cast<std::uint32_t>(file.size());
  file.insert(file.end(), preview.begin(), preview.end());
  if (file.size() % 2) file.push_back(0);
  std::uint32_t const raw_offset = static_cast<std::uint32_t>(file.size());
  for (std::uint32_t i = 0; i < kRawWidth * kRawHeight; ++i) file.push_back(100 + i % 50);

  std::uint32_t const sub_offset = static_cast<std::uint32_t>(file.size());
  Bytes const sub = Ifd(sub_offset, {{254, kLong, {0}},
                                     {256, kLong, {kRawWidth}},
                                     {257, kLong, {kRawHeight}},
                                     {258, kShort, {8}},
                                     {259, kShort, {1}},
                                     {262, kShort, {32803}},
                                     {273, kLong, {raw_offset}},
                                     {277, kShort, {1}},
                                     {278, kLong, {kRawHeight}},
                                     {279, kLong, {kRawWidth * kRawHeight}},
                                     {33421, kShort, {2, 2}},
                                     {33422, kByte, {0, 1, 1, 2}}});
  file.insert(file.end(), sub.begin(), sub.end());

  std::uint32_t const ifd0_offset = static_cast<std::uint32_t>(file.size());
  auto const width = static_cast<std::uint32_t>(preview_width);
  auto const height = static_cast<std::uint32_t>(preview_height);
  Bytes const ifd0 = Ifd(ifd0_offset, {{254, kLong, {1}},
                                       {256, kLong, {width}},
                                       {257, kLong, {height}},
                                       {258, kShort, {8, 8, 8}},
                                       {259, kShort, {7}},
                                       {262, kShort, {6}},
                                       Ascii(271, "Quorlin"),
                                       Ascii(272, "Test"),
                                       {273, kLong, {preview_offset}},
                                       {274, kShort, {static_cast<std::uint32_t>(orientation)}},
                                       {277, kShort, {3}},
                                       {278, kLong, {height}},
                                       {279, kLong, {static_cast<std::uint32_t>(preview.size())}},
                                       {330, kLong, {sub_offset}},
                                       {50706, kByte, {1, 4, 0, 0}},
                                       Ascii(50708, "Quorlin Test")});
  file.insert(file.end(), ifd0.begin(), ifd0.end());
  for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<unsigned char>(ifd0_offset >> (8 * i));
  return file;
}

}  // namespace qltest
