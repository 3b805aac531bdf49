// The real Stowly.exe, started as a user or a shortcut would start it.
#include <gtest/gtest.h>

#include <string>

#include "tests/support.h"

namespace {

// A running copy of Stowly.exe, with its main window once that has appeared.
class RunningStowly {
 public:
  RunningStowly(const std::string& exe, const std::string& args, WORD show = SW_SHOWNORMAL)
      : process_("\"" + exe + "\" " + args, show) {
    for (int i = 0; i < 600 && process_.started() && !window_; ++i) {
      window_ = process_.MainWindow();
      if (!window_) Sleep(100);
    }
  }
  HWND window() const { return window_; }
  int ExitCode() { return process_.Wait(60000); }

 private:
  ChildProcess process_;
  HWND window_ = nullptr;
};

std::string CopyExeInto(const ScratchDir& dir) {
  std::string exe = dir / "Stowly.exe";
  CopyFileA(StowlyExePath().c_str(), exe.c_str(), FALSE);
  return exe;
}

}  // namespace

TEST(Exe, LocalModeLoadsAndStoresTheIniBesideTheExeAndClosesWithZero) {
  ScratchDir dir;
  std::string exe = CopyExeInto(dir);
  ASSERT_TRUE(WriteFileText(dir / "Stowly.ini",
                            "[Main Settings]\r\nDestinationFolder=E:\\Backup\\\r\nNumDirs=1\r\n"
                            "SourceFolder1=C:\\Data\\\r\n"));
  // Started minimised, as from a shortcut: only the S switch minimises it.
  RunningStowly stowly(exe, "/L", SW_SHOWMINNOACTIVE);
  HWND main = stowly.window();
  ASSERT_TRUE(main) << "the main window never appeared";
  EXPECT_FALSE(IsIconic(main));
  char text[64] = {};
  // WM_GETTEXT, since GetWindowTextA does not ask another process's edit box.
  SendMessageA(GetDlgItem(main, 1010), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, "E:\\Backup\\");
  EXPECT_EQ(SendMessageA(GetDlgItem(main, 1001), LB_GETCOUNT, 0, 0), 1);

  SendMessageA(GetDlgItem(main, 1009), BM_CLICK, 0, 0);
  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(stowly.ExitCode(), 0);
  EXPECT_NE(ReadFileText(dir / "Stowly.ini").find("LogFile=0"), std::string::npos);
}

TEST(Exe, CloseButtonTitleBarAndASecondCopyAllEndWithZero) {
  ScratchDir dir;
  std::string exe = CopyExeInto(dir);
  RunningStowly first(exe, "-l");
  RunningStowly second(exe, "/LOG");
  ASSERT_TRUE(first.window());
  ASSERT_TRUE(second.window());
  EXPECT_NE(first.window(), second.window()) << "no single-instance guard";
  PostMessageA(first.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
  PostMessageA(GetDlgItem(second.window(), IDCANCEL), BM_CLICK, 0, 0);
  EXPECT_EQ(first.ExitCode(), 0);
  EXPECT_EQ(second.ExitCode(), 0);
  EXPECT_FALSE(Exists(dir / "Stowly.ini")) << "nothing is written unless a setting changes";
}
