// The one move-only owner of system handles, over a counting fake handle
// kind: every handle it was given is closed exactly once, never an invalid
// one, and a close leaves the thread's last error as it was.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "runtime/scoped_handle.h"
#include "runtime/system_error.h"

namespace {

constexpr uint32_t kCloseError = 6;  // what the fake close leaves behind

// Handles are non-negative numbers; every negative one reads as "none".
struct CountingTraits {
  using Handle = int;
  static std::vector<int>& Closed() {
    static std::vector<int> closed;
    return closed;
  }
  static Handle Invalid() { return -1; }
  static bool IsValid(Handle h) { return h >= 0; }
  static void Close(Handle h) {
    Closed().push_back(h);
    rt::SetLastSystemError(kCloseError);
    errno = EBADF;
  }
};
using Owner = rt::ScopedHandle<CountingTraits>;

class ScopedHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { Closed().clear(); }
  static std::vector<int>& Closed() { return CountingTraits::Closed(); }
};

TEST_F(ScopedHandleTest, EveryHandleClosesOnceWhereverItWasMoved) {
  {
    Owner a(1);
    Owner b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(a.get(), -1);
    Owner c;
    c = std::move(b);
    EXPECT_TRUE(c);
    EXPECT_EQ(c.get(), 1);
    EXPECT_TRUE(Closed().empty());  // moved-from owners closed nothing
    c = Owner(2);                   // the one it held goes now
    EXPECT_EQ(Closed(), std::vector<int>{1});
  }
  EXPECT_EQ(Closed(), (std::vector<int>{1, 2}));
}

TEST_F(ScopedHandleTest, ReleaseHandsTheHandleOverWithoutClosing) {
  int kept = -1;
  {
    Owner a(7);
    kept = a.release();
    EXPECT_FALSE(a);
  }
  EXPECT_EQ(kept, 7);
  EXPECT_TRUE(Closed().empty());
}

TEST_F(ScopedHandleTest, ResetClosesTheOldHandleOnce) {
  struct Case {
    int held;
    int given;
    std::vector<int> closed;
    int holds_after;
  } const cases[] = {
      {3, 4, {3}, 4},   // another handle: the old one goes
      {3, 3, {}, 3},    // the same handle: kept, not closed under its owner
      {3, -1, {3}, -1}, // nothing: empty after
      {-1, 5, {}, 5},   // an empty owner closes nothing
      {-7, -1, {}, -1}, // another invalid value is never closed either
  };
  for (const Case& c : cases) {
    Closed().clear();
    Owner owner(c.held);
    owner.reset(c.given);
    EXPECT_EQ(Closed(), c.closed) << c.held << " -> " << c.given;
    EXPECT_EQ(owner.release(), c.holds_after) << c.held << " -> " << c.given;
  }
}

TEST_F(ScopedHandleTest, MovingAnOwnerOntoItselfKeepsItsHandle) {
  {
    Owner a(9);
    Owner& same = a;
    a = std::move(same);
    EXPECT_EQ(a.get(), 9);
    EXPECT_TRUE(Closed().empty());
  }
  EXPECT_EQ(Closed(), std::vector<int>{9});
}

TEST_F(ScopedHandleTest, ReceiveClosesTheHeldHandleAndTakesTheNewOne) {
  Owner owner(11);
  *owner.receive() = 12;  // as a call with an out parameter writes it
  EXPECT_EQ(Closed(), std::vector<int>{11});
  EXPECT_EQ(owner.get(), 12);
}

TEST_F(ScopedHandleTest, ClosingKeepsTheLastErrorOfTheFailedCall) {
  constexpr uint32_t kCallError = 1234;
  {
    Owner owner(1);
    rt::SetLastSystemError(kCallError);  // a call on the handle failed
  }
  EXPECT_EQ(Closed(), std::vector<int>{1});
  EXPECT_EQ(rt::LastSystemError(), kCallError);
  Owner other(2);
  rt::SetLastSystemError(kCallError);
  other.reset(3);
  EXPECT_EQ(rt::LastSystemError(), kCallError);
  // errno too (the C library's own calls report there, on Windows as well).
  errno = ERANGE;
  other.reset();
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(Closed(), (std::vector<int>{1, 2, 3}));
}

}  // namespace
