// The real Stowly.exe, run silently with its settings beside it, on drive letters mapped in
// the Wine prefix (S: the source drive, D: the destination drive, U: a second name for D:),
// host symbolic links and names Windows cannot address. Whatever the settings say, nothing
// outside the destination copies may be deleted.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/destination_lock.h"
#include "engine/path_identity.h"
#include "tests/support.h"

namespace {

const char* const kIllegal = "Illegal Configuration!  This will copy the source onto itself.";
const char* const kFinished = "FINISHED!  Backup is complete.";
const Files kSource = {{"a.txt", "alpha"}, {"sub\\b.txt", "bravo"}};

std::string Quoted(const std::string& path) {
  std::string quoted = "\"";
  quoted += path;
  return quoted + "\"";
}

std::string Made(const std::string& folder) {
  MakeFiles(folder, {});
  return folder;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// A message box up on this desktop (the program's own, or the shell's during a deletion).
HWND FindMessageBox() {
  HWND found = nullptr;
  EnumDesktopWindows(
      GetThreadDesktop(GetCurrentThreadId()),
      [](HWND h, LPARAM p) -> BOOL {
        char cls[16] = {};
        GetClassNameA(h, cls, sizeof cls);
        if (std::string(cls) != "#32770" || !IsWindowVisible(h)) return TRUE;
        *reinterpret_cast<HWND*>(p) = h;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

std::string BoxText(HWND box) {
  char text[512] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(GetDlgItem(box, 0xFFFF), WM_GETTEXT, sizeof text,
                      reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &ignored);
  return text;
}

struct Outcome {
  int exitCode = -1;
  std::vector<std::string> boxes;
};

// A run that stops early stays open in silent mode (after a message box, which waits for a
// user who is not there, or after an "...Operation canceled." line): the box is answered
// and the window closed, as that user would.
Outcome RunSilently(const std::string& app, const std::string& logPath) {
  Outcome outcome;
  const size_t logBefore = ReadFileText(logPath).size();
  ChildProcess stowly(Quoted(app + "Stowly.exe") + " /S /L");
  if (!stowly.started()) return outcome;
  for (int waited = 0; waited < 90000; waited += 50) {
    if ((outcome.exitCode = stowly.Wait(50)) != -1) return outcome;
    std::string log = ReadFileText(logPath);
    bool stopped =
        log.find("Operation canceled.\r\n", std::min(logBefore, log.size())) != std::string::npos;
    if (HWND box = FindMessageBox()) {
      outcome.boxes.push_back(BoxText(box));
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      stopped = true;
    }
    if (HWND window = stopped ? stowly.MainWindow() : nullptr) PostMessageA(window, WM_CLOSE, 0, 0);
  }
  return outcome;
}

class DeletionSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(s.ready() && d.ready() && u.ready()) << "drive letters could not be mapped";
    Reset();
    // A relative path resolves against the current folder: give it one worth keeping.
    GetCurrentDirectoryA(MAX_PATH, oldCwd);
    SetCurrentDirectoryA("S:\\");
  }
  void TearDown() override {
    SetCurrentDirectoryA(oldCwd);
    RemoveTreeOnHost(dir.path());
  }

  // Both drives emptied (links included, from the host side), the source and the things
  // outside every backup made again. The folders behind the drive letters stay, so the
  // mappings and the current folder keep pointing at them.
  void Reset() {
    for (const std::string& folder : {sroot, droot, outside}) {
      WIN32_FIND_DATAA data;
      HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
      for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &data))
        if (std::string(data.cFileName) != "." && std::string(data.cFileName) != "..")
          RemoveTreeOnHost(folder + data.cFileName);
      if (find != INVALID_HANDLE_VALUE) FindClose(find);
    }
    MakeFiles(outside, {{"precious.txt", "not a backup"}});
    MakeFiles("S:\\Data\\", kSource);
  }

  // A portable install under the given name, with the job's settings file beside the exe.
  std::string Install(const std::string& name, const Config& config) {
    std::string app = dir / (name + "\\");
    InstallStowly(app, IniText(config));
    return app;
  }
  Outcome Run(const Config& config, const std::string& log = "D:\\Backup\\Stowly.log") {
    return RunSilently(Install("app", config), log);
  }
  void ExpectOutsideWhole() {
    EXPECT_EQ(ReadTree(outside), (Files{{"precious.txt", "not a backup"}}));
    EXPECT_EQ(ReadTree("S:\\Data\\"), kSource);
  }

  ScratchDir dir;
  std::string sroot = Made(dir / "sdrive\\"), droot = Made(dir / "ddrive\\");
  std::string outside = dir / "outside\\";
  MappedDrive s{'S', sroot}, d{'D', droot}, u{'U', droot}, t{'T', sroot};
  char oldCwd[MAX_PATH] = {};
};

const Config kFullMirror = {"D:\\Backup\\", {"S:\\Data\\"}, 1, 0, 1};
const Config kFastMirror = {"D:\\Backup\\", {"S:\\Data\\"}, 0, 1, 1};

Config With(Config config, const std::string& destination, std::vector<std::string> sources) {
  config.destination = destination;
  config.sources = std::move(sources);
  return config;
}

TEST_F(DeletionSafety, LinksInsideTheDestinationCopyGoAsLinks) {
  for (const Config& mode : {kFullMirror, kFastMirror}) {
    SCOPED_TRACE(mode.fullMirror ? "Full Mirror" : "Fast Mirror");
    Reset();
    MakeFiles("D:\\Backup\\Data\\", {{"old.txt", "gone from the source"}});
    ASSERT_TRUE(HostSymlink("D:\\Backup\\Data\\linked", outside));

    Outcome run = Run(mode);
    EXPECT_EQ(run.exitCode, 0);
    ExpectOutsideWhole();
    EXPECT_EQ(ReadTree("D:\\Backup\\Data\\"), kSource);
    EXPECT_TRUE(Contains(LogTexts("D:\\Backup\\Stowly.log"), kFinished));
  }
}

TEST_F(DeletionSafety, TheSourceWrittenAnotherWayIsAnIllegalConfiguration) {
  std::string hostView = "Z:";
  hostView += HostPath(sroot) + "/";
  for (char& c : hostView)
    if (c == '/') c = '\\';
  const std::vector<Config> cases = {
      With(kFullMirror, "S:/", {"S:\\Data\\"}),
      With(kFullMirror, "S:\\\\", {"S:\\Data\\"}),
      With(kFullMirror, "\\\\?\\S:\\", {"S:\\Data\\"}),
      With(kFullMirror, "T:\\", {"S:\\Data\\"}),
      With(kFullMirror, hostView, {"S:\\Data\\"}),
      With(kFullMirror, "s:\\data\\", {"S:\\Data\\"}),
      With(kFullMirror, "D:\\Backup\\", {"S:\\Data\\", "U:\\Backup\\Data\\Notes\\"}),
  };
  for (const Config& config : cases) {
    SCOPED_TRACE("destination " + config.destination + ", last source " + config.sources.back());
    Reset();
    MakeFiles("D:\\Backup\\Data\\Notes\\", {{"note.txt", "a source of its own"}});
    Outcome run = Run(config);
    ExpectOutsideWhole();
    EXPECT_EQ(ReadTree("D:\\Backup\\Data\\Notes\\"), (Files{{"note.txt", "a source of its own"}}));
    EXPECT_TRUE(run.boxes.empty()) << "a silent run never waits on a box";
    EXPECT_EQ(run.exitCode, 3);
  }
}

// Hand-edited settings: blank and relative sources, a destination without its backslash,
// ".." in a source. Neighbours of the destination copy that such values used to reach.
TEST_F(DeletionSafety, HandEditedValuesNeverReachBeyondTheDestinationCopies) {
  struct Case {
    std::string destination, source2, skippedLine;
  };
  const std::string skipped = "  Source folder not found, skipped: ";
  const std::vector<Case> cases = {
      {"D:\\Backup\\", "", skipped},
      {"D:\\Backup\\", "\" \"", skipped + " "},
      {"D:\\Backup\\", ".", skipped + "."},
      {"D:\\Backup\\", "\\", skipped + "\\"},
      {"D:\\Backup\\", ".\\", skipped + ".\\"},
      {"D:\\Backup", "S:\\Data\\", ""},
      {"D:\\Backup\\", "S:\\Data\\..\\..\\Data\\", ""},
  };
  const Files neighbours = {{"Backup\\Other\\keep.txt", "another backup"},
                            {"BackupData\\keep.txt", "a sibling folder"},
                            {"Data\\keep.txt", "beside the destination"}};
  for (const Config& mode : {kFullMirror, kFastMirror}) {
    for (const Case& c : cases) {
      SCOPED_TRACE((mode.fullMirror ? "Full Mirror, " : "Fast Mirror, ") + c.destination +
                   ", second source [" + c.source2 + "]");
      Reset();
      MakeFiles("D:\\", neighbours);
      Outcome run = Run(With(mode, c.destination, {"S:\\Data\\", c.source2}));
      ExpectOutsideWhole();
      Files left = ReadTree("D:\\");
      for (const auto& [name, content] : neighbours) EXPECT_EQ(left[name], content) << name;
      EXPECT_EQ(ReadTree("D:\\Backup\\Data\\"), kSource);
      EXPECT_FALSE(Exists("D:\\BackupStowly.log"));
      std::vector<std::string> log = LogTexts("D:\\Backup\\Stowly.log");
      EXPECT_TRUE(Contains(log, kFinished));
      if (!c.skippedLine.empty()) {
        EXPECT_TRUE(Contains(log, c.skippedLine));
      }
    }
  }
}

// A folder the listing cannot enter: "odd." is a fine host name, but Windows drops the
// trailing dot of a path segment, so the folder cannot be addressed by its plain path.
TEST_F(DeletionSafety, AnUnlistableSourceFolderKeepsItsCopyAndIsReported) {
  MakeFiles("D:\\Backup\\Data\\", kSource);
  const std::wstring sourceOdd = L"\\\\?\\S:\\Data\\odd.",
                     copyOdd = L"\\\\?\\D:\\Backup\\Data\\odd.";
  ASSERT_TRUE(CreateDirectoryW(sourceOdd.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(copyOdd.c_str(), nullptr));
  ASSERT_TRUE(WriteFileText("\\\\?\\S:\\Data\\odd.\\f.txt", "source"));
  ASSERT_TRUE(WriteFileText("\\\\?\\D:\\Backup\\Data\\odd.\\f.txt", "its only copy"));
  ASSERT_EQ(GetFileAttributesA("S:\\Data\\odd.\\f.txt"), INVALID_FILE_ATTRIBUTES)
      << "this file system lets the plain path reach the folder";

  Outcome run = Run(kFullMirror);
  EXPECT_EQ(ReadFileText("\\\\?\\D:\\Backup\\Data\\odd.\\f.txt"), "its only copy");
  EXPECT_NE(run.exitCode, 0) << "a folder left out is not a complete backup";
  bool reported = false;
  for (const std::string& line : LogTexts("D:\\Backup\\Stowly.log"))
    reported |= line.find("S:\\Data\\odd.") != std::string::npos &&
                line.find("Copying") == std::string::npos;
  EXPECT_TRUE(reported) << "no log line names the folder that could not be listed";
}

TEST_F(DeletionSafety, ALinkFromTheSourceIntoTheDestinationIsNotCopiedIntoItself) {
  MakeFiles("D:\\Backup\\", {});
  ASSERT_TRUE(HostSymlink("S:\\Data\\backup", "D:\\Backup\\"));
  for (int run = 1; run <= 3; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    EXPECT_EQ(Run(kFastMirror).exitCode, 0);
    EXPECT_EQ(ReadTree("D:\\Backup\\Data\\"), kSource);
  }
}

// A second job while the first is copying: the second stops before it deletes anything.
// Files the first has copied keep their identity, which a delete and re-copy would change.
TEST_F(DeletionSafety, ASecondJobOnTheSameDestinationDeletesNothing) {
  Files many = ManyFiles(1500);
  RemoveTreeOnHost("S:\\Data\\");
  MakeFiles("S:\\Data\\", many);
  MakeFiles("D:\\Backup\\", {});
  std::string firstApp = Install("first", kFullMirror);
  ChildProcess first(Quoted(firstApp + "Stowly.exe") + " /S /L");
  ASSERT_TRUE(first.started());
  std::map<std::string, FolderIdentity> copied;
  // A copy gets its name only once it is complete; its identity is read without opening
  // it for reading, so the job is never in the way of its own rename.
  for (int i = 0; i < 6000 && copied.size() < 20 && first.Running(); ++i, Sleep(10)) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("D:\\Backup\\Data\\*", &data);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &data))
      if (many.count(data.cFileName) && !copied.count(data.cFileName))
        ReadFolderIdentity(std::string("D:\\Backup\\Data\\") + data.cFileName,
                           copied[data.cFileName]);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  }
  ASSERT_GE(copied.size(), 20u) << "the first job never got copying";

  Outcome second = RunSilently(Install("second", kFullMirror), "D:\\Backup\\Stowly.log");
  ASSERT_TRUE(first.Running()) << "the first job ended before the second was tried";
  for (const auto& [name, identity] : copied) {
    FolderIdentity now;
    EXPECT_TRUE(ReadFolderIdentity("D:\\Backup\\Data\\" + name, now) && now == identity) << name;
  }
  EXPECT_TRUE(Contains(LogTexts("D:\\Backup\\Stowly.log"), kDestinationBusyLine));
  EXPECT_EQ(first.Wait(240000), 0);
  EXPECT_EQ(ReadTree("D:\\Backup\\Data\\"), many);
}

TEST_F(DeletionSafety, AUsersOwnStowlyTestFileIsKept) {
  MakeFiles("D:\\Backup\\", {{"Stowly.Test", "the user's notes"}});
  EXPECT_EQ(Run(kFullMirror).exitCode, 0);
  EXPECT_EQ(ReadFileText("D:\\Backup\\Stowly.Test"), "the user's notes");
  EXPECT_EQ(ReadTree("D:\\Backup\\Data\\"), kSource);
}

}  // namespace
