// URL escaping: the escape table, GBK characters and the text edges.
#include <gtest/gtest.h>

#include <random>

#include "net/url_escape.h"

namespace {

using net::AnsiToUtf16;
using net::AnsiToUtf8;
using net::EscapeUrl;
using net::PercentEncode;

TEST(UrlEscape, EscapeTableBothPasses) {
  struct Case {
    const char* in;
    const char* percent_encoded;
    const char* escaped;
  } const cases[] = {
      {"`", "%60", "%60"}, {"~", "%7E", "%7E"},  {"!", "%21", "%21"},  {"@", "%40", "%40"},
      {"#", "%23", "%23"}, {"$", "%24", "%24"},  {"%", "%25", "%25"},  {"^", "%5E", "%5E"},
      {"&", "%26", "%26"}, {"*", "%2A", "%2A"},  {"(", "%28", "%28"},  {")", "%29", "%29"},
      {"-", "%2D", "-"},   {"_", "%5F", "_"},    {"=", "%3D", "%3D"},  {"+", "%2B", "%2B"},
      {"[", "%5B", "%5B"}, {"{", "%7B", "%7B"},  {"]", "%5D", "%5D"},  {"}", "%7D", "%7D"},
      {";", "%3B", "%3B"}, {":", "%3A", ":"},    {"'", "%27", "%27"},  {"\\", "%5C", "%5C"},
      {"|", "%7C", "%7C"}, {",", "%2C", "%2C"},  {"<", "%3C", "%3C"},  {".", "%2E", "."},
      {">", "%3E", "%3E"}, {"/", "%2F", "/"},    {"?", "%3F", "%3F"},  {"\"", "%22", "%22"},
      {"\r", "%0D", "%0D"}, {"\n", "%0A", "%0A"}, {"\t", "%09", "%09"}, {" ", " ", "%20"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PercentEncode(c.in), c.percent_encoded) << c.in;
    EXPECT_EQ(EscapeUrl(c.in), c.escaped) << c.in;
  }
}

TEST(UrlEscape, WholeUrls) {
  struct Case {
    const char* in;
    const char* out;
  } const cases[] = {
      {"", ""},
      {"http://127.0.0.1:8088/patch/528/a-b_c.9.dat", "http://127.0.0.1:8088/patch/528/a-b_c.9.dat"},
      {"http://h/a b+c%d\\e", "http://h/a%20b%2Bc%25d%5Ce"},
      {"http://h/q?x=1&y=2", "http://h/q%3Fx%3D1%26y%3D2"},
      // An escape in the input is not mistaken for one of ours.
      {"http://h/%2F%3a", "http://h/%252F%253a"},
      // GBK 中 and 文 become their UTF-8 bytes.
      {"http://h/\xD6\xD0 \xCE\xC4.dat", "http://h/%E4%B8%AD%20%E6%96%87.dat"},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeUrl(c.in), c.out) << c.in;
  // A text ends at its first NUL.
  EXPECT_EQ(EscapeUrl(std::string("ab\0cd", 5)), "ab");
}

TEST(UrlEscape, OutputIsAsciiWithUpperCaseEscapesForAnyInput) {
  std::mt19937 random(12345);
  for (int round = 0; round < 300; ++round) {
    std::string in(static_cast<size_t>(random() % 24), '\0');
    for (char& c : in) c = static_cast<char>(1 + random() % 255);
    const std::string out = EscapeUrl(in);
    for (size_t i = 0; i < out.size(); ++i) {
      const unsigned char b = static_cast<unsigned char>(out[i]);
      ASSERT_TRUE(b >= 0x01 && b <= 0x7F) << "round " << round;
      ASSERT_FALSE(b >= 'a' && b <= 'f' && i >= 1 && out[i - 1] == '%');
      if (b == '%') {
        ASSERT_LT(i + 2, out.size() + 0u);
        ASSERT_TRUE(isxdigit(static_cast<unsigned char>(out[i + 1])) &&
                    isxdigit(static_cast<unsigned char>(out[i + 2])));
        ASSERT_FALSE(islower(static_cast<unsigned char>(out[i + 1])) ||
                     islower(static_cast<unsigned char>(out[i + 2])));
      }
    }
  }
}

TEST(UrlEscape, LoneLeadByteAtTheEndStaysAscii) {
  const std::string out = EscapeUrl("a\xD6");
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out[0], 'a');
  for (char c : out) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
}

TEST(UrlEscape, ConversionsEndInOneZeroUnit) {
  struct Case {
    const char* in;
    rt::Bytes utf8;
    rt::Bytes utf16;
  } const cases[] = {
      {"", {0}, {0, 0}},
      {"A", {'A', 0}, {'A', 0, 0, 0}},
      {"\xD6\xD0", {0xE4, 0xB8, 0xAD, 0}, {0x2D, 0x4E, 0, 0}},
      {"a\xB0\xA1z", {'a', 0xE5, 0x95, 0x8A, 'z', 0}, {'a', 0, 0x4A, 0x55, 'z', 0, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnsiToUtf8(c.in), c.utf8) << c.in;
    EXPECT_EQ(AnsiToUtf16(c.in), c.utf16) << c.in;
  }
}

}  // namespace
