#include "encoding/ql_encoding.h"

#include <curl/curl.h>
#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

namespace {

struct CurlHandleDeleter {
  void operator()(CURL* handle) const {
    if (handle) curl_easy_cleanup(handle);
  }
};

struct CurlStringDeleter {
  void operator()(char* text) const {
    if (text) curl_free(text);
  }
};

struct BioDeleter {
  void operator()(BIO* bio) const {
    if (bio) BIO_free_all(bio);
  }
};

// curl_easy_escape and BIO_write take int lengths; larger inputs go through
// in pieces of this size. Escaping works byte by byte and the Base64 filter
// keeps its partial group between writes, so the pieces join seamlessly.
constexpr size_t kChunk = 3u * 256u * 1024u * 1024u;  // 768 MiB < INT_MAX
static_assert(kChunk <= static_cast<size_t>(INT_MAX), "chunk must fit an int");

}  // namespace

std::string UrlEncode(std::string const& text) {
  static char const kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

std::string CUrlEncode(std::string const& text) {
  std::unique_ptr<CURL, CurlHandleDeleter> handle(curl_easy_init());
  if (!handle) return std::string();
  std::string out;
  for (size_t offset = 0; offset < text.size(); offset += kChunk) {
    size_t piece = std::min(kChunk, text.size() - offset);
    std::unique_ptr<char, CurlStringDeleter> escaped(
        curl_easy_escape(handle.get(), text.data() + offset, static_cast<int>(piece)));
    if (!escaped) return std::string();
    out += escaped.get();
  }
  return out;
}

std::vector<unsigned char> Md5(std::string const& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1) {
    return std::vector<unsigned char>();
  }
  return std::vector<unsigned char>(digest, digest + length);
}

std::vector<unsigned char> HmacSHA1(std::string const& message, std::string const& key) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // HMAC replaces a key longer than the hash block by its hash; doing that
  // here keeps the key length handed to the int parameter small.
  std::string short_key = key;
  if (key.size() > 64) {
    unsigned int hashed_length = 0;
    if (EVP_Digest(key.data(), key.size(), digest, &hashed_length, EVP_sha1(), nullptr) != 1) {
      return std::vector<unsigned char>();
    }
    short_key.assign(reinterpret_cast<char const*>(digest), hashed_length);
  }
  if (HMAC(EVP_sha1(), short_key.data(), static_cast<int>(short_key.size()),
           reinterpret_cast<unsigned char const*>(message.data()), message.size(), digest,
           &length) == nullptr) {
    return std::vector<unsigned char>();
  }
  return std::vector<unsigned char>(digest, digest + length);
}

std::string Base64Encode(std::vector<unsigned char> const& bytes, bool with_new_lines) {
  BIO* base64 = BIO_new(BIO_f_base64());
  if (base64 == nullptr) return std::string();
  std::unique_ptr<BIO, BioDeleter> chain(base64);
  BIO* sink = BIO_new(BIO_s_mem());
  if (sink == nullptr) return std::string();
  if (!with_new_lines) BIO_set_flags(base64, BIO_FLAGS_BASE64_NO_NL);
  BIO_push(base64, sink);  // the chain now owns the sink too

  size_t offset = 0;
  while (offset < bytes.size()) {
    size_t piece = std::min(kChunk, bytes.size() - offset);
    int written = BIO_write(base64, bytes.data() + offset, static_cast<int>(piece));
    if (written <= 0) return std::string();
    offset += static_cast<size_t>(written);
  }
  if (BIO_flush(base64) != 1) return std::string();

  BUF_MEM* memory = nullptr;
  BIO_get_mem_ptr(sink, &memory);
  if (memory == nullptr || memory->data == nullptr) return std::string();
  return std::string(memory->data, memory->length);
}

std::string HexEncode(std::vector<unsigned char> const& bytes) {
  static char const kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  return out;
}
