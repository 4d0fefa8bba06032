// URL, hexadecimal and Base64 encodings and the MD5 and HMAC-SHA1 digests.
//
// Contract: free functions without state of their own; any thread may call
// them at any time. Text is treated as bytes (no character-set conversion).
// None of them reports errors: a library failure gives an empty result.
// Digests are returned raw; pass them to HexEncode or Base64Encode for text.
#ifndef QUORLIN_ENCODING_QL_ENCODING_H_
#define QUORLIN_ENCODING_QL_ENCODING_H_

#include <string>
#include <vector>

// Percent-encodes every byte outside A-Z a-z 0-9 - _ . ~ as "%XX" (upper-case
// hex). A blank becomes %20, never '+'.
std::string UrlEncode(std::string const& text);

// The same escaping done by libcurl (curl_easy_escape).
std::string CUrlEncode(std::string const& text);

// The 16 raw bytes of the MD5 digest of `text` (RFC 1321).
std::vector<unsigned char> Md5(std::string const& text);

// The 20 raw bytes of HMAC-SHA1 (RFC 2104) of `message` under `key`. Note
// the order: message first, key second.
std::vector<unsigned char> HmacSHA1(std::string const& message, std::string const& key);

// Standard Base64 with padding (RFC 4648). With `with_new_lines` a newline
// follows every 64 output characters and the last line; without, the result
// is one line without any newline.
std::string Base64Encode(std::vector<unsigned char> const& bytes, bool with_new_lines);

// Two lower-case hexadecimal digits per byte.
std::string HexEncode(std::vector<unsigned char> const& bytes);

#endif  // QUORLIN_ENCODING_QL_ENCODING_H_
