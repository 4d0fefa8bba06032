#include "base/ql_parse_number.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

bool ParseUnsigned(char const* text, std::uint64_t low, std::uint64_t high, std::uint64_t* value,
                   QLNumberForm form) {
  if (text == nullptr) return false;
  int base = 10;
  if (form == QLNumberForm::kDecimalOrHex && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
  }
  // strtoull would skip blanks and accept a sign (negating the result).
  if (!std::isxdigit(static_cast<unsigned char>(text[0]))) return false;
  if (base == 10 && !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long const parsed = std::strtoull(text, &end, base);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}
