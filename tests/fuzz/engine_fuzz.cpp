// The download engine against a scripted server. Input: a flags byte, two
// bytes of partial-file size, then the bytes the server sends, handed out in
// pieces of one of eight sizes. The socket layer takes a fresh read-ahead
// buffer for every refill (UPDATER_FRESH_READ_AHEAD), so a view used after the
// next receive reads freed memory and the address sanitizer says so.
//
// Properties: one well-formed request, with a Range header exactly when a
// partial file is resumed; nothing but the target and its partial file in the
// folder; a failed call leaves an existing target as it was; a successful one
// leaves the target in place, no partial file, and the size it announced.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "net/http_download.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/scripted_socket.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kPieceSizes[8] = {1, 2, 5, 17, 100, 1000, 8191, 262144};
constexpr char kOldTarget[] = "OLD";
constexpr std::uint32_t kMaxPartialSize = 4096;

enum Flags : std::uint8_t {
  kPartialExists = 1,
  kMemoryTarget = 2,
  kTargetExists = 4,
  kHeadersOnly = 8,
};

const fs::path& Folder() {
  static const fs::path folder = [] {
    std::string pattern = (fs::temp_directory_path() / "engine-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return fs::path(pattern);
  }();
  return folder;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t flags = data[0];
  const std::uint32_t partial_size = (data[1] | (data[2] << 8u)) % (kMaxPartialSize + 1);
  const std::size_t piece = kPieceSizes[(flags >> 4) & 7];
  const bool memory = (flags & kMemoryTarget) != 0;
  const bool partial = !memory && (flags & kPartialExists) != 0;
  const bool target_existed = !memory && (flags & kTargetExists) != 0;
  const bool headers_only = memory && (flags & kHeadersOnly) != 0;

  const fs::path target = Folder() / "file.bin";
  const fs::path partial_path = Folder() / "file.bin.tmp";
  fs::remove_all(Folder());
  fs::create_directories(Folder());
  if (partial) WriteAll(partial_path, std::string(partial_size, 'P'));
  if (target_existed) WriteAll(target, kOldTarget);

  fuzz::ScriptServer(data + 3, size - 3, piece);
  std::atomic<int32_t> total{-1};
  std::atomic<int32_t> done{-1};
  rt::Bytes body;
  const rt::Text save_path = memory ? rt::Text() : rt::Text(target.string());
  const net::DownloadResult result = net::HttpDownload("http://127.0.0.1:8088/patch/528/file.bin", save_path,
                                                       total, done, false, 0, headers_only, rt::Text(), &body);
  const auto ok = net::DownloadResult::Ok;

  FUZZ_CHECK(static_cast<int32_t>(result) >= 0 && result <= net::DownloadResult::ServerError);

  const std::string& sent = fuzz::SentBytes();
  const std::string request_line = "GET /patch/528/file.bin HTTP/1.1\r\n";
  FUZZ_CHECK(sent.compare(0, request_line.size(), request_line) == 0);
  // One header block; only line ends may follow it.
  const std::size_t head_end = sent.find("\r\n\r\n");
  FUZZ_CHECK(head_end != std::string::npos);
  for (std::size_t i = head_end + 4; i < sent.size(); i += 2) FUZZ_CHECK(sent.compare(i, 2, "\r\n") == 0);
  const bool has_range = sent.find("\r\nRange: ") != std::string::npos;
  FUZZ_CHECK(has_range == partial);
  if (partial) FUZZ_CHECK(sent.find("\r\nRange: bytes=" + std::to_string(partial_size) + "-\r\n") != std::string::npos);

  for (const auto& entry : fs::directory_iterator(Folder())) {
    FUZZ_CHECK(entry.path() == target || entry.path() == partial_path);
  }
  if (memory) {
    FUZZ_CHECK(fs::is_empty(Folder()));
    return 0;
  }
  if (result != ok) {
    if (target_existed) FUZZ_CHECK(ReadAll(target) == kOldTarget);
    return 0;
  }
  FUZZ_CHECK(fs::exists(target));
  FUZZ_CHECK(!fs::exists(partial_path));
  if (total.load() >= 0) FUZZ_CHECK(fs::file_size(target) == static_cast<std::uintmax_t>(total.load()));
  return 0;
}
