#include "base/ql_status.h"

#include <errno.h>
#include <gtest/gtest.h>

namespace {

// The kind each errno becomes decides what the cache and the workers do
// (a miss, a refusal, a line at DEBUG or ERROR); the text is what is logged.
TEST(QLStatusTest, PosixErrorTakesItsKindFromErrnoAndItsTextFromTheCaller) {
  struct Case {
    int error;
    QLStatus::Kind kind;
  } const cases[] = {
      {ENOENT, QLStatus::Kind::kNotFound}, {ENOTDIR, QLStatus::Kind::kNotFound},
      {EACCES, QLStatus::Kind::kNoAccess}, {EROFS, QLStatus::Kind::kNoAccess},
      {EDQUOT, QLStatus::Kind::kNoSpace},  {EFBIG, QLStatus::Kind::kNoSpace},
      {ELOOP, QLStatus::Kind::kInvalid},   {EXDEV, QLStatus::Kind::kRefused},
      {ECONNRESET, QLStatus::Kind::kIo},   {0, QLStatus::Kind::kIo},
  };
  for (Case const& c : cases) {
    QLStatus const status = QLPosixError("/c/x.png", "", c.error);
    EXPECT_EQ(c.kind, status.kind()) << c.error;
    EXPECT_FALSE(status.ok()) << c.error;
    EXPECT_EQ(c.error, status.error());
  }
  EXPECT_EQ("/c/x.png: No such file or directory", QLPosixError("/c/x.png", "", ENOENT).ToString());
  EXPECT_EQ(
      "Cannot open file \"/c/x.png\" for writing.",
      QLPosixError("/c/x.png", "Cannot open file \"/c/x.png\" for writing.", EACCES).ToString());
  EXPECT_EQ("OK", QLStatus().ToString());
}

}  // namespace
