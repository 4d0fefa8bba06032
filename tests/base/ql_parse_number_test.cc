#include "base/ql_parse_number.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(ParseUnsignedTest, AcceptsOnlyAWholeNumberInRange) {
  struct Case {
    char const* text;
    std::uint64_t low, high;
    QLNumberForm form;
    bool ok;
    std::uint64_t value;
  } const cases[] = {
      {"42", 1, 64, QLNumberForm::kDecimal, true, 42},
      {"1", 1, 64, QLNumberForm::kDecimal, true, 1},
      {"64", 1, 64, QLNumberForm::kDecimal, true, 64},
      {"0", 1, 64, QLNumberForm::kDecimal, false, 0},
      {"65", 1, 64, QLNumberForm::kDecimal, false, 0},
      {"18446744073709551615", 0, UINT64_MAX, QLNumberForm::kDecimal, true, UINT64_MAX},
      {"18446744073709551616", 0, UINT64_MAX, QLNumberForm::kDecimal, false, 0},
      {"-5", 0, UINT64_MAX, QLNumberForm::kDecimal, false, 0},
      {"+5", 0, UINT64_MAX, QLNumberForm::kDecimal, false, 0},
      {" 5", 0, UINT64_MAX, QLNumberForm::kDecimal, false, 0},
      {"5 ", 0, UINT64_MAX, QLNumberForm::kDecimal, false, 0},
      {"12abc", 0, UINT64_MAX, QLNumberForm::kDecimal, false, 0},
      {"", 0, UINT64_MAX, QLNumberForm::kDecimal, false, 0},
      {"0x10", 0, UINT64_MAX, QLNumberForm::kDecimal, false, 0},
      {"0x10", 0, UINT64_MAX, QLNumberForm::kDecimalOrHex, true, 16},
      {"0XfF", 0, UINT64_MAX, QLNumberForm::kDecimalOrHex, true, 255},
      {"ff", 0, UINT64_MAX, QLNumberForm::kDecimalOrHex, false, 0},
      {"0x", 0, UINT64_MAX, QLNumberForm::kDecimalOrHex, false, 0},
      {"0x-5", 0, UINT64_MAX, QLNumberForm::kDecimalOrHex, false, 0},
      {"0x 5", 0, UINT64_MAX, QLNumberForm::kDecimalOrHex, false, 0},
  };
  for (auto const& c : cases) {
    std::uint64_t value = 7;
    EXPECT_EQ(c.ok, ParseUnsigned(c.text, c.low, c.high, &value, c.form)) << c.text;
    EXPECT_EQ(c.ok ? c.value : 7u, value) << c.text;
  }
  std::uint64_t value = 7;
  EXPECT_FALSE(ParseUnsigned(nullptr, 0, 1, &value));
}
