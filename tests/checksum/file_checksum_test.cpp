// The fast checksum against the plain per-byte loop: every kernel, every
// length up to a few blocks, arbitrary chunkings and files on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "checksum/file_checksum.h"
#include "runtime/files.h"
#include "tests/support/temp_folder.h"

namespace {

// h = h * 31 + b[k] + 1 from the last byte to the first.
int32_t Reference(const std::uint8_t* p, size_t n) {
  uint32_t h = 0;
  for (size_t k = n; k-- > 0;) h = h * 31u + p[k] + 1u;
  return static_cast<int32_t>(h);
}
int32_t Reference(const rt::Bytes& b) { return Reference(b.data(), b.size()); }

rt::Bytes Random(size_t n, std::uint32_t seed) {
  std::mt19937 random(seed);
  rt::Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

TEST(FileChecksum, KnownValues) {
  const struct {
    std::string content;
    int32_t value;
  } cases[] = {{"", 0}, {"a", 98}, {"abc", 99267}, {"hello world", -648389339}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    EXPECT_EQ(checksum::FileChecksum(rt::Bytes(c.content.begin(), c.content.end())), c.value);
  }
}

TEST(FileChecksum, EveryKernelMatchesTheLoop) {
  const auto kernels = checksum::detail::AvailableKernels();
  ASSERT_FALSE(kernels.empty());
  // Random bytes, all 0xFF (the largest products) and all zeros.
  std::vector<rt::Bytes> contents;
  for (size_t n = 0; n <= 300; ++n) contents.push_back(Random(n, static_cast<std::uint32_t>(n)));
  for (size_t n : {511, 512, 513, 1023, 1024, 1025, 4096 + 7, 65536 + 333}) {
    contents.push_back(Random(n, static_cast<std::uint32_t>(n)));
    contents.push_back(rt::Bytes(n, 0xFF));
    contents.push_back(rt::Bytes(n, 0x00));
  }
  for (const auto& [name, kernel] : kernels) {
    SCOPED_TRACE(name);
    for (const rt::Bytes& content : contents) {
      ASSERT_EQ(static_cast<int32_t>(kernel(content.data(), content.size())), Reference(content))
          << "length " << content.size();
    }
    // Unaligned starts.
    const rt::Bytes wide = Random(3000, 99);
    for (size_t shift = 1; shift < 40; ++shift)
      ASSERT_EQ(static_cast<int32_t>(kernel(wide.data() + shift, wide.size() - shift)),
                Reference(wide.data() + shift, wide.size() - shift))
          << "shift " << shift;
  }
  for (const rt::Bytes& content : contents) ASSERT_EQ(checksum::FileChecksum(content), Reference(content));
}

TEST(FileChecksum, LargeBuffer) {
  const rt::Bytes content = Random((16 << 20) + 77, 5);
  EXPECT_EQ(checksum::FileChecksum(content), Reference(content));
}

TEST(ChecksumAccumulator, AnyChunkingGivesTheWholeValue) {
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    const size_t n = random() % 5000;
    const rt::Bytes content = Random(n, static_cast<std::uint32_t>(round));
    checksum::ChecksumAccumulator sum;
    size_t at = 0;
    while (at < n) {
      // Empty pieces, single bytes and pieces across block boundaries.
      const size_t piece = std::min<size_t>(n - at, random() % 4 == 0 ? random() % 2 : random() % 1500);
      sum.Feed(content.data() + at, piece);
      at += piece;
    }
    ASSERT_EQ(sum.Result(), Reference(content)) << "round " << round;
  }
}

TEST(PowerOf31, MatchesRepeatedMultiplication) {
  uint32_t power = 1;
  for (uint64_t n = 0; n < 2000; ++n) {
    ASSERT_EQ(checksum::detail::PowerOf31(n), power) << n;
    power *= 31u;
  }
}

class ChecksumFiles : public ::testing::Test {
 protected:
  rt::Text File(const std::string& name) const { return folder_.Path(name); }

  testsupport::TempFolder folder_{"checksum_test"};
};

TEST_F(ChecksumFiles, SizesAroundChunks) {
  // Sizes around the read piece and many pieces long.
  const size_t chunk = checksum::kChecksumChunkSize;
  for (size_t n : {size_t{0}, size_t{1}, chunk - 1, chunk, chunk + 1, 4 * chunk, 4 * chunk + 12345, 10 * chunk}) {
    SCOPED_TRACE(n);
    const rt::Bytes content = Random(n, static_cast<std::uint32_t>(n));
    ASSERT_TRUE(rt::WriteWholeFile(File("f"), content));
    int calls = 0;
    EXPECT_EQ(checksum::FileChecksumOfFile(File("f"), [&] { ++calls; }), Reference(content));
    EXPECT_GE(calls, static_cast<int>(n / chunk)) << "messages must get through while a big file is read";
    EXPECT_EQ(checksum::TryFileChecksumOfFile(File("f")), std::optional<int32_t>(Reference(content)));
  }
}

TEST_F(ChecksumFiles, SumsRunningAtOnceKeepTheirOwnPieces) {
  // The read buffer is kept between calls: threads summing at the same time,
  // and a sum started between the chunks of another, must each read into
  // their own, or one overwrites the piece another is still summing.
  const size_t chunk = checksum::kChecksumChunkSize;
  constexpr int kThreads = 4;
  std::vector<rt::Bytes> contents;
  for (int t = 0; t < kThreads; ++t) {
    contents.push_back(Random(3 * chunk + 1000 * t + 7, 100 + t));
    ASSERT_TRUE(rt::WriteWholeFile(File("t" + std::to_string(t)), contents.back()));
  }
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 8; ++round)
        if (checksum::TryFileChecksumOfFile(File("t" + std::to_string(t))) != Reference(contents[t])) ++wrong[t];
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;

  int nested_wrong = 0;
  const int32_t outer = checksum::FileChecksumOfFile(File("t0"), [&] {
    if (checksum::TryFileChecksumOfFile(File("t1")) != Reference(contents[1])) ++nested_wrong;
  });
  EXPECT_EQ(outer, Reference(contents[0]));
  EXPECT_EQ(nested_wrong, 0);
}

#ifndef _WIN32
// Another program resizes the file after the first piece of the read. Cut
// short of the bytes read: no checksum, rather than one of a content the
// file never held whole. Cut past them, or grown: the read goes on to the
// new end, and the sum is of the content the file now holds. The next checksum reads the file as it is.
// (POSIX only: the Windows runtime's std::filesystem cannot resize a file
// another handle holds open.)
TEST_F(ChecksumFiles, FileResizedWhileRead) {
  const size_t chunk = checksum::kChecksumChunkSize;
  const rt::Bytes whole = Random(3 * chunk, 3);
  const std::filesystem::path native = File("f");
  const struct {
    size_t new_size;
    bool sum_given;
  } cases[] = {{1000, false}, {chunk - 5, false}, {chunk + 5, true}, {3 * chunk + 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.new_size);
    ASSERT_TRUE(rt::WriteWholeFile(File("f"), whole));
    rt::Bytes now(whole.begin(), whole.begin() + std::min(c.new_size, whole.size()));
    now.resize(c.new_size, 0);
    int calls = 0;
    const auto during = checksum::TryFileChecksumOfFile(File("f"), [&] {
      if (++calls == 1) std::filesystem::resize_file(native, c.new_size);
    });
    EXPECT_EQ(during, c.sum_given ? std::optional<int32_t>(Reference(now)) : std::nullopt);
    EXPECT_EQ(checksum::TryFileChecksumOfFile(File("f")), std::optional<int32_t>(Reference(now)));
  }
}
#endif

// Weights past 4 GiB: the sum of a range that starts 2^32 + k bytes into a
// content agrees with the definition, (b + 1) * 31^offset for each byte,
// with the power computed here by plain repeated squaring. The bytes come
// from the far end of a sparse file of 2^32 + 13 bytes, read at their
// 64-bit offset: nothing reads the 4 GiB before them.
uint32_t SlowPower31(uint64_t n) {
  uint32_t result = 1, square = 31;
  for (int bit = 0; bit < 64; ++bit, square *= square) {
    if ((n >> bit) & 1) result *= square;
  }
  return result;
}

TEST_F(ChecksumFiles, RangesPastFourGiB) {
  constexpr uint64_t k4GiB = uint64_t{1} << 32;
  const std::string tail = "far end bytes";  // 13 bytes
  const uint64_t size = k4GiB + tail.size();
  {
    std::ofstream out(std::filesystem::path(File("sparse")), std::ios::binary);
    out.seekp(static_cast<std::streamoff>(k4GiB));
    out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
    ASSERT_TRUE(out.good());
  }
  ASSERT_EQ(rt::FileSize64(File("sparse")), static_cast<int64_t>(size));
  for (uint64_t start : {k4GiB - 1, k4GiB, k4GiB + 1, k4GiB + 7}) {
    SCOPED_TRACE(start);
    std::ifstream in(std::filesystem::path(File("sparse")), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(start));
    std::string bytes(size - start, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    ASSERT_EQ(in.gcount(), static_cast<std::streamsize>(bytes.size()));

    uint32_t expected = 0;
    for (size_t j = 0; j < bytes.size(); ++j) {
      expected += (static_cast<std::uint8_t>(bytes[j]) + 1u) * SlowPower31(start + j);
    }
    checksum::ChecksumAccumulator sum = checksum::ChecksumAccumulator::StartingAt(start);
    sum.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(static_cast<uint32_t>(sum.Result()), expected);
  }
  std::filesystem::remove(std::filesystem::path(File("sparse")));
}

TEST(ChecksumAccumulator, RangesAddUpToTheWhole) {
  const rt::Bytes content = Random(100000, 77);
  for (size_t cut : {size_t{0}, size_t{1}, size_t{63}, size_t{4096}, size_t{99999}, size_t{100000}}) {
    SCOPED_TRACE(cut);
    checksum::ChecksumAccumulator head, tail = checksum::ChecksumAccumulator::StartingAt(cut);
    head.Feed(content.data(), cut);
    tail.Feed(content.data() + cut, content.size() - cut);
    EXPECT_EQ(static_cast<int32_t>(static_cast<uint32_t>(head.Result()) + static_cast<uint32_t>(tail.Result())),
              Reference(content));
  }
}

TEST_F(ChecksumFiles, MissingFileCountsAsEmpty) {
  EXPECT_EQ(checksum::FileChecksumOfFile(File("missing")), 0);
  EXPECT_FALSE(checksum::TryFileChecksumOfFile(File("missing")).has_value());
  EXPECT_FALSE(checksum::TryFileChecksumOfFile(rt::Text()).has_value());
  // A folder cannot be read as a file either.
  EXPECT_EQ(checksum::FileChecksumOfFile(folder_.path()), 0);
}

}  // namespace
