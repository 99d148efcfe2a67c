// The sinks at the head of a chain: the partial file the caller names (what
// it keeps, appends, starts over, shows the next link, drops and brings to
// the disk) and the memory buffer.
#include <gtest/gtest.h>

#include <string>

#include "net/partial_file.h"
#include "runtime/files.h"
#include "tests/net/temp_folder.h"

namespace {

using nettest::ReadText;
using nettest::WriteText;

// The next link: the bytes it was shown from the last start over.
class Seen : public net::BodySink {
 public:
  net::SinkResult Begin(bool restart) override {
    if (restart) bytes.clear();
    return net::SinkResult();
  }
  net::SinkResult Write(const std::uint8_t* data, size_t size) override {
    bytes.append(reinterpret_cast<const char*>(data), size);
    return net::SinkResult();
  }
  std::string bytes = "stale";
};

class PartialFileTest : public ::testing::Test {
 protected:
  std::string Partial() const { return folder_.Path("a.dat.part"); }
  // True when another writer is refused: the partial file is open.
  bool PartialHeld() const {
    const int32_t writer = rt::OpenFile(Partial(), rt::kModeWrite, rt::kShareDenyNone);
    if (writer != 0) rt::CloseFile(writer);
    return writer == 0;
  }
  static bool Write(net::BodySink& sink, const std::string& text) {
    return sink.Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()).ok();
  }
  nettest::TempFolder folder_;
};

TEST_F(PartialFileTest, WhatItKeepsIsShownToTheNextLinkBeforeTheRequest) {
  struct Case {
    const char* what;
    const char* kept;  // nullptr: no partial file
    int64_t expected;
    int64_t kept_after;
    std::string seen;
  } const cases[] = {
      {"none", nullptr, -1, -1, ""},
      {"empty", "", -1, 0, ""},
      {"a prefix", "0123", 10, 4, "0123"},
      {"as long as expected", "0123", 4, 4, "0123"},
      {"longer than expected: dropped", "012345", 4, -1, ""},
  };
  for (const Case& c : cases) {
    rt::RemoveFile(Partial());
    if (c.kept != nullptr) WriteText(Partial(), c.kept);
    Seen seen;
    net::PartialFile partial(Partial(), &seen);
    EXPECT_TRUE(partial.Prepare(c.expected).ok()) << c.what;
    EXPECT_EQ(partial.Kept(), c.kept_after) << c.what;
    EXPECT_EQ(seen.bytes, c.seen) << c.what;
  }
}

TEST_F(PartialFileTest, AppendsOrStartsOverAndPassesEveryByteOn) {
  Seen seen;
  net::PartialFile partial(Partial(), &seen);
  EXPECT_FALSE(Write(partial, "x"));  // nothing open yet
  WriteText(Partial(), "0123");
  ASSERT_TRUE(partial.Prepare(-1).ok());
  ASSERT_TRUE(partial.Begin(false).ok());
  EXPECT_TRUE(PartialHeld());
  EXPECT_TRUE(Write(partial, "45"));
  EXPECT_TRUE(Write(partial, "6"));
  partial.End();
  EXPECT_FALSE(PartialHeld());
  EXPECT_EQ(ReadText(Partial()), "0123456");
  EXPECT_EQ(seen.bytes, "0123456");
  EXPECT_FALSE(Write(partial, "7"));  // closed

  ASSERT_TRUE(partial.Begin(true).ok());  // the whole resource again: from byte 0
  EXPECT_TRUE(Write(partial, "ab"));
  partial.End();
  EXPECT_FALSE(PartialHeld());
  EXPECT_EQ(ReadText(Partial()), "ab");
  EXPECT_EQ(seen.bytes, "ab");
  EXPECT_TRUE(partial.Drop());
  EXPECT_EQ(partial.Size(), -1);
  EXPECT_EQ(seen.bytes, "");
}

// The run tells a partial file it knows is not there; one there after all is
// started over, never appended to.
TEST_F(PartialFileTest, ToldAbsentAStaleFileIsStartedOver) {
  WriteText(Partial(), "stale");
  Seen seen;
  net::PartialFile partial(Partial(), &seen, /*known_absent=*/true);
  ASSERT_TRUE(partial.Prepare(10).ok());
  EXPECT_EQ(partial.Kept(), -1);  // the request asks from byte 0
  EXPECT_EQ(seen.bytes, "");
  ASSERT_TRUE(partial.Begin(false).ok());  // as the engine begins a body it asked from byte 0
  EXPECT_TRUE(Write(partial, "ab"));
  partial.End();
  EXPECT_EQ(ReadText(Partial()), "ab");
  EXPECT_EQ(partial.Kept(), 2);  // once begun, the file is looked at again
}

TEST_F(PartialFileTest, CannotBeginWhenThePartialFileIsHeld) {
  WriteText(Partial(), "kept");
  rt::OpenedFile holder(rt::OpenFile(Partial(), rt::kModeRead, rt::kShareExclusive));
  ASSERT_TRUE(holder);
  net::PartialFile partial(Partial(), nullptr);
  EXPECT_EQ(partial.Begin(false).reason, net::FailReason::kCannotOpen);
  EXPECT_EQ(partial.Write(reinterpret_cast<const std::uint8_t*>("x"), 1).reason, net::FailReason::kCannotWrite);
}

TEST(MemorySink, CollectsTheBodyOrDropsIt) {
  rt::Bytes body = {'o', 'l', 'd'};
  net::MemorySink memory(&body);
  EXPECT_FALSE(memory.Keeps());
  EXPECT_EQ(memory.Kept(), -1);
  ASSERT_TRUE(memory.Begin(false).ok());
  EXPECT_TRUE(body.empty());
  const std::uint8_t bytes[] = {1, 2, 3};
  EXPECT_TRUE(memory.Write(bytes, 2).ok());
  EXPECT_TRUE(memory.Write(bytes + 2, 1).ok());
  EXPECT_EQ(body, (rt::Bytes{1, 2, 3}));

  net::MemorySink nowhere(nullptr);
  ASSERT_TRUE(nowhere.Begin(false).ok());
  EXPECT_TRUE(nowhere.Write(bytes, 3).ok());
}

}  // namespace
