#include <gtest/gtest.h>

#include "runtime/bytes.h"
#include "runtime/convert.h"
#include "runtime/text.h"

using namespace rt;

namespace {
const Text kZhong = "\xD6\xD0";       // 中
const Text kFullBlank = "\xA1\xA1";   // full-width blank
}

TEST(Text, CuttingClampsToTheText) {
  EXPECT_EQ(TextLeft("abc", 0), "");
  EXPECT_EQ(TextLeft("abc", -1), "");
  EXPECT_EQ(TextLeft("abc", 5), "abc");
  EXPECT_EQ(TextRight("abc", 2), "bc");
  EXPECT_EQ(TextMid("abcdef", 2, 3), "bcd");
  EXPECT_EQ(TextMid("abcdef", 5, 10), "ef");
  EXPECT_EQ(TextMid("abc", 0, 2), "");
  EXPECT_EQ(TextMid("abc", 4, 1), "");
  EXPECT_EQ(TextMid("abc", 1, 0), "");
  EXPECT_EQ(ByteCodeAt("AB"), 'A');
  EXPECT_EQ(ByteCodeAt("AB", 2), 'B');
  EXPECT_EQ(ByteCodeAt(kZhong, 1), 0xD6);
  EXPECT_EQ(ByteCodeAt("AB", 3), 0);
}

TEST(Text, FindGivesOneBasedPositionsOrMinusOne) {
  struct Case {
    Text text, wanted;
    int32_t start;
    bool ignore_case;
    int32_t expected;
  } cases[] = {
      {"", "a", 1, false, -1},        {"abc", "", 1, false, 1},      {"", "", 1, false, -1},
      {"abc", "x", 1, false, -1},     {"abcabc", "bc", 1, false, 2}, {"abcabc", "bc", 3, false, 5},
      {"abcabc", "bc", 6, false, -1}, {"ABC", "bc", 1, false, -1},   {"ABC", "bc", 1, true, 2},
      {"abc", "abcd", 1, false, -1},  {"abc", "a", 0, false, 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FindText(c.text, c.wanted, c.start, c.ignore_case), c.expected) << c.text << " / " << c.wanted;
  EXPECT_EQ(FindTextBackward("a\\b\\c", "\\"), 4);
  EXPECT_EQ(FindTextBackward("abc", "\\"), -1);
  EXPECT_EQ(FindTextBackward("abcabc", "ABC", -1, true), 4);
  EXPECT_EQ(FindTextBackward("abcabc", "abc", 3), 1);
}

TEST(Text, TrimRemovesAsciiAndFullWidthBlanksOnly) {
  EXPECT_EQ(TrimText("  a b  "), "a b");
  EXPECT_EQ(TrimText(kFullBlank + "x" + kFullBlank + " "), "x");
  EXPECT_EQ(TrimText("a\r"), "a\r");  // CR is not a blank
  EXPECT_EQ(TrimText("\ta\t"), "\ta\t");
  EXPECT_EQ(TrimText(""), "");
  EXPECT_EQ(TrimText("   "), "");
  EXPECT_EQ(TrimText(kFullBlank + kFullBlank), "");
  // "\xB0\xA1" + "\xA1" is a character then a stray lead byte: the A1 A1 that
  // straddles the boundary is not a full-width blank.
  EXPECT_EQ(TrimText("\xB0\xA1\xA1"), "\xB0\xA1\xA1");
  EXPECT_EQ(TrimText(" " + kZhong + " "), kZhong);
}

TEST(Text, ReplaceHonoursStartCountAndCase) {
  EXPECT_EQ(ReplaceText("a.b.c", ".", "/"), "a/b/c");
  EXPECT_EQ(ReplaceText("a.b.c", ".", "/", 1, 1), "a/b.c");
  EXPECT_EQ(ReplaceText("a.b.c", ".", "/", 3), "a.b/c");
  EXPECT_EQ(ReplaceText("aXa", "x", "-", 1, -1, false), "a-a");
  EXPECT_EQ(ReplaceText("aXa", "x", "-", 1, -1, true), "aXa");
  EXPECT_EQ(ReplaceText("abc", "b"), "ac");
  EXPECT_EQ(ReplaceText("abc", "", "z"), "abc");
  EXPECT_EQ(ReplaceText("%2F%2F", "%2F", "/"), "//");
}

TEST(Text, SplitKeepsInnerEmptyPiecesAndDropsAnEmptyTail) {
  struct Case {
    Text text, delimiter;
    TextArray expected;
  } cases[] = {
      {"a,b,", ",", {"a", "b"}},
      {"a,,b", ",", {"a", "", "b"}},
      {"", ",", {}},
      {",", ",", {""}},
      {",a", ",", {"", "a"}},
      {"a##", "#", {"a", ""}},
      {"x#1\r\ny#2\r\n", "\r\n", {"x#1", "y#2"}},
      {"x#1\r\n\r\ny#2", "\r\n", {"x#1", "", "y#2"}},
      {"abc", "", {"abc"}},
      // 0x5C as the trail byte of a GBK pair is not a backslash.
      {"\x81\x5C" "a\\b", "\\", {"\x81\x5C" "a", "b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitText(c.text, c.delimiter), c.expected) << c.text;
  EXPECT_EQ(SplitText("a,b,c", ",", 2), (TextArray{"a", "b"}));
}

TEST(Text, FormatAndHex) {
  EXPECT_EQ(FormatText("[%d/%d]:%d/%d", 1, 2, 300, 4000), "[1/2]:300/4000");
  EXPECT_EQ(FormatText("%.2f KB/S", 15.0), "15.00 KB/S");
  EXPECT_EQ(HexText(255), "FF");
  EXPECT_EQ(HexText(-1), "FFFFFFFF");
  EXPECT_EQ(FormatText("%s", std::string(5000, 'x').c_str()).size(), 5000u);
}

TEST(Text, HexBytesBothWays) {
  const std::uint8_t bytes[] = {0x00, 0xAB, 0x7F};
  EXPECT_EQ(LowerHexOf(bytes, sizeof bytes), "00ab7f");
  std::uint8_t out[3] = {};
  EXPECT_TRUE(ReadHexBytes("00aB7f", out, 3));
  EXPECT_EQ(LowerHexOf(out, 3), "00ab7f");
  // Refused: an upper-case digit where only lower case is taken, a length
  // other than two digits a byte, a byte that is no digit.
  EXPECT_FALSE(ReadHexBytes("00aB7f", out, 3, HexDigits::kLowerCase));
  for (const char* bad : {"00ab7", "00ab7f0", "00ag7f", "00 b7f"}) EXPECT_FALSE(ReadHexBytes(bad, out, 3)) << bad;
}

TEST(Convert, ToIntegerReadsLikeAtoiAfterFoldingFullWidth) {
  struct Case {
    Text text;
    int32_t expected;
  } cases[] = {
      {"", 0},
      {"abc", 0},
      {"528", 528},
      {" 528 ", 528},
      {"  -12x", -12},
      {"+7", 7},
      {"12 34", 12},
      {"\xA3\xB5\xA3\xB2\xA3\xB8", 528},  // full-width digits
      {"\xA1\xA1" "42", 42},              // full-width blank first
      {"\xA3\xAD" "5", -5},               // full-width minus
      {"99999999999", 2147483647},
      {"-99999999999", -2147483647 - 1},
      {"\t\r\n9", 9},
  };
  for (const auto& c : cases) EXPECT_EQ(ToInteger(c.text), c.expected) << c.text;
  EXPECT_EQ(ToInteger(3.9), 3);
  EXPECT_EQ(ToInteger(-3.9), -3);
  EXPECT_DOUBLE_EQ(ToDouble("1.5e3x"), 1500.0);
  EXPECT_DOUBLE_EQ(ToDouble(""), 0.0);
}

TEST(Convert, ToTextAndToBytes) {
  EXPECT_EQ(ToText(int32_t{-648389339}), "-648389339");
  EXPECT_EQ(ToText(std::uint8_t{200}), "200");
  EXPECT_EQ(ToText(0.1), "0.1");
  EXPECT_EQ(ToText(1.0 / 3), "0.3333333333333");
  EXPECT_EQ(ToText(1.0f / 3), "0.333333");
  EXPECT_EQ(ToText(true), "真");
  EXPECT_EQ(ToText(false), "假");
  EXPECT_EQ(ToText(Bytes{'a', 'b', 0, 'c'}), "ab");
  EXPECT_EQ(ToText(Bytes{'a', 'b'}), "ab");
  EXPECT_EQ(ToText(Bytes{}), "");
  EXPECT_EQ(ToBytes(Text("#!@")), (Bytes{'#', '!', '@'}));
  EXPECT_EQ(ToBytes(int32_t{0x01020304}), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(ToBytes(int16_t{-2}), (Bytes{0xFE, 0xFF}));
  EXPECT_EQ(ToBytes(int64_t{1}).size(), 8u);
}

TEST(Bytes, CuttingAndFinding) {
  Bytes b{1, 2, 3, 4, 5};
  EXPECT_EQ(BytesLeft(b, 2), (Bytes{1, 2}));
  EXPECT_EQ(BytesLeft(b, -1), Bytes{});
  EXPECT_EQ(BytesRight(b, 2), (Bytes{4, 5}));
  EXPECT_EQ(BytesRight(b, 9), b);
  EXPECT_EQ(BytesRight(Bytes{1, 2}, 3), (Bytes{1, 2}));
  EXPECT_EQ(BytesMid(b, 0, 2), (Bytes{1, 2}));   // start below 1 is 1
  EXPECT_EQ(BytesMid(b, -7, 2), (Bytes{1, 2}));
  EXPECT_EQ(BytesMid(b, 4, 9), (Bytes{4, 5}));   // cut at the end
  EXPECT_EQ(BytesMid(b, 6, 1), Bytes{});         // beyond the end
  EXPECT_EQ(BytesMid(b, 2, 0), Bytes{});
  EXPECT_EQ(FindBytes(b, Bytes{3, 4}), 3);
  EXPECT_EQ(FindBytes(b, Bytes{3, 4}, 4), -1);
  EXPECT_EQ(FindBytes(b, Bytes{9}), -1);
  EXPECT_EQ(FindBytes(Bytes{}, Bytes{1}), -1);
  EXPECT_EQ(ZeroBytes(0), Bytes{});
  EXPECT_EQ(ZeroBytes(-3), Bytes{});
  EXPECT_EQ(ZeroBytes(3), (Bytes{0, 0, 0}));
  EXPECT_EQ(BytesLength(Bytes{}), 0);
}

TEST(Bytes, ReadTypedValueIsLittleEndian) {
  Bytes b{0x34, 0x12, 0xFF, 0xFF, 'h', 'i', 0, 'x'};
  EXPECT_EQ(std::get<int64_t>(ReadTypedValue(b, 2)), 0x1234);
  EXPECT_EQ(std::get<int64_t>(ReadTypedValue(b, 1, 2)), 0x12);
  EXPECT_EQ(std::get<int64_t>(ReadTypedValue(b, 2, 3)), -1);
  EXPECT_EQ(std::get<Text>(ReadTypedValue(b, 10, 5)), "hi");
  EXPECT_TRUE(std::get<bool>(ReadTypedValue(b, 7)));
  EXPECT_DOUBLE_EQ(std::get<double>(ReadTypedValue(ToBytes(2.5), 6)), 2.5);
#ifndef _WIN32  // on Windows the fatal error is a message box
  EXPECT_EXIT(ReadTypedValue(b, 11), ::testing::ExitedWithCode(1), "");
#endif
}

// On Windows the fatal error is a message box. Under the address sanitizer
// its allocator ends the process itself on an oversize request, before our
// handler runs; the plain native build covers this test.
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
TEST(Memory, FailedAllocationIsFatalWithTheSizeAskedFor) {
  // Far beyond any memory: malloc refuses at once. The size is printed with %d.
  volatile size_t huge = (size_t{1} << 46) + 12345;
  EXPECT_EXIT(
      {
        char* p = new char[huge];
        p[0] = 1;
      },
      ::testing::ExitedWithCode(1), "分配 12345 字节内存失败!");
}
#endif

// The small protocol helpers every layer shares.
TEST(Text, ProtocolHelpersAtTheirEdges) {
  EXPECT_EQ(LowerAscii("Content-LENGTH: 12"), "content-length: 12");
  EXPECT_EQ(LowerAscii(""), "");
  // Bytes above 0x7F stay, whatever the C locale would do with them.
  EXPECT_EQ(LowerAscii("\xC4\xE3Z"), "\xC4\xE3z");
  EXPECT_EQ(LowerAscii(std::string("A\0B", 3)), std::string("a\0b", 3));

  const struct {
    char c;
    int value;
  } digits[] = {{'0', 0}, {'9', 9}, {'a', 10}, {'f', 15}, {'A', 10}, {'F', 15},
                {'g', -1}, {'G', -1}, {'/', -1}, {':', -1}, {'@', -1}, {'`', -1}, {'\0', -1}, {'\xFF', -1}};
  for (const auto& d : digits) EXPECT_EQ(HexDigitValue(d.c), d.value) << int(d.c);
  EXPECT_EQ(UpperHexDigit(0), '0');
  EXPECT_EQ(UpperHexDigit(10), 'A');
  EXPECT_EQ(UpperHexDigit(0xAF), 'F');  // only the low four bits

  EXPECT_TRUE(StartsWith("#sha256#1#ab", "#sha256#"));
  EXPECT_TRUE(StartsWith("x", ""));
  EXPECT_FALSE(StartsWith("#sha", "#sha256#"));
  EXPECT_TRUE(EndsWith("a.TMP.tmp", ".tmp"));
  EXPECT_FALSE(EndsWith("tmp", ".tmp"));
  EXPECT_TRUE(EndsWith("", ""));

  // 0x40..0xFE without 0x7F end a double-byte character: "\" and letters too.
  EXPECT_FALSE(IsGbkTrail(0x3F));
  EXPECT_TRUE(IsGbkTrail(0x40));
  EXPECT_TRUE(IsGbkTrail('\\'));
  EXPECT_FALSE(IsGbkTrail(0x7F));
  EXPECT_TRUE(IsGbkTrail(0xFE));
  EXPECT_FALSE(IsGbkTrail(0xFF));
}
