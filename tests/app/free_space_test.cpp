// The least room a run needs on the client's disk, and the transfers a
// tight disk allows.
#include <gtest/gtest.h>

#include "app/run/free_space.h"

using namespace app;

namespace {
constexpr int64_t kK = 1024;
constexpr int64_t kM = 1024 * 1024;
}  // namespace

TEST(FreeSpace, LeastRoomNeededNeverAsksMoreThanARunThatFits) {
  struct Case {
    const char* what;
    std::vector<FileRoom> files;
    int64_t want;
  };
  const std::vector<FileRoom> small_same(300, FileRoom{8 * kK, 0, 8 * kK});
  const Case cases[] = {
      {"nothing to fetch", {}, 0},
      {"a new file", {{100 * kM, 0, 0}}, 100 * kM},
      {"a replaced file needs its whole size: the old one stays until the new one is verified",
       {{100 * kM, 0, 100 * kM}}, 100 * kM - kClusterSlack},
      {"the bytes of a partial file already there count", {{100 * kM, 60 * kM, 0}}, 40 * kM - kClusterSlack},
      {"a file that shrinks frees room for another first", {{10 * kM, 0, 50 * kM}, {30 * kM, 0, 0}},
       10 * kM - kClusterSlack},
      {"a larger file after a smaller one", {{10 * kM, 0, 0}, {30 * kM, 0, 0}}, 40 * kM},
      {"a stale partial file longer than its file frees its bytes", {{10 * kM, 20 * kM, 0}}, 0},
      {"many small files replacing as many: whole clusters each", small_same, 0},
      {"files past 4 GiB", {{5 * 1024 * kM, 0, 0}, {6 * 1024 * kM, 0, 1024 * kM}},
       10 * 1024 * kM - kClusterSlack},
      // A signed list may state any size up to 2^63-1: the sums stop at
      // kMaxRoom instead of wrapping to a small or negative need.
      {"two files of 2^63-1 bytes", {{INT64_MAX, 0, 0}, {INT64_MAX, 0, 0}}, kMaxRoom},
      {"four of 2^62 bytes", std::vector<FileRoom>(4, FileRoom{kMaxRoom, 0, 0}), kMaxRoom},
      {"2^63-1 bytes over a partial and an old file as large", {{INT64_MAX, INT64_MAX, INT64_MAX}}, 0},
      // A form (a delta, a copy) lies beside the old file and the new one
      // until the new one is in.
      {"a delta beside the old and the new file", {{100 * kM, 0, 100 * kM, 3 * kM, 0}}, 103 * kM - kClusterSlack},
      {"a form kept whole by an earlier run", {{100 * kM, 0, 100 * kM, 3 * kM, 3 * kM}},
       100 * kM - 2 * kClusterSlack},
      {"forms of 2^63-1 bytes", {{INT64_MAX, 0, 0, INT64_MAX, 0}, {1, 0, 0, INT64_MAX, 0}}, kMaxRoom},
  };
  for (const Case& c : cases) EXPECT_EQ(LeastRoomNeeded(c.files), c.want) << c.what;
}

TEST(FreeSpace, ATightDiskFetchesOneFileAtATime) {
  const std::vector<FileRoom> three(3, FileRoom{10 * kM, 0, 0});
  const std::vector<FileRoom> resumed = {{10 * kM, 9 * kM, 0}, {10 * kM, 9 * kM, 0}};
  const std::vector<FileRoom> huge(4, FileRoom{INT64_MAX, 0, 0});  // their sum wraps to -4 in 64 bits
  struct Case {
    const char* what;
    const std::vector<FileRoom>& files;
    int64_t free;
    int32_t transfers, want;
  } const cases[] = {
      {"room for all three at once", three, 40 * kM, 6, 6},
      {"room for only two of them at once", three, 25 * kM, 6, 1},
      {"room unknown", three, -1, 6, 6},
      {"one transfer already", three, 0, 1, 1},
      {"only what is still to come counts", resumed, 2 * kM, 4, 4},
      {"sizes whose sum passes 2^64", huge, int64_t{1} << 61, 6, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(TransfersForRoom(c.files, c.free, c.transfers), c.want) << c.what;
}
