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
#include "runtime/text.h"
#include "tests/support/temp_folder.h"
#include "tools/patchtool/command_line.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/progress.h"
#include "list/file_list.h"
#include "list/layout.h"
#include "tools/patchtool/client_tree.h"
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
    return root_ + "/" + rt::ReplaceChar(relative, '\\', '/');  // a trail byte 0x5C stays
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

  ASSERT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "-o", At(list::kListFileName)}), patchtool::kExitOk);
  EXPECT_EQ(rt::ReadWholeFile(At(list::kListFileName)), ExpectedList());
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
  // "007" is folder 7, as the updater reads its folder setting.
  ASSERT_EQ(RunCommand(patchtool::RunPublish, {"publish", At("client"), At("srv"), "--folder", "007"}),
            patchtool::kExitOk);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(rt::FolderExists(At("srv/patch/007")));
  EXPECT_NE(out.find("published 7 files to " + folder + ": 7 copied, 0 unchanged; list updated"), std::string::npos)
      << out;
  EXPECT_NE(out.find("0 copied, 7 unchanged; list unchanged\nnothing to publish: the server already holds this client\n"
                     "published"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("1 copied, 6 unchanged; list updated"), std::string::npos) << out;
  EXPECT_EQ(out.find("nothing to publish"), out.rfind("nothing to publish")) << out;  // said once, of the unchanged one
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
  const rt::Text key_hex = rt::LowerHexOf(public_key.data(), public_key.size());

  // The first signed release is numbered only when told.
  EXPECT_EQ(publish({}), patchtool::kExitFailed);
  EXPECT_FALSE(rt::FileExists(list));
  ASSERT_EQ(publish({"--sequence", "1"}), patchtool::kExitOk);
  EXPECT_EQ(sequence(), 1u);
  EXPECT_EQ(trust::ListProduct(rt::ReadWholeFile(list)), "528");  // the folder's number
  // The plain list's entries, each followed by its size and SHA-256.
  const list::FileList signed_entries =
      list::ParseFileList(trust::StripSignatureLines(rt::ReadWholeFile(list)), list::HashLines::kRequired);
  ASSERT_TRUE(signed_entries.usable()) << list::ToString(signed_entries.fault);
  ASSERT_EQ(signed_entries.entries.size(), ClientFiles().size());
  for (size_t i = 0; i < ClientFiles().size(); ++i) {
    EXPECT_EQ(signed_entries.entries[i].path, ClientFiles()[i].path);
    EXPECT_EQ(signed_entries.entries[i].digest->size, static_cast<int64_t>(ClientFiles()[i].content.size()));
  }
  EXPECT_EQ(list::ParseFileList(rt::ReadWholeFile(list), list::HashLines::kSkipped).entries.size(),
            ClientFiles().size());
  EXPECT_EQ(RunCommand(patchtool::RunVerify, {"verify", list, "--key", key_hex}), patchtool::kExitOk);
  EXPECT_EQ(RunCommand(patchtool::RunVerify, {"verify", list, "--key", key_hex, "--product", "528"}),
            patchtool::kExitOk);
  EXPECT_EQ(RunCommand(patchtool::RunVerify, {"verify", list, "--key", key_hex, "--product", "game-b"}),
            patchtool::kExitFailed);
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
                       {"verify", list, "--key", rt::LowerHexOf(other->public_key.data(), other->public_key.size())}),
            patchtool::kExitFailed);
  rt::Bytes changed = rt::ReadWholeFile(list);
  changed[20] ^= 1;
  ASSERT_TRUE(rt::WriteWholeFile(At("changed.txt"), changed));
  EXPECT_EQ(RunCommand(patchtool::RunVerify, {"verify", At("changed.txt"), "--key", key_hex}), patchtool::kExitFailed);
  // An unsigned manifest replaces a signed one without its lines.
  ASSERT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "-o", list}), patchtool::kExitOk);
  EXPECT_FALSE(trust::ListSequence(rt::ReadWholeFile(list)));
  EXPECT_EQ(RunCommand(patchtool::RunVerify, {"verify", list, "--key", key_hex}), patchtool::kExitFailed);
  // A signed manifest numbers only from a list this key signed: the unsigned
  // one it would replace gives no number, --sequence does.
  EXPECT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "-o", list, "--sign", key_file}),
            patchtool::kExitFailed);
  EXPECT_FALSE(trust::ListSequence(rt::ReadWholeFile(list)));
  ASSERT_EQ(RunCommand(patchtool::RunManifest,
                       {"manifest", At("client"), "-o", list, "--sign", key_file, "--sequence", "41", "--product",
                        "528"}),
            patchtool::kExitOk);
  EXPECT_EQ(sequence(), 41u);

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

// The product line: by default the patch folder's number (what an updater
// built for that folder names), changed only when asked; manifest, which
// knows no folder, needs it given or from the list it replaces.
using Command = int (*)(int, char**);

TEST_F(Patchtool, SignedListsNameTheirProduct) {
  PutClient(this, "client");
  const rt::Text key_file = At("list.key");
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  ASSERT_EQ(RunCommand(patchtool::RunKeygen, {"keygen", key_file}), patchtool::kExitOk);
  const auto run = [&](Command command, std::vector<rt::Text> args) {
    args.insert(args.end(), {"--sign", key_file});
    return RunCommand(command, args);
  };
  const auto product_of = [&](const char* path) { return trust::ListProduct(rt::ReadWholeFile(At(path))); };
  struct Case {
    const char* what;
    Command command;
    std::vector<rt::Text> args;
    int exit;
    const char* list;
    rt::Text product;  // the list's product after it
  } const cases[] = {
      {"publish: the folder's number", patchtool::RunPublish,
       {"publish", At("client"), At("srv"), "--folder", "007", "--sequence", "1"}, patchtool::kExitOk,
       "srv/patch/7/filelist.txt", "7"},
      {"publish again: the replaced list's", patchtool::RunPublish,
       {"publish", At("client"), At("srv"), "--folder", "7", "--sequence", "2"}, patchtool::kExitOk,
       "srv/patch/7/filelist.txt", "7"},
      {"publish: given", patchtool::RunPublish,
       {"publish", At("client"), At("srv"), "--folder", "7", "--product", "game-b"}, patchtool::kExitOk,
       "srv/patch/7/filelist.txt", "game-b"},
      {"publish: changed only when asked", patchtool::RunPublish,
       {"publish", At("client"), At("srv"), "--folder", "7", "--sequence", "9"}, patchtool::kExitFailed,
       "srv/patch/7/filelist.txt", "game-b"},
      {"manifest: nothing to take it from", patchtool::RunManifest,
       {"manifest", At("client"), "-o", At("m.txt"), "--sequence", "1"}, patchtool::kExitFailed, "m.txt", ""},
      {"manifest: given", patchtool::RunManifest,
       {"manifest", At("client"), "-o", At("m.txt"), "--sequence", "1", "--product", "beta.2"}, patchtool::kExitOk,
       "m.txt", "beta.2"},
      {"manifest: from the replaced list", patchtool::RunManifest, {"manifest", At("client"), "-o", At("m.txt")},
       patchtool::kExitOk, "m.txt", "beta.2"},
      {"a name of another form", patchtool::RunManifest,
       {"manifest", At("client"), "-o", At("m.txt"), "--product", "Beta"}, patchtool::kExitUsage, "m.txt", "beta.2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.command, c.args), c.exit) << c.what;
    EXPECT_EQ(product_of(c.list), c.product) << c.what;
  }
  EXPECT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "-o", At("u.txt"), "--product", "a"}),
            patchtool::kExitFailed);  // needs --sign
  testing::internal::GetCapturedStdout();
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("the list it replaces is for product 7; updaters built for that product refuse this one"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find("--sign needs --product NAME"), std::string::npos) << errors;
  EXPECT_NE(errors.find("the list it replaces is for product game-b, not 7: give --product game-b"),
            std::string::npos)
      << errors;
}

TEST_F(Patchtool, VerifyChecksAMirrorsFilesAndTheNumberingTrustsOnlyItsOwnKey) {
  PutClient(this, "client");
  const rt::Text key_file = At("list.key");
  const rt::Text folder = At("srv/patch/528");
  const rt::Text list = folder + "/filelist.txt";
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  ASSERT_EQ(RunCommand(patchtool::RunKeygen, {"keygen", key_file}), patchtool::kExitOk);
  const auto secret = trust::ParseSecretKeyFile(rt::ReadWholeFile(key_file));
  ASSERT_TRUE(secret);
  const trust::PublicKey public_key = trust::PublicKeyOf(*secret);
  const rt::Text key_hex = rt::LowerHexOf(public_key.data(), public_key.size());
  auto verify = [&](std::vector<rt::Text> extra) {
    std::vector<rt::Text> args = {"verify", list, "--key", key_hex};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCommand(patchtool::RunVerify, args);
  };

  // A planted unsigned list with the highest sequence gives no number.
  Put("srv\\patch\\528\\filelist.txt", B("#sequence#9999999999999999998\r\na.dat#1\r\n"));
  EXPECT_EQ(RunCommand(patchtool::RunPublish, {"publish", At("client"), At("srv"), "--sign", key_file}),
            patchtool::kExitFailed);
  ASSERT_EQ(RunCommand(patchtool::RunPublish,
                       {"publish", At("client"), At("srv"), "--sign", key_file, "--sequence", "5", "--expires", "30"}),
            patchtool::kExitOk);
  EXPECT_EQ(trust::ListSequence(rt::ReadWholeFile(list)), std::optional<std::uint64_t>(5));
  EXPECT_EQ(trust::ListExpiry(rt::ReadWholeFile(list)), std::optional<std::int64_t>(patchtool::UtcToday() + 30));
  // Again with the same expiry: unchanged; numbered from the list now that it is ours.
  const rt::Bytes published = rt::ReadWholeFile(list);
  ASSERT_EQ(RunCommand(patchtool::RunPublish, {"publish", At("client"), At("srv"), "--sign", key_file, "--expires", "30"}),
            patchtool::kExitOk);
  EXPECT_EQ(rt::ReadWholeFile(list), published);
  ASSERT_EQ(RunCommand(patchtool::RunPublish, {"publish", At("client"), At("srv"), "--sign", key_file}),
            patchtool::kExitOk);
  EXPECT_EQ(trust::ListSequence(rt::ReadWholeFile(list)), std::optional<std::uint64_t>(6));  // the expiry went
  EXPECT_FALSE(trust::ListExpiry(rt::ReadWholeFile(list)));

  // The mirror as published: every file matches.
  EXPECT_EQ(verify({"--files", folder}), patchtool::kExitOk);
  // Tampered: same size and checksum, other bytes; one byte appended; one file gone.
  rt::Bytes town = rt::ReadWholeFile(folder + "/data/map/town.dat");
  town[10] = static_cast<std::uint8_t>(town[10] + 31);
  town[11] = static_cast<std::uint8_t>(town[11] - 1);
  ASSERT_EQ(Reference(town), Reference(rt::ReadWholeFile(folder + "/data/map/town.dat")));
  Put("srv\\patch\\528\\data\\map\\town.dat", town);
  Put("srv\\patch\\528\\my file.txt", B("hello world!"));
  ASSERT_TRUE(rt::RemoveFile(folder + "/Zeta.txt"));
  const std::string before = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  EXPECT_EQ(verify({"--files", folder}), patchtool::kExitFailed);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("SHA-256 differs: data\\map\\town.dat"), std::string::npos) << out;
  EXPECT_NE(out.find("size differs: my file.txt (12 bytes, the list says 11 bytes)"), std::string::npos) << out;
  EXPECT_NE(out.find("missing: Zeta.txt"), std::string::npos) << out;
  EXPECT_NE(out.find("7 files checked: 4 match, 2 differ, 1 missing"), std::string::npos) << out;
  // The signature alone still holds; an expired list does not.
  testing::internal::CaptureStdout();
  EXPECT_EQ(verify({}), patchtool::kExitOk);
  const rt::Bytes expired = trust::SignList(trust::StripSignatureLines(rt::ReadWholeFile(list)), 7, *secret,
                                            patchtool::UtcToday() - 2);
  ASSERT_TRUE(rt::WriteWholeFile(list, expired));
  EXPECT_EQ(verify({}), patchtool::kExitFailed);
  // Options that need --sign, and a day count out of range.
  EXPECT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "-o", At("x.txt"), "--expires", "3"}),
            patchtool::kExitFailed);
  EXPECT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "--sign", key_file, "--expires", "0"}),
            patchtool::kExitUsage);
  testing::internal::GetCapturedStdout();
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("is not signed by this key (no signature line); give --sequence N"), std::string::npos)
      << errors;
  EXPECT_NE(errors.find("the list has expired"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("other users can read the key file"), std::string::npos) << errors;  // keygen's own file
  (void)before;
}

#if !defined(_WIN32)
TEST_F(Patchtool, SigningWarnsWhenOthersCanReadTheKeyFile) {
  PutClient(this, "client");
  const rt::Text key_file = At("list.key");
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  ASSERT_EQ(RunCommand(patchtool::RunKeygen, {"keygen", key_file}), patchtool::kExitOk);
  EXPECT_EQ(std::filesystem::status(key_file).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::filesystem::permissions(key_file, std::filesystem::perms::group_read | std::filesystem::perms::others_read,
                               std::filesystem::perm_options::add);
  ASSERT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "-o", At("l.txt"), "--sign", key_file,
                                                "--sequence", "1", "--product", "528"}),
            patchtool::kExitOk);
  testing::internal::GetCapturedStdout();
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("warning: other users can read the key file"), std::string::npos) << errors;
}
#endif

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

// One name rule: every name walks through the updater's reading of a list
// and patchtool's reading of a client folder, and both give one answer: the
// name is in the list, or it is not (refused, or left out as a working file).
TEST_F(Patchtool, NameRuleIsTheSameOnBothSides) {
  struct Row {
    rt::Text path;      // GBK, "\" between folders
    bool listed;        // the answer both sides must give
    bool posix_only;    // Windows cannot make such a file
  } const rows[] = {
      {"a.dat", true, false},
      {"数据\\地图 一.bin", true, false},
      {"運.txt", true, false},  // its second GBK byte is 0x5C, as "\\" is
      {"运行\\運.pak", true, false},
      {"sub\\update.dat", true, false},         // below the top: a client file
      {"sub\\filelist.txt", true, false},
      {"update.dat.bak", true, false},
      {"..a\\b..c", true, false},
      {"console.dat", true, false},
      {"update.dat", false, false},   // the updater's own files at the top: left out
      {"Update.Seq", false, false},
      {"update.sums", false, false},
      {"GAME.DAT", false, false},
      {"x\\part.TMP", false, false},  // partial downloads anywhere: left out
      {"filelist.txt", false, false},  // the list's own name: refused
      {"a#b.txt", false, false},       // "#" splits the line
      {"a*b.txt", false, true},
      {"a?b.txt", false, true},
      {"a\"b.txt", false, true},
      {"a|b.txt", false, true},
      {"a>b.txt", false, true},
      {"a<b.txt", false, true},
      {"a:b.txt", false, true},
      {"line\nfeed", false, true},
      {"tab\there", false, true},
      {"one\x01.txt", false, true},
      {"dot.", false, true},
      {"blank ", false, true},
      {"sub\\con.txt", false, true},
      {"nul", false, true},
  };
  int walked = 0;
  for (const Row& row : rows) {
#if defined(_WIN32)
    if (row.posix_only) continue;
#endif
    SCOPED_TRACE(testing::PrintToString(row.path));
    // The updater: a list that names the file.
    const list::FileList read = list::ParseFileList(rt::ToBytes(row.path + "#1\r\n"), list::HashLines::kSkipped);
    const bool updater_lists = read.usable() && read.entries.size() == 1 && read.entries[0].path == row.path;
    // patchtool: a client folder that holds the file (and one plain file).
    const rt::Text client = "client" + std::to_string(walked++);
    Put(client + "\\plain.dat", B("x"));
    Put(client + "\\" + row.path, B("y"));
    const patchtool::ClientTree tree = patchtool::ReadClientTree(At(client));
    bool tool_lists = false;
    for (const patchtool::ClientFile& file : tree.files) tool_lists |= file.list_path == row.path;
    tool_lists &= tree.errors.empty();
    EXPECT_EQ(updater_lists, row.listed);
    EXPECT_EQ(tool_lists, row.listed) << (tree.errors.empty() ? "" : tree.errors[0]);
  }
}

}  // namespace

// The progress line of manifest, publish and verify: counts in the total's
// unit, the rate and the time left once a quarter second has passed.
TEST(Progress, TheLineSaysFilesBytesRateAndTimeLeft) {
  constexpr int64_t kMiB = 1 << 20;
  constexpr int64_t kGiB = int64_t{1} << 30;
  struct Case {
    patchtool::ProgressCounts counts;
    const char* line;
  } const cases[] = {
      {{0, 0, 0, 0, 0}, "x: 0/0 files, 0/0 B, -- MiB/s, -- left"},
      {{0, 3, 0, 1000, 5}, "x: 0/3 files, 0/1000 B, -- MiB/s, -- left"},
      {{1, 3, 500, 1000, 0.1}, "x: 1/3 files, 500/1000 B, -- MiB/s, -- left"},
      {{2, 3, 512 * 1024, 1024 * 1024, 1}, "x: 2/3 files, 0.5/1.0 MiB, 0.5 MiB/s, 1 s left"},
      {{120, 20000, 2 * kGiB, 45 * kGiB, 10}, "x: 120/20000 files, 2.0/45.0 GiB, 204.8 MiB/s, 3 min 35 s left"},
      // Past 4 GiB, and past 2^31 files' worth of bytes in 32 bits.
      {{1, 1, (int64_t{4} << 30) + 300 * kMiB, (int64_t{5} << 30), 60},
       "x: 1/1 files, 4.3/5.0 GiB, 73.3 MiB/s, 10 s left"},
      {{0, 1, kMiB, 100 * kGiB, 1}, "x: 0/1 files, 0.0/100.0 GiB, 1.0 MiB/s, 28 h 26 min left"},
      {{3, 3, 1000, 1000, 2}, "x: 3/3 files, 1000/1000 B, 0.0 MiB/s, 0 s left"},
      // Finished: the rate however short the work, and how long it took.
      {{3, 3, 100 * kMiB, 100 * kMiB, 0.05, true}, "x: 3/3 files, 100.0/100.0 MiB, 2000.0 MiB/s, done in 0 s"},
      {{3, 3, 3 * kGiB, 3 * kGiB, 95, true}, "x: 3/3 files, 3.0/3.0 GiB, 32.3 MiB/s, done in 1 min 35 s"},
      {{0, 0, 0, 0, 0, true}, "x: 0/0 files, 0/0 B, -- MiB/s, done"},
  };
  for (const Case& c : cases) EXPECT_EQ(patchtool::ProgressText("x", c.counts), c.line);
  EXPECT_EQ(patchtool::Duration(59.4), "59 s");
  EXPECT_EQ(patchtool::Duration(59.6), "1 min 0 s");
  EXPECT_EQ(patchtool::Duration(3600), "1 h 00 min");
  EXPECT_EQ(patchtool::Duration(-3), "0 s");
  EXPECT_EQ(patchtool::ByteAmount(5 * kGiB, 5 * kGiB), "5.0 GiB");
  EXPECT_EQ(patchtool::ByteAmount(kMiB, 5 * kGiB), "0.0 GiB");
  EXPECT_EQ(patchtool::ByteAmount(1023, 1023), "1023 B");
}

// Off a terminal the tool says nothing but its summary (the test's standard
// error is no terminal).
TEST_F(Patchtool, NoProgressOffATerminal) {
  ASSERT_FALSE(patchtool::ProgressShown());
  PutClient(this, "client");
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  ASSERT_EQ(RunCommand(patchtool::RunManifest, {"manifest", At("client"), "-o", At("list.txt")}), patchtool::kExitOk);
  ASSERT_EQ(RunCommand(patchtool::RunPublish, {"publish", At("client"), At("srv")}), patchtool::kExitOk);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(out.find('\r'), std::string::npos) << out;
}

namespace {

// delta and apply: the patch rebuilds the new file; whatever the applier
// cannot vouch for (a segment whose output misses its SHA-256, an old file
// changed under the patch, another output size) fails and leaves no output.
TEST_F(Patchtool, DeltaAndApplyRebuildOrLeaveNothing) {
  rt::Bytes old = Random(300000, 5);
  rt::Bytes fresh(old.begin() + 100000, old.end());
  const rt::Bytes inserted = Random(5000, 6);
  fresh.insert(fresh.begin() + 50000, inserted.begin(), inserted.end());
  fresh.insert(fresh.end(), old.begin(), old.begin() + 100000);
  Put("old.bin", old);
  Put("new.bin", fresh);
  ASSERT_EQ(RunCommand(&patchtool::RunDelta, {"delta", At("old.bin"), At("new.bin"), "-o", At("p.delta"),
                                              "--segment-bytes", "65536", "--level", "3"}),
            patchtool::kExitOk);
  const rt::Bytes patch = rt::ReadWholeFile(At("p.delta"));
  EXPECT_LT(patch.size(), 8000u);
  ASSERT_EQ(RunCommand(&patchtool::RunApply, {"apply", At("old.bin"), At("p.delta"), "-o", At("out.bin")}),
            patchtool::kExitOk);
  EXPECT_TRUE(rt::ReadWholeFile(At("out.bin")) == fresh);

  rt::Bytes bad_digest = patch;
  bad_digest[40 + 48 * 2 + 16] ^= 1;  // segment 2's SHA-256
  Put("bad.delta", bad_digest);
  rt::Bytes changed_old = old;
  changed_old[150000] ^= 1;
  Put("changed.bin", changed_old);
  const struct {
    const char* name;
    std::vector<rt::Text> args;
  } refusals[] = {
      {"segment hash", {"apply", At("old.bin"), At("bad.delta"), "-o", At("x.bin")}},
      {"old file changed", {"apply", At("changed.bin"), At("p.delta"), "-o", At("x.bin")}},
      {"other size", {"apply", At("old.bin"), At("p.delta"), "-o", At("x.bin"), "--size", "5"}},
      {"not a patch", {"apply", At("old.bin"), At("old.bin"), "-o", At("x.bin")}},
  };
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.name);
    EXPECT_EQ(RunCommand(&patchtool::RunApply, refusal.args), patchtool::kExitFailed);
    EXPECT_FALSE(rt::FileExists(At("x.bin")));
    EXPECT_FALSE(rt::FileExists(At("x.bin.writing")));
  }
}

}  // namespace
