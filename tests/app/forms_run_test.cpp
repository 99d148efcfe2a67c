// A file that the list offers in other forms, through the run: the smallest
// usable form is fetched, turned into the file and installed; a form that
// is missing, wrong or does not make the file gives way to the next one and
// finally to the whole file, and nothing it left behind stays.
#include <zstd.h>

#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "list/forms.h"
#include "codec/delta/delta_format.h"
#include "tests/codec/delta_support.h"
#include "trust/sha256.h"

using namespace app;

namespace {

using Bytes = std::vector<std::uint8_t>;

const rt::Text kSite = "http://127.0.0.1:8088/";
const rt::Text kWholeUrl = kSite + "patch/528/a.pak";

Bytes Pseudo(size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>('a' + (seed >> 16) % 16);  // compressible, as game data mostly is
  }
  return bytes;
}

Bytes Zstd(const Bytes& content) {
  Bytes frame(ZSTD_compressBound(content.size()));
  frame.resize(ZSTD_compress(frame.data(), frame.size(), content.data(), content.size(), 3));
  return frame;
}

rt::Text Text(const Bytes& b) { return rt::Text(b.begin(), b.end()); }
rt::Text Sum(const Bytes& b) { return rt::ToText(checksum::FileChecksum(b)); }

// A form line for `form` bytes making a file of `output` bytes.
list::FormLine Line(list::FormKind kind, const Bytes& form, int64_t output, const rt::Text& name,
                    std::optional<list::FormBase> base = std::nullopt) {
  list::FormLine line;
  line.kind = kind;
  line.output_size = output;
  line.size = static_cast<int64_t>(form.size());
  line.sha256 = trust::Sha256Of(form.data(), form.size());
  line.name = name;
  line.base = std::move(base);
  return line;
}

// a.pak of a signed list, replacing `old_file` by `new_file`, with one delta
// form from the local file at patch/forms/d.delta.
OutdatedFile SignedWithDelta(const Bytes& old_file, const Bytes& new_file, const Bytes& delta) {
  const int64_t n = static_cast<int64_t>(new_file.size());
  OutdatedFile file{{"a.pak", Sum(new_file), list::FileDigest{n, trust::Sha256Of(new_file.data(), new_file.size())}},
                    true, static_cast<int64_t>(old_file.size()), checksum::FileChecksum(old_file)};
  file.entry.forms = {Line(list::FormKind::kDelta, delta, n, "patch/forms/d.delta",
                           list::FormBase{static_cast<int64_t>(old_file.size()), Sum(old_file)})};
  return file;
}

class FormsRunTest : public FlowTest {
 protected:
  size_t LogLinesWith(const rt::Text& part) {
    return static_cast<size_t>(
        std::count_if(log_.begin(), log_.end(), [&](const rt::Text& line) { return line.find(part) != rt::Text::npos; }));
  }
};

}  // namespace

TEST_F(FormsRunTest, TheSmallestUsableFormThenTheNextOneThenTheWholeFile) {
  const Bytes old_file = Pseudo(64 * 1024, 1);
  Bytes new_file = old_file;
  for (size_t at = 5000; at < 5100; ++at) new_file[at] ^= 0x5a;  // a small change
  new_file.insert(new_file.begin() + 30000, 700, 'n');            // and an insert
  const int64_t n = static_cast<int64_t>(new_file.size());
  const list::FormBase base{static_cast<int64_t>(old_file.size()), Sum(old_file)};

  const Bytes delta = deltatest::Make(old_file, new_file, 16 * 1024);
  ASSERT_FALSE(delta.empty());
  // Made against another file of the same size that holds the changed bytes
  // already: applied to the local file, its copies make other bytes.
  Bytes other_base = old_file;
  for (size_t at = 5000; at < 5100; ++at) other_base[at] ^= 0x5a;
  const Bytes wrong_base_delta = deltatest::Make(other_base, new_file, 16 * 1024);
  const Bytes copy = Zstd(new_file);
  Bytes too_long = new_file;
  too_long.push_back('!');
  const Bytes long_copy = Zstd(too_long);  // a frame of one byte more than the file
  ASSERT_LT(delta.size(), copy.size());
  const rt::Text delta_name = "patch/forms/d.delta", copy_name = "patch/forms/c.zst";

  const list::FormLine delta_line = Line(list::FormKind::kDelta, delta, n, delta_name, base);
  const list::FormLine copy_line = Line(list::FormKind::kZstd, copy, n, copy_name);
  struct Case {
    const char* what;
    bool signed_list;
    Bytes local;                          // the file the player has
    std::vector<list::FormLine> forms;    // what the list names
    std::map<rt::Text, Bytes> served;     // form name -> bytes served (absent: 404)
    std::vector<rt::Text> want_requests;  // beside the site's URL
    const char* want_log;                 // a line that says why, when a form gave way
  } const cases[] = {
      {"a delta from the local file", true, old_file, {copy_line, delta_line},
       {{delta_name, delta}, {copy_name, copy}}, {delta_name}, "applied delta of"},
      {"unsigned list: the same, the output checked by its checksum", false, old_file, {copy_line, delta_line},
       {{delta_name, delta}, {copy_name, copy}}, {delta_name}, "applied delta of"},
      {"the local file changed: the copy", true, Pseudo(old_file.size(), 3), {copy_line, delta_line},
       {{delta_name, delta}, {copy_name, copy}}, {copy_name}, "no delta of a.pak applies to the local file (65536 bytes"},
      {"a delta whose copies do not make the file", true, old_file,
       {copy_line, Line(list::FormKind::kDelta, wrong_base_delta, n, delta_name, base)},
       {{delta_name, wrong_base_delta}, {copy_name, copy}}, {delta_name, copy_name}, "differs"},
      {"a mirror serving another form under the name", true, old_file, {copy_line, delta_line},
       {{delta_name, copy}, {copy_name, copy}}, {delta_name, copy_name}, "no mirror gave it"},
      {"a frame that makes more than the file", true, old_file,
       {Line(list::FormKind::kZstd, long_copy, n, copy_name)}, {{copy_name, long_copy}}, {copy_name, "a.pak"},
       "zstd: "},
      {"forms missing on the server", true, old_file, {copy_line, delta_line}, {}, {delta_name, copy_name, "a.pak"},
       "no mirror gave it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("a.pak", Text(c.local));
    rt::RemoveFile("a.pak.tmp");
    rt::RemoveFile("a.pak.tmp.tmp");
    log_.clear();
    requested_.clear();
    server_.clear();
    server_[kWholeUrl] = Text(new_file);
    for (const auto& [name, bytes] : c.served) server_[kSite + name] = Text(bytes);
    OutdatedFile file{{"a.pak", Sum(new_file), std::nullopt}, true, static_cast<int64_t>(c.local.size()),
                      checksum::FileChecksum(c.local)};
    if (c.signed_list) file.entry.digest = list::FileDigest{n, trust::Sha256Of(new_file.data(), new_file.size())};
    file.entry.forms = c.forms;
    state_.PatchList = {file};

    RunPatchDownloads(flow_);

    EXPECT_TRUE(rt::ReadWholeFile("a.pak") == new_file);
    std::vector<rt::Text> want;
    for (const rt::Text& r : c.want_requests) want.push_back(r == "a.pak" ? kWholeUrl : kSite + r);
    EXPECT_EQ(Requested(), want);
    EXPECT_GE(LogLinesWith(c.want_log), 1u);
    EXPECT_FALSE(rt::FileExists("a.pak.tmp"));
    EXPECT_FALSE(rt::FileExists("a.pak.tmp.tmp"));
    if (HasFailure()) {
      for (const rt::Text& line : log_) ADD_FAILURE() << line;
      return;
    }
  }
}

// A form kept whole by a run that ended before its apply (or during it) is
// not fetched again: the next run resumes it at its end and applies it,
// keeping the whole segments of the cut output that match their hashes.
TEST_F(FormsRunTest, AFormKeptWholeIsAppliedWithoutFetchingItAgainAfterWhatTheCutApplyLeft) {
  constexpr size_t kSegment = 16 * 1024;
  const Bytes old_file = Pseudo(4 * kSegment, 7);
  Bytes new_file = old_file;
  for (size_t at = 100; at < new_file.size(); at += 5000) new_file[at] ^= 1;
  const Bytes delta = deltatest::Make(old_file, new_file, kSegment);
  const auto first = [&](size_t bytes) { return Text(Bytes(new_file.begin(), new_file.begin() + static_cast<std::ptrdiff_t>(bytes))); };
  Bytes second_bad(new_file.begin(), new_file.begin() + 3 * kSegment);
  second_bad[kSegment + 9] ^= 1;
  struct Case {
    const char* what;
    rt::Text output;  // what the cut run left in a.pak.tmp
    int64_t kept;     // of it, what stays
  } const cases[] = {
      {"bytes of something else", "half an output of the killed run", 0},
      {"two segments and part of the third", first(2 * kSegment + 700), 2 * kSegment},
      {"a segment, then one that differs", Text(second_bad), kSegment},
      {"every segment: nothing to apply", first(new_file.size()), 4 * kSegment},
      {"longer than the file: starts over", first(new_file.size()) + "tail", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log_.clear();
    requested_.clear();
    Write("a.pak", Text(old_file));
    Write("a.pak.tmp.tmp", Text(delta));
    Write("a.pak.tmp", c.output);
    server_[kSite + "patch/forms/d.delta"] = Text(delta);
    state_.PatchList = {SignedWithDelta(old_file, new_file, delta)};

    RunPatchDownloads(flow_);

    EXPECT_TRUE(rt::ReadWholeFile("a.pak") == new_file);
    EXPECT_EQ(LogLinesWith("result 0 (Ok), 0 bytes from offset " + rt::ToText(static_cast<int64_t>(delta.size()))), 1u);
    const int64_t made = static_cast<int64_t>(new_file.size()) - c.kept;
    EXPECT_EQ(LogLinesWith("applied delta of " + rt::ToText(static_cast<int64_t>(delta.size())) +
                           " bytes from " + rt::ToText(static_cast<int64_t>(old_file.size())) +
                           " bytes to a.pak: " + rt::ToText(made) + " bytes"), 1u);
    EXPECT_EQ(LogLinesWith("after " + rt::ToText(c.kept) + " bytes a cut apply left"), c.kept > 0 ? 1u : 0u);
    EXPECT_FALSE(rt::FileExists("a.pak.tmp.tmp"));
    EXPECT_FALSE(rt::FileExists("a.pak.tmp"));
    if (HasFailure()) {
      for (const rt::Text& line : log_) ADD_FAILURE() << line;
      return;
    }
  }
}

// A form is named by its content, so a part cut on one mirror is resumed on
// the next; its hash judges the whole.
TEST_F(FormsRunTest, AFormCutOnOneMirrorIsResumedOnTheNext) {
  const Bytes old_file = Pseudo(32 * 1024, 9);
  Bytes new_file = old_file;
  new_file.insert(new_file.begin() + 1000, 3000, 'x');
  const Bytes delta = deltatest::Make(old_file, new_file, 16 * 1024);
  const rt::Text kOther = "http://127.0.0.1:8089/";
  state_.Site = PatchSite(kSite + ";" + kOther, 528);
  Write("a.pak", Text(old_file));
  server_[kOther + "patch/forms/d.delta"] = Text(delta);
  const size_t half = delta.size() / 2;
  const auto serve = flow_.services.download;
  flow_.services.download = [&](const net::DownloadOptions& options, net::BodySink& sink,
                                std::atomic<int64_t>& total, std::atomic<int64_t>& done) {
    if (UrlOf(options.url) == kSite + "patch/forms/d.delta") {
      {
        std::lock_guard<std::mutex> hold(mutex_);
        requested_.push_back(UrlOf(options.url));
      }
      WritePart(sink, Text(Bytes(delta.begin(), delta.begin() + static_cast<std::ptrdiff_t>(half))));
      net::DownloadReport cut(net::DownloadResult::Interrupted);
      cut.reason = net::FailReason::kReset;  // after the answer's head and half the body
      cut.http_status = 200;
      cut.received = static_cast<int64_t>(half);
      return cut;
    }
    return serve(options, sink, total, done);
  };
  state_.PatchList = {SignedWithDelta(old_file, new_file, delta)};

  RunPatchDownloads(flow_);

  EXPECT_TRUE(rt::ReadWholeFile("a.pak") == new_file);
  EXPECT_EQ(Requested(), (std::vector<rt::Text>{kSite + "patch/forms/d.delta", kOther + "patch/forms/d.delta"}));
  EXPECT_EQ(LogLinesWith("from offset " + rt::ToText(static_cast<int64_t>(half)) + ", "), 1u);
}

// A delta that arrives whole but damaged: the segments that make other bytes
// are fetched again alone and the form is judged whole again; a damaged
// header, or a part that comes damaged again, sends the whole form back.
TEST_F(FormsRunTest, ADamagedDeltaHasOnlyItsWrongSegmentsFetchedAgain) {
  constexpr size_t kSegment = 16 * 1024;
  const Bytes old_file = Pseudo(4 * kSegment, 11);
  Bytes new_file = old_file;
  for (size_t at = 300; at < new_file.size(); at += 3000) new_file[at] ^= 0x21;
  const Bytes delta = deltatest::Make(old_file, new_file, kSegment);
  const rt::Text delta_url = kSite + "patch/forms/d.delta";
  codec::delta::DeltaHeader header;
  ASSERT_EQ(codec::delta::ParseHeader(delta.data(), 40 + 4 * 48, {old_file.size(), new_file.size(), true}, &header),
            codec::delta::DeltaFault::kNone);
  const size_t last_body = header.SegmentPatchOffset(3) + header.segments[3].body_bytes / 2;
  struct Case {
    const char* what;
    size_t damaged_at;   // the byte of the delta a damaged answer flips
    bool always;         // every answer damaged, not the first alone
    bool want_span;      // a part of the delta asked for alone
    const char* want_log;
  } const cases[] = {
      {"the last segment's body", last_body, false, true, "form of a.pak mended"},
      {"the header", 20, false, false, "SHA-256 differs"},
      {"a part that comes damaged again", last_body, true, true, "form of a.pak still differs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log_.clear();
    Write("a.pak", Text(old_file));
    rt::RemoveFile("a.pak.tmp.tmp");
    Bytes damaged = delta;
    damaged[c.damaged_at] ^= 0x40;
    std::vector<int64_t> spans;  // range_last of each request for the delta
    const auto serve = flow_.services.download;
    flow_.services.download = [&](const net::DownloadOptions& options, net::BodySink& sink,
                                  std::atomic<int64_t>& total, std::atomic<int64_t>& done) {
      if (UrlOf(options.url) != delta_url) return serve(options, sink, total, done);
      const bool first = spans.empty();
      spans.push_back(options.range_last);
      return Serve(options, sink, Text(first || c.always ? damaged : delta), total, done);
    };
    server_[kWholeUrl] = Text(new_file);
    state_.PatchList = {SignedWithDelta(old_file, new_file, delta)};

    RunPatchDownloads(flow_);
    flow_.services.download = serve;

    EXPECT_TRUE(rt::ReadWholeFile("a.pak") == new_file);
    EXPECT_GE(LogLinesWith(c.want_log), 1u);
    const bool asked_span = std::any_of(spans.begin(), spans.end(), [](int64_t last) { return last >= 0; });
    EXPECT_EQ(asked_span, c.want_span);
    // A span asked for is the last segment's body, to the delta's last byte.
    if (c.want_span) EXPECT_EQ(spans[1], static_cast<int64_t>(delta.size()) - 1);
    if (!c.always) EXPECT_EQ(spans.size(), c.want_span ? 2u : 1u);  // a form that differs is not asked for again
    if (HasFailure()) {
      for (const rt::Text& line : log_) ADD_FAILURE() << line;
      return;
    }
  }
}
