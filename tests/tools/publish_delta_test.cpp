// publish's delta forms: each changed big file gets a patch from each of its
// last releases kept on the server, named in the list after the entry; every
// patch rebuilds the new file from its base, and no other base is named.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "list/file_list.h"
#include "list/forms.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "tests/codec/delta_support.h"
#include "tests/support/temp_folder.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/release_store.h"
#include "trust/list_keys.h"
#include "trust/sha256.h"
#include "trust/signed_list.h"

namespace {

int RunTool(int (*command)(int, char**), std::vector<rt::Text> args) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return command(static_cast<int>(args.size()), argv.data());
}

// Random bytes: no compressed copy beats a delta, so every delta counts.
rt::Bytes Release0(size_t size) {
  std::mt19937 random(11);
  rt::Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

struct Published {
  rt::Bytes content;
  rt::Text checksum;  // as the list names it
};

TEST(PublishDeltas, EachChangedBigFileGetsPatchesFromItsLastReleases) {
  for (const bool signed_list : {false, true}) {
    SCOPED_TRACE(signed_list ? "signed" : "unsigned");
    testsupport::TempFolder folder("publish_delta");
    const rt::Text root = folder.path();
    rt::CreateFolderTree(root + "/client");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    if (signed_list) ASSERT_EQ(RunTool(patchtool::RunKeygen, {"keygen", root + "/list.key"}), patchtool::kExitOk);
    rt::Bytes content = Release0(3 << 20);
    std::vector<Published> releases;
    std::set<rt::Text> named_before;  // forms the previous list named
    // Five releases of the file; the third publish is repeated unchanged
    // (no new release, no new patch).
    for (int step = 0; step < 6; ++step) {
      if (step != 3) {
        for (int k = 0; k < 4096; ++k) content[static_cast<size_t>(step * 400000 + 7 * k) % content.size()] ^= 0x5A;
      }
      ASSERT_TRUE(rt::WriteWholeFile(root + "/client/game.pak", content));
      ASSERT_TRUE(rt::WriteWholeFile(root + "/client/small.txt", rt::ToBytes(rt::Text("release ") + rt::ToText(step))));
      // Unsigned: three segments, made side by side; signed: one segment, the
      // patches from each release made side by side.
      std::vector<rt::Text> args = {"publish", root + "/client", root + "/srv", "--segment-bytes",
                                    signed_list ? "4194304" : "1048576"};
      if (signed_list) args.insert(args.end(), {"--sign", root + "/list.key", "--sequence", rt::ToText(step + 1)});
      ASSERT_EQ(RunTool(patchtool::RunPublish, args), patchtool::kExitOk);

      const rt::Bytes list_bytes = rt::ReadWholeFile(root + "/srv/patch/528/filelist.txt");
      const list::FileList read = list::ParseFileList(trust::StripSignatureLines(list_bytes),
                                                      signed_list ? list::HashLines::kRequired : list::HashLines::kSkipped);
      ASSERT_TRUE(read.usable());
      if (signed_list) {  // the form lines are signed with the rest
        const auto secret = trust::ParseSecretKeyFile(rt::ReadWholeFile(root + "/list.key"));
        ASSERT_TRUE(secret);
        EXPECT_EQ(trust::CheckSignedList(list_bytes, trust::PublicKeyOf(*secret), 0).verdict,
                  trust::ListVerdict::kAccepted);
      }
      const list::PatchEntry* entry = nullptr;
      for (const list::PatchEntry& e : read.entries)
        if (e.path == "game.pak") entry = &e;
      ASSERT_NE(entry, nullptr);
      if (step != 3) releases.push_back({content, entry->checksum.text()});

      // Every line of a known form kind parses on its own.
      const rt::Text text = rt::ToText(list_bytes);
      for (size_t at = text.find("#form#"); at != rt::Text::npos; at = text.find("#form#", at + 1))
        EXPECT_EQ(list::ParseFormLine(text.substr(at, text.find("\r\n", at) - at)).read, list::FormRead::kForm);

      // Bases: exactly the releases before this one, the last three at most.
      std::set<rt::Text> expected_bases, bases;
      if (step != 3) {
        const size_t count = releases.size() - 1;
        for (size_t k = count - std::min<size_t>(count, patchtool::kKeptReleases); k < count; ++k)
          expected_bases.insert(releases[k].checksum);
      }
      for (const list::FormLine& form : entry->forms) {
        if (form.kind != list::FormKind::kDelta) continue;
        ASSERT_TRUE(form.base.has_value());
        bases.insert(form.base->checksum);
        const rt::Bytes patch = rt::ReadWholeFile(root + "/srv/" + form.name);
        EXPECT_EQ(form.size, static_cast<int64_t>(patch.size()));
        EXPECT_EQ(form.sha256, trust::Sha256Of(patch.data(), patch.size()));
        EXPECT_LT(form.size, static_cast<int64_t>(content.size() / 16));  // a few KiB changed per release
        const Published* base = nullptr;
        for (const Published& release : releases)
          if (release.checksum == form.base->checksum) base = &release;
        ASSERT_NE(base, nullptr);
        EXPECT_EQ(form.base->size, static_cast<int64_t>(base->content.size()));
        const deltatest::Applied applied = deltatest::ApplyPatch(base->content, patch, content.size());
        EXPECT_EQ(applied.fault, codec::delta::DeltaFault::kNone);
        EXPECT_TRUE(applied.digests_match);
        EXPECT_TRUE(applied.output == content);
      }
      if (step == 3) {
        EXPECT_EQ(bases.size(), 2u);  // the forms of the unchanged file are kept
      } else {
        EXPECT_EQ(bases, expected_bases);
      }
      // A player holding the previous list still finds all it names.
      for (const rt::Text& name : named_before) EXPECT_TRUE(rt::FileExists(root + "/srv/" + name)) << name;
      named_before.clear();
      for (const list::PatchEntry& e : read.entries)
        for (const list::FormLine& form : e.forms) named_before.insert(form.name);
    }
    // Three releases kept, the older ones removed.
    const auto record = patchtool::ParseReleaseRecord(rt::ReadWholeFile(root + "/srv/patch/releases/528.txt"));
    ASSERT_EQ(record.count("game.pak"), 1u);
    EXPECT_EQ(record.at("game.pak").size(), patchtool::kKeptReleases);
    EXPECT_FALSE(rt::FileExists(root + "/srv/patch/releases/" +
                                list::Sha256Hex(trust::Sha256Of(releases[0].content.data(), releases[0].content.size())) +
                                patchtool::kReleaseSuffix));
    const std::string out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("delta of game.pak from its release " + releases[3].checksum + " (3.0 MiB): 3.0 MiB to "),
              std::string::npos)
        << out;
  }
}

TEST(ReleaseRecord, KeepsWellFormedLinesNewestFirstAndAtMostThreePerPath) {
  const std::string a(64, 'a'), b(64, 'b'), c(64, 'c'), d(64, 'd');
  struct Case {
    const char* what;
    std::string record;
    std::map<rt::Text, std::vector<int32_t>> checksums;  // per path, newest first
  };
  const std::vector<Case> cases = {
      {"one path, two releases", a + "#10#-5#x\\y.pak\r\n" + b + "#10#7#x\\y.pak\r\n", {{"x\\y.pak", {-5, 7}}}},
      {"a fourth release is dropped",
       a + "#1#1#p\r\n" + b + "#1#2#p\r\n" + c + "#1#3#p\r\n" + d + "#1#4#p\r\n", {{"p", {1, 2, 3}}}},
      {"a repeated release counts once", a + "#1#1#p\r\n" + a + "#1#1#p\r\n", {{"p", {1}}}},
      {"bad hash, size, checksum or no path: dropped",
       "zz#1#1#p\r\n" + a + "#01#1#p\r\n" + a + "#1#1x#p\r\n" + a + "#1#1#\r\n" + a + "#1#99999999999#p\r\n" + b +
           "#2#2#q",
       {{"q", {2}}}},
      {"a path with '#' in it", a + "#3#3#a#b\n", {{"a#b", {3}}}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    const auto parsed = patchtool::ParseReleaseRecord(rt::Bytes(test.record.begin(), test.record.end()));
    std::map<rt::Text, std::vector<int32_t>> checksums;
    for (const auto& [path, list] : parsed)
      for (const patchtool::Release& release : list) checksums[path].push_back(release.checksum);
    EXPECT_EQ(checksums, test.checksums);
    EXPECT_EQ(patchtool::ParseReleaseRecord(patchtool::FormatReleaseRecord(parsed)), parsed);
  }
}

}  // namespace
