// The engine on real trees with no window: the listing, the copy phase, the log, the safe
// copy, the lock, a volume that fills up, and whole jobs seen through their progress.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>
#include <tuple>

#include "engine/backup_job.h"
#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/log_file.h"
#include "engine/path_identity.h"
#include "engine/safe_copy.h"
#include "engine/settings.h"
#include "tests/support.h"

namespace {

using State = DestinationLock::State;

Lines Sorted(Lines v) {
  std::sort(v.begin(), v.end());
  return v;
}

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }
void SetAttributes(const std::string& path, DWORD bits) { SetFileAttributesA(path.c_str(), bits); }

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
    ListingMode mode = inDestination ? ListingMode::kDestination : ListingMode::kSource;
    return ListFiles(progress, folder, list, already, {mode, dest, false, fullMirror});
  }
  Lines Listed(const std::string& folder) {
    Lines list(1);
    int n = List(folder, list);
    EXPECT_EQ(n, static_cast<int>(list.size()));
    return Sorted(list);
  }
  std::string To(const std::string& source) const { return DestinationPath(dest, source); }
  // The copy phase over list into destination, keeping versions for keepDays.
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
  // Entries found already stay, a longer tail goes; a folder's files first, then each subtree.
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
  // Finding nothing, as an empty drive root does, is no failure.
  FolderEntries none(src, "*.none");
  EXPECT_TRUE(!none.Next() && none.error() == 0);
}

TEST_F(Engine, LinksBackIntoTheTreeEndPromptly) {
  std::string root = dir / "root\\", out = dir / "outside\\";
  ASSERT_TRUE(MakeFiles(root, {{"top", ""}, {"a\\f", ""}}) && MakeFiles(out, {{"g", ""}}));
  // Links back into the tree (before and after their target), one out, one back, a loop.
  const std::pair<std::string, std::string> links[] = {
      {root + "a\\loop", root}, {root + "0s", root + "a"}, {root + "zs", root + "a"},
      {root + "toOut", out},    {out + "back", root},      {out + "self", out}};
  for (const auto& [link, target] : links)
    if (!HostSymlink(link, target)) GTEST_SKIP() << "host links cannot be made here";
  EXPECT_EQ(Listed(root), (Lines{root + "a\\f", root + "toOut\\g", root + "top"}));
  EXPECT_EQ(Listed(out), (Lines{out + "back\\a\\f", out + "back\\top", out + "g"}));
  RemoveTreeOnHost(dir.path());
}

// A name so long the temporary copy's must be shortened copies too.
TEST_F(Engine, PathsBeyondMaxPathAreListedCopiedAndMade) {
  std::string folder = src;
  for (char c : std::string("mnopq")) folder += std::string(55, c) + "\\";
  const std::string file = folder + "long name.txt", name = std::string(250, 'n');
  const Files longPaths = {{file.substr(src.size()), "far down"}, {name, "long name"}};
  ASSERT_TRUE(MakeFiles(src, longPaths) && WriteFileText(src + "short", "s"));
  ASSERT_EQ(Listed(src), (Lines{file, src + name, src + "short"}));
  Copy({file, src + name});
  EXPECT_EQ(ReadTree(To(src)), longPaths);
  // Folder chains are made level by level (into hidden ones too); a file in the way stops it.
  MakeFiles(dir / "h\\", {});
  SetFileAttributesA((dir / "h").c_str(), FILE_ATTRIBUTE_HIDDEN);
  const std::pair<std::string, int> made[] = {
      {dir / "h\\x\\y\\\\", 0}, {src + "short\\inner\\", kPathNotFound}, {"C:\\", 0}};
  for (const auto& [path, code] : made) {
    EXPECT_EQ(MakeFolderPath(path), code) << path;
    EXPECT_TRUE(code || IsFolder(path.substr(0, path.find_last_not_of('\\') + 1))) << path;
  }
  // Below a share only its folders are made, never the server or share levels.
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
  SetFileAttributesA((src + "a").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_TRUE(MakeFiles(To(src), {{"ro", "old"}, {"gone", "older"}, {"locked", "older l"}}));
  SetFileAttributesA(To(src + "ro").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  // Two names that differ in letter case only, as a share of another system has them.
  ASSERT_TRUE(WriteFileText(src + "case", "lower") && WriteFileText(src + "u", "upper"));
  RunHost("/bin/mv \"" + HostPath(src + "u") + "\" \"" + HostPath(src) + "/CASE\"");
  for (int i = 0; i < 500 && Exists(src + "u"); ++i) Sleep(10);
  progress.StatusAdd("Getting list of files from source...5 Files Found", false);
  state.clearArchive = true;
  {
    Locked held(To(src + "locked"));  // the older copy survives a locked destination
    Copy({src + "a", src + "gone", src + "sub\\b", src + "ro", src + "locked", src + "case",
          src + "CASE"});
  }
  // Overwritten copies carry the source's attributes.
  const Files copied = {{"a", "alpha"}, {"gone", "older"},     {"sub\\b", "beta"},
                        {"ro", "new"},  {"locked", "older l"}, {"case", "lower"}};
  EXPECT_EQ(ReadTree(To(src)), copied);
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
  // The archive bit goes only from what was copied, read-only stays (Wine keeps no other).
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
  std::map<char, int> next;  // each thread's lines whole and in its own order
  for (const std::string& t : texts)
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

// A read-only temporary left by a cut run goes, and a copy held for a moment only, as a
// scanner holds a fresh file, is waited out (a locked one is the copy phase test's).
TEST(SafeCopy, ALeftoverTemporaryGoesAndAMomentaryHoldIsWaitedOut) {
  ScratchDir dir;
  const std::string dst = dir / "copy\\a";
  ASSERT_TRUE(MakeFiles(dir.path(), {{"a", "newer"}, {"copy\\a", "older"}}) &&
              WriteFileText(PartialCopyPath(dst), "half"));
  SetAttributes(PartialCopyPath(dst), FILE_ATTRIBUTE_READONLY);
  auto held = std::make_unique<Locked>(dst);
  std::thread scanner([&held] { Sleep(300), held.reset(); });
  EXPECT_EQ(CopyFileOver(dir / "a", dst, false), 0);
  scanner.join();
  EXPECT_EQ(ReadTree(dir / "copy\\"), (Files{{"a", "newer"}}));
}

// One job per folder however it is named; a user's file of the lock's name is used, never
// deleted. New destination folders take their source folder's bits, but not a drive root's.
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
  EXPECT_EQ((std::tuple{missing.Acquire(dir / "gone\\"), ProveWritable(dir / "gone\\")}),
            std::tuple(State::kFailed, kPathNotFound));
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

// A copy that finds no room keeps the older copy and leaves no truncated file, and the room
// it took is free again; kept versions give way, the oldest run's first, never this run's;
// log lines that find no room wait and land in order with the next that does.
TEST_F(Engine, OnAFullDiskOlderCopiesStayVersionsGiveWayAndLogLinesWait) {
  ULARGE_INTEGER total = {};  // drive Q: is a small volume of its own
  if (!GetDiskFreeSpaceExA("Q:\\", nullptr, &total, nullptr) || total.QuadPart > (16u << 20))
    GTEST_SKIP() << "drive Q: is not a small test volume; run scripts/make-full-disk.sh";
  const size_t kKiB = 1024;
  const std::string q = "Q:\\stowly-" + std::to_string(GetCurrentProcessId()) + "\\";
  auto leave = [&](ULONGLONG room) {  // fills the volume up to room bytes
    ULARGE_INTEGER free = {};
    return GetDiskFreeSpaceExA("Q:\\", &free, nullptr, nullptr) && free.QuadPart >= room &&
           WriteFileText(q + "ballast", std::string(free.QuadPart - room, 'x'));
  };
  const std::string copy = DestinationPath(q, src), versions = q + kVersionsFolderName + "\\";
  const std::string fits(300 * kKiB, 'n'), after(200 * kKiB, 'a');
  const std::string oldest = DaysAgo(3), newer = DaysAgo(2);
  const Files old = {{"fits", std::string(50 * kKiB, 'o')},
                     {"never", "older"},
                     {"after", std::string(100 * kKiB, 'p')}};
  ASSERT_TRUE(
      MakeFiles(src, {{"fits", fits}, {"never", std::string(600 * kKiB, 'x')}, {"after", after}}));
  ASSERT_TRUE(MakeFiles(copy, old) &&
              MakeFiles(versions, {{oldest + "\\a", std::string(200 * kKiB, 'a')},
                                   {newer + "\\b", std::string(200 * kKiB, 'b')}}));
  ASSERT_TRUE(leave(150 * kKiB)) << "drive Q: is too small for this test";
  destination = q;
  Copy({src + "fits", src + "never", src + "after"}, 30);
  EXPECT_TRUE(ReadTree(copy) == (Files{{"fits", fits}, {"never", "older"}, {"after", after}}));
  Lines runs = Names(versions), texts = LogTexts(log);
  ASSERT_EQ(runs.size(), 1u);
  Files kept;
  for (const std::string name : {"fits", "after"})
    kept[DestinationPath(runs[0] + "\\", src) + name] = old.at(name);
  EXPECT_TRUE(ReadTree(versions) == kept);
  EXPECT_TRUE(Has(texts, "  Disk full, deleted old versions " + versions + oldest + "\\") &&
              Has(texts, "  Disk full, deleted old versions " + versions + newer + "\\"));
  EXPECT_TRUE(Has(texts, "  2   Error - Disk full.  " + src + "never"));
  EXPECT_EQ(Seen(progress).skippedLabel, "1 Skipped files - See log for details");
  RemoveTree(q);
  const std::string wide(5000, 'w');  // wider than a block's rest
  ASSERT_TRUE(MakeFiles(q, {}) && leave(0));
  LogWriter writer;
  writer.UsePath(q + "Stowly.log");
  writer.Write("one"), writer.Write("two");
  EXPECT_EQ(LogTexts(q + "Stowly.log"), Lines{}) << "the volume is not full";
  DeleteFileA((q + "ballast").c_str());
  writer.Write("three");
  ASSERT_TRUE(leave(0));
  writer.Write(wide);
  DeleteFileA((q + "ballast").c_str());
  writer.Close();
  EXPECT_EQ(LogTexts(q + "Stowly.log"), (Lines{"one", "two", "three", wide}));
  RemoveTree(q);
}

// --- Whole jobs ---

class Job : public ::testing::Test {
 protected:
  void TearDown() override { SetLogFilePath("Stowly.log"); }
  // One job over the configuration as stored settings, asked as the window asks, run on its
  // thread to its end with the held files open; what it reported lands in status, skipped
  // and boxes.
  void Run(const Config& c, const Lines& held = {}, std::function<void()> before = nullptr,
           int answer = IDOK) {
    ASSERT_TRUE(WriteFileText(g_settings.settingsPath = home / "Stowly.ini", IniText(c)));
    LoadSettings();
    boxes.clear();
    progress.OnChange(nullptr);
    if (before) before();
    JobInputs in = ReadJobInputs(c.sources, c.destination);
    auto ask = [&](const std::string& text, unsigned flags) {
      return boxes.emplace_back(text, flags), answer;
    };
    std::vector<std::unique_ptr<Locked>> open;
    for (const std::string& path : held) open.push_back(std::make_unique<Locked>(path));
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
  static Files With(Files files, const Files& changes) {
    for (const auto& [name, content] : changes) files[name] = content;
    return files;
  }

  ScratchDir dir, home;
  std::string src = dir / "src\\", dst = dir / "dst\\", copy = DestinationPath(dst, src);
  JobProgress progress;
  BackupJob job{progress};
  uint64_t boxesSeen = 0;
  Lines status, skipped;
  std::vector<std::pair<std::string, unsigned>> boxes;
};

// The missing-settings message comes before the confirmation, the illegal one after it.
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
    Run(config, {}, nullptr, message.empty() ? IDCANCEL : IDOK);
    ASSERT_EQ(boxes.size(), message == illegal ? 2u : 1u);
    const auto& [text, flags] = boxes.front();
    if (message.empty()) {
      EXPECT_EQ(text.find("Ready to start Backup Job...\r\n\r\n" + mode), 0u) << text;
      EXPECT_EQ(text.find("archive bit will be cleared") != text.npos, config.useArchiveBit);
      EXPECT_EQ(flags, unsigned{MB_OKCANCEL | MB_ICONINFORMATION});
    } else {
      EXPECT_EQ(boxes.back(), std::make_pair(message, unsigned{MB_OK | MB_ICONINFORMATION}));
    }
    EXPECT_TRUE(status == Lines{"earlier line"} && ReadTree(dir.path()) == before);
  }
}

// Overlapping sources list shared files twice; an orphan goes once, a locked one is reported,
// empty folders and what lies outside every copy stay; without DeleteFiles orphans stay.
TEST_F(Job, FastMirrorCopiesChangesAndDeletesOnlyRealOrphansOnce) {
  const Files source = {{"a.txt", "new alpha"}, {"sub\\b.txt", "bravo"}};
  MakeFiles(src, source);
  MakeFiles(copy, {{"a.txt", "old"}, {"sub\\orphan", "twice"}, {"gone\\x", "x"}, {"locked", "l"}});
  SetAttributes(copy + "a.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(copy + "gone\\x", FILE_ATTRIBUTE_READONLY);
  MakeFiles(dst, {{"elsewhere\\y.txt", "outside every copy"}});
  Run({dst, {src, src + "sub\\"}, 0, 1, 1}, {copy + "locked"});
  EXPECT_EQ(ReadTree(copy), With(source, {{"locked", "l"}}));
  EXPECT_TRUE(Exists(copy + "gone") && Exists(dst + "elsewhere\\y.txt"));
  EXPECT_EQ(Last(4), (Lines{"3 of 3 Files copied - 0 Files skipped",
                            "Getting complete list of files from destination...7 Files Found",
                            "Deleting files from destination folders that are not found in source "
                            "folders...2 files",
                            kFinished}));
  Lines log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "  Deleted " + copy + "sub\\orphan"), 1);
  EXPECT_TRUE(Has(log, "  Deleted " + copy + "gone\\x") &&
              Has(log, "  Error - Permission Denied  " + copy + "locked") &&
              Has(log,
                  "Backup Mode = Fast Mirror, delete orphaned files, clearing Archive Bit on "
                  "backed up files"));
  MakeFiles(copy, {{"late", "an orphan"}});
  Run({dst, {src}, 0, 1, 0});
  EXPECT_EQ(ReadFileText(copy + "late"), "an orphan");
}

// Another job's lock (or a folder or dangling link of its name) stops a job before anything
// is removed, and the other job's log is not cut short.
TEST_F(Job, AnEmptySourceSummarisesAndABusyDestinationStopsBeforeAnything) {
  MakeFiles(src, {});
  MakeFiles(dst, {});
  Run({dst, {src}});
  EXPECT_EQ(Last(3), (Lines{"  ...Ok", "0 of 0 Files copied - 0 Files skipped", kFinished}));
  MakeFiles(copy, {{"old.txt", "must survive"}});
  const std::string otherLog = std::string(200, 'x') + "\r\n";
  ASSERT_TRUE(WriteFileText(dst + "Stowly.log", otherLog));
  for (int how : {0, 1, 2}) {
    DestinationLock other;
    MakeFiles(dir / "gone\\", {});
    ASSERT_TRUE(how == 0   ? other.Acquire(dst) == DestinationLock::State::kHeld
                : how == 1 ? CreateDirectoryA((dst + kLockFileName).c_str(), nullptr)
                           : HostSymlink(dst + kLockFileName, dir / "gone\\"));
    RemoveTreeOnHost(dir / "gone\\");
    Run({dst, {src}}, {}, [] { g_settings.MaxLogSize = 100; });
    EXPECT_TRUE(status.back() == kDestinationBusyLine && job.ExitCode() == 3) << how;
    EXPECT_EQ(ReadTree(copy), (Files{{"old.txt", "must survive"}}));
    EXPECT_EQ(ReadFileText(dst + "Stowly.log").substr(0, otherLog.size()), otherLog);
    if (how) RemoveTreeOnHost(dst + kLockFileName);
  }
}

// Names like the copies' temporaries are the user's where the source has or had them (kept
// without DeleteFiles); hashed ones are a cut run's leftovers; a folder that became a file is
// reported where it stands, then healed.
TEST_F(Job, TemporariesLeftoversAndChangedShapesHeal) {
  const Files source = {{"a", "a"}, {"a.Stowly-Partial", "mine"}, {"B.STOWLY-PARTIAL", "mine too"}};
  MakeFiles(src, source);
  for (int fullMirror : {0, 1}) {
    MakeFiles(copy, {{"a.Stowly-Partial", "older"}, {"c.Stowly-Partial", "left by a cut run"}});
    Run({dst, {src}, fullMirror, 1, 1}, {src + "a.Stowly-Partial"});
    EXPECT_EQ(ReadTree(copy), With(source, {{"a.Stowly-Partial", "older"}})) << fullMirror;
    EXPECT_TRUE(Has(status, "2 of 3 Files copied - 1 Files skipped"));
  }
  MakeFiles(copy, {{"~0123456789abcdef.Stowly-Partial", "left by a cut run"},
                   {"gone.Stowly-Partial", "its source was deleted"}});
  Run({dst, {src}, 0, 1, 0});
  EXPECT_EQ(ReadTree(copy), With(source, {{"gone.Stowly-Partial", "its source was deleted"}}));
  const Files shapes = {{"thing", "now a file"}, {"h\\x", "now in a folder"}};
  RemoveTree(src), RemoveTree(dst);
  MakeFiles(src, shapes);
  MakeFiles(copy, {{"thing\\old.txt", "was in a folder"}, {"h", "was a file"}});
  Run({dst, {src}, 0, 1, 1});
  EXPECT_TRUE(job.ExitCode() == 1 && skipped == (Lines{copy + "thing", copy + "h\\x"}))
      << "either shape in the way is reported where it stands";
  Run({dst, {src}, 0, 1, 1});
  EXPECT_TRUE(job.ExitCode() == 0 && ReadTree(copy) == shapes);
}

// Full Mirror first removes what the source no longer has (either shape where the other now
// stands); a locked source keeps its previous copy, a stale copy held open stays, reported.
TEST_F(Job, FullMirrorKeepsEachCopyUntilItsNewOneIsInPlace) {
  const Files source = {
      {"a", "new"}, {"keep\\b", "new b"}, {"thing", "a file"}, {"h\\x", "folder"}, {"locked", "n"}};
  MakeFiles(src, source);
  MakeFiles(copy, {{"a", "old"},
                   {"keep\\b", "old b"},
                   {"keep\\gone.txt", "stale"},
                   {"gonedir\\x\\y", "stale"},
                   {"thing\\old", "stale"},
                   {"h", "stale"},
                   {"locked", "previous"},
                   {"held", "stale but open"}});
  SetAttributes(copy + "locked", FILE_ATTRIBUTE_READONLY);
  Run({dst, {src}}, {src + "locked", copy + "held"});
  EXPECT_EQ(ReadTree(copy), With(source, {{"locked", "previous"}, {"held", "stale but open"}}));
  EXPECT_TRUE(Attributes(copy + "locked") & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(Exists(copy + "gonedir"));
  EXPECT_TRUE(Has(status, "  Deleting " + copy.substr(0, copy.size() - 1)));
  EXPECT_TRUE(Has(Log(), "  Error - Permission Denied  " + copy + "held"));
  EXPECT_TRUE(skipped == (Lines{copy + "held", src + "locked"}) && job.ExitCode() == 1);
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
    MakeFiles(DestinationPath(dst, missing), {{"only copy.txt", "its source is unplugged"}});
    MakeFiles(copy, {{"stale.txt", "stale"}});
    Run({dst, {src, missing}, fullMirror, 1, 1});
    const std::string missingLine = "  Source folder not found, skipped: " + missing;
    EXPECT_EQ(std::count(status.begin(), status.end(), missingLine), 1);
    EXPECT_TRUE(line.empty() || Has(status, line)) << line;
    EXPECT_TRUE(status.back() == kFinished && job.ExitCode() == 1) << "not a whole backup";
    EXPECT_EQ(ReadFileText(DestinationPath(dst, missing) + "only copy.txt"),
              "its source is unplugged");
    EXPECT_EQ(Exists(copy + "stale.txt"), !staleRemoved);
    EXPECT_EQ(ReadFileText(copy + "p.txt"), "present");
  }
}

// A cancel as the big file starts, a close while listing (copying cancelled as it begins), the
// window going away: the file in hand is finished, later copies keep their previous ones.
TEST_F(Job, StoppedMidCopyItFinishesTheFileInHandAndTheNextJobRunsNormally) {
  const std::string big = std::string(4u << 20, 'b'), file = "1big\\big.bin";
  Files old = ManyFiles(20);
  for (auto& [name, content] : old) content = "previous";
  MakeFiles(src, {{file, big}});
  MakeFiles(src + "2many\\", ManyFiles(20));
  const Config config = {dst, {src + "1big\\", src + "2many\\"}};
  const std::tuple<const char*, CancelLevel, std::string, bool> cases[] = {
      {"Copying file 1 of ", CancelLevel::kCopying, "CANCELED!  (1 out of 21 Files Copied)", true},
      {"Getting list of files", CancelLevel::kCopying, "CANCELED!  (0 out of 21 Files Copied)", 0},
      {"Copying file 1 of ", CancelLevel::kEverything,
       "  1   Copying " + src + file + " -> " + copy + file, true}};
  for (const auto& [head, level, last, bigCopied] : cases) {
    SCOPED_TRACE(last);
    RemoveTree(dst);
    MakeFiles(copy + "2many\\", old);
    Run(config, {}, [&] { When(head, [&] { progress.Cancel(level); }); });
    EXPECT_EQ(job.ExitCode(), 2);
    EXPECT_EQ(Exists(copy + file) && ReadFileText(copy + file) == big, bigCopied);
    EXPECT_EQ(ReadTree(copy + "2many\\"), old) << "no entry after it was started";
    EXPECT_EQ(Log().back(), last);
  }
  Run(config);
  EXPECT_TRUE(status.back() == kFinished && ReadTree(copy) == ReadTree(src));
}

// Nothing outside the destination goes: not a drive root's other folders, not the current
// folder a bare "K:" names; Fast Mirror of a drive root keeps the log it lists, whatever
// slashes the destination is spelled with, and kept versions stay.
TEST_F(Job, DriveRootsNeverLoseAnythingOutsideTheDestination) {
  std::string srcRoot = dir / "srcroot\\", dstRoot = dir / "dstroot\\", cwd = dir / "cwd\\";
  const Files source = {{"a.txt", "a"}, {"sub\\b.txt", "b"}};
  MakeFiles(srcRoot, source);
  MakeFiles(dstRoot, {{"stale.txt", "already there"}});
  MakeFiles(cwd, {{"sentinel.txt", "the current folder"}});
  MappedDrive from('J', srcRoot), to('K', dstRoot);
  ASSERT_TRUE(from.ready() && to.ready());
  char oldCwd[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, oldCwd);
  SetCurrentDirectoryA(cwd.c_str());
  Run({to.root(), {from.root()}});
  SetCurrentDirectoryA(oldCwd);
  EXPECT_TRUE(Has(status, "  Drive root not deleted: K:\\"));
  Files left = ReadTree(dstRoot);
  EXPECT_EQ(left.erase("Stowly.log"), 1u);
  EXPECT_EQ(left, With(source, {{"stale.txt", "already there"}}));
  EXPECT_EQ(ReadTree(cwd), (Files{{"sentinel.txt", "the current folder"}}));
  EXPECT_EQ(ReadTree(srcRoot), source);
  // The drive root's copy is the whole destination, and its kept versions (links there too)
  // stay whole in both modes.
  std::string slashed = dst;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  const std::string versions = dst + kVersionsFolderName + "\\",
                    kept = "  Previous versions kept in ";
  const Files mine = {{"notes.txt", "mine"}, {DaysAgo(2) + "\\a.txt", "older a"}};
  MakeFiles(versions, mine);
  const bool linked = HostSymlink(versions + "link", cwd);
  for (int fullMirror : {1, 0}) {
    SCOPED_TRACE(fullMirror);
    MakeFiles(dst, {{"stale.txt", "stale"}});
    Run({slashed, {from.root()}, fullMirror, 1, 1, 30});
    EXPECT_TRUE(ReadFileText(dst + "a.txt") == "a" && !Exists(dst + "stale.txt"));
    const std::string line = Last(2)[0];
    EXPECT_EQ(ReadFileText(line.substr(kept.size()) + "stale.txt"), "stale") << line;
    EXPECT_EQ(Has(Log(), "  Skipped Stowly Log File"), !fullMirror) << "Fast Mirror lists it";
  }
  left = ReadTree(versions);
  EXPECT_EQ(left.size(), mine.size() + 2) << "one stale.txt in each run's folder";
  for (const auto& [name, content] : mine) EXPECT_EQ(left[name], content);
  EXPECT_TRUE(!linked || Exists(versions + "link"));
  EXPECT_EQ(ReadTree(cwd), (Files{{"sentinel.txt", "the current folder"}}));
  RemoveTreeOnHost(dir.path());
}

// Replaced (changed) and removed copies move to the run's folder, unchanged and failed ones
// stay; runs' folders past the kept days go, anything else there is the user's.
TEST_F(Job, KeptVersionsHoldWhatARunReplacesOrRemovesAndNothingElse) {
  const Files source = {
      {"a", "new a"}, {"same", "unchanged"}, {"sub\\b", "new b"}, {"locked", "n"}};
  const Files replaced = {{"a", "old a"}, {"sub\\b", "old b"}, {"gone\\c", "old c"}};
  const std::string versions = dst + kVersionsFolderName + "\\", expired = DaysAgo(31),
                    kept = "  Previous versions kept in " + versions;
  const Files mine = {
      {"notes.txt", "mine"}, {"2001-02-30 10.00.00\\x", "no date"}, {DaysAgo(29) + "\\r", "r"}};
  for (int fullMirror : {1, 0}) {
    SCOPED_TRACE(fullMirror);
    RemoveTree(dst);
    MakeFiles(src, source);
    for (const auto& [name, content] : source) SetAttributes(src + name, FILE_ATTRIBUTE_ARCHIVE);
    MakeFiles(copy, With(replaced, {{"locked", "previous"}}));
    ASSERT_TRUE(CopyFileA((src + "same").c_str(), (copy + "same").c_str(), FALSE));
    MakeFiles(versions, With(mine, {{expired + "\\e", "expired"}}));
    Run({dst, {src}, fullMirror, 1, 1, 30}, {src + "locked"});
    EXPECT_EQ(ReadTree(copy), With(source, {{"locked", "previous"}}));
    const std::string line = Last(2)[0];
    ASSERT_TRUE(line.rfind(kept, 0) == 0 && status.back() == kFinished) << line;
    EXPECT_EQ(std::count(status.begin(), status.end(), line), 1);
    Files expected = mine;
    for (const auto& [name, content] : replaced)
      expected[DestinationPath(line.substr(kept.size()), src) + name] = content;
    EXPECT_EQ(ReadTree(versions), expected);
    EXPECT_TRUE(Has(Log(), "  Deleted old versions " + versions + expired + "\\"));
  }
}

}  // namespace
