// The real Stowly.exe, started as a user or a shortcut would start it.
#include <gtest/gtest.h>

#include <string>

#include "tests/support.h"

namespace {

// A running copy of Stowly.exe on this test program's desktop, so its windows can be found.
class RunningStowly {
 public:
  RunningStowly(const std::string& exe, const std::string& args, WORD show = SW_SHOWNORMAL) {
    char desktop[256] = {};
    GetUserObjectInformationA(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desktop,
                              sizeof desktop, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;
    std::string line = "\"" + exe + "\" " + args;
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process_))
      window_ = WaitForMainWindow();
  }
  ~RunningStowly() {
    if (process_.hProcess) {
      if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(process_.hProcess, 99);
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
  }
  HWND window() const { return window_; }
  // Waits for the process to end; its exit code, or -1 when it did not end in time.
  int ExitCode() {
    if (WaitForSingleObject(process_.hProcess, 60000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<int>(code);
  }

 private:
  HWND WaitForMainWindow() {
    for (int i = 0; i < 600; ++i) {
      struct Search {
        DWORD pid;
        HWND found;
      } search = {process_.dwProcessId, nullptr};
      EnumDesktopWindows(
          GetThreadDesktop(GetCurrentThreadId()),
          [](HWND h, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            char cls[64] = {};
            GetClassNameA(h, cls, sizeof cls);
            // Visible only once its creation, settings included, is complete.
            if (pid == s->pid && std::string(cls) == "FORM_STOWLY_FORM1_CLASS" &&
                IsWindowVisible(h))
              s->found = h;
            return s->found == nullptr;
          },
          reinterpret_cast<LPARAM>(&search));
      if (search.found) return search.found;
      Sleep(100);
    }
    return nullptr;
  }
  PROCESS_INFORMATION process_ = {};
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
