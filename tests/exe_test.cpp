// The real Stowly.exe end to end: started as a user or a shortcut starts it, and run the
// way a scheduled task runs it (/S /L, settings beside it, no one at the keyboard), on
// drive letters mapped in the Wine prefix and host links. Whatever the settings say,
// nothing outside the destination copies may be deleted.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "engine/path_identity.h"
#include "tests/support.h"

namespace {

const char* const kClose = "Silent Mode - Close Program";
const Files kSource = {{"a.txt", "alpha"}, {"sub\\b.txt", "bravo"}};
const Config kFull = {"D:\\Backup\\", {"S:\\Data\\"}, 1, 0, 1};
const Config kFast = {"D:\\Backup\\", {"S:\\Data\\"}, 0, 1, 1};

// A silent run of a portable install; -1 when it has not ended in time, since a run
// that waits for a person (a message box, an open window) never ends.
int RunSilently(const std::string& app, const std::string& ini, WORD show = SW_SHOWNORMAL) {
  return ChildProcess(InstallStowly(app, ini) + " /S /L", show).Wait(60000);
}

Lines Log() { return LogTexts("D:\\Backup\\Stowly.log"); }

// S: the source drive, D: the destination drive, T: a second name for S:.
class Exe : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(s.ready() && d.ready() && t.ready()) << "drive letters could not be mapped";
    Reset();
    // A relative path resolves against the current folder: give it one worth keeping.
    GetCurrentDirectoryA(MAX_PATH, oldCwd);
    SetCurrentDirectoryA("S:\\");
  }
  void TearDown() override {
    SetCurrentDirectoryA(oldCwd);
    RemoveTreeOnHost(dir.path());
  }
  // Both drives emptied (links too, from the host side); the folders behind the letters
  // stay, so the mappings and the current folder keep pointing at them.
  void Reset() {
    for (const std::string& folder : {sroot, droot, outside})
      for (const std::string& name : Names(folder)) RemoveTreeOnHost(folder + name);
    MakeFiles(outside, {{"precious.txt", "not a backup"}});
    MakeFiles("S:\\Data\\", kSource);
    MakeFiles("D:\\Backup\\", {});
  }
  int Run(const Config& config) { return RunSilently(dir / "app\\", IniText(config)); }

  ScratchDir dir;
  std::string sroot = dir / "sdrive\\", droot = dir / "ddrive\\", outside = dir / "outside\\";
  bool made = MakeFiles(sroot, {}) && MakeFiles(droot, {});
  MappedDrive s{'S', sroot}, d{'D', droot}, t{'T', sroot};
  char oldCwd[MAX_PATH] = {};
};

// Started hidden, as a script or a scheduled task may start it (on Windows its window is then
// never shown or painted; Wine shows it all the same), from an install whose UTF-8 path is
// longer than MAX_PATH bytes, on names outside every ANSI code page: the settings beside the
// exe are found, every name is copied whole and every step is logged. Wine gives the process
// the manifest's UTF-8 code page, so the "?" names of older systems cannot be shown here.
TEST_F(Exe, SilentRunStartedHiddenBacksUpWithoutAPromptLogsEveryStepAndExitsWithZero) {
  const std::string folder = "S:\\Δεδομένα 数据\\", copy = DestinationPath("D:\\Backup\\", folder);
  // One file to a folder, so the listing's order is the map's.
  const Files source = {{"a.txt", "alpha"},
                        {"sub\\h.txt", std::string(300000, 'h')},
                        {"sub\\Ελληνικά\\😀 文件 ✓.txt", "greek, cjk and astral"}};
  MakeFiles(folder, source);
  SetFileAttributesW(FilePathW(folder + "sub\\h.txt").c_str(),
                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFiles(copy, {{"stale.txt", "from an earlier backup"}});
  std::string level = "程序 ";  // a host name takes at most 255 bytes: two levels
  while (level.size() < 160) level += "備份";
  const Config config = {"D:\\Backup\\", {folder}, 1, 0, 1};
  EXPECT_EQ(RunSilently(dir / level + "\\" + level + "\\", IniText(config), SW_HIDE), 0);
  EXPECT_EQ(ReadTree(copy), source);
  Lines expected = {"Silent Mode - Begin Automatically",
                    "Backup Mode = Full Mirror, leaving Archive Bit alone on backed up files",
                    "Checking Destination Folder...",
                    "  Deleting " + copy.substr(0, copy.size() - 1),
                    "  ...Ok",
                    "Getting list of files from source...",
                    "  ...3 files found",
                    "Copying Files..."};
  for (const auto& [name, content] : source)
    expected.push_back("  " + std::to_string(expected.size() - 7) + "   Copying " + folder + name +
                       " -> " + copy + name);
  expected.insert(expected.end(),
                  {"  ...3 of 3 Files copied - 0 Files skipped", kFinished, kClose});
  EXPECT_EQ(Log(), expected);
}

// Killed at any moment of a Full Mirror, every file keeps its old or its new copy; the
// next run completes the mirror and leaves no temporary copy.
TEST_F(Exe, KilledMidCopyEveryFileKeepsACopyAndTheNextRunCompletes) {
  const std::string big(32u << 20, 'n');
  Files source = ManyFiles(30), old = ManyFiles(30);
  source["big.bin"] = big;
  source.insert(kSource.begin(), kSource.end());
  for (auto& [name, content] : old) content = "old " + content;
  old["big.bin"] = "old big";
  MakeFiles("S:\\Data\\", source);
  MakeFiles("D:\\Backup\\Data\\", old);
  {
    ChildProcess stowly(InstallStowly(dir / "app\\", IniText(kFull)) + " /S /L");
    for (int i = 0; i < 12000 && stowly.Running(); ++i, Sleep(2))
      if (Exists("D:\\Backup\\Data\\big.bin.Stowly-Partial")) break;
    ASSERT_TRUE(stowly.Running()) << "the run ended before it could be killed";
  }  // killed here
  Files copies = ReadTree("D:\\Backup\\Data\\");
  for (const auto& [name, content] : source)
    EXPECT_TRUE(copies[name] == content || copies[name] == old[name]) << name;
  EXPECT_EQ(Run(kFull), 0);
  EXPECT_TRUE(ReadTree("D:\\Backup\\Data\\") == source) << "the next run completes the mirror";
}

// Runs that stop or skip end on their own and say why; a destination that is the source
// spelled another way (another letter, Wine's Z: view, forward slashes), or a source that
// lies inside the destination (V:), deletes nothing.
TEST_F(Exe, StoppedRunsEndOnTheirOwnAndSayWhy) {
  std::string hostView = "Z:" + HostPath(sroot) + "/";
  std::replace(hostView.begin(), hostView.end(), '/', '\\');
  const Files inside = {{"Inner\\own.txt", "a source inside"}, {"older.txt", "older"}};
  MakeFiles("D:\\Backup\\", inside);
  MappedDrive v('V', droot + "Backup\\Inner\\");
  const struct {
    std::string ini;
    int exitCode;
    bool logged, locked;
  } cases[] = {{IniText(kFull), 1, true, true},  // a source file held by another program
               {IniText({"D:\\None\\", {"S:\\Data\\"}}), 3, false, false},
               {"[Main Settings]\r\nDestinationFolder=D:\\Backup\\\r\nNumDirs=-1\r\n"
                "SourceFolder1=S:\\Data\\\r\n",
                3, true, false},
               {IniText({"T:\\", {"S:\\Data\\"}}), 3, false, false},
               {IniText({hostView, {"S:\\Data\\"}}), 3, false, false},
               {IniText({"S:/", {"S:\\Data\\"}}), 3, false, false},
               {IniText({"D:\\Backup\\", {"V:\\"}, 0, 1, 1}), 3, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    DeleteFileA("D:\\Backup\\Stowly.log");
    {
      Locked held(c.locked ? "S:\\Data\\a.txt" : "");
      EXPECT_EQ(RunSilently(dir / "app\\", c.ini), c.exitCode);
    }
    EXPECT_TRUE(!c.logged || Log().back() == kClose);
    EXPECT_EQ(ReadTree(outside), (Files{{"precious.txt", "not a backup"}}));
    EXPECT_EQ(ReadTree("S:\\Data\\"), kSource);
    Files left = ReadTree("D:\\Backup\\");
    for (const auto& [name, content] : inside) EXPECT_EQ(left[name], content) << name;
  }
}

// Full Mirror deletes the copy around its links, Fast Mirror passes by paths through them,
// and no copy is written through one: a source folder named like a link is skipped. A link
// from the source into the destination is not followed, and a user's file of the write
// test's name stays. "odd." is a fine host name, but Windows drops a segment's trailing dot,
// so that source folder cannot be listed by its plain path: it keeps its copy, reported.
TEST_F(Exe, LinksAndAnUnlistableFolderNeitherLeakNorLoseACopy) {
  const std::string odd = "\\\\?\\S:\\Data\\odd.\\", oddCopy = "\\\\?\\D:\\Backup\\Data\\odd.\\";
  for (const Config& mode : {kFull, kFast}) {
    SCOPED_TRACE(mode.fullMirror ? "Full Mirror" : "Fast Mirror");
    Reset();
    MakeFiles("S:\\Data\\linked\\", {{"precious.txt", "a newer precious"}});
    MakeFiles(outside + "deep\\", {{"more.txt", "keep me too"}});
    MakeFiles("D:\\Backup\\", {{"Data\\sub\\old.txt", "gone from the source"},
                               {"Stowly.Test", "the user's notes"}});
    ASSERT_TRUE(HostSymlink("D:\\Backup\\Data\\linked", outside));
    ASSERT_TRUE(HostSymlink("D:\\Backup\\Data\\sub\\deeplink", outside + "deep\\"));
    ASSERT_TRUE(HostSymlink("S:\\Data\\backup", "D:\\Backup\\"));
    ASSERT_TRUE(CreateDirectoryA(odd.c_str(), nullptr) &&
                CreateDirectoryA(oddCopy.c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(odd + "f.txt", "source") &&
                WriteFileText(oddCopy + "f.txt", "its only copy"));
    EXPECT_EQ(Run(mode), 1) << "the file behind the link is skipped";
    EXPECT_EQ(ReadTree(outside),
              (Files{{"precious.txt", "not a backup"}, {"deep\\more.txt", "keep me too"}}));
    EXPECT_EQ(ReadTree("D:\\Backup\\Data\\"), kSource);
    EXPECT_EQ(ReadFileText("D:\\Backup\\Stowly.Test"), "the user's notes");
    EXPECT_EQ(ReadFileText(oddCopy + "f.txt"), "its only copy");
    Lines log = Log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
      return line.find("S:\\Data\\odd.") != line.npos && line.find("Copying") == line.npos;
    })) << "no log line names the folder that could not be listed";
  }
}

}  // namespace

// Started minimised, as from a shortcut: only the S switch minimises it; closing ends it
// with 0 and writes nothing when no setting changed.
TEST(LocalMode, LoadsTheIniBesideTheExeAndLeavesItAsItWas) {
  ScratchDir dir;
  const std::string ini = IniText({"E:\\Backup\\", {"C:\\D\\"}});
  ChildProcess stowly(InstallStowly(dir.path(), ini) + " -l", SW_SHOWMINNOACTIVE);
  HWND main = nullptr;
  for (int i = 0; i < 600 && !(main = stowly.MainWindow()); ++i) Sleep(100);
  ASSERT_TRUE(main);
  EXPECT_FALSE(IsIconic(main));
  EXPECT_EQ(SendMessageA(GetDlgItem(main, 1001), LB_GETCOUNT, 0, 0), 1);
  PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(stowly.Wait(60000), 0);
  EXPECT_EQ(ReadFileText(dir / "Stowly.ini"), ini);
}
