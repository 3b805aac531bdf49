// The engine's parts on real trees in a scratch folder, with a test host and no window:
// listing, the copy worker, the log, the safe copy, the destination lock, links, folder
// identity and a volume that really fills up.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <optional>
#include <thread>

#include "engine/copy_worker.h"
#include "engine/destination_lock.h"
#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/fs.h"
#include "engine/log_file.h"
#include "engine/path_identity.h"
#include "engine/safe_copy.h"
#include "engine/settings.h"
#include "tests/support.h"

namespace {

// Runs the copy worker over `list` (entries 1..size) to its end, as the job does.
void RunCopyWorker(TestHost& host, JobState& state, const Lines& list) {
  state.destination = host.destination;
  state.masterList = list.empty() ? Lines{std::string()} : list;
  state.foundCount = static_cast<int>(list.size());
  LogWriter log(host);
  WorkerContext context{state, host, log};
  RunCopyWorker(context);
}

Lines Sorted(Lines v) {
  std::sort(v.begin(), v.end());
  return v;
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeFiles(src, {}) && MakeFiles(dest, {}));
    host.destination = dest;
    SetLogFilePath(log);
    g_settings.FullMirror = 1;
    g_settings.UseArchiveBit = 0;
  }
  void TearDown() override { SetLogFilePath("Stowly.log"); }
  Lines Listed(const std::string& folder, ListingMode mode = ListingMode::kSource) {
    Lines list(1);
    size_t n = static_cast<size_t>(ListFiles(host, folder, list, 0, {mode, dest}));
    EXPECT_EQ(n, list.size());
    return list;
  }
  std::string To(const std::string& source) const { return DestinationPath(dest, source); }
  void RunWorker(const Lines& list) { RunCopyWorker(host, state, list); }

  ScratchDir dir;
  std::string src = dir / "src\\", dest = dir / "dest\\", log = dest + "Stowly.log";
  TestHost host;
  JobState state;
};

TEST_F(Engine, ListingGoesDepthFirstWithHiddenFilesAndRewritesOneStatusLine) {
  ASSERT_TRUE(MakeFiles(src, {{"a.txt", "a"},
                              {"b.txt", "b"},
                              {"c", "c"},
                              {"sub1\\d.txt", "d"},
                              {"sub1\\deep\\e.txt", "e"},
                              {"sub2\\f.txt", "f"}}));
  MakeFiles(src + "empty\\", {});
  SetFileAttributesA((src + "b.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA((src + "c").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
  host.status = {"Checking Destination Folder...", "Getting list of files from source..."};
  // Two entries from an earlier listing are kept; a longer tail beyond them goes.
  Lines list = {"kept1", "kept2", "old3", "old4", "old5", "old6", "old7", "old8", "old9"};
  ASSERT_EQ(ListFiles(host, dir / "src", list, 2, {ListingMode::kSource, dest}), 6);
  ASSERT_EQ(list.size(), 8u);
  EXPECT_EQ(Lines(list.begin(), list.begin() + 2), (Lines{"kept1", "kept2"}));
  // The folder's own files first (in the file system's order), then each subtree whole.
  EXPECT_EQ(Sorted({list.begin() + 2, list.begin() + 5}),
            (Lines{src + "a.txt", src + "b.txt", src + "c"}));
  Lines rest(list.begin() + 5, list.end());
  Lines sub1 = {src + "sub1\\d.txt", src + "sub1\\deep\\e.txt"};
  EXPECT_TRUE((rest == Lines{sub1[0], sub1[1], src + "sub2\\f.txt"}) ||
              (rest == Lines{src + "sub2\\f.txt", sub1[0], sub1[1]}));
  // The progress line was rewritten in place, never added.
  ASSERT_EQ(host.status.size(), 2u);
  EXPECT_EQ(host.status[1].rfind("Getting list of files from source...", 0), 0u);
  EXPECT_EQ(host.status[1].substr(host.status[1].size() - 12), " Files Found");
  // Each listing counts afresh under its own header; a missing folder lists nothing.
  const struct {
    int fullMirror, already, found;
    ListingMode mode;
    std::string folder, line;
  } cases[] = {
      {0, 0, 0, ListingMode::kSource, src + "empty",
       "Getting list of changed files from source...0 Files Found"},
      {0, 0, 0, ListingMode::kDestination, src + "empty",
       "Getting complete list of files from destination...0 Files Found"},
      {1, 8, 1, ListingMode::kDestination, src + "sub2\\",
       "Getting complete list of files from destination...8 Files Found"},
      {1, 0, 0, ListingMode::kSource, dir / "missing\\", ""},
  };
  for (const auto& c : cases) {
    g_settings.FullMirror = c.fullMirror;
    EXPECT_EQ(ListFiles(host, c.folder, list, c.already, {c.mode, dest}), c.found) << c.folder;
    EXPECT_TRUE(c.line.empty() || host.status[1] == c.line) << host.status[1];
  }
}

TEST_F(Engine, FastMirrorListsMissingCopiesAndArchivedFilesOnly) {
  std::string data = dir / "data\\";
  ASSERT_TRUE(MakeFiles(data, {{"new.txt", "n"}, {"changed.txt", "c"}, {"unchanged.txt", "u"}}));
  ASSERT_TRUE(MakeFiles(dest + "data\\", {{"changed.txt", "old"}, {"unchanged.txt", "u"}}));
  SetFileAttributesA((data + "changed.txt").c_str(), FILE_ATTRIBUTE_ARCHIVE);
  SetFileAttributesA((data + "unchanged.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  const Lines all = {data + "changed.txt", data + "new.txt", data + "unchanged.txt"};
  EXPECT_EQ(Sorted(Listed(data)), all);
  g_settings.FullMirror = 0;
  // The destination listing admits every file, whatever the settings.
  EXPECT_EQ(Sorted(Listed(data, ListingMode::kDestination)), all);
  DeleteFileA((dest + "data\\unchanged.txt").c_str());
  EXPECT_EQ(Sorted(Listed(data)), all) << "a file without its copy is listed";
  WriteFileText(dest + "data\\unchanged.txt", "u");
  if (GetFileAttributesA((data + "unchanged.txt").c_str()) & FILE_ATTRIBUTE_ARCHIVE)
    GTEST_SKIP() << "this file system reports the archive attribute as set on every file, so a "
                    "file with a cleared archive bit cannot be made";
  EXPECT_EQ(Sorted(Listed(data)), (Lines{data + "changed.txt", data + "new.txt"}));
}

TEST_F(Engine, LinksBackIntoTheTreeEndPromptlyAndTemporariesAreNeverListed) {
  std::string root = dir / "root\\", out = dir / "outside\\";
  ASSERT_TRUE(MakeFiles(root, {{"top.txt", "t"}, {"a\\f.txt", "f"}}) &&
              MakeFiles(root + "b\\", {}) && MakeFiles(out, {{"g.txt", "g"}}));
  // Links back into the tree (three beside their target, so some come before it in the
  // file system's order), one out of it, and out there one back and one loop.
  const std::vector<std::pair<std::string, std::string>> links = {
      {root + "a\\loop", root},   {root + "b\\sibling", root + "a"},
      {root + "0s1", root + "a"}, {root + "0s2", root + "a"},
      {root + "zs3", root + "a"}, {root + "toOutside", out},
      {out + "back", root},       {out + "self", out}};
  for (const auto& [link, target] : links)
    if (!HostSymlink(link, target)) GTEST_SKIP() << "host links cannot be made here";
  // A temporary copy is never a source; one in the destination goes when it is listed.
  ASSERT_TRUE(WriteFileText(PartialCopyPath(out + "g.txt"), "half"));
  EXPECT_EQ(Sorted(Listed(root)),
            (Lines{root + "a\\f.txt", root + "toOutside\\g.txt", root + "top.txt"}));
  EXPECT_EQ(Sorted(Listed(out)),
            (Lines{out + "back\\a\\f.txt", out + "back\\top.txt", out + "g.txt"}));
  EXPECT_TRUE(Exists(PartialCopyPath(out + "g.txt")));
  EXPECT_EQ(Listed(out + "back\\a\\", ListingMode::kDestination), (Lines{out + "back\\a\\f.txt"}));
  Listed(out, ListingMode::kDestination);
  EXPECT_FALSE(Exists(PartialCopyPath(out + "g.txt")));
  RemoveTreeOnHost(dir.path());
}

TEST_F(Engine, PathsBeyondMaxPathAreListedAndCopiedWhole) {
  std::string folder = src;
  for (int i = 0; i < 5; ++i) folder += std::string(55, static_cast<char>('m' + i)) + "\\";
  std::string file = folder + "long name.txt";
  ASSERT_TRUE(MakeFiles(src, {{"short.txt", "s"}, {file.substr(src.size()), "far down"}}));
  ASSERT_GT(To(file).size(), 300u);
  ASSERT_EQ(Listed(src), (Lines{src + "short.txt", file}));
  RunWorker({file});
  EXPECT_EQ(ReadFileText(To(file)), "far down");
  EXPECT_EQ(LogTexts(log), (Lines{"  1   Copying " + file + " -> " + To(file)}));
  // Folder chains well past the limit are made level by level; a file in the way stops it.
  std::string deep = dir / "made";
  for (int i = 0; i < 6; ++i) deep += "\\" + std::string(50, static_cast<char>('a' + i));
  const struct {
    std::string folder;
    int code;
  } made[] = {{deep + "\\", 0},
              {dir / "h\\hidden\\x\\", 0},
              {dir / "plain\\y", 0},
              {dir / "many\\z\\\\\\", 0},
              {src + "short.txt\\inner\\", kPathNotFound},
              {"\\\\server\\share\\x\\", 0},
              {"C:\\", 0},
              {"", 0}};
  MakeFiles(dir / "h\\hidden\\", {});
  SetFileAttributesA((dir / "h\\hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
  for (const auto& c : made) {
    EXPECT_EQ(MakeFolderPath(c.folder), c.code) << c.folder;
    std::string plain = c.folder;
    while (plain.size() > 3 && plain.back() == '\\') plain.pop_back();
    EXPECT_TRUE(c.code || plain.size() < 4 || plain[1] != ':' || IsFolder(plain)) << plain;
  }
  // What cannot be told missing counts as there, so nothing is copied over it.
  const std::pair<std::string, bool> there[] = {{file, true},
                                                {folder + "missing.txt", false},
                                                {src, true},
                                                {src.substr(0, src.size() - 1), true},
                                                {src + "a|b.txt", true}};
  for (const auto& [path, exists] : there) EXPECT_EQ(FileExists(path), exists) << path;
}

TEST_F(Engine, TheWorkerCopiesTheListAndReportsEachFailure) {
  ASSERT_TRUE(MakeFiles(src, {{"a.txt", "alpha"},
                              {"sub\\b.txt", "beta"},
                              {"ro.txt", "new content"},
                              {"locked.txt", "locked"}}));
  SetFileAttributesA((src + "sub").c_str(), FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(MakeFiles(
      To(src),
      {{"ro.txt", "old"}, {"gone.txt", "older copy"}, {"locked.txt", "older locked copy"}}));
  SetFileAttributesA(To(src + "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  // Two names that differ in letter case only, as a share of another system has them.
  std::string upper = HostPath(src) + "/CASE.txt";
  ASSERT_TRUE(WriteFileText(src + "case.txt", "lower") && WriteFileText(src + "u.tmp", "upper"));
  RunHost("/bin/mv \"" + HostPath(src + "u.tmp") + "\" \"" + upper + "\"");
  for (int i = 0; i < 500 && Exists(src + "u.tmp"); ++i) Sleep(10);
  ASSERT_FALSE(Exists(src + "u.tmp"));
  host.status = {"Getting list of files from source...5 Files Found"};
  host.skippedLabel = "Skipped files - See log for details";
  {
    Locked held(src + "locked.txt");
    RunWorker({src + "a.txt", src + "gone.txt", src + "sub\\b.txt", src + "ro.txt",
               src + "locked.txt", src + "case.txt", src + "CASE.txt"});
  }
  EXPECT_EQ(state.fileIndex, 8);
  // Overwritten copies carry the source's attributes; a new folder takes its source's.
  EXPECT_EQ(ReadTree(To(src)), (Files{{"a.txt", "alpha"},
                                      {"gone.txt", "older copy"},
                                      {"sub\\b.txt", "beta"},
                                      {"ro.txt", "new content"},
                                      {"locked.txt", "older locked copy"},
                                      {"case.txt", "lower"}}));
  EXPECT_TRUE(GetFileAttributesA(To(src + "sub").c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(GetFileAttributesA(To(src + "ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(host.status,
            (Lines{"Getting list of files from source...5 Files Found", "Copying file 7 of 7"}));
  EXPECT_EQ(host.skipped, (Lines{src + "gone.txt", src + "locked.txt", src + "CASE.txt"}));
  EXPECT_EQ(host.skippedLabel, "3 Skipped files - See log for details");
  auto copying = [&](int n, const std::string& name) {
    return "  " + std::to_string(n) + "   Copying " + src + name + " -> " + To(src + name);
  };
  EXPECT_EQ(LogTexts(log),
            (Lines{copying(1, "a.txt"), copying(2, "gone.txt"),
                   "  2   Error - File not found.  " + src + "gone.txt", copying(3, "sub\\b.txt"),
                   copying(4, "ro.txt"), copying(5, "locked.txt"),
                   "  5   Error - Permission Denied  " + src + "locked.txt", copying(6, "case.txt"),
                   copying(7, "CASE.txt"),
                   "  7   Error - Another file was copied to this name.  " + src + "CASE.txt"}));
  EXPECT_EQ(state.workerIdle, 1);
  EXPECT_EQ(state.workerThread.load(), nullptr);
}

TEST_F(Engine, TheWorkerTouchesNothingItShouldNot) {
  RunWorker({});
  EXPECT_EQ(host.status.size(), 0u);
  EXPECT_FALSE(Exists(log));
  EXPECT_EQ(state.workerIdle, 1);
  // With no destination text nothing lands in the current folder.
  ASSERT_TRUE(WriteFileText(src + "stray.txt", "s"));
  host.destination = "";
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, current);
  SetCurrentDirectoryA(dir.path().c_str());
  RunWorker({src + "stray.txt"});
  SetCurrentDirectoryA(current);
  EXPECT_FALSE(Exists(DestinationPath(dir.path(), src + "stray.txt")));
  EXPECT_EQ(LogTexts(log).back(), "  1   Error - That path doesn't exist.  " + src + "stray.txt");
  // The archive bit is cleared only on what was copied; read-only stays.
  host.destination = dest;
  g_settings.UseArchiveBit = 1;
  ASSERT_TRUE(MakeFiles(src, {{"ro.txt", "r"}, {"held.txt", "h"}}));
  SetFileAttributesA((src + "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  SetFileAttributesA((src + "held.txt").c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
  {
    Locked held(src + "held.txt");
    RunWorker({src + "ro.txt", src + "held.txt"});
  }
  DWORD copied = GetFileAttributesA((src + "ro.txt").c_str());
  EXPECT_EQ(ReadFileText(To(src + "ro.txt")), "r");
  EXPECT_TRUE(copied & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(GetFileAttributesA((src + "held.txt").c_str()) & FILE_ATTRIBUTE_ARCHIVE);
  if (copied & FILE_ATTRIBUTE_ARCHIVE)
    GTEST_SKIP() << "this file system reports the archive attribute as set on every file";
}

TEST(WorkerEndCheck, EndsTheRunPastTheLastEntryOrOnACancelOnly) {
  JobState job;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto open = [](HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
  };
  const struct {
    int fileIndex, cancel, workerIdle, idleAfter;
  } cases[] = {{3, 0, 0, 0}, {3, -2, 0, 0}, {4, 0, 1, 1}, {3, 1, 0, 1}};
  for (const auto& c : cases) {
    job.workerThread = event;
    job.foundCount = 3;
    job.fileIndex = c.fileIndex;
    job.cancel = c.cancel;
    job.workerIdle = c.workerIdle;
    WorkerEndCheck(job);
    EXPECT_EQ(job.workerIdle, c.idleAfter) << c.fileIndex << " " << c.cancel;
    EXPECT_EQ(job.workerThread.load() == nullptr, c.idleAfter && !c.workerIdle);
    EXPECT_EQ(open(event), !(c.idleAfter && !c.workerIdle));
  }
}

TEST_F(Engine, TheLogTakesLinesWhileSwitchedOnFromEveryThreadAndSharesReading) {
  LogWriter writer(host);
  host.logging = false;
  writer.Write("not written");
  EXPECT_FALSE(Exists(log)) << "an unchecked log switch must not create the file";
  host.logging = true;
  auto write = [&](char tag) {
    for (int i = 0; i < 150; ++i)
      writer.Write(std::to_string(i) + std::string(tag == 'u' ? 1 : 200, tag));
  };
  std::thread a(write, 'a'), b(write, 'b');
  write('u');
  a.join();
  b.join();
  Lines texts = LogTexts(log);
  ASSERT_EQ(texts.size(), 450u);
  int next[3] = {0, 0, 0};
  for (const std::string& t : texts) {  // each thread's lines whole and in its own order
    int who = t.back() == 'a' ? 0 : t.back() == 'b' ? 1 : 2;
    EXPECT_EQ(t, std::to_string(next[who]++) + std::string(who < 2 ? 200 : 1, t.back()));
  }
  // A reader sharing writing (as Notepad does) opens it mid-job; one holding it unshared
  // costs that line only.
  HANDLE reader = CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  writer.Write("while read");
  CloseHandle(reader);
  writer.Close();
  {
    Locked holder(log);
    writer.Write("while held");
  }
  writer.Write("after");
  Lines all = LogTexts(log);
  EXPECT_EQ(Lines(all.begin() + 450, all.end()), (Lines{"while read", "after"}));
  SetLogFilePath(dir / "gone\\Stowly.log");
  writer.Write("nowhere");
  EXPECT_FALSE(Exists(dir / "gone"));
}

TEST_F(Engine, TheSizeRuleKeepsALogOfTheLimitLess140AndDeletesOneByteMore) {
  LogWriter writer(host);
  host.logging = false;  // the rule applies whether or not logging is on
  writer.ApplySizeRule(1000);
  EXPECT_FALSE(Exists(log));
  const std::string content = std::string(858, 'x') + "\r\n";
  ASSERT_TRUE(WriteFileText(log, content));
  writer.ApplySizeRule(1000);
  EXPECT_EQ(ReadFileText(log), content + std::string(140, '-') + "\r\n");
  ASSERT_TRUE(WriteFileText(log, content + "y"));
  writer.ApplySizeRule(1000);
  EXPECT_FALSE(Exists(log));
}

TEST(SafeCopy, TheOlderCopySurvivesEveryFailureAndNoTemporaryIsLeft) {
  const struct {
    const char* name;
    std::function<void(const std::string& src, const std::string& dst)> prepare;
    bool lockSource, lockDestination;
    int code;
  } cases[] = {
      {"source gone", [](auto& s, auto&) { DeleteFileA(s.c_str()); }, false, false, kFileNotFound},
      {"source locked", nullptr, true, false, kPermissionDenied},
      {"destination in use", nullptr, false, true, kPermissionDenied},
      {"read-only hidden older copy",
       [](auto&, auto& d) {
         SetFileAttributesA(d.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
       },
       false, false, 0},
      {"a read-only temporary left by a power cut",
       [](auto&, auto& d) {
         WriteFileText(PartialCopyPath(d), "half");
         SetFileAttributesA(PartialCopyPath(d).c_str(), FILE_ATTRIBUTE_READONLY);
       },
       false, false, 0},
      {"no older copy", [](auto&, auto& d) { DeleteFileA(d.c_str()); }, false, false, 0},
      {"a name so long the temporary must be shortened", nullptr, false, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    std::string name =
        c.prepare || c.lockSource || c.lockDestination ? "a.txt" : std::string(250, 'n');
    std::string src = dir / name, dst = dir / "copy\\" + name;
    ASSERT_TRUE(MakeFiles(dir.path(), {{name, "newer"}, {"copy\\" + name, "older"}}));
    if (c.prepare) c.prepare(src, dst);
    {
      Locked source(c.lockSource ? src : ""), destination(c.lockDestination ? dst : "");
      EXPECT_EQ(CopyFileOver(src, dst, false), c.code);
    }
    std::string expected = c.code ? "older" : "newer";
    EXPECT_EQ(ReadTree(dir / "copy\\"), (Files{{name, expected}}));
    const DWORD bits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (c.code == 0) {
      EXPECT_EQ(GetFileAttributesW(FilePathW(dst).c_str()) & bits,
                GetFileAttributesW(FilePathW(src).c_str()) & bits);
    }
  }
}

// A new destination folder takes its source folder's bits, but never a drive root's,
// which are hidden and system.
TEST(SafeCopy, NewDestinationFoldersNeverTakeADriveRootsAttributes) {
  ScratchDir dir;
  MakeFiles(dir / "root\\", {{"a.txt", "a"}, {"plain\\b.txt", "b"}});
  MappedDrive drive('W', dir / "root\\");
  ASSERT_TRUE(drive.ready());
  const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  for (const std::string& folder : {drive.root(), drive.root() + "plain"})
    if (!SetFileAttributesA(folder.c_str(), hiddenSystem) ||
        (GetFileAttributesA(folder.c_str()) & hiddenSystem) != hiddenSystem)
      GTEST_SKIP() << "this volume keeps no hidden or system bits on folders";
  ASSERT_EQ(CopyFileOver(drive.root() + "a.txt", dir / "dst1\\a.txt", false), 0);
  ASSERT_EQ(CopyFileOver(drive.root() + "plain\\b.txt", dir / "dst2\\plain\\b.txt", false), 0);
  EXPECT_EQ(GetFileAttributesA((dir / "dst1").c_str()) & hiddenSystem, 0u);
  EXPECT_EQ(GetFileAttributesA((dir / "dst2\\plain").c_str()) & hiddenSystem, hiddenSystem);
}

TEST(DestinationLock, OneJobPerFolderHoweverItIsNamedAndTheUsersFilesStay) {
  ScratchDir dir;
  std::string dst = dir / "usb\\";
  MakeFiles(dst, {});
  MappedDrive letter('W', dst);
  ASSERT_TRUE(letter.ready());
  {
    DestinationLock first, second;
    ASSERT_EQ(first.Acquire(dst), DestinationLock::State::kHeld);
    EXPECT_EQ(second.Acquire(letter.root()), DestinationLock::State::kBusy);
    first.Release();
    EXPECT_EQ(ReadTree(dst), Files{}) << "a released lock leaves nothing behind";
    EXPECT_EQ(second.Acquire(letter.root()), DestinationLock::State::kHeld);
    EXPECT_EQ(first.Acquire(dst), DestinationLock::State::kBusy);
  }
  EXPECT_EQ(ReadTree(dst), Files{});
  DestinationLock missing;
  EXPECT_EQ(missing.Acquire(dir / "gone\\"), DestinationLock::State::kFailed);
  EXPECT_EQ(missing.failureCode(), kPathNotFound);
  EXPECT_EQ(ProveWritable(dir / "gone\\"), kPathNotFound);
  // A user's own file of the lock's name is used but never deleted.
  const Files mine = {{kLockFileName, "mine"}};
  MakeFiles(dst, mine);
  {
    DestinationLock first, second;
    EXPECT_EQ(first.Acquire(dst), DestinationLock::State::kHeld);
    EXPECT_EQ(second.Acquire(dst), DestinationLock::State::kBusy);
    EXPECT_EQ(ProveWritable(dst), 0);
  }
  EXPECT_EQ(ReadTree(dst), mine);
}

// A job that dies holds its handle until the system closes it: the lock file goes with it.
TEST(DestinationLock, AKilledHolderLeavesNoStaleLock) {
  ScratchDir dir;
  std::string dst = dir / "usb\\";
  MakeFiles(dst, {});
  std::string me(MAX_PATH, '\0');
  me.resize(GetModuleFileNameA(nullptr, me.data(), MAX_PATH));
  SetEnvironmentVariableA("STOWLY_HOLD_LOCK_IN", dst.c_str());
  std::optional<ChildProcess> holder;
  holder.emplace("\"" + me + "\" --gtest_filter=DestinationLock.HoldsTheLockWhenAsked");
  SetEnvironmentVariableA("STOWLY_HOLD_LOCK_IN", nullptr);
  DestinationLock lock;
  for (int i = 0; i < 1000 && !Exists(dst + kLockFileName); ++i) Sleep(20);
  EXPECT_EQ(lock.Acquire(dst), DestinationLock::State::kBusy);
  holder.reset();  // kills the holder, as a crash would end it
  for (int i = 0; i < 250 && lock.Acquire(dst) != DestinationLock::State::kHeld; ++i) Sleep(20);
  EXPECT_EQ(lock.state(), DestinationLock::State::kHeld);
}

// Run only as the killed holder above: takes the lock and waits to be killed.
TEST(DestinationLock, HoldsTheLockWhenAsked) {
  char folder[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("STOWLY_HOLD_LOCK_IN", folder, MAX_PATH))
    GTEST_SKIP() << "only run by the stale-lock test";
  DestinationLock lock;
  ASSERT_EQ(lock.Acquire(folder), DestinationLock::State::kHeld);
  Sleep(120000);
}

// Drive letters mapped in the prefix, Wine's Z:\ view of the host and a host link, all
// leading to one folder.
TEST(FolderIdentity, EveryWayToAFolderReadsOneIdentity) {
  ScratchDir dir;
  std::string data = dir / "data\\", link = dir / "link";
  ASSERT_TRUE(MakeFiles(data + "inside\\", {}));
  MappedDrive letter('V', dir.path());
  ASSERT_TRUE(letter.ready() && HostSymlink(link, data));
  std::string hostView = NormalizeFolderPath("Z:" + HostPath(data));
  FolderIdentity real, other;
  ASSERT_TRUE(ReadFolderIdentity(data, real));
  EXPECT_TRUE(real.known()) << "this volume gives file indexes";
  for (const std::string& way :
       {std::string("V:\\data\\"), std::string("v:\\DATA\\"), hostView, link + "\\"}) {
    EXPECT_TRUE(ReadFolderIdentity(way, other) && other == real) << way;
  }
  EXPECT_FALSE(ReadFolderIdentity(dir / "missing\\", other));
  EXPECT_EQ(FolderContains(data, "V:\\data\\inside\\new\\"), Containment::kYes);
  EXPECT_EQ(FolderContains(data, link + "\\inside\\"), Containment::kYes);
  EXPECT_EQ(FolderContains(data + "inside\\", "V:\\data\\"), Containment::kNo);
  EXPECT_TRUE(IsIllegalConfiguration(hostView + "inside\\", {"V:\\data\\"}));
  EXPECT_FALSE(IsIllegalConfiguration(dir / "backup\\", {"V:\\data\\"}));
  RemoveTreeOnHost(dir.path());
}

// Drive Q: is a small volume of its own (scripts/make-full-disk.sh); without one the
// tests skip.
std::string WhyNoSmallVolume() {
  ULARGE_INTEGER total = {};
  if (GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR)
    return "drive Q: is not prepared; run scripts/make-full-disk.sh on this Wine prefix first";
  if (!GetDiskFreeSpaceExA("Q:\\", nullptr, &total, nullptr) || total.QuadPart > (16u << 20))
    return "drive Q: is not a small test volume, so it is not filled";
  return "";
}

ULONGLONG FreeOnQ() {
  ULARGE_INTEGER free = {};
  GetDiskFreeSpaceExA("Q:\\", &free, nullptr, nullptr);
  return free.QuadPart;
}

// The new copy is written beside the older one, so it must fit beside it; the space a
// failed copy took is free again for the next file.
TEST_F(Engine, OnAFullDiskAFailedCopyLeavesTheOlderCopyAndNoTruncatedFile) {
  if (std::string why = WhyNoSmallVolume(); !why.empty()) GTEST_SKIP() << why;
  const size_t kKiB = 1024;
  std::string q = "Q:\\stowly-full-" + std::to_string(GetCurrentProcessId()) + "\\";
  host.destination = q;
  const Files source = {{"small.txt", "small"},
                        {"big.bin", std::string(700 * kKiB, 'n')},
                        {"after.bin", std::string(400 * kKiB, 'a')}};
  const Files older = {{"big.bin", std::string(200 * kKiB, 'o')},
                       {"after.bin", std::string(100 * kKiB, 'p')}};
  ASSERT_TRUE(MakeFiles(src, source) && MakeFiles(CopyOf(q, src), older));
  ASSERT_GT(FreeOnQ(), 560 * kKiB) << "drive Q: is too small for this test";
  ASSERT_TRUE(WriteFileText(q + "ballast", std::string(FreeOnQ() - 550 * kKiB, 'x')));
  RunWorker({src + "small.txt", src + "big.bin", src + "after.bin"});
  Files expected = source;
  expected["big.bin"] = older.at("big.bin");
  EXPECT_TRUE(ReadTree(CopyOf(q, src)) == expected);
  Lines texts = LogTexts(log);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "  2   Error - Disk full.  " + src + "big.bin"),
            1);
  EXPECT_EQ(host.skippedLabel, "1 Skipped files - See log for details");
  RemoveTree(q);
}

}  // namespace
