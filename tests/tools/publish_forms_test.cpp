// publish's compressed copies: written under their content's name, never
// overwritten, kept while their file is unchanged, left out when they save
// under 5 %, and named in the list, signed or not.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "codec/zstd_decoder.h"
#include "list/file_list.h"
#include "list/layout.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "tests/support/temp_folder.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/compressed_copy.h"
#include "trust/list_keys.h"
#include "trust/sha256.h"
#include "trust/signed_list.h"

namespace {

rt::Bytes Text(size_t size, int seed) {
  std::string text;
  for (size_t i = 0; text.size() < size; ++i) text += "record " + std::to_string((i * seed) % 1013) + " of a file\n";
  text.resize(size);
  return rt::Bytes(text.begin(), text.end());
}

rt::Bytes Noise(size_t size) {
  std::mt19937 random(7);
  rt::Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

int RunTool(int (*command)(int, char**), std::vector<rt::Text> args) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return command(static_cast<int>(args.size()), argv.data());
}

// What a copy decodes to, through the updater's decoder.
rt::Bytes Decoded(const rt::Bytes& form, int64_t size) {
  codec::ZstdDecoder decoder(size);
  rt::Bytes out(static_cast<size_t>(size));
  codec::InBuffer in{form.data(), form.size(), 0};
  codec::OutBuffer room{out.data(), out.size(), 0};
  if (decoder.Decode(&in, &room) != codec::ZstdFault::kNone || decoder.Finish() != codec::ZstdFault::kNone) return {};
  return out;
}

class PublishForms : public ::testing::Test {
 protected:
  rt::Text At(const rt::Text& relative) const { return folder_.path() + "/" + relative; }
  void Put(const rt::Text& name, const rt::Bytes& content) {
    rt::CreateFolderTree(At("client"));
    ASSERT_TRUE(rt::WriteWholeFile(At("client/" + name), content));
  }
  int Publish(std::vector<rt::Text> extra = {}) {
    std::vector<rt::Text> args = {"publish", At("client"), At("srv")};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTool(patchtool::RunPublish, args);
  }
  // The list's entries (read as signed when `signed_list`), by path.
  list::FileList Listed(bool signed_list) {
    const rt::Bytes bytes = trust::StripSignatureLines(rt::ReadWholeFile(At("srv/patch/528/filelist.txt")));
    return list::ParseFileList(bytes, signed_list ? list::HashLines::kRequired : list::HashLines::kSkipped);
  }
  std::vector<list::FormLine> FormsOf(const rt::Text& path, bool signed_list = false) {
    for (const list::PatchEntry& entry : Listed(signed_list).entries)
      if (entry.path == path) return entry.forms;
    ADD_FAILURE() << "no entry " << path;
    return {};
  }
  std::vector<std::string> FormFiles() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(At("srv/patch/forms")))
      names.push_back(entry.path().filename().string());
    return names;
  }
  // Checks a copy on the server against its line and the file it stands for.
  void ExpectCopy(const list::FormLine& form, const rt::Bytes& content) {
    const rt::Bytes bytes = rt::ReadWholeFile(At("srv/" + form.name));
    const trust::Sha256Digest hash = trust::Sha256Of(bytes.data(), bytes.size());
    EXPECT_EQ(form.kind, list::FormKind::kZstd);
    EXPECT_EQ(form.name, list::kFormsFolder + list::Sha256Hex(hash) + list::kZstdFormSuffix);
    EXPECT_EQ(form.sha256, hash);
    EXPECT_EQ(form.size, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(form.output_size, static_cast<int64_t>(content.size()));
    EXPECT_LE(form.size * 100, form.output_size * 95);
    EXPECT_TRUE(Decoded(bytes, form.output_size) == content);
  }

  testsupport::TempFolder folder_{"publish_forms"};
};

TEST_F(PublishForms, CopiesAreNamedByContentAndNeverOverwritten) {
  const rt::Bytes first = Text(200000, 3), second = Text(150000, 5);
  Put("big.txt", first);
  Put("noise.bin", Noise(70000));                // saves nothing
  Put("small.txt", Text(patchtool::kMinCompressedFileSize - 1, 3));  // below the size for a copy
  testing::internal::CaptureStdout();
  ASSERT_EQ(Publish(), patchtool::kExitOk);
  std::vector<list::FormLine> forms = FormsOf("big.txt");
  ASSERT_EQ(forms.size(), 1u);
  ExpectCopy(forms[0], first);
  const list::FormLine first_form = forms[0];
  EXPECT_TRUE(FormsOf("noise.bin").empty());
  EXPECT_TRUE(FormsOf("small.txt").empty());
  EXPECT_EQ(FormFiles().size(), 1u);  // nothing half-written left

  // Unchanged files keep their copies; a changed one gets a new name beside
  // the old, which a client holding the old list still finds.
  const auto old_time = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 365);
  std::filesystem::last_write_time(At("srv/" + first_form.name), old_time);
  ASSERT_EQ(Publish(), patchtool::kExitOk);
  EXPECT_TRUE(FormsOf("big.txt") == std::vector<list::FormLine>{first_form});
  Put("big.txt", second);
  ASSERT_EQ(Publish(), patchtool::kExitOk);
  forms = FormsOf("big.txt");
  ASSERT_EQ(forms.size(), 1u);
  ExpectCopy(forms[0], second);
  EXPECT_NE(forms[0].name, first_form.name);
  EXPECT_EQ(FormFiles().size(), 2u);
  // Back to the first content: the same copy, its file left as it was.
  Put("big.txt", first);
  ASSERT_EQ(Publish(), patchtool::kExitOk);
  EXPECT_TRUE(FormsOf("big.txt") == std::vector<list::FormLine>{first_form});
  EXPECT_EQ(std::filesystem::last_write_time(At("srv/" + first_form.name)), old_time);
  // A copy gone from the server is made again; the list never names one
  // that is not there.
  rt::RemoveFile(At("srv/" + first_form.name));
  ASSERT_EQ(Publish(), patchtool::kExitOk);
  EXPECT_TRUE(FormsOf("big.txt") == std::vector<list::FormLine>{first_form});
  EXPECT_TRUE(rt::FileExists(At("srv/" + first_form.name)));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("compressed big.txt: 195.3 KiB to "), std::string::npos) << out;
  EXPECT_NE(out.find("no compressed copy of noise.bin: it would save under 5%"), std::string::npos) << out;
}

TEST_F(PublishForms, SignedListsNameTheCopyAfterTheHashLine) {
  const rt::Bytes content = Text(100000, 11);
  Put("a.txt", content);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  ASSERT_EQ(RunTool(patchtool::RunKeygen, {"keygen", At("list.key")}), patchtool::kExitOk);
  ASSERT_EQ(Publish({"--sign", At("list.key")}), patchtool::kExitOk);
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  const auto secret = trust::ParseSecretKeyFile(rt::ReadWholeFile(At("list.key")));
  ASSERT_TRUE(secret);
  const rt::Bytes list = rt::ReadWholeFile(At("srv/patch/528/filelist.txt"));
  EXPECT_EQ(trust::CheckSignedList(list, trust::PublicKeyOf(*secret), 0).verdict, trust::ListVerdict::kAccepted);
  const std::vector<list::FormLine> forms = FormsOf("a.txt", true);
  ASSERT_EQ(forms.size(), 1u);
  ExpectCopy(forms[0], content);
  const rt::Text text = rt::ToText(list);
  EXPECT_LT(text.find("#sha256#"), text.find("#form#zstd#100000#"));
}

}  // namespace
