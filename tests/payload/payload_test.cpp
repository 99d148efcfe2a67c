// The payload behind the image: every way of reading the count field, for
// the whole-image form and the streamed form (locate, then copy the range).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "payload/payload.h"
#include "runtime/files.h"
#include "tests/support/temp_folder.h"

namespace {

rt::Bytes B(const std::string& s) { return rt::Bytes(s.begin(), s.end()); }

rt::Bytes Concat(std::initializer_list<rt::Bytes> parts) {
  rt::Bytes all;
  for (const rt::Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Distinct, position-dependent bytes, so that a range off by one shows.
rt::Bytes Pattern(size_t n, std::uint32_t seed) {
  std::mt19937 random(seed);
  rt::Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

// A folder of its own under the current folder, removed at the end.
class TempFolder : public testsupport::TempFolder {
 public:
  TempFolder() : testsupport::TempFolder("payload_test") {}
  rt::Text File(const std::string& name) const { return Path(name); }
};

struct Row {
  const char* what;
  rt::Bytes image;
  bool has_payload;
  int64_t offset;  // of the expected payload in the image
  int64_t size;
};

std::vector<Row> Rows() {
  const rt::Bytes body = Pattern(40, 1);
  std::vector<Row> rows;
  rows.push_back({"image without marker", body, false, 0, 0});
  rows.push_back({"empty file", rt::Bytes(), false, 0, 0});
  rows.push_back({"two bytes of the marker", B("!@"), false, 0, 0});
  rows.push_back({"marker with a wrong last byte", Concat({body, B("          10#!A")}), false, 0, 0});
  rows.push_back({"blank inside the marker", Concat({body, B("          10# @")}), false, 0, 0});
  rows.push_back({"marker one byte early", Concat({body, B("          10#!@ ")}), false, 0, 0});
  rows.push_back({"exactly the marker", B("#!@"), true, 0, 0});
  rows.push_back({"right-aligned count", Concat({body, B("          10#!@")}), true, 30, 10});
  rows.push_back({"count of the whole body", Concat({body, B("          40#!@")}), true, 0, 40});
  rows.push_back({"leading zeros", Concat({body, B("000000000010#!@")}), true, 30, 10});
  rows.push_back({"digits then other bytes", Concat({body, B("   10abcdefg#!@")}), true, 30, 10});
  rows.push_back({"plus sign", Concat({body, B("         +10#!@")}), true, 30, 10});
  rows.push_back({"count cut at a NUL", Concat({body, B(std::string("  12\0     99#!@", 15))}), true, 28, 12});
  // GBK full-width digits fold to ASCII: "１０".
  rows.push_back({"full-width digits", Concat({body, B("        \xA3\xB1\xA3\xB0#!@")}), true, 30, 10});
  rows.push_back({"no digits", Concat({body, B("    abcdefgh#!@")}), true, 0, 0});
  rows.push_back({"count zero", Concat({body, B("           0#!@")}), true, 0, 0});
  rows.push_back({"negative count", Concat({body, B("         -10#!@")}), true, 0, 0});
  rows.push_back({"most negative count", Concat({body, B(" -2147483648#!@")}), true, 0, 0});
  // Beyond the body the start is clamped to the file's first byte and the
  // range keeps its length: it runs into the count field.
  rows.push_back({"count past the body", Concat({body, B("          45#!@")}), true, 0, 45});
  rows.push_back({"count past the file", Concat({body, B("         100#!@")}), true, 0, 55});
  rows.push_back({"count beyond 32 bits", Concat({body, B("999999999999#!@")}), true, 0, 55});
  // Shorter than a trailer: the count field is the file's first bytes.
  rows.push_back({"short file", B("5#!@"), true, 0, 4});
  rows.push_back({"short file, small count", B("1#!@"), true, 0, 1});
  return rows;
}

rt::Bytes Slice(const rt::Bytes& image, int64_t offset, int64_t size) {
  return rt::Bytes(image.begin() + offset, image.begin() + offset + size);
}

TEST(ExtractPayload, EveryCountFieldForm) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.what);
    const std::optional<rt::Bytes> got = payload::ExtractPayload(row.image);
    ASSERT_EQ(got.has_value(), row.has_payload);
    if (row.has_payload) {
      EXPECT_EQ(*got, Slice(row.image, row.offset, row.size));
    }
  }
}

TEST(LocatePayload, StreamedFormMatchesWholeImage) {
  TempFolder temp;
  const rt::Text packed = temp.File("packed.exe");
  const rt::Text out = temp.File("game.dat");
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(rt::WriteWholeFile(packed, row.image));
    // A longer earlier target must be truncated.
    ASSERT_TRUE(rt::WriteWholeFile(out, Pattern(200, 2)));
    const std::optional<payload::PayloadRange> range = payload::LocatePayload(packed);
    ASSERT_EQ(range.has_value(), row.has_payload);
    if (!row.has_payload) continue;
    EXPECT_EQ(range->offset, row.size == 0 ? range->offset : row.offset);
    EXPECT_EQ(range->size, row.size);
    ASSERT_TRUE(payload::CopyPayload(packed, *range, out));
    EXPECT_EQ(rt::ReadWholeFile(out), *payload::ExtractPayload(row.image));
  }
}

TEST(LocatePayload, UnreadableFiles) {
  TempFolder temp;
  EXPECT_FALSE(payload::LocatePayload(temp.File("missing.exe")).has_value());
  EXPECT_FALSE(payload::LocatePayload(rt::Text()).has_value());
  payload::PayloadRange range{0, 10};
  EXPECT_FALSE(payload::CopyPayload(temp.File("missing.exe"), range, temp.File("out")));
  // A range past the end of the source is a failure, not a short copy.
  ASSERT_TRUE(rt::WriteWholeFile(temp.File("small"), Pattern(5, 3)));
  EXPECT_FALSE(payload::CopyPayload(temp.File("small"), range, temp.File("out")));
}

// The layout the game ships in: an image, a payload that is itself an image
// with a data block and a trailer of its own.
TEST(ExtractPayload, ShippedLayoutWithNestedTrailer) {
  const rt::Bytes image = Pattern(999424, 4);
  const rt::Bytes game = Concat({Pattern(352256, 5), Pattern(618473, 6), B("      618473#!@")});
  ASSERT_EQ(game.size(), 970744u);
  const rt::Bytes file = Concat({image, game, B("      970744#!@")});
  ASSERT_EQ(file.size(), 1970183u);

  const std::optional<rt::Bytes> got = payload::ExtractPayload(file);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, game);
  // The inner trailer belongs to the payload and leads to the data block.
  const std::optional<rt::Bytes> inner = payload::ExtractPayload(*got);
  ASSERT_TRUE(inner.has_value());
  EXPECT_EQ(*inner, Slice(game, 352256, 618473));

  TempFolder temp;
  ASSERT_TRUE(rt::WriteWholeFile(temp.File("update.dat"), file));
  const std::optional<payload::PayloadRange> range = payload::LocatePayload(temp.File("update.dat"));
  ASSERT_TRUE(range.has_value());
  EXPECT_EQ(range->offset, 999424);
  EXPECT_EQ(range->size, 970744);
  ASSERT_TRUE(payload::CopyPayload(temp.File("update.dat"), *range, temp.File("game.dat")));
  EXPECT_EQ(rt::ReadWholeFile(temp.File("game.dat")), game);
}

TEST(CopyPayload, PayloadOfSeveralChunks) {
  const rt::Bytes game = Pattern((2 << 20) + 77, 9);
  const rt::Text trailer = payload::FormatTrailer(static_cast<int64_t>(game.size()));
  const rt::Bytes file = Concat({Pattern(1000, 10), game, B(trailer)});
  TempFolder temp;
  ASSERT_TRUE(rt::WriteWholeFile(temp.File("packed"), file));
  const std::optional<payload::PayloadRange> range = payload::LocatePayload(temp.File("packed"));
  ASSERT_TRUE(range.has_value());
  ASSERT_TRUE(payload::CopyPayload(temp.File("packed"), *range, temp.File("game.dat")));
  EXPECT_EQ(rt::ReadWholeFile(temp.File("game.dat")), game);
}

TEST(FormatTrailer, RoundTripsThroughExtraction) {
  EXPECT_EQ(payload::FormatTrailer(970744), "      970744#!@");
  EXPECT_EQ(payload::FormatTrailer(-1), "");
  EXPECT_EQ(payload::FormatTrailer(payload::kMaxPayloadSize + 1), "");
  EXPECT_EQ(payload::FormatTrailer(payload::kMaxPayloadSize).size(), size_t{payload::kTrailerSize});
  for (size_t size : {0, 1, 14, 15, 16, 1000}) {
    SCOPED_TRACE(size);
    const rt::Bytes game = Pattern(size, 7 + static_cast<std::uint32_t>(size));
    const rt::Text trailer = payload::FormatTrailer(static_cast<int64_t>(size));
    ASSERT_EQ(trailer.size(), size_t{payload::kTrailerSize});
    const rt::Bytes file = Concat({Pattern(33, 8), game, B(trailer)});
    const std::optional<rt::Bytes> got = payload::ExtractPayload(file);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, game);
  }
}

}  // namespace
