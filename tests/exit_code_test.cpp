// The real Stowly.exe run as a scheduled task runs it (/S /L, settings beside it, nobody at
// the keyboard): it always ends, and its exit code says how the backup went.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/backup_helpers.h"
#include "tests/drive_letter.h"
#include "tests/support.h"

namespace {

// Long enough for a small backup under Wine; a run that waits for a person never ends.
constexpr DWORD kRunLimitMs = 20000;

char FreeDriveLetter() {
  for (char letter = 'Y'; letter > 'D'; --letter)
    if (GetDriveTypeA((std::string(1, letter) + ":\\").c_str()) == DRIVE_NO_ROOT_DIR) return letter;
  return 0;
}

// Holds a file open with share mode 0, as a program that has it open exclusively does.
struct Locked {
  explicit Locked(const std::string& path)
      : h(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~Locked() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  HANDLE h;
};

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
      {"finished clean",
       [](auto& dir, auto& src) {
         MakeFiles(dir / "usb\\", {});
         return Scene{IniText({dir / "usb\\", {src}}), dir / "usb\\Stowly.log", {}};
       },
       0},
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
      {"destination is the source's drive root",
       [](auto& dir, auto&) {
         MakeFiles(dir / "drive\\", {{"data\\a.txt", "a"}});
         auto drive = std::make_shared<DriveLetter>('V', dir / "drive\\");
         // The destination overlaps a source, so no log is written there.
         return Scene{IniText({drive->root(), {drive->root() + "data\\"}}), "", {drive}};
       },
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string src = dir / "data\\";
    MakeFiles(src, {{"a.txt", "alpha"}, {"b.txt", "bravo"}});
    Scene scene = c.make(dir, src);
    std::string app = dir / "app\\";
    ASSERT_TRUE(CreateDirectoryA(app.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(StowlyExePath().c_str(), (app + "Stowly.exe").c_str(), FALSE));
    ASSERT_TRUE(WriteFileText(app + "Stowly.ini", scene.ini));

    // A bare log name lands in the current folder; keep it in the scratch folder.
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, cwd);
    SetCurrentDirectoryA(dir.path().c_str());
    int code = RunProcess("\"" + app + "Stowly.exe\" /S /L", kRunLimitMs);
    SetCurrentDirectoryA(cwd);
    EXPECT_NE(code, -1) << "the silent run did not end: it waits for a person";
    EXPECT_EQ(code, c.exitCode);
    if (scene.log.empty()) continue;
    std::vector<std::string> texts = LogTexts(scene.log);
    EXPECT_EQ(texts.empty() ? std::string() : texts.back(), "Silent Mode - Close Program");
  }
}

}  // namespace
