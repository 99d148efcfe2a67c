// The download engine against a scripted server. Input: a flags byte, two
// bytes of partial-file size (the top bit: a signed entry), then the bytes
// the server sends (split into connections and answers by the markers of
// scripted_socket.h), handed out in pieces of one of eight sizes. The socket
// layer takes a fresh read-ahead buffer for every refill
// (UPDATER_FRESH_READ_AHEAD), so a view used after the next receive reads
// freed memory and the address sanitizer says so.
//
// The first file goes through the chain the download run builds for a patch
// file (FileChain: the partial file, then the verifier of its list entry),
// and is installed as the run installs it: only when the try is Ok and the
// verifier accepts it. With the signed bit the entry carries a size and a
// SHA-256 (as a signed list gives them) and the engine is told the size; the
// entry's file is the kept partial file's bytes, so that a 416 stating that
// size, or a resume that adds nothing, verifies.
//
// With the two-files flag, a second file follows the first over the same
// connection object, as the download run fetches a patch's files.
//
// Properties: each file's first request is well formed, with a Range header
// exactly when a partial file is resumed, and its later requests (a new
// connection, the whole file again) carry none; nothing but the targets and
// their partial files in the folder; the verifier's verdict on an Ok try is
// exactly the check of the bytes in the partial file, the bytes that would
// be installed (size, SHA-256 and checksum recomputed from them), so what the
// verifier hashed is what would be installed, and a file that fails it is
// never installed; a failed or refused try leaves an existing target as it
// was; an installed file has the size the answer announced and leaves no
// partial file; a kept connection holds no byte of an earlier response (and
// the socket layer checks that no request goes out while one is unread), so
// the second file never receives a byte of the first response.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/retry.h"
#include "app/run/file_chain.h"
#include "checksum/file_checksum.h"
#include "net/file_download.h"
#include "net/http_connection.h"
#include "net/http_download.h"
#include "net/partial_file.h"
#include "runtime/convert.h"
#include "trust/sha256.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/scripted_socket.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kPieceSizes[8] = {1, 2, 5, 17, 100, 1000, 8191, 262144};
constexpr char kOldTarget[] = "OLD";
constexpr std::uint32_t kMaxPartialSize = 4096;
constexpr char kUrl[] = "http://127.0.0.1:8088/patch/528/";
constexpr unsigned kSignedBit = 0x80;

enum Flags : std::uint8_t {
  kPartialExists = 1,
  kMemoryTarget = 2,
  kTargetExists = 4,
  kHeadersOnly = 8,
  kTwoFiles = 128,
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

// The requests of one file, [first, end) of the sent ones.
void CheckRequests(std::size_t first, std::size_t end, const std::string& name, bool partial,
                   std::uint32_t partial_size) {
  const auto& sent = fuzz::SentRequests();
  FUZZ_CHECK(first < end && end <= sent.size());
  for (std::size_t i = first; i < end; ++i) {
    const std::string& request = sent[i];
    const std::string request_line = std::string("GET /patch/528/") + name + " HTTP/1.1\r\n";
    FUZZ_CHECK(request.compare(0, request_line.size(), request_line) == 0);
    // One header block; only line ends may follow it.
    const std::size_t head_end = request.find("\r\n\r\n");
    FUZZ_CHECK(head_end != std::string::npos);
    for (std::size_t j = head_end + 4; j < request.size(); j += 2) FUZZ_CHECK(request.compare(j, 2, "\r\n") == 0);
    const bool has_range = request.find("\r\nRange: ") != std::string::npos;
    FUZZ_CHECK(has_range == (partial && i == first));
    if (has_range) {
      FUZZ_CHECK(request.find("\r\nRange: bytes=" + std::to_string(partial_size) + "-\r\n") != std::string::npos);
    }
  }
}

// The list entry of the first file: its file is `content`.
list::PatchEntry EntryOf(const std::string& content, bool signed_list) {
  const rt::Bytes bytes(content.begin(), content.end());
  list::PatchEntry entry{"file.bin", rt::ToText(checksum::FileChecksum(bytes)), std::nullopt};
  if (signed_list) entry.digest = list::FileDigest{static_cast<int64_t>(bytes.size()), trust::Sha256Of(bytes.data(), bytes.size())};
  return entry;
}

// The check the verifier makes, made again from the bytes on the disk.
bool Matches(const list::PatchEntry& entry, const std::string& content) {
  const rt::Bytes bytes(content.begin(), content.end());
  if (!entry.checksum.Matches(checksum::FileChecksum(bytes))) return false;
  if (!entry.digest) return true;
  return static_cast<int64_t>(bytes.size()) == entry.digest->size && trust::Sha256Of(bytes.data(), bytes.size()) == entry.digest->sha256;
}

// The first file as the run takes it: the verdict on an Ok try, then the
// install of a verified file (the partial file renamed over the target).
void CheckRunFile(const net::DownloadReport& report, app::FileChain& chain, const list::PatchEntry& entry,
                  const fs::path& target, const fs::path& partial_path, bool target_existed, int64_t total) {
  bool verified = false;
  if (report.ok()) {
    FUZZ_CHECK(fs::exists(partial_path));
    const app::FileVerdict verdict = chain.Verdict();
    FUZZ_CHECK(verdict.ok == Matches(entry, ReadAll(partial_path)));
    FUZZ_CHECK(verdict.ok == verdict.reason.empty());
    verified = verdict.ok;
  }
  const bool resumed_bytes_used = report.resumed && (report.http_status == 206 || report.http_status == 416);
  const app::TryOutcome outcome = app::ClassifyTry(report, verified, resumed_bytes_used);
  // Nothing that failed the verifier is installable.
  FUZZ_CHECK(outcome != app::TryOutcome::kVerified || verified);
  if (outcome != app::TryOutcome::kVerified) {
    if (target_existed) FUZZ_CHECK(ReadAll(target) == kOldTarget);
    return;
  }
  fs::rename(partial_path, target);
  FUZZ_CHECK(Matches(entry, ReadAll(target)));
  FUZZ_CHECK(!fs::exists(partial_path));
  if (total >= 0) FUZZ_CHECK(fs::file_size(target) == static_cast<std::uintmax_t>(total));
}

void CheckOutcome(net::DownloadResult result, const fs::path& target, const fs::path& partial_path,
                  bool target_existed, int64_t total) {
  if (result != net::DownloadResult::Ok) {
    if (target_existed) FUZZ_CHECK(ReadAll(target) == kOldTarget);
    return;
  }
  FUZZ_CHECK(fs::exists(target));
  FUZZ_CHECK(!fs::exists(partial_path));
  if (total >= 0) FUZZ_CHECK(fs::file_size(target) == static_cast<std::uintmax_t>(total));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t flags = data[0];
  // The partial-file size field's top bit: the entry is from a signed list.
  const bool signed_list = (data[2] & kSignedBit) != 0;
  const std::uint32_t partial_size = (data[1] | ((data[2] & ~kSignedBit & 0xFFu) << 8u)) % (kMaxPartialSize + 1);
  const std::size_t piece = kPieceSizes[(flags >> 4) & 7];
  const bool memory = (flags & kMemoryTarget) != 0;
  const bool partial = !memory && (flags & kPartialExists) != 0;
  const bool target_existed = !memory && (flags & kTargetExists) != 0;
  const bool headers_only = memory && (flags & kHeadersOnly) != 0;
  const bool two_files = (flags & kTwoFiles) != 0;

  const fs::path target = Folder() / "file.bin";
  const fs::path partial_path = Folder() / "file.bin.tmp";
  const fs::path second = Folder() / "next.bin";
  const fs::path second_partial = Folder() / "next.bin.tmp";
  fs::remove_all(Folder());
  fs::create_directories(Folder());
  if (partial) WriteAll(partial_path, std::string(partial_size, 'P'));
  if (target_existed) WriteAll(target, kOldTarget);

  fuzz::ScriptServer(data + 3, size - 3, piece);
  net::HttpConnection connection(1);
  std::atomic<int64_t> total{-1};
  std::atomic<int64_t> done{-1};
  rt::Bytes body;
  net::DownloadOptions options(std::string(kUrl) + "file.bin");
  options.flush_size = 0;
  options.headers_only = headers_only;
  if (two_files) options.connection = &connection;
  const list::PatchEntry entry = EntryOf(std::string(partial_size, 'P'), signed_list);
  if (entry.digest) options.expected_size = entry.digest->size;
  // The run's chain names its partial file from the target's path.
  app::FileChain chain(target.string(), entry);
  FUZZ_CHECK(chain.PartialPath() == partial_path.string());
  net::MemorySink memory_sink(&body);
  net::BodySink& sink = memory ? static_cast<net::BodySink&>(memory_sink) : chain.Head();
  const net::DownloadReport report = net::HttpGet(options, sink, total, done);
  const net::DownloadResult result = report.result;

  FUZZ_CHECK(static_cast<int32_t>(result) >= 0 && result <= net::DownloadResult::ProxyAuthRequired);
  // A failure always says why.
  FUZZ_CHECK((result == net::DownloadResult::Ok) == (report.reason == net::FailReason::kNone));
  CheckRequests(0, fuzz::SentRequests().size(), "file.bin", partial, partial_size);
  // Nothing is kept that still holds bytes of the response.
  FUZZ_CHECK(connection.Socket().Buffered() == 0);  // kept or closed, nothing left over

  for (const auto& entry : fs::directory_iterator(Folder())) {
    FUZZ_CHECK(entry.path() == target || entry.path() == partial_path);
  }
  if (memory) {
    FUZZ_CHECK(fs::is_empty(Folder()));
  } else {
    CheckRunFile(report, chain, entry, target, partial_path, target_existed, total.load());
  }
  if (!two_files) return 0;

  const std::size_t first_file_requests = fuzz::SentRequests().size();
  std::atomic<int64_t> next_total{-1};
  net::FileDownload next(std::string(kUrl) + "next.bin", second.string(), ".tmp");
  next.connection = &connection;
  const net::DownloadReport next_report = net::HttpDownloadReport(next, next_total, done);
  FUZZ_CHECK((next_report.result == net::DownloadResult::Ok) == (next_report.reason == net::FailReason::kNone));
  CheckRequests(first_file_requests, fuzz::SentRequests().size(), "next.bin", false, 0);
  CheckOutcome(next_report.result, second, second_partial, false, next_total.load());
  FUZZ_CHECK(connection.Socket().Buffered() == 0);  // kept or closed, nothing left over
  return 0;
}
