// Encoding utilities against the published test vectors (RFC 1321 MD5 suite,
// RFC 2202 HMAC-SHA1 cases, RFC 4648 Base64 vectors) and the URL rules.
#include "encoding/ql_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned char> Bytes(std::string const& s) {
  return std::vector<unsigned char>(s.begin(), s.end());
}

// Unreserved bytes stay, every other becomes upper-case hex; libcurl escapes
// every byte outside the same set, so both encoders agree byte for byte.
TEST(UrlEncodeTest, UnreservedBytesStayAndEveryOtherBecomesUpperCaseHex) {
  std::string const unreserved =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~";
  std::string all;
  for (int c = 0; c < 256; ++c) {
    std::string const in(1, static_cast<char>(c));
    char escaped[4];
    snprintf(escaped, sizeof(escaped), "%%%.2X", c);
    EXPECT_EQ(unreserved.find(in) != std::string::npos ? in : escaped, UrlEncode(in)) << c;
    all += in;
  }
  EXPECT_EQ(UrlEncode(all), CUrlEncode(all));
  EXPECT_EQ("x%20y%2F%C3%A9", CUrlEncode("x y/\xC3\xA9"));
  EXPECT_EQ("", UrlEncode(""));
  EXPECT_EQ("", CUrlEncode(""));
}

// Published vectors: RFC 1321 (MD5), RFC 2202 (HMAC-SHA1, key second),
// RFC 4648 (Base64); the last rows reach the '+' and '/' letters and hashing
// of a key longer than one block.
TEST(DigestTest, PublishedVectors) {
  struct Case {
    std::string key;  // empty: MD5 of `data`
    std::string data;
    std::string hex;
  } const cases[] = {
      {"", "", "d41d8cd98f00b204e9800998ecf8427e"},
      {"", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"", "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
      {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(c.hex, HexEncode(c.key.empty() ? Md5(c.data) : HmacSHA1(c.data, c.key))) << c.data;
  }
  struct Base64Case {
    std::string input;
    std::string text;
  } const base64[] = {{"", ""},        {"f", "Zg=="},          {"fo", "Zm8="},
                      {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff", "+/8="}};
  for (auto const& v : base64) {
    EXPECT_EQ(v.text, Base64Encode(Bytes(v.input), false)) << v.input;
    EXPECT_EQ(v.input.empty() ? "" : v.text + "\n", Base64Encode(Bytes(v.input), true)) << v.input;
  }
  EXPECT_EQ("00ff7f", HexEncode({0x00, 0xff, 0x7f}));
}

}  // namespace
