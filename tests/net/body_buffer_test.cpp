// The body between the socket and the sink: how large the writes are, that
// the bytes keep their order whatever mix of views and copies carries them,
// and that a failed write drops what follows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "net/body_buffer.h"
#include "net/tcp_socket.h"

namespace {

class Recording : public net::BodySink {
 public:
  net::SinkResult Begin(bool) override { return net::SinkResult(); }
  net::SinkResult Write(const std::uint8_t* data, size_t size) override {
    sizes.push_back(size);
    if (fail_at > 0 && sizes.size() >= fail_at) return net::SinkResult{net::FailReason::kDiskFull, 28};
    bytes.append(reinterpret_cast<const char*>(data), size);
    return net::SinkResult();
  }
  std::vector<size_t> sizes;
  std::string bytes;
  size_t fail_at = 0;
};

constexpr size_t kSmall = 16384;
constexpr size_t kFill = net::kReadAheadSize;

std::string Pattern(size_t size, int seed) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 131 + seed) & 0xFF);
  return text;
}

// One read-ahead fill handed out as receive views, as the socket does.
void ViewFill(net::BodyBuffer& buffer, const std::string& fill) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(fill.data());
  for (size_t at = 0; at < fill.size(); at += net::kReceiveBufferSize) {
    const size_t n = std::min<size_t>(net::kReceiveBufferSize, fill.size() - at);
    buffer.View(data + at, n);
    if (buffer.FlushDue(kFill)) buffer.Flush();
  }
}

TEST(BodyBuffer, FullFillsAreWrittenWholeAndSmallPiecesCollected) {
  struct Case {
    const char* what;
    std::vector<size_t> fills;  // bytes of each read-ahead fill, in order
    std::vector<size_t> writes;
  } const cases[] = {
      {"two full fills: one write each, straight from the read-ahead", {kFill, kFill}, {kFill, kFill}},
      {"a 64 KiB fill: written whole when the buffer is refilled", {65536, kFill}, {65536, kFill}},
      {"small fills: collected to the small-piece size", {1000, 9000, 7000, 100}, {10000, 7100}},
  };
  for (const Case& c : cases) {
    Recording sink;
    net::BodyBuffer buffer(sink, kSmall);
    std::string sent;
    int seed = 0;
    for (size_t size : c.fills) {
      const std::string fill = Pattern(size, ++seed);
      sent += fill;
      ViewFill(buffer, fill);
      buffer.KeepView();  // the socket refills its buffer next
    }
    buffer.Flush();
    EXPECT_EQ(sink.sizes, c.writes) << c.what;
    EXPECT_TRUE(sink.bytes == sent) << c.what;
  }
}

TEST(BodyBuffer, CopiesAndViewsKeepTheirOrderAndAFailureDropsTheRest) {
  Recording sink;
  net::BodyBuffer buffer(sink, kSmall);
  const std::string head = Pattern(300, 1), large = Pattern(40000, 2), fill = Pattern(20000, 3);
  buffer.Copy(reinterpret_cast<const std::uint8_t*>(head.data()), head.size());
  buffer.Copy(reinterpret_cast<const std::uint8_t*>(large.data()), large.size());  // past the small size: straight
  ViewFill(buffer, fill);
  buffer.Flush();
  EXPECT_EQ(sink.sizes, (std::vector<size_t>{300, 40000, 20000}));
  EXPECT_TRUE(sink.bytes == head + large + fill);

  Recording failing;
  failing.fail_at = 1;
  net::BodyBuffer dropped(failing, kSmall);
  dropped.Copy(reinterpret_cast<const std::uint8_t*>(large.data()), large.size());
  dropped.Copy(reinterpret_cast<const std::uint8_t*>(large.data()), large.size());
  dropped.Flush();
  EXPECT_EQ(failing.sizes.size(), 1u);
  EXPECT_EQ(dropped.Failure().reason, net::FailReason::kDiskFull);
  EXPECT_EQ(dropped.Failure().system_error, 28);
}

}  // namespace
