#include <gtest/gtest.h>

#include "app/disk_full.h"
#include "app/flow.h"
#include "app/start/program_start.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "runtime/system_error.h"
#include "tests/support/temp_folder.h"

using namespace app;

namespace {

struct Started {
  std::vector<rt::Text> command_lines;
  int windows_loaded = 0;
  std::vector<rt::Text> messages;  // "caption|text|flags"
  std::vector<rt::Text> log;
};

StartSteps Steps(Started& s) {
  StartSteps steps;
  steps.run_program = [&s](const rt::Text& line) {
    s.command_lines.push_back(line);
    return true;
  };
  steps.load_window = [&s] { ++s.windows_loaded; };
  steps.copy_file = rt::CopyFile;
  steps.free_disk_space = [](const rt::Text&) { return int64_t{1} << 40; };
  steps.show_message = [&s](const rt::Text& text, uint32_t flags, const rt::Text& caption) {
    s.messages.push_back(caption + "|" + text + "|" + std::to_string(flags));
    return 0;
  };
  steps.log = [&s](const rt::Text& line) { s.log.push_back(line); };
  return steps;
}

StartRole Start(const rt::TextArray& args, const rt::Text& dir, const rt::Text& exe, SharedState& g, Started& s) {
  g.Client = ClientFolder(dir);
  return ProgramStart(args, exe, g, Steps(s));
}

}  // namespace

TEST(Startup, LauncherRewritesTheCopyAndStartsItQuoted) {
  // A folder with blanks and Chinese characters, inside one removed afterwards.
  const testsupport::TempFolder root("startup");
  const rt::Text dir = root.path() + "\\startup 游戏 目录";
  const rt::Text exe = "启动 器.exe";
  rt::CreateFolderTree(dir);
  ASSERT_TRUE(rt::WriteWholeFile(dir + "\\" + exe, rt::ToBytes(rt::Text("launcher image"))));
  ASSERT_TRUE(rt::WriteWholeFile(dir + "\\update.dat", rt::ToBytes(rt::Text("stale copy"))));

  for (const rt::TextArray& args : {rt::TextArray{}, rt::TextArray{"gxin"}, rt::TextArray{"other"}}) {
    SharedState g;
    Started s;
    EXPECT_EQ(Start(args, dir, exe, g, s), StartRole::kLauncher);
    EXPECT_EQ(rt::ReadWholeFile(dir + "\\update.dat"), rt::ToBytes(rt::Text("launcher image")));
    ASSERT_EQ(s.command_lines.size(), 1u);
    // The updater's own splitting must recover the marker and the full name
    // even though the folder and the name hold blanks.
    rt::TextArray seen = rt::SplitCommandLine(s.command_lines[0]);
    EXPECT_EQ(seen, (rt::TextArray{"gxin", exe}));
    EXPECT_EQ(s.command_lines[0], "\"" + dir + "\\update.dat\" gxin \"" + exe + "\"");
    EXPECT_EQ(s.windows_loaded, 0);
    EXPECT_TRUE(s.messages.empty());
    EXPECT_TRUE(g.GameTitle.empty());
  }
}

// A client copied from a disc or an archive: a read-only (or hidden)
// launcher, and the update.dat an earlier start made from it with the same
// attributes. Every start rewrites the copy and starts it, and the copy is
// never read-only, so the next start can replace it.
TEST(Startup, AReadOnlyOrHiddenUpdateDatIsReplaced) {
  const testsupport::TempFolder root("startup");
  const rt::Text exe = "launcher.exe";
  for (const uint32_t attributes : {rt::kAttrReadOnly, rt::kAttrHidden, rt::kAttrReadOnly | rt::kAttrHidden}) {
    const rt::Text dir = root.path() + "\\attributes " + rt::ToText(static_cast<int32_t>(attributes));
    rt::CreateFolderTree(dir);
    ASSERT_TRUE(rt::WriteWholeFile(dir + "\\" + exe, rt::ToBytes(rt::Text("launcher image"))));
    ASSERT_TRUE(rt::WriteWholeFile(dir + "\\update.dat", rt::ToBytes(rt::Text("copy of an earlier start"))));
    ASSERT_TRUE(rt::SetFileAttributes(dir + "\\" + exe, attributes));
    ASSERT_TRUE(rt::SetFileAttributes(dir + "\\update.dat", attributes));
    for (int start = 1; start <= 2; ++start) {
      SharedState g;
      Started s;
      EXPECT_EQ(Start({}, dir, exe, g, s), StartRole::kLauncher) << attributes << " start " << start;
      EXPECT_EQ(rt::ReadWholeFile(dir + "\\update.dat"), rt::ToBytes(rt::Text("launcher image"))) << attributes;
      EXPECT_EQ(s.command_lines.size(), 1u) << attributes;
      EXPECT_TRUE(s.messages.empty()) << attributes;
      EXPECT_EQ(rt::GetFileAttributes(dir + "\\update.dat") & rt::kAttrReadOnly, 0u) << attributes;
    }
    rt::SetFileAttributes(dir + "\\" + exe, 0);  // so the scratch folder can go
  }
}

#ifdef _WIN32
constexpr uint32_t kDiskFullError = 112;  // ERROR_DISK_FULL
constexpr uint32_t kDeniedError = 5;      // ERROR_ACCESS_DENIED
constexpr uint32_t kInUseError = 32;      // ERROR_SHARING_VIOLATION
#else
constexpr uint32_t kDiskFullError = ENOSPC;
constexpr uint32_t kDeniedError = EACCES;
constexpr uint32_t kInUseError = EBUSY;
#endif

// A copy that is not whole never runs: it goes, and a message box says
// whether the disk is full (with the room still needed when known) or the
// copy failed otherwise.
TEST(Startup, ACopyThatIsNotWholeNeverRuns) {
  const rt::Text image = "launcher image, 32 bytes long...";
  const int64_t kNeeded = static_cast<int64_t>(image.size());
  struct Case {
    const char* what;
    bool copy_reports_success;
    rt::Text written;  // what the copy leaves in update.dat
    uint32_t error;    // the system's error after a failed copy
    int64_t free;      // free room after the broken copy is gone
    rt::Text text;
  } const cases[] = {
      {"disk full, said by the system", false, image.substr(0, 10), kDiskFullError, 12,
       DiskFullText(kNeeded - 12)},
      {"cut short, told by the room left", true, image.substr(0, 10), 0, 20, DiskFullText(kNeeded - 20)},
      {"disk full, room unknown", false, "", kDiskFullError, -1, kTextDiskFull},
      {"the same size, other bytes", true, rt::Text(image.size(), 'x'), 0, int64_t{1} << 40, kTextCopyFailed},
      {"refused for another reason", false, "", kDeniedError, int64_t{1} << 40, kTextCopyFailed},
      {"cut short, room unknown", true, image.substr(0, 10), 0, -1, kTextCopyFailed},
  };
  const testsupport::TempFolder dir("startup copy");
  const rt::Text exe = "启动 器.exe";
  ASSERT_TRUE(rt::WriteWholeFile(dir.path() + "\\" + exe, rt::ToBytes(image)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SharedState g;
    Started s;
    StartSteps steps = Steps(s);
    steps.copy_file = [&c](const rt::Text&, const rt::Text& to) {
      if (!c.written.empty()) {
        EXPECT_TRUE(rt::WriteWholeFile(to, rt::ToBytes(c.written)));
      }
      rt::SetLastSystemError(c.error);
      return c.copy_reports_success;
    };
    steps.free_disk_space = [&c](const rt::Text&) { return c.free; };
    g.Client = ClientFolder(dir.path());
    EXPECT_EQ(ProgramStart({}, exe, g, steps), StartRole::kCopyFailed);
    EXPECT_TRUE(s.command_lines.empty());
    EXPECT_FALSE(rt::FileExists(dir.path() + "\\update.dat"));
    ASSERT_EQ(s.messages.size(), 1u);
    EXPECT_EQ(s.messages[0], rt::Text(kCaptionError) + "|" + c.text + "|16");
    ASSERT_EQ(s.log.size(), 1u);
    EXPECT_EQ(s.log[0].find("launcher: "), 0u) << s.log[0];
  }
}

// update.dat held open by the updater that runs from it (a second launcher
// started at once): it can be neither removed nor rewritten, and it is whole
// since it runs; it is started as it is, as before.
TEST(Startup, AnUpdateDatInUseIsStartedAsItIs) {
  const testsupport::TempFolder dir("startup in use");
  const rt::Text exe = "launcher.exe";
  const rt::Text copy = dir.path() + "\\update.dat";
  ASSERT_TRUE(rt::WriteWholeFile(dir.path() + "\\" + exe, rt::ToBytes(rt::Text("new launcher image"))));
  ASSERT_TRUE(rt::WriteWholeFile(copy, rt::ToBytes(rt::Text("running"))));
  SharedState g;
  Started s;
  {
    const rt::OpenedFile running(rt::OpenFile(copy, rt::kModeRead, rt::kShareExclusive));
    ASSERT_TRUE(running);
    g.Client = ClientFolder(dir.path());
    EXPECT_EQ(ProgramStart({}, exe, g, Steps(s)), StartRole::kLauncher);
  }
  EXPECT_EQ(s.command_lines, std::vector<rt::Text>{RelaunchCommandLine(ClientFolder(dir.path()), exe)});
  EXPECT_TRUE(s.messages.empty());
  EXPECT_EQ(rt::ReadWholeFile(copy), rt::ToBytes(rt::Text("running")));

  // The same error with no update.dat left: nothing to start, the copy failed.
  ASSERT_TRUE(rt::RemoveFile(copy));
  Started failed;
  StartSteps steps = Steps(failed);
  steps.copy_file = [](const rt::Text&, const rt::Text&) {
    rt::SetLastSystemError(kInUseError);
    return false;
  };
  g.Client = ClientFolder(dir.path());
  EXPECT_EQ(ProgramStart({}, exe, g, steps), StartRole::kCopyFailed);
  EXPECT_TRUE(failed.command_lines.empty());
  EXPECT_EQ(failed.messages.size(), 1u);
}

// update.dat started without arguments is the launcher itself: nothing to
// copy, it starts itself as the updater.
TEST(Startup, TheCopyStartedAsALauncherStartsItself) {
  const testsupport::TempFolder dir("startup self");
  ASSERT_TRUE(rt::WriteWholeFile(dir.path() + "\\update.dat", rt::ToBytes(rt::Text("launcher image"))));
  SharedState g;
  Started s;
  StartSteps steps = Steps(s);
  int copies = 0;
  steps.copy_file = [&copies](const rt::Text&, const rt::Text&) {
    ++copies;
    return false;
  };
  g.Client = ClientFolder(dir.path());
  EXPECT_EQ(ProgramStart({}, "update.dat", g, steps), StartRole::kLauncher);
  EXPECT_EQ(copies, 0);
  EXPECT_EQ(s.command_lines, std::vector<rt::Text>{RelaunchCommandLine(ClientFolder(dir.path()), "update.dat")});
  EXPECT_EQ(rt::ReadWholeFile(dir.path() + "\\update.dat"), rt::ToBytes(rt::Text("launcher image")));
  EXPECT_TRUE(s.messages.empty());
}

TEST(Startup, UpdaterRoleFillsTheSettingsAndLoadsTheWindow) {
  SharedState g;
  Started s;
  EXPECT_EQ(Start({"gxin", "game launcher.exe", "ignored"}, "C:", "update.dat", g, s), StartRole::kUpdater);
  EXPECT_EQ(g.RestartProgramName, "game launcher.exe");
  EXPECT_EQ(g.GameTitle, "Zethra测试版");
  EXPECT_EQ(g.Site.PatchFolderNumber(), 528);
  EXPECT_EQ(g.Site.MirrorText(g.Site.ListMirror()), "http://127.0.0.1:8088/");
  // A drive's root: its files are "C:\\name", as the system spells them.
  EXPECT_EQ(g.Client.Path("update.log"), "C:\\update.log");
  EXPECT_EQ(s.windows_loaded, 1);
  EXPECT_TRUE(s.command_lines.empty());
}

TEST(Startup, AWrongMarkerEndsWithoutAWindow) {
  for (const rt::TextArray& args : {rt::TextArray{"GXIN", "a.exe"}, rt::TextArray{"gxin2", "a.exe", "b"},
                                    rt::TextArray{"", "a.exe"}}) {
    SharedState g;
    Started s;
    EXPECT_EQ(Start(args, "unused", "x.exe", g, s), StartRole::kWrongMarker) << args[0];
    EXPECT_EQ(s.windows_loaded, 0);
    EXPECT_TRUE(s.command_lines.empty());
    EXPECT_TRUE(g.RestartProgramName.empty());
  }
}

// /verify on the launcher reaches the updater after the launcher's name; the
// command line without it stays as it was.
TEST(Startup, VerifyPassesFromTheLauncherToTheUpdater) {
  const testsupport::TempFolder root("startup verify");
  const rt::Text dir = root.path() + "\\游戏 目录";
  const rt::Text exe = "启动 器.exe";
  rt::CreateFolderTree(dir);
  ASSERT_TRUE(rt::WriteWholeFile(dir + "\\" + exe, rt::ToBytes(rt::Text("launcher image"))));
  const rt::Text plain = "\"" + dir + "\\update.dat\" gxin \"" + exe + "\"";
  struct Launch {
    rt::TextArray args;
    rt::Text command_line;
  } const launches[] = {
      {{"/verify"}, plain + " /verify"},
      {{"/VERIFY"}, plain + " /verify"},
      {{}, plain},
      {{"verify"}, plain},
      {{"/verify2"}, plain},
      {{"gxin"}, plain},
  };
  for (const Launch& l : launches) {
    SharedState g;
    Started s;
    ASSERT_EQ(Start(l.args, dir, exe, g, s), StartRole::kLauncher);
    ASSERT_EQ(s.command_lines.size(), 1u);
    EXPECT_EQ(s.command_lines[0], l.command_line) << (l.args.empty() ? "" : l.args[0]);
    // What the updater's own splitting makes of it.
    const rt::TextArray seen = rt::SplitCommandLine(s.command_lines[0]);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[1], exe);
  }

  struct Updater {
    rt::TextArray args;
    bool full_check;
  } const updaters[] = {
      {{"gxin", "/verify"}, false},  // the launcher's name, not the switch
      {{"gxin", exe}, false},
      {{"gxin", exe, "/verify"}, true},
      {{"gxin", exe, "/Verify"}, true},
      {{"gxin", exe, "extra", "/verify"}, true},
      {{"gxin", exe, "/verify:all"}, false},
  };
  for (const Updater& u : updaters) {
    SharedState g;
    Started s;
    ASSERT_EQ(Start(u.args, dir, "update.dat", g, s), StartRole::kUpdater);
    EXPECT_EQ(g.FullCheck, u.full_check) << u.args.back();
    EXPECT_TRUE(g.UseChecksumCache);  // the build's default
  }
}
