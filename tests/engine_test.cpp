// The engine on real trees, with no window: listing, the copy phase, the log, the safe
// copy, the destination lock, links, a volume that really fills up, and whole backup jobs
// on their own thread, seen through the progress they report.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>
#include <tuple>

#include "engine/backup_job.h"
#include "engine/copy_worker.h"
#include "engine/destination_lock.h"
#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/job_progress.h"
#include "engine/log_file.h"
#include "engine/safe_copy.h"
#include "engine/settings.h"
#include "engine/versions.h"
#include "tests/support.h"

namespace {

using State = DestinationLock::State;

Lines Sorted(Lines v) {
  std::sort(v.begin(), v.end());
  return v;
}

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

// Everything a job reported, as a window that looks for the first time sees it.
ProgressView Seen(JobProgress& progress) {
  uint64_t never = 0;
  return progress.Take(never);
}

// A run's folder name for a run that many days and an hour ago.
std::string DaysAgo(int days) {
  SYSTEMTIME now, then;
  FILETIME time;
  GetLocalTime(&now);
  SystemTimeToFileTime(&now, &time);
  ULARGE_INTEGER ticks = {{time.dwLowDateTime, time.dwHighDateTime}};
  ticks.QuadPart -= (days * 24ull + 1) * 36000000000ull;
  time = {ticks.LowPart, ticks.HighPart};
  FileTimeToSystemTime(&time, &then);
  return VersionFolderName(then);
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeFiles(src, {}) && MakeFiles(dest, {}));
    SetLogFilePath(log);
  }
  void TearDown() override { SetLogFilePath("Stowly.log"); }
  int List(const std::string& folder, Lines& list, int already = 0, bool inDestination = false,
           bool fullMirror = true) {
    return ListFiles(progress, folder, list, already,
                     {inDestination ? ListingMode::kDestination : ListingMode::kSource, dest, false,
                      fullMirror});
  }
  Lines Listed(const std::string& folder, bool inDestination = false) {
    Lines list(1);
    int n = List(folder, list, 0, inDestination);
    EXPECT_EQ(n, static_cast<int>(list.size()));
    return Sorted(list);
  }
  std::string To(const std::string& source) const { return DestinationPath(dest, source); }
  // The copy phase over list (entries 1..size) into destination, keeping versions for
  // keepDays.
  void Copy(const Lines& list, int keepDays = 0) {
    state.destination = destination;
    state.masterList = list;
    state.foundCount = static_cast<int>(list.size());
    LogWriter writer;
    KeptVersions versions(writer);
    versions.Start(destination, keepDays);
    CopyPhase phase{state, progress, writer, &versions};
    CopyListedFiles(phase);
  }

  ScratchDir dir;
  std::string src = dir / "src\\", dest = dir / "dest\\", log = dest + "Stowly.log";
  std::string destination = dest;
  JobProgress progress;
  JobState state;
};

TEST_F(Engine, ListingGoesDepthFirstWithHiddenFilesAndRewritesOneStatusLine) {
  ASSERT_TRUE(MakeFiles(src, {{"a", ""}, {"b", ""}, {"1\\d", ""}, {"1\\e\\e", ""}, {"2\\f", ""}}));
  MakeFiles(src + "empty\\", {});
  SetFileAttributesA((src + "b").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  progress.StatusAdd("Checking Destination Folder...", false);
  progress.StatusAdd("Getting list of files from source...", false);
  // Two entries from an earlier listing are kept, a longer tail beyond them goes; the
  // folder's own files come first, then each subtree whole.
  Lines list = {"kept1", "kept2", "old3", "old4", "old5", "old6", "old7", "old8"};
  ASSERT_EQ(List(dir / "src", list, 2), 5);
  Lines subtrees = {src + "1\\d", src + "1\\e\\e"};
  subtrees.insert(list[4] == src + "2\\f" ? subtrees.begin() : subtrees.end(), src + "2\\f");
  EXPECT_EQ(Lines(list.begin(), list.begin() + 2), (Lines{"kept1", "kept2"}));
  EXPECT_EQ(Sorted({list[2], list[3]}), (Lines{src + "a", src + "b"}));
  EXPECT_EQ(Lines(list.begin() + 4, list.end()), subtrees);
  EXPECT_EQ(progress.StatusLast().rfind("Getting list of files from source...", 0), 0u);
  // Each listing counts afresh under its own header; a missing folder lists nothing.
  EXPECT_EQ(List(src + "empty", list, 0, false, false), 0);
  EXPECT_EQ(progress.StatusLast(), "Getting list of changed files from source...0 Files Found");
  EXPECT_EQ(List(src + "2\\", list, 8, true), 1);
  EXPECT_EQ(progress.StatusLast(),
            "Getting complete list of files from destination...8 Files Found");
  EXPECT_EQ(List(dir / "missing\\", list), 0);
  EXPECT_EQ(Seen(progress).status.lines.size(), 2u) << "the progress line is rewritten in place";
}

TEST_F(Engine, LinksBackIntoTheTreeEndPromptly) {
  std::string root = dir / "root\\", out = dir / "outside\\";
  ASSERT_TRUE(MakeFiles(root, {{"top", ""}, {"a\\f", ""}}) && MakeFiles(out, {{"g", ""}}));
  // Links back into the tree (beside their target, before and after it in the file
  // system's order), one out of it, and out there one back and one loop.
  const std::pair<std::string, std::string> links[] = {
      {root + "a\\loop", root}, {root + "0s", root + "a"}, {root + "zs", root + "a"},
      {root + "toOut", out},    {out + "back", root},      {out + "self", out}};
  for (const auto& [link, target] : links)
    if (!HostSymlink(link, target)) GTEST_SKIP() << "host links cannot be made here";
  EXPECT_EQ(Listed(root), (Lines{root + "a\\f", root + "toOut\\g", root + "top"}));
  EXPECT_EQ(Listed(out), (Lines{out + "back\\a\\f", out + "back\\top", out + "g"}));
  RemoveTreeOnHost(dir.path());
}

TEST_F(Engine, PathsBeyondMaxPathAreListedCopiedAndMade) {
  std::string folder = src;
  for (char c : std::string("mnopq")) folder += std::string(55, c) + "\\";
  std::string file = folder + "long name.txt";
  ASSERT_TRUE(MakeFiles(src, {{"short", "s"}, {file.substr(src.size()), "far down"}}));
  ASSERT_EQ(Listed(src), (Lines{file, src + "short"}));
  Copy({file});
  EXPECT_EQ(ReadFileText(To(file)), "far down");
  EXPECT_EQ(LogTexts(log), (Lines{"  1   Copying " + file + " -> " + To(file)}));
  // Folder chains are made level by level (into hidden ones too); a file in the way stops it.
  MakeFiles(dir / "h\\", {});
  SetFileAttributesA((dir / "h").c_str(), FILE_ATTRIBUTE_HIDDEN);
  const std::pair<std::string, int> made[] = {
      {dir / "h\\x\\y\\\\", 0}, {src + "short\\inner\\", kPathNotFound}, {"C:\\", 0}};
  for (const auto& [path, code] : made) {
    EXPECT_EQ(MakeFolderPath(path), code) << path;
    EXPECT_TRUE(code || IsFolder(path.substr(0, path.find_last_not_of('\\') + 1))) << path;
  }
  // Below a share only its folders are made, never the server or share levels (Wine has no
  // shares to show it on).
  for (const std::string root : {"C:", "\\\\srv\\share", "\\\\?\\UNC\\srv\\share", "\\\\?\\C:"}) {
    EXPECT_EQ(RootLength(root + "\\Backup\\x"), root.size()) << root;
    EXPECT_EQ(RootLength(root), root.size()) << root;
  }
  EXPECT_EQ(RootLength("\\\\srv"), 5u);
  // What cannot be told missing counts as there, so nothing is copied over it.
  EXPECT_EQ((std::tuple{FileExists(folder + "missing"), FileExists(src), FileExists(src + "a|b")}),
            std::tuple(false, true, true));
}

TEST_F(Engine, TheWorkerCopiesTheListReportsEachFailureAndClearsOnlyWhatItCopied) {
  ASSERT_TRUE(MakeFiles(src, {{"a", "alpha"}, {"sub\\b", "beta"}, {"ro", "new"}, {"locked", "l"}}));
  SetFileAttributesA((src + "sub").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA((src + "a").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_TRUE(MakeFiles(To(src), {{"ro", "old"}, {"gone", "older"}, {"locked", "older l"}}));
  SetFileAttributesA(To(src + "ro").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  // A read-only temporary a power cut left beside ro's copy goes before it is reused.
  ASSERT_TRUE(WriteFileText(PartialCopyPath(To(src + "ro")), "half"));
  SetFileAttributesA(PartialCopyPath(To(src + "ro")).c_str(), FILE_ATTRIBUTE_READONLY);
  // Two names that differ in letter case only, as a share of another system has them.
  ASSERT_TRUE(WriteFileText(src + "case", "lower") && WriteFileText(src + "u", "upper"));
  RunHost("/bin/mv \"" + HostPath(src + "u") + "\" \"" + HostPath(src) + "/CASE\"");
  for (int i = 0; i < 500 && Exists(src + "u"); ++i) Sleep(10);
  progress.StatusAdd("Getting list of files from source...5 Files Found", false);
  state.clearArchive = true;
  {
    Locked held(src + "locked");
    Copy({src + "a", src + "gone", src + "sub\\b", src + "ro", src + "locked", src + "case",
          src + "CASE"});
  }
  // Overwritten copies carry the source's attributes; a new folder takes its source's.
  const Files copied = {{"a", "alpha"}, {"gone", "older"},     {"sub\\b", "beta"},
                        {"ro", "new"},  {"locked", "older l"}, {"case", "lower"}};
  EXPECT_EQ(ReadTree(To(src)), copied);
  EXPECT_EQ(Attributes(To(src + "sub")) & FILE_ATTRIBUTE_HIDDEN, DWORD{FILE_ATTRIBUTE_HIDDEN});
  EXPECT_EQ(Attributes(To(src + "ro")) & FILE_ATTRIBUTE_READONLY, 0u);
  ProgressView seen = Seen(progress);
  EXPECT_EQ(seen.status.lines,
            (Lines{"Getting list of files from source...5 Files Found", "Copying file 7 of 7"}));
  EXPECT_EQ(seen.skipped.lines, (Lines{src + "gone", src + "locked", src + "CASE"}));
  EXPECT_EQ(seen.skippedLabel, "3 Skipped files - See log for details");
  Lines texts = LogTexts(log);
  ASSERT_EQ(texts.size(), 10u);
  EXPECT_EQ(texts[0], "  1   Copying " + src + "a -> " + To(src + "a"));
  EXPECT_EQ(texts[2], "  2   Error - File not found.  " + src + "gone");
  EXPECT_EQ(texts[6], "  5   Error - Permission Denied  " + src + "locked");
  EXPECT_EQ(texts[9], "  7   Error - Another file was copied to this name.  " + src + "CASE");
  // With no destination text nothing lands in the current folder.
  destination = "";
  Copy({src + "a"});
  EXPECT_EQ(LogTexts(log).back(), "  1   Error - That path doesn't exist.  " + src + "a");
  // The archive bit is cleared only on what was copied (a failed copy gets it back) and
  // read-only stays; Wine keeps no other attribute, so those are not seen here.
  EXPECT_TRUE(Attributes(src + "a") & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(Attributes(src + "locked") & FILE_ATTRIBUTE_ARCHIVE);
  if (Attributes(src + "a") & FILE_ATTRIBUTE_ARCHIVE)
    GTEST_SKIP() << "this file system reports the archive attribute as set on every file";
}

TEST_F(Engine, TheLogTakesWholeLinesFromEveryThreadSharesReadingAndKeepsItsSize) {
  LogWriter writer;
  writer.Enable(false);
  writer.Write("not written");
  EXPECT_FALSE(Exists(log)) << "an unchecked log switch must not create the file";
  writer.Enable(true);
  auto write = [&](char tag) {
    for (int i = 0; i < 150; ++i) writer.Write(std::to_string(i) + std::string(200, tag));
  };
  std::thread a(write, 'a'), b(write, 'b');
  write('u');
  a.join(), b.join();
  Lines texts = LogTexts(log);
  ASSERT_EQ(texts.size(), 450u);
  std::map<char, int> next;
  for (const std::string& t : texts)  // each thread's lines whole and in its own order
    EXPECT_EQ(t, std::to_string(next[t.back()]++) + std::string(200, t.back()));
  // A reader sharing writing opens it mid-job; one holding it unshared only delays a line.
  ScopedHandle reader(CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  writer.Write("while read");
  reader.Reset();
  writer.Close();
  std::optional<Locked> holder(log);
  writer.Write("while held");
  holder.reset();
  writer.Write("after");
  texts = LogTexts(log);
  EXPECT_EQ(Lines(texts.begin() + 450, texts.end()), (Lines{"while read", "while held", "after"}));
  // The size rule, logging on or off: the limit less 140 gets a separator, a byte more goes.
  writer.Enable(false);
  writer.Close();
  const std::string content = std::string(858, 'x') + "\r\n";
  for (std::string extra : {"", "y"}) {
    ASSERT_TRUE(WriteFileText(log, content + extra));
    writer.ApplySizeRule(1000);
    EXPECT_EQ(Exists(log) ? ReadFileText(log) : "gone",
              extra.empty() ? content + std::string(140, '-') + "\r\n" : "gone");
  }
  SetLogFilePath(dir / "gone\\Stowly.log");
  writer.Enable(true);
  writer.Write("nowhere");
  EXPECT_FALSE(Exists(dir / "gone"));
}

// The older copy survives a locked destination; a read-only temporary a power cut left
// goes; a name so long the temporary must be shortened still copies.
TEST(SafeCopy, TheOlderCopySurvivesEveryFailureAndNoTemporaryIsLeft) {
  const std::tuple<std::string, bool, bool> cases[] = {
      {"a", true, false}, {"a", false, true}, {std::string(250, 'n'), false, false}};
  for (const auto& [name, lock, leftover] : cases) {
    ScratchDir dir;
    std::string dst = dir / "copy\\" + name;
    ASSERT_TRUE(MakeFiles(dir.path(), {{name, "newer"}, {"copy\\" + name, "older"}}));
    ASSERT_TRUE(!leftover || WriteFileText(PartialCopyPath(dst), "half"));
    SetFileAttributesA(PartialCopyPath(dst).c_str(), FILE_ATTRIBUTE_READONLY);
    std::optional<Locked> destination(lock ? dst : "");
    EXPECT_EQ(CopyFileOver(dir / name, dst, false), lock ? kPermissionDenied : 0);
    destination.reset();
    EXPECT_EQ(ReadTree(dir / "copy\\"), (Files{{name, lock ? "older" : "newer"}}));
  }
  // Held for a moment only, as a scanner holds a fresh file: the replace waits it out.
  ScratchDir dir;
  ASSERT_TRUE(MakeFiles(dir.path(), {{"a", "newer"}, {"copy\\a", "older"}}));
  auto held = std::make_unique<Locked>(dir / "copy\\a");
  std::thread scanner([&held] { Sleep(300), held.reset(); });
  EXPECT_EQ(CopyFileOver(dir / "a", dir / "copy\\a", false), 0);
  scanner.join();
  EXPECT_EQ(ReadTree(dir / "copy\\"), (Files{{"a", "newer"}}));
}

// One job per folder however it is named (here by a drive letter too); a user's own file
// of the lock's name is used, never deleted. New destination folders take their source
// folder's bits, but never a drive root's, which are hidden and system.
TEST(DestinationLock, OneJobPerFolderHoweverItIsNamedAndTheUsersFilesStay) {
  ScratchDir dir;
  std::string dst = dir / "usb\\";
  MakeFiles(dst, {{"plain\\b", "b"}});
  MappedDrive letter('W', dst);
  ASSERT_TRUE(letter.ready());
  for (const Files& mine : {Files{}, Files{{kLockFileName, "mine"}}}) {
    MakeFiles(dst, mine);
    {
      DestinationLock first, second;
      ASSERT_EQ(first.Acquire(dst), State::kHeld);
      EXPECT_EQ(second.Acquire(letter.root()), State::kBusy);
      first.Release();
      // Braces keep the calls in order.
      EXPECT_EQ((std::tuple{second.Acquire(letter.root()), first.Acquire(dst), ProveWritable(dst)}),
                std::tuple(State::kHeld, State::kBusy, 0));
    }
    Files left = ReadTree(dst);
    EXPECT_EQ(left.erase("plain\\b"), 1u);
    EXPECT_EQ(left, mine);
  }
  DestinationLock missing;
  EXPECT_EQ((std::tuple{missing.Acquire(dir / "gone\\"), missing.failureCode(),
                        ProveWritable(dir / "gone\\")}),
            std::tuple(State::kFailed, kPathNotFound, kPathNotFound));
  const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  for (const std::string& folder : {letter.root(), letter.root() + "plain"})
    if (!SetFileAttributesA(folder.c_str(), hiddenSystem) ||
        (Attributes(folder) & hiddenSystem) != hiddenSystem)
      GTEST_SKIP() << "this volume keeps no hidden or system bits on folders";
  ASSERT_EQ(CopyFileOver(letter.root() + kLockFileName, dir / "to1\\a", false), 0);
  ASSERT_EQ(CopyFileOver(letter.root() + "plain\\b", dir / "to2\\plain\\b", false), 0);
  EXPECT_EQ(Attributes(dir / "to1") & hiddenSystem, 0u);
  EXPECT_EQ(Attributes(dir / "to2\\plain") & hiddenSystem, hiddenSystem);
}

// Drive Q: is a small volume of its own (scripts/make-full-disk.sh); "" when it is ready
// to be filled, else why not.
std::string FullDiskMissing() {
  ULARGE_INTEGER total = {};
  if (GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR)
    return "drive Q: is not prepared; run scripts/make-full-disk.sh on this prefix";
  if (!GetDiskFreeSpaceExA("Q:\\", nullptr, &total, nullptr) || total.QuadPart > (16u << 20))
    return "drive Q: is not a small test volume, so it is not filled";
  return "";
}

// The new copy is written beside the older one, so it must fit beside it; the space a
// failed copy took is free again for the next file.
TEST_F(Engine, OnAFullDiskAFailedCopyLeavesTheOlderCopyAndNoTruncatedFile) {
  if (std::string why = FullDiskMissing(); !why.empty()) GTEST_SKIP() << why;
  ULARGE_INTEGER free = {};
  const size_t kKiB = 1024;
  std::string q = "Q:\\stowly-full-" + std::to_string(GetCurrentProcessId()) + "\\";
  const std::string older = std::string(200 * kKiB, 'o'), after = std::string(400 * kKiB, 'a');
  ASSERT_TRUE(
      MakeFiles(src, {{"small", "s"}, {"big", std::string(700 * kKiB, 'n')}, {"after", after}}));
  ASSERT_TRUE(MakeFiles(CopyOf(q, src), {{"big", older}, {"after", std::string(100 * kKiB, 'p')}}));
  GetDiskFreeSpaceExA("Q:\\", &free, nullptr, nullptr);
  ASSERT_GT(free.QuadPart, 560 * kKiB) << "drive Q: is too small for this test";
  ASSERT_TRUE(WriteFileText(q + "ballast", std::string(free.QuadPart - 550 * kKiB, 'x')));
  destination = q;
  Copy({src + "small", src + "big", src + "after"});
  EXPECT_TRUE(ReadTree(CopyOf(q, src)) ==
              (Files{{"small", "s"}, {"big", older}, {"after", after}}));
  EXPECT_EQ(LogTexts(log)[2], "  2   Error - Disk full.  " + src + "big");
  EXPECT_EQ(Seen(progress).skippedLabel, "1 Skipped files - See log for details");
  RemoveTree(q);
}

// Lines that find the volume full wait and land, in order, with the next line that finds
// room, or when the log is closed.
TEST_F(Engine, OnAFullDiskTheLogsLinesWaitForRoomAndKeepTheirOrder) {
  if (std::string why = FullDiskMissing(); !why.empty()) GTEST_SKIP() << why;
  std::string q = "Q:\\stowly-log-" + std::to_string(GetCurrentProcessId()) + "\\";
  std::string ballast = q + "ballast", wide(5000, 'w');  // wider than a block's rest
  auto fill = [&] {
    ULARGE_INTEGER free = {};
    GetDiskFreeSpaceExA("Q:\\", &free, nullptr, nullptr);
    return WriteFileText(ballast, std::string(free.QuadPart, 'x'));
  };
  ASSERT_TRUE(MakeFiles(q, {}) && fill());
  LogWriter writer;
  writer.UsePath(q + "Stowly.log");
  writer.Write("one"), writer.Write("two");
  EXPECT_EQ(LogTexts(q + "Stowly.log"), Lines{}) << "the volume is not full";
  DeleteFileA(ballast.c_str());
  writer.Write("three");
  ASSERT_TRUE(fill());
  writer.Write(wide);
  DeleteFileA(ballast.c_str());
  writer.Close();
  EXPECT_EQ(LogTexts(q + "Stowly.log"), (Lines{"one", "two", "three", wide}));
  RemoveTree(q);
}

// Kept versions give way when a copy finds no room: the oldest run's folder first, then the
// next, never this run's, which holds the older copy the first file replaced; then the
// file is reported as today.
TEST_F(Engine, OnAFullDiskOlderRunsVersionsMakeRoomButNeverThisRuns) {
  if (std::string why = FullDiskMissing(); !why.empty()) GTEST_SKIP() << why;
  ULARGE_INTEGER free = {};
  const size_t kKiB = 1024;
  std::string q = "Q:\\stowly-versions-" + std::to_string(GetCurrentProcessId()) + "\\";
  std::string versions = q + kVersionsFolderName + "\\", oldest = DaysAgo(3), newer = DaysAgo(2);
  const std::string fits = std::string(300 * kKiB, 'n'), older = std::string(50 * kKiB, 'o');
  ASSERT_TRUE(MakeFiles(src, {{"fits", fits}, {"never", std::string(600 * kKiB, 'x')}}));
  ASSERT_TRUE(MakeFiles(CopyOf(q, src), {{"fits", older}}) &&
              MakeFiles(versions, {{oldest + "\\a", std::string(200 * kKiB, 'a')},
                                   {newer + "\\b", std::string(200 * kKiB, 'b')}}));
  GetDiskFreeSpaceExA("Q:\\", &free, nullptr, nullptr);
  ASSERT_TRUE(WriteFileText(q + "ballast", std::string(free.QuadPart - 150 * kKiB, 'x')));
  destination = q;
  Copy({src + "fits", src + "never"}, 30);
  EXPECT_TRUE(ReadFileText(CopyOf(q, src) + "fits") == fits);
  Lines runs = Names(versions);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(ReadTree(versions) == (Files{{runs[0] + "\\" + src.substr(3) + "fits", older}}));
  Lines texts = LogTexts(log);
  EXPECT_TRUE(Has(texts, "  Disk full, deleted old versions " + versions + oldest + "\\") &&
              Has(texts, "  Disk full, deleted old versions " + versions + newer + "\\"));
  EXPECT_EQ(texts.back(), "  2   Error - Disk full.  " + src + "never");
  RemoveTree(q);
}

// --- Whole jobs ---
const std::string kFinished = "FINISHED!  Backup is complete.";

class Job : public ::testing::Test {
 protected:
  void TearDown() override { SetLogFilePath("Stowly.log"); }
  // One job over the configuration, loaded as the program loads its settings: asked and
  // answered as the window asks, then on its own thread to its end; the log lies in the
  // destination. What it reported lands in status, skipped and boxes (text and flags).
  void Run(const Config& c, std::function<void()> before = nullptr, int answer = IDOK) {
    ASSERT_TRUE(WriteFileText(g_settings.settingsPath = home / "Stowly.ini", IniText(c)));
    LoadSettings();
    boxes.clear();
    progress.OnChange(nullptr);
    if (before) before();
    JobInputs in = ReadJobInputs(c.sources, c.destination);
    auto ask = [&](const std::string& text, unsigned flags) {
      return boxes.emplace_back(text, flags), answer;
    };
    if (ConfirmJob(in, ask) && job.Start(in, false)) job.Join();
    ProgressView seen = Seen(progress);
    status = seen.status.lines, skipped = seen.skipped.lines;
    for (const JobMessage& m : progress.Take(boxesSeen).messages)
      boxes.emplace_back(m.text, m.flags);
    EXPECT_TRUE(!seen.button || (seen.button->text == "Backup" && seen.button->enabled));
  }
  // Runs action on the job's thread once the status list's last line starts with head.
  void When(const std::string& head, std::function<void()> action) {
    progress.OnChange([this, head, action, seen = uint64_t{0}]() mutable {
      Lines changed = progress.Take(seen).status.lines;  // each look lets the next change call
      if (action && !changed.empty() && changed.back().rfind(head, 0) == 0)
        std::exchange(action, nullptr)();
    });
  }
  Lines Log() { return LogTexts(dst + "Stowly.log"); }
  Lines Last(size_t n) { return Lines(status.end() - n, status.end()); }

  ScratchDir dir, home;
  std::string src = dir / "src\\", dst = dir / "dst\\", copy = CopyOf(dst, src);
  JobProgress progress;
  BackupJob job{progress};
  uint64_t boxesSeen = 0;
  Lines status, skipped;
  std::vector<std::pair<std::string, unsigned>> boxes;
};

TEST_F(Job, RefusalsAndACancelledConfirmationTouchNothing) {
  MakeFiles(src, {{"a.txt", "a"}});
  MakeFiles(copy + "in\\", {{"x.txt", "x"}});  // a source where the first one's copy goes
  const std::string needBoth = "There must be at least 1 source folder and a destination folder.";
  const std::string illegal = "Illegal Configuration!  This will copy the source onto itself.";
  const std::tuple<Config, std::string, std::string> cases[] = {
      {{dst, {}}, needBoth, ""},
      {{src + "backup\\", {src}}, illegal, ""},
      {{dst, {src, copy + "in\\"}}, illegal, ""},
      {{dst, {src}, 1, 0}, "", "Full Mirror Backup - "},
      {{dst, {src}, 0, 1}, "", "Fast Mirror Backup - "}};
  const Files before = ReadTree(dir.path());
  progress.StatusAdd("earlier line", false);
  for (const auto& [config, message, mode] : cases) {
    Run(config, nullptr, message.empty() ? IDCANCEL : IDOK);
    ASSERT_FALSE(boxes.empty());
    const auto& [text, flags] = boxes.front();
    // The missing-settings message comes before the confirmation, the illegal one after it.
    EXPECT_EQ(boxes.size(), message == illegal ? 2u : 1u);
    if (message.empty()) {
      EXPECT_EQ(text.find("Ready to start Backup Job...\r\n\r\n" + mode), 0u) << text;
      EXPECT_EQ(text.find("archive bit will be cleared") != text.npos, config.useArchiveBit);
      EXPECT_EQ(flags, unsigned{MB_OKCANCEL | MB_ICONINFORMATION});
    } else {
      EXPECT_EQ(boxes.back(), std::make_pair(message, unsigned{MB_OK | MB_ICONINFORMATION}));
    }
    EXPECT_EQ(status, Lines{"earlier line"});
    EXPECT_EQ(ReadTree(dir.path()), before);
  }
}

TEST_F(Job, FastMirrorCopiesChangesAndDeletesOnlyRealOrphansOnce) {
  const Files source = {{"a.txt", "new alpha"}, {"sub\\b.txt", "bravo"}};
  MakeFiles(src, source);
  const Files old = {
      {"a.txt", "old"}, {"sub\\orphan", "listed twice"}, {"gone\\x", "x"}, {"locked", "held"}};
  MakeFiles(copy, old);
  SetFileAttributesA((copy + "a.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA((copy + "gone\\x").c_str(), FILE_ATTRIBUTE_READONLY);
  MakeFiles(dst, {{"elsewhere\\y.txt", "outside every copy"}});
  {
    Locked held(copy + "locked");
    Run({dst, {src, src + "sub\\"}, 0, 1, 1});  // overlapping sources: shared files listed twice
  }
  Files left = source;
  left["locked"] = "held";
  EXPECT_EQ(ReadTree(copy), left);
  EXPECT_TRUE(Exists(copy + "gone")) << "empty folders stay, only files go";
  EXPECT_EQ(ReadFileText(dst + "elsewhere\\y.txt"), "outside every copy");
  EXPECT_EQ(Last(4), (Lines{"3 of 3 Files copied - 0 Files skipped",
                            "Getting complete list of files from destination...7 Files Found",
                            "Deleting files from destination folders that are not found in source "
                            "folders...2 files",
                            kFinished}));
  Lines log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "  Deleted " + copy + "sub\\orphan"), 1);
  EXPECT_TRUE(Has(log, "  Deleted " + copy + "gone\\x"));
  EXPECT_TRUE(Has(log,
                  "Backup Mode = Fast Mirror, delete orphaned files, clearing Archive Bit on "
                  "backed up files"));
  EXPECT_TRUE(Has(log, "  Error - Permission Denied  " + copy + "locked"));
  MakeFiles(copy, {{"late", "an orphan"}});
  Run({dst, {src}, 0, 1, 0});  // without DeleteFiles orphans stay
  EXPECT_EQ(ReadFileText(copy + "late"), "an orphan");
}

TEST_F(Job, AnEmptySourceSummarisesAndABusyDestinationStopsBeforeAnything) {
  MakeFiles(src, {});
  MakeFiles(dst, {});
  Run({dst, {src}});
  EXPECT_EQ(Last(3), (Lines{"  ...Ok", "0 of 0 Files copied - 0 Files skipped", kFinished}));
  // Another job holds the destination; its log must not be cut short either.
  MakeFiles(copy, {{"old.txt", "must survive"}});
  DestinationLock other;
  ASSERT_EQ(other.Acquire(dst), DestinationLock::State::kHeld);
  const std::string otherLog = std::string(200, 'x') + "\r\n";
  ASSERT_TRUE(WriteFileText(dst + "Stowly.log", otherLog));
  Run({dst, {src}}, [] { g_settings.MaxLogSize = 100; });
  EXPECT_EQ(status.back(), kDestinationBusyLine);
  EXPECT_EQ(job.ExitCode(), 3);
  EXPECT_EQ(ReadTree(copy), (Files{{"old.txt", "must survive"}}));
  EXPECT_EQ(ReadFileText(dst + "Stowly.log").substr(0, otherLog.size()), otherLog);
  // A folder or a dangling link of the lock's name: the lock cannot be held, so a second
  // job could run beside this one unseen.
  other.Release();
  for (bool link : {false, true}) {
    MakeFiles(dir / "gone\\", {});
    ASSERT_TRUE(link ? HostSymlink(dst + kLockFileName, dir / "gone\\")
                     : CreateDirectoryA((dst + kLockFileName).c_str(), nullptr));
    RemoveTreeOnHost(dir / "gone\\");
    Run({dst, {src}});
    EXPECT_EQ(status.back(), kDestinationBusyLine) << link;
    EXPECT_EQ(job.ExitCode(), 3);
    EXPECT_EQ(ReadTree(copy), (Files{{"old.txt", "must survive"}}));
    RemoveTreeOnHost(dst + kLockFileName);
  }
}

// Names like the copies' temporary ones are the user's wherever the source has them;
// elsewhere in a copy they are what an interrupted run left, and go.
TEST_F(Job, FilesNamedLikeTemporariesAreBackedUpAndOnlyLeftoversGo) {
  const Files source = {{"a", "a"}, {"a.Stowly-Partial", "mine"}, {"B.STOWLY-PARTIAL", "mine too"}};
  MakeFiles(src, source);
  for (int fullMirror : {0, 1}) {
    MakeFiles(copy, {{"a.Stowly-Partial", "older"}, {"c.Stowly-Partial", "left by a cut run"}});
    {
      Locked held(src + "a.Stowly-Partial");  // its older copy must survive the run
      Run({dst, {src}, fullMirror, 1, 1});
    }
    Files expected = source;
    expected["a.Stowly-Partial"] = "older";
    EXPECT_EQ(ReadTree(copy), expected) << fullMirror;
    EXPECT_TRUE(Has(status, "2 of 3 Files copied - 1 Files skipped"));
  }
}

// A folder that became a file and a file that became a folder: the first run reports the
// folder still in the way where it stands and removes the stale shapes, the next mirrors.
TEST_F(Job, FoldersThatBecameFilesAndFilesThatBecameFoldersHeal) {
  const Files source = {{"thing", "now a file"}, {"h\\x", "now in a folder"}};
  MakeFiles(src, source);
  MakeFiles(copy, {{"thing\\old.txt", "was in a folder"}, {"h", "was a file"}});
  Run({dst, {src}, 0, 1, 1});
  EXPECT_EQ(job.ExitCode(), 1);
  Lines log = Log();
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
    return line.find("   Error - ") != line.npos && line.ends_with("  " + copy + "thing");
  }));
  Run({dst, {src}, 0, 1, 1});
  EXPECT_EQ(job.ExitCode(), 0);
  EXPECT_EQ(ReadTree(copy), source);
}

// Full Mirror replaces each copy only once its new one is complete, and first removes what
// the source no longer has: files, folders, and either shape where the other now stands.
// A locked source file keeps its previous copy; a stale copy held open stays, reported.
TEST_F(Job, FullMirrorKeepsEachCopyUntilItsNewOneIsInPlace) {
  const Files source = {{"a", "new"},
                        {"keep\\b", "new b"},
                        {"thing", "a file"},
                        {"h\\x", "in a folder"},
                        {"locked", "new locked"}};
  MakeFiles(src, source);
  MakeFiles(copy, {{"a", "old"},
                   {"keep\\b", "old b"},
                   {"keep\\gone.txt", "stale"},
                   {"gonedir\\x\\y", "stale"},
                   {"thing\\old", "stale"},
                   {"h", "stale"},
                   {"locked", "previous"},
                   {"held", "stale but open"}});
  SetFileAttributesA((copy + "locked").c_str(), FILE_ATTRIBUTE_READONLY);
  {
    Locked held(src + "locked"), stale(copy + "held");
    Run({dst, {src}});
  }
  Files expected = source;
  expected["locked"] = "previous";
  expected["held"] = "stale but open";
  EXPECT_EQ(ReadTree(copy), expected);
  EXPECT_EQ(Attributes(copy + "locked") & FILE_ATTRIBUTE_READONLY, DWORD{FILE_ATTRIBUTE_READONLY});
  EXPECT_FALSE(Exists(copy + "gonedir"));
  EXPECT_TRUE(Has(status, "  Deleting " + copy.substr(0, copy.size() - 1)));
  EXPECT_TRUE(Has(Log(), "  Error - Permission Denied  " + copy + "held"));
  EXPECT_EQ(skipped, (Lines{copy + "held", src + "locked"}));
  EXPECT_EQ(job.ExitCode(), 1);
}

TEST_F(Job, AMissingSourceFolderKeepsItsCopyInBothModes) {
  std::string gone = dir / "gone\\", nested = src + "nested-gone\\", present = copy;
  present.pop_back();
  MakeFiles(src, {{"p.txt", "present"}});
  const std::tuple<int, std::string, std::string, bool> cases[] = {
      {1, gone, "  Deleting " + present, true},
      {0, gone, "", true},
      {1, nested, "  Not deleted, shares its copy with a missing source folder: " + present, false},
      {0, nested, "", true}};
  for (const auto& [fullMirror, missing, line, staleRemoved] : cases) {
    RemoveTree(dst);
    MakeFiles(CopyOf(dst, missing), {{"only copy.txt", "its source is unplugged"}});
    MakeFiles(copy, {{"stale.txt", "stale"}});
    Run({dst, {src, missing}, fullMirror, 1, 1});
    const std::string missingLine = "  Source folder not found, skipped: " + missing;
    EXPECT_EQ(std::count(status.begin(), status.end(), missingLine), 1);
    EXPECT_TRUE(line.empty() || Has(status, line)) << line;
    EXPECT_TRUE(status.back() == kFinished && job.ExitCode() == 1) << "not a whole backup";
    EXPECT_EQ(ReadFileText(CopyOf(dst, missing) + "only copy.txt"), "its source is unplugged");
    EXPECT_EQ(Exists(copy + "stale.txt"), !staleRemoved);
    EXPECT_EQ(ReadFileText(copy + "p.txt"), "present");
  }
}

// Cancel pressed as the big file, listed first, starts; a close asked for while the files
// are listed (copying is cancelled as it begins); the window going away. The file in hand is
// finished, the Full Mirror keeps every previous copy it did not come to, and the next job
// runs normally.
TEST_F(Job, StoppedMidCopyItFinishesTheFileInHandAndTheNextJobRunsNormally) {
  const std::string big = std::string(4u << 20, 'b');
  Files old = ManyFiles(20);
  for (auto& [name, content] : old) content = "previous";
  MakeFiles(src + "1big\\", {{"big.bin", big}});
  MakeFiles(src + "2many\\", ManyFiles(20));
  const std::string copying = "  1   Copying " + src + "1big\\big.bin -> " + copy + "1big\\big.bin";
  const std::tuple<const char*, CancelLevel, std::string, bool> cases[] = {
      {"Copying file 1 of ", CancelLevel::kCopying, "CANCELED!  (1 out of 21 Files Copied)", true},
      {"Getting list of files", CancelLevel::kCopying, "CANCELED!  (0 out of 21 Files Copied)",
       false},
      {"Copying file 1 of ", CancelLevel::kEverything, copying, true}};
  for (const auto& [head, level, last, bigCopied] : cases) {
    SCOPED_TRACE(head + std::to_string(static_cast<int>(level)));
    RemoveTree(dst);
    MakeFiles(copy + "2many\\", old);
    Run({dst, {src + "1big\\", src + "2many\\"}},
        [&] { When(head, [&] { progress.Cancel(level); }); });
    EXPECT_EQ(job.ExitCode(), 2);
    EXPECT_EQ(Exists(copy + "1big\\big.bin") && ReadFileText(copy + "1big\\big.bin") == big,
              bigCopied);
    EXPECT_EQ(ReadTree(copy + "2many\\"), old) << "no entry after it was started";
    EXPECT_EQ(Log().back(), last);
  }
  Run({dst, {src + "1big\\", src + "2many\\"}});
  EXPECT_EQ(status.back(), kFinished);
  EXPECT_TRUE(ReadTree(copy) == ReadTree(src));
}

TEST_F(Job, DriveRootsNeverLoseAnythingOutsideTheDestination) {
  std::string srcRoot = dir / "srcroot\\", dstRoot = dir / "dstroot\\", cwd = dir / "cwd\\";
  const Files source = {{"a.txt", "a"}, {"sub\\b.txt", "b"}};
  MakeFiles(srcRoot, source);
  MakeFiles(dstRoot, {{"stale.txt", "already there"}});
  MakeFiles(cwd, {{"sentinel.txt", "the current folder"}});
  MappedDrive from('J', srcRoot), to('K', dstRoot);
  ASSERT_TRUE(from.ready() && to.ready());
  // A bare "K:" would name the drive's current folder; give the process one worth keeping.
  char oldCwd[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, oldCwd);
  SetCurrentDirectoryA(cwd.c_str());
  Run({to.root(), {from.root()}});
  SetCurrentDirectoryA(oldCwd);
  EXPECT_TRUE(Has(status, "  Drive root not deleted: K:\\"));
  Files left = ReadTree(dstRoot);
  EXPECT_EQ(left.erase("Stowly.log"), 1u);
  EXPECT_EQ(left, (Files{{"a.txt", "a"}, {"sub\\b.txt", "b"}, {"stale.txt", "already there"}}));
  EXPECT_EQ(ReadTree(cwd), (Files{{"sentinel.txt", "the current folder"}}));
  EXPECT_EQ(ReadTree(srcRoot), source);
  // Fast Mirror of a drive root: the log lies in the listed destination and is kept, also
  // when the destination is spelled with forward slashes.
  MakeFiles(dst, {{"orphan.txt", "o"}});
  std::string slashed = dst;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  Run({slashed, {from.root()}, 0, 1, 1});
  EXPECT_FALSE(Exists(dst + "orphan.txt"));
  EXPECT_TRUE(Has(Log(), "  Skipped Stowly Log File"));
}

// With versions kept, an older copy that differs from its new one, and each copy a run
// removes, moves to the run's folder in both modes; an unchanged copy, and one whose new
// copy failed, stay. Runs' folders past the kept days go; anything else there is the user's.
TEST_F(Job, KeptVersionsHoldWhatARunReplacesOrRemovesAndNothingElse) {
  const Files source = {
      {"a", "new a"}, {"same", "unchanged"}, {"sub\\b", "new b"}, {"locked", "new"}};
  const Files replaced = {{"a", "old a"}, {"sub\\b", "old b"}, {"gone\\c", "old c"}};
  const std::string versions = dst + kVersionsFolderName + "\\", expired = DaysAgo(31),
                    kept = "  Previous versions kept in " + versions;
  const Files mine = {{"notes.txt", "mine"},
                      {"2001-02-30 10.00.00\\x", "no date"},
                      {DaysAgo(29) + "\\r", "recent"}};
  for (int fullMirror : {1, 0}) {
    SCOPED_TRACE(fullMirror);
    RemoveTree(dst);
    MakeFiles(src, source);
    for (const auto& [name, content] : source)
      SetFileAttributesA((src + name).c_str(), FILE_ATTRIBUTE_ARCHIVE);
    MakeFiles(copy, replaced);
    MakeFiles(copy, {{"locked", "previous"}});
    ASSERT_TRUE(CopyFileA((src + "same").c_str(), (copy + "same").c_str(), FALSE));
    MakeFiles(versions, mine);
    MakeFiles(versions + expired + "\\", {{"e", "expired"}});
    {
      Locked held(src + "locked");
      Run({dst, {src}, fullMirror, 1, 1, 30});
    }
    Files expected = source;
    expected["locked"] = "previous";
    EXPECT_EQ(ReadTree(copy), expected);
    const std::string line = Last(2)[0];
    ASSERT_TRUE(line.rfind(kept, 0) == 0 && status.back() == kFinished) << line;
    EXPECT_EQ(std::count(status.begin(), status.end(), line), 1);
    expected = mine;
    for (const auto& [name, content] : replaced)
      expected[line.substr(kept.size()) + src.substr(3) + name] = content;
    EXPECT_EQ(ReadTree(versions), expected);
    EXPECT_TRUE(Has(Log(), "  Deleted old versions " + versions + expired + "\\"));
  }
}

// A drive-root source makes the whole destination folder its copy: neither Full Mirror nor
// orphan removal touches the versions, nor reaches through a link among them.
TEST_F(Job, ADriveRootSourceLeavesTheVersionsWhole) {
  std::string root = dir / "root\\", out = dir / "out\\";
  std::string versions = dst + kVersionsFolderName + "\\", kept = "  Previous versions kept in ";
  const Files mine = {{"notes.txt", "mine"}, {DaysAgo(2) + "\\a.txt", "older a"}};
  MakeFiles(root, {{"a.txt", "a"}});
  MakeFiles(out, {{"o", "outside"}});
  MakeFiles(versions, mine);
  const bool linked = HostSymlink(versions + "link", out);
  MappedDrive from('J', root);
  ASSERT_TRUE(from.ready());
  for (int fullMirror : {1, 0}) {
    SCOPED_TRACE(fullMirror);
    MakeFiles(dst, {{"stale.txt", "stale"}});
    Run({dst, {from.root()}, fullMirror, 1, 1, 30});
    EXPECT_EQ(ReadFileText(dst + "a.txt"), "a");
    EXPECT_FALSE(Exists(dst + "stale.txt"));
    const std::string line = Last(2)[0];
    EXPECT_EQ(ReadFileText(line.substr(kept.size()) + "stale.txt"), "stale") << line;
  }
  Files left = ReadTree(versions);
  EXPECT_EQ(left.size(), mine.size() + 2) << "one stale.txt in each run's folder";
  for (const auto& [name, content] : mine) EXPECT_EQ(left[name], content);
  EXPECT_TRUE(!linked || Exists(versions + "link"));
  EXPECT_EQ(ReadTree(out), (Files{{"o", "outside"}}));
  RemoveTreeOnHost(dir.path());
}

}  // namespace
