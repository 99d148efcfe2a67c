// patchtool's commands run in-process: the file list of a client tree byte
// for byte, the names it refuses, publishing, packing and inspecting.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "payload/payload.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "tests/support/temp_folder.h"
#include "tools/patchtool/command_line.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/list_names.h"
#include "trust/list_keys.h"
#include "trust/signed_list.h"

namespace {

int32_t Reference(const rt::Bytes& b) {
  uint32_t h = 0;
  for (size_t k = b.size(); k-- > 0;) h = h * 31u + b[k] + 1u;
  return static_cast<int32_t>(h);
}

rt::Bytes Random(size_t n, std::uint32_t seed) {
  std::mt19937 random(seed);
  rt::Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

rt::Bytes B(const std::string& s) { return rt::Bytes(s.begin(), s.end()); }

// Runs a command with GBK arguments, as main hands them over.
int RunCommand(int (*command)(int, char**), std::vector<rt::Text> args) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return command(static_cast<int>(args.size()), argv.data());
}

class Patchtool : public ::testing::Test {
 public:
  // A GBK path under the test's folder; "\" separators as in the list.
  rt::Text At(const rt::Text& relative) const {
    rt::Text path = root_ + "/";
    for (char c : relative) path += c == '\\' ? '/' : c;
    return path;
  }
  void Put(const rt::Text& relative, const rt::Bytes& content) {
    const rt::Text path = At(relative);
    rt::CreateFolderTree(path.substr(0, path.find_last_of('/')));
    ASSERT_TRUE(rt::WriteWholeFile(path, content)) << relative;
  }

  testsupport::TempFolder folder_{"patchtool_test"};
  const std::string& root_ = folder_.path();
};

struct ListedFile {
  rt::Text path;
  rt::Bytes content;
};

// The client tree of the list tests, in the order the list must give:
// byte order of the GBK path, upper case before lower, GBK after ASCII.
std::vector<ListedFile> ClientFiles() {
  return {
      {"Zeta.txt", B("abc")},
      {"data\\game.dat", Random(700, 1)},  // only the top-level game.dat is the updater's
      {"data\\map\\town.dat", Random(3000, 2)},
      {"empty.dat", rt::Bytes()},
      {"my file.txt", B("hello world")},
      {"数据\\地图 一.bin", Random(1500, 3)},
      {"数据\\说明.txt", B("a")},
  };
}

void PutClient(Patchtool* test, const rt::Text& dir) {
  for (const ListedFile& file : ClientFiles()) test->Put(dir + "\\" + file.path, file.content);
}

rt::Bytes ExpectedList() {
  rt::Text list;
  for (const ListedFile& file : ClientFiles()) list += file.path + "#" + rt::ToText(Reference(file.content)) + "\r\n";
  return B(list);
}

TEST_F(Patchtool, ManifestByteForByte) {
  PutClient(this, "client");
  // Left out: the updater's own files and partial downloads.
  Put("client\\update.dat", B("self"));
  Put("client\\update.seq", B("3\r\n"));
  Put("client\\GAME.DAT", B("game"));
  Put("client\\update.log", B("log"));
  Put("client\\data\\town.dat.tmp", B("partial"));
  Put("client\\old.TMP", B("partial"));
  rt::CreateFolderTree(At("client/empty folder"));

  ASSERT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "-o", At("filelist.txt")}), patchtool::kExitOk);
  EXPECT_EQ(rt::ReadWholeFile(At("filelist.txt")), ExpectedList());
}

TEST_F(Patchtool, ManifestRefusesNamesTheUpdaterCannotFetch) {
  struct Case {
    const char* what;
    std::string utf8_name;  // created through the file system's own names
    bool posix_only;
  };
  const Case cases[] = {
      {"hash splits the line", "a#b.txt", false},
      {"device name", "aux.txt", true},  // Windows opens the device instead
      {"list name at the top", "FileList.txt", false},
      {"no GBK form", "\xF0\x9F\x98\x80.txt", false},  // an emoji
      {"less-than reads as an error page", "a<b.txt", true},
      {"colon", "a:b.txt", true},
      {"backslash inside a name", "a\\b.txt", true},
      {"trailing dot", "name.", true},
  };
  for (const Case& c : cases) {
#if defined(_WIN32)
    if (c.posix_only) continue;
#endif
    SCOPED_TRACE(c.what);
    const std::string dir = root_ + "/bad";
    std::filesystem::create_directories(dir);
    { std::ofstream(std::filesystem::u8path(dir + "/" + c.utf8_name)) << "x"; }
    ASSERT_TRUE(std::filesystem::exists(std::filesystem::u8path(dir + "/" + c.utf8_name)));
    testing::internal::CaptureStderr();
    const int code = RunCommand(patchtool::RunManifest, {"manifest", At("bad"), "-o", At("list.txt")});
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, patchtool::kExitFailed);
    EXPECT_NE(message.find(c.utf8_name), std::string::npos) << message;
    EXPECT_FALSE(rt::FileExists(At("list.txt")));
    std::filesystem::remove_all(dir);
  }
}

TEST_F(Patchtool, UsageAndMissingInputs) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunCommand(patchtool::RunManifest, {"manifest"}), patchtool::kExitUsage);
  EXPECT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("none")}), patchtool::kExitFailed);
  EXPECT_EQ(RunCommand(patchtool::RunChecksum, {"checksum", At("none")}), patchtool::kExitFailed);
  EXPECT_EQ(RunCommand(patchtool::RunPack, {"pack", At("none"), At("none2"), "-o", At("out")}), patchtool::kExitFailed);
  EXPECT_EQ(RunCommand(patchtool::RunPack, {"pack", At("none")}), patchtool::kExitUsage);
  EXPECT_EQ(RunCommand(patchtool::RunInspect, {"inspect", At("none")}), patchtool::kExitFailed);
  EXPECT_EQ(RunCommand(patchtool::RunPublish, {"publish", At("none"), At("srv"), "--folder", "x1"}), patchtool::kExitUsage);
  const std::string message = testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("no such file: " + At("none")), std::string::npos) << message;
  EXPECT_FALSE(rt::FileExists(At("out")));
}

TEST_F(Patchtool, ChecksumPrintsTheListText) {
  Put("hw.txt", B("hello world"));
  Put("names.txt", B("\r\n" + At("hw.txt") + "\r\n\n"));  // blank lines skipped, CR LF or LF
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunCommand(patchtool::RunChecksum, {"checksum", At("hw.txt")}), patchtool::kExitOk);
  EXPECT_EQ(RunCommand(patchtool::RunChecksum, {"checksum", "--reference", At("hw.txt")}), patchtool::kExitOk);
  EXPECT_EQ(RunCommand(patchtool::RunChecksum, {"checksum", "--files-from", At("names.txt")}), patchtool::kExitOk);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string line = "-648389339  " + At("hw.txt") + "\n";
  EXPECT_EQ(out, line + line + line);
}

TEST_F(Patchtool, PublishCopiesOnlyWhatChanged) {
  PutClient(this, "client");
  const rt::Text folder = At("srv/patch/7");
  testing::internal::CaptureStdout();
  ASSERT_EQ(RunCommand(patchtool::RunPublish, {"publish", At("client"), At("srv"), "--folder", "7"}), patchtool::kExitOk);
  EXPECT_EQ(rt::ReadWholeFile(folder + "/filelist.txt"), ExpectedList());
  for (const ListedFile& file : ClientFiles()) {
    rt::Text path = folder + "/";
    for (char c : file.path) path += c == '\\' ? '/' : c;
    EXPECT_EQ(rt::ReadWholeFile(path), file.content) << file.path;
  }
  ASSERT_EQ(RunCommand(patchtool::RunPublish, {"publish", At("client"), At("srv"), "--folder", "7"}), patchtool::kExitOk);
  Put("client\\my file.txt", B("hello again"));
  ASSERT_EQ(RunCommand(patchtool::RunPublish, {"publish", At("client"), At("srv"), "--folder", "7"}), patchtool::kExitOk);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("7 copied, 0 unchanged; list updated"), std::string::npos) << out;
  EXPECT_NE(out.find("0 copied, 7 unchanged; list unchanged"), std::string::npos) << out;
  EXPECT_NE(out.find("1 copied, 6 unchanged; list updated"), std::string::npos) << out;
  EXPECT_EQ(rt::ReadWholeFile(folder + "/my file.txt"), B("hello again"));
}

TEST_F(Patchtool, SignedPublishNumbersReleasesAndVerifies) {
  PutClient(this, "client");
  const rt::Text key_file = At("list.key");
  const rt::Text list = At("srv/patch/528/filelist.txt");
  auto publish = [&](std::vector<rt::Text> extra) {
    std::vector<rt::Text> args = {"publish", At("client"), At("srv"), "--sign", key_file};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCommand(patchtool::RunPublish, args);
  };
  auto sequence = [&] { return trust::ListSequence(rt::ReadWholeFile(list)).value_or(0); };
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();

  // No key yet: nothing is published.
  EXPECT_EQ(publish({}), patchtool::kExitFailed);
  EXPECT_FALSE(rt::FileExists(At("srv/patch")));
  ASSERT_EQ(RunCommand(patchtool::RunKeygen, {"keygen", key_file}), patchtool::kExitOk);
  const rt::Bytes key_text = rt::ReadWholeFile(key_file);
  EXPECT_EQ(RunCommand(patchtool::RunKeygen, {"keygen", key_file}), patchtool::kExitFailed);
  EXPECT_EQ(rt::ReadWholeFile(key_file), key_text);  // never overwritten
  const auto secret = trust::ParseSecretKeyFile(key_text);
  ASSERT_TRUE(secret);
  const trust::PublicKey public_key = trust::PublicKeyOf(*secret);
  const rt::Text key_hex = trust::HexText(public_key.data(), public_key.size());

  ASSERT_EQ(publish({}), patchtool::kExitOk);
  EXPECT_EQ(sequence(), 1u);
  EXPECT_EQ(trust::StripSignatureLines(rt::ReadWholeFile(list)), ExpectedList());
  EXPECT_EQ(RunCommand(patchtool::RunVerify, {"verify", list, "--key", key_hex}), patchtool::kExitOk);
  // Nothing changed: the list and its number stay.
  const rt::Bytes first = rt::ReadWholeFile(list);
  ASSERT_EQ(publish({}), patchtool::kExitOk);
  EXPECT_EQ(rt::ReadWholeFile(list), first);
  // A changed file: the next number. An explicit one wins.
  Put("client\\my file.txt", B("hello again"));
  ASSERT_EQ(publish({}), patchtool::kExitOk);
  EXPECT_EQ(sequence(), 2u);
  ASSERT_EQ(publish({"--sequence", "40"}), patchtool::kExitOk);
  EXPECT_EQ(sequence(), 40u);
  EXPECT_EQ(RunCommand(patchtool::RunVerify, {"verify", list, "--key", key_hex, "--min-sequence", "40"}),
            patchtool::kExitOk);
  EXPECT_EQ(RunCommand(patchtool::RunVerify, {"verify", list, "--key", key_hex, "--min-sequence", "41"}),
            patchtool::kExitFailed);
  // Another key, a changed byte, an unsigned list: refused as the updater would.
  const auto other = trust::NewKeyPair();
  ASSERT_TRUE(other);
  EXPECT_EQ(RunCommand(patchtool::RunVerify,
                       {"verify", list, "--key", trust::HexText(other->public_key.data(), other->public_key.size())}),
            patchtool::kExitFailed);
  rt::Bytes changed = rt::ReadWholeFile(list);
  changed[20] ^= 1;
  ASSERT_TRUE(rt::WriteWholeFile(At("changed.txt"), changed));
  EXPECT_EQ(RunCommand(patchtool::RunVerify, {"verify", At("changed.txt"), "--key", key_hex}), patchtool::kExitFailed);
  // An unsigned manifest replaces a signed one without its lines.
  ASSERT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "-o", list}), patchtool::kExitOk);
  EXPECT_FALSE(trust::ListSequence(rt::ReadWholeFile(list)));
  EXPECT_EQ(RunCommand(patchtool::RunVerify, {"verify", list, "--key", key_hex}), patchtool::kExitFailed);
  // Signed manifest numbers from the list it replaces (unsigned now: 1).
  ASSERT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "-o", list, "--sign", key_file}),
            patchtool::kExitOk);
  EXPECT_EQ(sequence(), 1u);

  // Wrong uses of the options.
  EXPECT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "--sequence", "3"}), patchtool::kExitFailed);
  EXPECT_EQ(publish({"--sequence", "x1"}), patchtool::kExitUsage);
  EXPECT_EQ(RunCommand(patchtool::RunVerify, {"verify", list, "--key", "abc"}), patchtool::kExitUsage);
  EXPECT_EQ(RunCommand(patchtool::RunVerify, {"verify", list}), patchtool::kExitUsage);
  ASSERT_TRUE(rt::WriteWholeFile(At("bad.key"), B(std::string(128, 'f'))));
  EXPECT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "-o", At("x.txt"), "--sign", At("bad.key")}),
            patchtool::kExitFailed);
  EXPECT_FALSE(rt::FileExists(At("x.txt")));
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
}

TEST_F(Patchtool, PackInspectExtractRoundTrip) {
  const rt::Bytes updater = Random(5000, 4);
  rt::Bytes game = Random(3000, 5);
  const rt::Text inner = payload::FormatTrailer(1000);
  game.insert(game.end(), inner.begin(), inner.end());
  Put("updater.exe", updater);
  Put("game.exe", game);

  testing::internal::CaptureStdout();
  ASSERT_EQ(RunCommand(patchtool::RunPack, {"pack", At("updater.exe"), At("game.exe"), "-o", At("packed.exe")}),
            patchtool::kExitOk);
  ASSERT_EQ(RunCommand(patchtool::RunInspect, {"inspect", At("packed.exe")}), patchtool::kExitOk);
  const std::string out = testing::internal::GetCapturedStdout();

  rt::Bytes expected = updater;
  expected.insert(expected.end(), game.begin(), game.end());
  const rt::Text trailer = payload::FormatTrailer(static_cast<int64_t>(game.size()));
  expected.insert(expected.end(), trailer.begin(), trailer.end());
  const rt::Bytes packed = rt::ReadWholeFile(At("packed.exe"));
  EXPECT_EQ(packed, expected);
  EXPECT_EQ(payload::ExtractPayload(packed), std::optional<rt::Bytes>(game));

  EXPECT_NE(out.find("trailer: \"        3015#!@\""), std::string::npos) << out;
  EXPECT_NE(out.find("payload: 3015 bytes at offset 5000"), std::string::npos) << out;
  EXPECT_NE(out.find("nested trailer: \"        1000#!@\""), std::string::npos) << out;
  EXPECT_NE(out.find("nested payload: 1000 bytes at offset 7000"), std::string::npos) << out;
}

// The shared argument loop of manifest, publish, pack and verify: refusals
// first, then what it takes.
TEST(CommandLine, ParseArguments) {
  using patchtool::ParseOutcome;
  struct Case {
    std::vector<rt::Text> args;
    ParseOutcome outcome;
    rt::Text first, second, out;  // the two names and -o after the parse
    const char* message;          // in standard error, when the parse refuses
  } cases[] = {
      {{"cmd", "a", "b", "c"}, ParseOutcome::kUsageError, "a", "b", "", "cmd: unexpected argument c"},
      {{"cmd", "-x"}, ParseOutcome::kUsageError, "", "", "", "cmd: unexpected argument -x"},
      {{"cmd", "a", "-o"}, ParseOutcome::kUsageError, "a", "", "", "cmd: unexpected argument -o"},  // no value
      {{"cmd", "-n", "bad"}, ParseOutcome::kUsageError, "", "", "", "not a number"},
      {{"cmd", "a", "--help", "-x"}, ParseOutcome::kHelpShown, "a", "", "", nullptr},
      {{"cmd", "-h"}, ParseOutcome::kHelpShown, "", "", "", nullptr},
      {{"cmd"}, ParseOutcome::kRun, "", "", "", nullptr},
      {{"cmd", "-o", "--help", "a"}, ParseOutcome::kRun, "a", "", "--help", nullptr},  // a value, not the help
      {{"cmd", "a", "-o", "f", "b", "-n", "7"}, ParseOutcome::kRun, "a", "b", "f", nullptr},
      {{"cmd", "", "a"}, ParseOutcome::kRun, "a", "", "", nullptr},  // an empty name leaves its place free
  };
  for (Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::vector<char*> argv;
    for (rt::Text& arg : c.args) argv.push_back(arg.data());
    rt::Text first, second, out, number;
    const auto is_number = [](const rt::Text& text) {
      if (!text.empty() && text.find_first_not_of("0123456789") == rt::Text::npos) return true;
      patchtool::ReportError("not a number");
      return false;
    };
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const ParseOutcome outcome = patchtool::ParseArguments(
        "cmd", static_cast<int>(argv.size()), argv.data(), "usage text", "help text",
        {{"-o", &out}, {"-n", &number, is_number}}, {&first, &second});
    const std::string out_text = testing::internal::GetCapturedStdout();
    const std::string err_text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(outcome, c.outcome);
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(second, c.second);
    EXPECT_EQ(out, c.out);
    if (c.message) {
      EXPECT_NE(err_text.find(c.message), std::string::npos) << err_text;
    }
    EXPECT_EQ(out_text.find("help text") != std::string::npos, c.outcome == ParseOutcome::kHelpShown) << out_text;
  }
}

TEST(ListNames, SegmentRules) {
  const char* accepted[] = {"a.txt", "数据", "my file", "..a", "a..b", "con1.txt", "console"};
  const char* refused[] = {"", ".", "..", "a#b", "a<b", "a>b", "a:b", "a\"b", "a|b", "a?b", "a*b",
                           "a/b", "a\\b", "tab\there", "dot.", "blank ", "CON", "nul.txt", "Com1.dat",
                           "lpt9", "aux .txt", "\x81\x5C.txt", "lone\x81", "\xFF"};
  for (const char* name : accepted) EXPECT_EQ(patchtool::UnsafeSegmentReason(name), "") << name;
  for (const char* name : refused) EXPECT_NE(patchtool::UnsafeSegmentReason(name), "") << name;
}

}  // namespace
