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

std::string Repeat(char c, size_t n) { return std::string(n, c); }

std::string AllBytes() {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  return all;
}

TEST(UrlEncodeTest, UnreservedBytesStayAndEveryOtherBecomesUpperCaseHex) {
  std::string const unreserved =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~";
  for (int c = 0; c < 256; ++c) {
    std::string in(1, static_cast<char>(c));
    char escaped[4];
    snprintf(escaped, sizeof(escaped), "%%%.2X", c);
    bool const stays = unreserved.find(static_cast<char>(c)) != std::string::npos;
    EXPECT_EQ(stays ? in : std::string(escaped), UrlEncode(in)) << c;
  }
  EXPECT_EQ(unreserved, UrlEncode(unreserved));
  EXPECT_EQ("x%20y%2F%C3%A9", UrlEncode("x y/\xC3\xA9"));
  EXPECT_EQ("a%00b", UrlEncode(std::string("a\0b", 3)));
  EXPECT_EQ("", UrlEncode(""));
}

TEST(CUrlEncodeTest, EscapesLikeTheUrlRulesForEveryByte) {
  // libcurl escapes every byte outside the same unreserved set, so both
  // encoders must agree byte for byte.
  EXPECT_EQ(UrlEncode(AllBytes()), CUrlEncode(AllBytes()));
  EXPECT_EQ("x%20y%2F%C3%A9", CUrlEncode("x y/\xC3\xA9"));
  EXPECT_EQ("", CUrlEncode(""));
}

struct DigestCase {
  std::string input;
  std::string hex;
};

TEST(Md5Test, Rfc1321TestSuite) {
  std::vector<DigestCase> const suite = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"}};
  for (DigestCase const& c : suite) {
    std::vector<unsigned char> digest = Md5(c.input);
    EXPECT_EQ(16u, digest.size());
    EXPECT_EQ(c.hex, HexEncode(digest)) << c.input;
  }
}

struct HmacCase {
  std::string key;
  std::string data;
  std::string hex;
};

TEST(HmacSHA1Test, Rfc2202TestCases) {
  std::vector<HmacCase> const cases = {
      {Repeat('\x0b', 20), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
      {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {Repeat('\xaa', 20), Repeat('\xdd', 50), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {"\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15"
       "\x16\x17\x18\x19",
       Repeat('\xcd', 50), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {Repeat('\x0c', 20), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
      {Repeat('\xaa', 80), "Test Using Larger Than Block-Size Key - Hash Key First",
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {Repeat('\xaa', 80),
       "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"}};
  for (HmacCase const& c : cases) {
    std::vector<unsigned char> digest = HmacSHA1(c.data, c.key);
    EXPECT_EQ(20u, digest.size());
    EXPECT_EQ(c.hex, HexEncode(digest)) << c.data;
  }
}

TEST(HmacSHA1Test, KeyIsTheSecondArgument) {
  EXPECT_NE(HexEncode(HmacSHA1("Jefe", "what do ya want for nothing?")),
            HexEncode(HmacSHA1("what do ya want for nothing?", "Jefe")));
  // A key of exactly one block is used as it is, one byte more is hashed.
  EXPECT_NE(HmacSHA1("m", Repeat('k', 64)), HmacSHA1("m", Repeat('k', 65)));
  EXPECT_EQ(20u, HmacSHA1("", "").size());
}

TEST(Base64EncodeTest, Rfc4648Vectors) {
  std::vector<DigestCase> const vectors = {{"", ""},
                                           {"f", "Zg=="},
                                           {"fo", "Zm8="},
                                           {"foo", "Zm9v"},
                                           {"foob", "Zm9vYg=="},
                                           {"fooba", "Zm9vYmE="},
                                           {"foobar", "Zm9vYmFy"}};
  for (DigestCase const& v : vectors) {
    EXPECT_EQ(v.hex, Base64Encode(Bytes(v.input), false)) << v.input;
    EXPECT_EQ(v.input.empty() ? "" : v.hex + "\n", Base64Encode(Bytes(v.input), true)) << v.input;
  }
}

TEST(Base64EncodeTest, LineBreaksEvery64CharactersOnlyWithTheFlag) {
  std::vector<unsigned char> bytes48(48, 0xFB);
  std::string one_line = Base64Encode(bytes48, false);
  EXPECT_EQ(64u, one_line.size());
  EXPECT_EQ(std::string::npos, one_line.find('\n'));
  EXPECT_EQ(one_line + "\n", Base64Encode(bytes48, true));

  std::vector<unsigned char> bytes49(49, 0xFB);
  std::string two_lines = Base64Encode(bytes49, true);
  ASSERT_EQ(64u + 1 + 4 + 1, two_lines.size());
  EXPECT_EQ('\n', two_lines[64]);
  EXPECT_EQ('\n', two_lines.back());
  EXPECT_EQ(std::string::npos, Base64Encode(bytes49, false).find('\n'));
  EXPECT_EQ(68u, Base64Encode(bytes49, false).size());
}

TEST(Base64EncodeTest, EveryByteValueSurvivesTheAlphabet) {
  std::string encoded = Base64Encode(Bytes(AllBytes()), false);
  EXPECT_EQ(344u, encoded.size());  // 4 * ceil(256 / 3)
  for (char c : encoded) {
    EXPECT_TRUE(isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=') << c;
  }
  EXPECT_EQ("AAECAwQF", encoded.substr(0, 8));
  EXPECT_EQ("/w==", encoded.substr(encoded.size() - 4));
}

TEST(HexEncodeTest, TwoLowerCaseDigitsPerByte) {
  std::string expected;
  for (int c = 0; c < 256; ++c) {
    char digits[3];
    snprintf(digits, sizeof(digits), "%.2x", c);
    expected += digits;
  }
  EXPECT_EQ(expected, HexEncode(Bytes(AllBytes())));
  EXPECT_EQ("", HexEncode({}));
}

}  // namespace
