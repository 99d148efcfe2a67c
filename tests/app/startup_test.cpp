#include <gtest/gtest.h>

#include "app/program_start.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "tests/support/temp_folder.h"

using namespace app;

namespace {

struct Started {
  std::vector<rt::Text> command_lines;
  int windows_loaded = 0;
};

StartRole Start(const rt::TextArray& args, const rt::Text& dir, const rt::Text& exe, Globals& g, Started& s) {
  return ProgramStart(
      args, dir, exe, g,
      [&s](const rt::Text& line) {
        s.command_lines.push_back(line);
        return true;
      },
      [&s] { ++s.windows_loaded; });
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
    Globals g;
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
    EXPECT_TRUE(g.GameTitle.empty());
  }
}

TEST(Startup, UpdaterRoleFillsTheSettingsAndLoadsTheWindow) {
  Globals g;
  Started s;
  EXPECT_EQ(Start({"gxin", "game launcher.exe", "ignored"}, "C:", "update.dat", g, s), StartRole::kUpdater);
  EXPECT_EQ(g.RestartProgramName, "game launcher.exe");
  EXPECT_EQ(g.GameTitle, "Zethra测试版");
  EXPECT_EQ(g.Site.PatchFolderNumber(), 528);
  EXPECT_EQ(g.Site.ServerBaseUrl(), "http://127.0.0.1:8088/");
  EXPECT_EQ(g.Site.LocalBaseFolder(), "C:\\");
  EXPECT_EQ(s.windows_loaded, 1);
  EXPECT_TRUE(s.command_lines.empty());
}

TEST(Startup, AWrongMarkerEndsWithoutAWindow) {
  for (const rt::TextArray& args : {rt::TextArray{"GXIN", "a.exe"}, rt::TextArray{"gxin2", "a.exe", "b"},
                                    rt::TextArray{"", "a.exe"}}) {
    Globals g;
    Started s;
    EXPECT_EQ(Start(args, "unused", "x.exe", g, s), StartRole::kWrongMarker) << args[0];
    EXPECT_EQ(s.windows_loaded, 0);
    EXPECT_TRUE(s.command_lines.empty());
    EXPECT_TRUE(g.RestartProgramName.empty());
  }
}
