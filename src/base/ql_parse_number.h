// ParseUnsigned: the one parser of numbers given on command lines.
//
// Stateless; any thread may call it.
#ifndef QUORLIN_BASE_QL_PARSE_NUMBER_H_
#define QUORLIN_BASE_QL_PARSE_NUMBER_H_

#include <cstdint>

enum class QLNumberForm {
  kDecimal,       // digits only
  kDecimalOrHex,  // digits, or "0x"/"0X" followed by hexadecimal digits
};

// Parses the whole of `text` as an unsigned number from `low` to `high`.
// The text must start with a digit (after the "0x" of a hexadecimal number):
// no sign, no blanks, nothing after the number, no overflow. On success
// stores the number in *value and returns true; otherwise returns false and
// leaves *value untouched. A null `text` is refused.
bool ParseUnsigned(char const* text, std::uint64_t low, std::uint64_t high, std::uint64_t* value,
                   QLNumberForm form = QLNumberForm::kDecimal);

#endif  // QUORLIN_BASE_QL_PARSE_NUMBER_H_
