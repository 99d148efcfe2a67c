// Text conversions in a row on one thread give what each gives alone: a
// conversion that met bad input leaves nothing behind for the next one.
#include <gtest/gtest.h>

#include <string>

#include "runtime/encoding.h"

namespace {

TEST(Encoding, ConversionsInARowAreEachRight) {
  struct Case {
    const char* name;
    bool to_gbk;  // Utf8ToGbk, else GbkToUtf8
    std::string in;
    std::string out;
    bool ok;  // only for Utf8ToGbk
  } const cases[] = {
      {"plain", true, "\xe4\xb8\xad" "a", "\xd6\xd0" "a", true},
      {"invalid byte replaced", true, "\xff" "b", "?b", false},
      {"right after an invalid byte", true, "\xe4\xb8\xad", "\xd6\xd0", true},
      {"GBK", false, "\xd6\xd0", "\xe4\xb8\xad", true},
  };
  for (int round = 0; round < 2; ++round) {
    for (const Case& c : cases) {
      bool ok = true;
      const std::string got = c.to_gbk ? rt::Utf8ToGbk(c.in, &ok) : rt::GbkToUtf8(c.in);
      EXPECT_EQ(got, c.out) << c.name << " round " << round;
      if (c.to_gbk) EXPECT_EQ(ok, c.ok) << c.name << " round " << round;
    }
    EXPECT_EQ(rt::Utf16ToGbk(u"\u4e2d", nullptr), "\xd6\xd0") << round;
  }
}

}  // namespace
