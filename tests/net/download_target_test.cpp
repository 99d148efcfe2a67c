// The target of one download: the partial file it resumes, appends to and
// installs, and the memory buffer.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "net/download_target.h"
#include "runtime/files.h"
#include "tests/net/temp_folder.h"

namespace {

using net::DownloadTarget;
using nettest::ReadText;
using nettest::WriteText;

class DownloadTargetTest : public ::testing::Test {
 protected:
  std::string Target() const { return folder_.Path("a.dat"); }
  std::string Partial() const { return folder_.Path("a.dat.tmp"); }
  // True when another writer is refused: the partial file is open.
  bool PartialHeld() const {
    const int32_t writer = rt::OpenFile(Partial(), rt::kModeWrite, rt::kShareDenyNone);
    if (writer != 0) rt::CloseFile(writer);
    return writer == 0;
  }
  static bool Append(DownloadTarget& target, const std::string& text) {
    return target.Append(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }
  nettest::TempFolder folder_;
};

TEST_F(DownloadTargetTest, ResumableSizeOfWhatAnEarlierCallLeft) {
  DownloadTarget target = DownloadTarget::File(Target());
  EXPECT_EQ(target.PartialPath(), Partial());
  EXPECT_EQ(target.ResumableSize(), -1);
  WriteText(Partial(), "");
  EXPECT_EQ(target.ResumableSize(), 0);
  WriteText(Partial(), "0123");
  EXPECT_EQ(target.ResumableSize(), 4);
  EXPECT_EQ(DownloadTarget::Memory(nullptr).ResumableSize(), -1);
}

TEST_F(DownloadTargetTest, AppendsToThePartialFileOrStartsItOver) {
  DownloadTarget target = DownloadTarget::File(Target());
  EXPECT_FALSE(Append(target, "x"));  // nothing open yet
  WriteText(Partial(), "0123");
  ASSERT_TRUE(target.Begin(false));
  EXPECT_TRUE(PartialHeld());
  EXPECT_TRUE(Append(target, "45"));
  EXPECT_TRUE(Append(target, "6"));
  target.End();
  EXPECT_FALSE(PartialHeld());
  EXPECT_EQ(ReadText(Partial()), "0123456");
  EXPECT_EQ(target.PartialSize(), 7);
  EXPECT_FALSE(Append(target, "7"));  // closed

  ASSERT_TRUE(target.Begin(true));  // the whole resource again: from byte 0
  EXPECT_TRUE(Append(target, "ab"));
  target.End();
  EXPECT_EQ(ReadText(Partial()), "ab");
  target.DropPartial();
  EXPECT_EQ(target.PartialSize(), -1);
}

TEST_F(DownloadTargetTest, TheOpenPartialFileMovesWithItsTarget) {
  DownloadTarget first = DownloadTarget::File(Target());
  ASSERT_TRUE(first.Begin(true));
  DownloadTarget second = std::move(first);
  EXPECT_TRUE(PartialHeld());
  EXPECT_TRUE(Append(second, "abc"));
  { DownloadTarget gone = std::move(second); }
  EXPECT_FALSE(PartialHeld());  // closed once, by its last owner
  EXPECT_EQ(ReadText(Partial()), "abc");
}

TEST_F(DownloadTargetTest, CannotBeginWhenThePartialFileIsHeld) {
  WriteText(Partial(), "kept");
  rt::OpenedFile holder(rt::OpenFile(Partial(), rt::kModeRead, rt::kShareExclusive));
  ASSERT_TRUE(holder);
  DownloadTarget target = DownloadTarget::File(Target());
  EXPECT_FALSE(target.Begin(false));
  EXPECT_FALSE(Append(target, "x"));
}

TEST_F(DownloadTargetTest, InstallReplacesTheTargetUnlessItIsHeld) {
  WriteText(Target(), "old");
  WriteText(Partial(), "new");
  DownloadTarget target = DownloadTarget::File(Target());
  {
    rt::OpenedFile holder(rt::OpenFile(Target(), rt::kModeRead, rt::kShareExclusive));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(target.Install());
    EXPECT_EQ(ReadText(Partial()), "new");
  }
  EXPECT_EQ(ReadText(Target()), "old");
  EXPECT_TRUE(target.Install());
  EXPECT_EQ(ReadText(Target()), "new");
  EXPECT_FALSE(rt::FileExists(Partial()));
}

TEST(DownloadTarget, MemoryCollectsTheBodyOrDropsIt) {
  rt::Bytes body = {'o', 'l', 'd'};
  DownloadTarget memory = DownloadTarget::Memory(&body);
  EXPECT_TRUE(memory.IsMemory());
  ASSERT_TRUE(memory.Begin(false));
  EXPECT_TRUE(body.empty());
  const std::uint8_t bytes[] = {1, 2, 3};
  EXPECT_TRUE(memory.Append(bytes, 2));
  EXPECT_TRUE(memory.Append(bytes + 2, 1));
  EXPECT_EQ(body, (rt::Bytes{1, 2, 3}));

  DownloadTarget nowhere = DownloadTarget::Memory(nullptr);
  ASSERT_TRUE(nowhere.Begin(false));
  EXPECT_TRUE(nowhere.Append(bytes, 3));
}

}  // namespace
