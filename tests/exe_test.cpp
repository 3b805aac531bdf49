// The real Stowly.exe end to end: started as a user or a shortcut starts it, and run the
// way a scheduled task runs it (/S /L, settings beside it, no one at the keyboard).
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support.h"

namespace {

// Runs the exe and waits up to the time; -1 when it has not ended (it is then killed).
int RunExe(const std::string& commandLine, DWORD milliseconds) {
  ChildProcess child(commandLine);
  return child.started() ? child.Wait(milliseconds) : -2;
}

class SilentMode : public ::testing::Test {
 protected:
  std::string Install(const Config& config) {
    return InstallStowly(dir / "app\\", IniText(config)) + " /S /L";
  }
  ScratchDir dir;
};

TEST_F(SilentMode, BacksUpWithoutAPromptLogsEveryStepAndExits) {
  std::string src = dir / "data\\", dst = dir / "usb\\";
  const Files source = {{"a.txt", "alpha"},
                        {"sub\\b.txt", std::string(300000, 'b')},
                        {"sub\\deeper\\c.txt", "charlie"},
                        {"h.txt", "hidden"}};
  MakeFiles(src, source);
  SetFileAttributesA((src + "h.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  std::string copy = CopyOf(dst, src);
  MakeFiles(copy, {{"stale.txt", "from an earlier backup"}});

  // A prompt would wait for a user who is not there, and the run would time out.
  EXPECT_EQ(RunExe(Install({dst, {src}, 1, 0, 1}), 180000), 0);

  EXPECT_EQ(ReadTree(copy), source);
  EXPECT_FALSE(Exists(dst + "Stowly.Test"));
  std::vector<std::string> texts = LogTexts(dst + "Stowly.log");
  ASSERT_EQ(texts.size(), 15u);
  std::string subtree = copy.substr(0, copy.size() - 1);
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 8),
            (std::vector<std::string>{
                "Silent Mode - Begin Automatically",
                "Backup Mode = Full Mirror, leaving Archive Bit alone on backed up files",
                "Checking Destination Folder...",
                "  Deleting " + subtree,
                "  ...Ok",
                "Getting list of files from source...",
                "  ...4 files found",
                "Copying Files...",
            }));
  std::set<std::string> numbers, copied, expected;
  for (const std::string& t : CopyingLines(texts)) {
    size_t at = t.find("   Copying ");
    numbers.insert(t.substr(0, at));
    copied.insert(t.substr(at));
  }
  for (const auto& [name, content] : source)
    expected.insert("   Copying " + src + name + " -> " + copy + name);
  EXPECT_EQ(numbers, (std::set<std::string>{"  1", "  2", "  3", "  4"}));
  EXPECT_EQ(copied, expected);
  EXPECT_EQ(
      std::vector<std::string>(texts.end() - 3, texts.end()),
      (std::vector<std::string>{"  ...4 of 4 Files copied - 0 Files skipped",
                                "FINISHED!  Backup is complete.", "Silent Mode - Close Program"}));
}

TEST_F(SilentMode, ClosingTheWindowMidCopyEndsCleanlyAsCancelled) {
  std::string src = dir / "data\\", dst = dir / "usb\\";
  const std::string big = BigContent(64u << 20);
  MakeFiles(src + "1big\\", {{"big.bin", big}});
  Files many = ManyFiles(300);
  MakeFiles(src + "2many\\", many);
  MakeFiles(dst, {});
  std::string copy = CopyOf(dst, src);

  ChildProcess stowly(Install({dst, {src + "1big\\", src + "2many\\"}, 1, 0, 1}));
  ASSERT_TRUE(stowly.started());
  // Close the window once copying has begun: the big file, listed first, is being written.
  HWND window = nullptr;
  for (int i = 0; i < 12000 && stowly.Running(); ++i) {
    window = stowly.MainWindow();
    if (window && Exists(copy + "1big\\big.bin")) break;
    Sleep(5);
  }
  ASSERT_TRUE(window) << "the main window never appeared";
  PostMessageA(window, WM_CLOSE, 0, 0);
  ASSERT_EQ(stowly.Wait(180000), 2) << "a cancelled run exits with 2";

  EXPECT_EQ(ReadFileText(copy + "1big\\big.bin") == big, true)
      << "the file being copied when the window closed must be complete";
  Files copies = ReadTree(copy + "2many\\");
  for (const auto& [name, content] : copies) EXPECT_EQ(content, many[name]) << name;
  EXPECT_LT(copies.size(), 300u) << "the close cancelled the copying";

  std::vector<std::string> texts = LogTexts(dst + "Stowly.log");
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts.back(), "Silent Mode - Close Program");
  EXPECT_EQ(texts[texts.size() - 2],
            "CANCELED!  (" + std::to_string(copies.size() + 1) + " out of 301 Files Copied)");
  EXPECT_EQ(CopyingLines(texts).size(), copies.size() + 1);
}

// A running copy of Stowly.exe, with its main window once that has appeared.
class RunningStowly {
 public:
  RunningStowly(const std::string& exe, const std::string& args, WORD show = SW_SHOWNORMAL)
      : process_(exe + " " + args, show) {
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

// Long enough for a small backup under Wine; a run that waits for a person never ends.
constexpr DWORD kRunLimitMs = 20000;

char FreeDriveLetter() {
  for (char letter = 'Y'; letter > 'D'; --letter)
    if (GetDriveTypeA((std::string(1, letter) + ":\\").c_str()) == DRIVE_NO_ROOT_DIR) return letter;
  return 0;
}

struct Scene {
  std::string ini;  // the settings file's text
  std::string log;  // where the run's log goes, "" when no log can be written
  std::vector<std::shared_ptr<void>> held;  // locks and drive letters kept during the run
};

TEST(ExitCode, SilentRunsAlwaysEndAndTellWhatHappened) {
  struct Case {
    const char* name;
    std::function<Scene(const ScratchDir& dir, const std::string& src)> make;
    int exitCode;
  };
  const Case cases[] = {
      {"a source file locked by another program is skipped",
       [](auto& dir, auto& src) {
         MakeFiles(dir / "usb\\", {});
         auto lock = std::make_shared<Locked>(src + "b.txt");
         return Scene{IniText({dir / "usb\\", {src}}), dir / "usb\\Stowly.log", {lock}};
       },
       1},
      {"destination folder missing",
       [](auto& dir, auto& src) {
         return Scene{IniText({dir / "none\\", {src}}), "", {}};
       },
       3},
      {"destination is a file",
       [](auto& dir, auto& src) {
         WriteFileText(dir / "file", "a file");
         return Scene{IniText({dir / "file\\", {src}}), "", {}};
       },
       3},
      {"destination drive does not exist",
       [](auto&, auto& src) {
         return Scene{IniText({std::string(1, FreeDriveLetter()) + ":\\Backup\\", {src}}), "", {}};
       },
       3},
      {"NumDirs=-1",
       [](auto& dir, auto& src) {
         MakeFiles(dir / "usb\\", {});
         std::string ini = IniText({dir / "usb\\", {}});
         ini.replace(ini.find("NumDirs=0"), 9, "NumDirs=-1\r\nSourceFolder1=" + src);
         return Scene{ini, dir / "usb\\Stowly.log", {}};
       },
       3},
      {"no destination folder",
       [](auto&, auto& src) {
         return Scene{IniText({"", {src}}), "", {}};
       },
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string src = dir / "data\\";
    MakeFiles(src, {{"a.txt", "alpha"}, {"b.txt", "bravo"}});
    Scene scene = c.make(dir, src);
    std::string exe = InstallStowly(dir / "app\\", scene.ini);

    // A bare log name lands in the current folder; keep it in the scratch folder.
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, cwd);
    SetCurrentDirectoryA(dir.path().c_str());
    int code = RunExe(exe + " /S /L", kRunLimitMs);
    SetCurrentDirectoryA(cwd);
    EXPECT_NE(code, -1) << "the silent run did not end: it waits for a person";
    EXPECT_EQ(code, c.exitCode);
    if (scene.log.empty()) continue;
    std::vector<std::string> texts = LogTexts(scene.log);
    EXPECT_EQ(texts.empty() ? std::string() : texts.back(), "Silent Mode - Close Program");
  }
}

}  // namespace

TEST(Exe, LocalModeLoadsAndStoresTheIniBesideTheExeAndClosesWithZero) {
  ScratchDir dir;
  std::string exe = InstallStowly(dir.path(), "");
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
  std::string exe = InstallStowly(dir.path(), "");
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
