// The engine's parts on real trees with a test host and no window: listing, the copy
// worker, the log, the safe copy, the destination lock, links, folder identity and a
// volume that really fills up.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>
#include <tuple>

#include "engine/copy_worker.h"
#include "engine/destination_lock.h"
#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/log_file.h"
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
  int List(const std::string& folder, Lines& list, int already, ListingMode mode) {
    return ListFiles(host, folder, list, already, {mode, dest});
  }
  Lines Listed(const std::string& folder, ListingMode mode = ListingMode::kSource) {
    Lines list(1);
    int n = List(folder, list, 0, mode);
    EXPECT_EQ(n, static_cast<int>(list.size()));
    return Sorted(list);
  }
  std::string To(const std::string& source) const { return DestinationPath(dest, source); }
  // Runs the copy worker over list (entries 1..size) to its end, as the job does.
  void RunWorker(const Lines& list) {
    state.destination = host.destination;
    state.masterList = list;
    state.foundCount = static_cast<int>(list.size());
    LogWriter writer(host);
    WorkerContext context{state, host, writer};
    RunCopyWorker(context);
  }

  ScratchDir dir;
  std::string src = dir / "src\\", dest = dir / "dest\\", log = dest + "Stowly.log";
  TestHost host;
  JobState state;
};

TEST_F(Engine, ListingGoesDepthFirstWithHiddenFilesAndRewritesOneStatusLine) {
  ASSERT_TRUE(
      MakeFiles(src, {{"a", "a"}, {"b", "b"}, {"1\\d", "d"}, {"1\\e\\e", "e"}, {"2\\f", ""}}));
  MakeFiles(src + "empty\\", {});
  SetFileAttributesA((src + "b").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  host.status = {"Checking Destination Folder...", "Getting list of files from source..."};
  // Two entries from an earlier listing are kept; a longer tail beyond them goes.
  Lines list = {"kept1", "kept2", "old3", "old4", "old5", "old6", "old7", "old8"};
  ASSERT_EQ(List(dir / "src", list, 2, ListingMode::kSource), 5);
  // The folder's own files first, then each subtree whole.
  Lines one = {src + "1\\d", src + "1\\e\\e"}, two = {src + "2\\f"};
  one.insert(list[4] == two[0] ? one.begin() : one.end(), two[0]);
  EXPECT_EQ(Lines(list.begin() + 4, list.end()), one);
  EXPECT_EQ(Sorted(list), Sorted({"kept1", "kept2", src + "a", src + "b", src + "1\\d",
                                  src + "1\\e\\e", src + "2\\f"}));
  EXPECT_EQ(host.status[1].rfind("Getting list of files from source...", 0), 0u);
  // Each listing counts afresh under its own header; a missing folder lists nothing.
  g_settings.FullMirror = 0;
  EXPECT_EQ(List(src + "empty", list, 0, ListingMode::kSource), 0);
  EXPECT_EQ(host.status[1], "Getting list of changed files from source...0 Files Found");
  g_settings.FullMirror = 1;
  EXPECT_EQ(List(src + "2\\", list, 8, ListingMode::kDestination), 1);
  EXPECT_EQ(host.status[1], "Getting complete list of files from destination...8 Files Found");
  EXPECT_EQ(List(dir / "missing\\", list, 0, ListingMode::kSource), 0);
  EXPECT_EQ(host.status.size(), 2u) << "the progress line is rewritten in place";
}

TEST_F(Engine, LinksBackIntoTheTreeEndPromptlyAndTemporariesAreNeverListed) {
  std::string root = dir / "root\\", out = dir / "outside\\";
  ASSERT_TRUE(MakeFiles(root, {{"top", "t"}, {"a\\f", "f"}}) && MakeFiles(out, {{"g", "g"}}));
  // Links back into the tree (beside their target, before and after it in the file
  // system's order), one out of it, and out there one back and one loop.
  const std::pair<std::string, std::string> links[] = {
      {root + "a\\loop", root}, {root + "0s", root + "a"}, {root + "zs", root + "a"},
      {root + "toOut", out},    {out + "back", root},      {out + "self", out}};
  for (const auto& [link, target] : links)
    if (!HostSymlink(link, target)) GTEST_SKIP() << "host links cannot be made here";
  // A temporary copy is never a source; one in the destination goes when it is listed.
  ASSERT_TRUE(WriteFileText(PartialCopyPath(out + "g"), "half"));
  EXPECT_EQ(Listed(root), (Lines{root + "a\\f", root + "toOut\\g", root + "top"}));
  EXPECT_EQ(Listed(out), (Lines{out + "back\\a\\f", out + "back\\top", out + "g"}));
  EXPECT_TRUE(Exists(PartialCopyPath(out + "g")));
  Listed(out, ListingMode::kDestination);
  EXPECT_FALSE(Exists(PartialCopyPath(out + "g")));
  RemoveTreeOnHost(dir.path());
}

TEST_F(Engine, PathsBeyondMaxPathAreListedCopiedAndMade) {
  std::string folder = src;
  for (char c : std::string("mnopq")) folder += std::string(55, c) + "\\";
  std::string file = folder + "long name.txt";
  ASSERT_TRUE(MakeFiles(src, {{"short.txt", "s"}, {file.substr(src.size()), "far down"}}));
  ASSERT_EQ(Listed(src), (Lines{file, src + "short.txt"}));
  RunWorker({file});
  EXPECT_EQ(ReadFileText(To(file)), "far down");
  EXPECT_EQ(LogTexts(log), (Lines{"  1   Copying " + file + " -> " + To(file)}));
  // Folder chains are made level by level (into hidden ones too); a file in the way stops it.
  MakeFiles(dir / "h\\hidden\\", {});
  SetFileAttributesA((dir / "h\\hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
  const std::pair<std::string, int> made[] = {{folder + "x\\y\\", 0},
                                              {dir / "h\\hidden\\x\\", 0},
                                              {dir / "many\\z\\\\\\", 0},
                                              {src + "short.txt\\inner\\", kPathNotFound},
                                              {"C:\\", 0}};
  for (const auto& [path, code] : made) {
    EXPECT_EQ(MakeFolderPath(path), code) << path;
    EXPECT_TRUE(code || IsFolder(path.substr(0, path.find_last_not_of('\\') + 1))) << path;
  }
  // What cannot be told missing counts as there, so nothing is copied over it.
  for (const auto& [path, exists] : std::vector<std::pair<std::string, bool>>{
           {file, true}, {folder + "missing.txt", false}, {src, true}, {src + "a|b.txt", true}})
    EXPECT_EQ(FileExists(path), exists) << path;
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
  ASSERT_TRUE(WriteFileText(src + "case", "lower") && WriteFileText(src + "u.tmp", "upper"));
  RunHost("/bin/mv \"" + HostPath(src + "u.tmp") + "\" \"" + HostPath(src) + "/CASE\"");
  for (int i = 0; i < 500 && Exists(src + "u.tmp"); ++i) Sleep(10);
  host.status = {"Getting list of files from source...5 Files Found"};
  g_settings.UseArchiveBit = 1;
  {
    Locked held(src + "locked");
    RunWorker({src + "a", src + "gone", src + "sub\\b", src + "ro", src + "locked", src + "case",
               src + "CASE"});
  }
  // Overwritten copies carry the source's attributes; a new folder takes its source's.
  const Files copied = {{"a", "alpha"}, {"gone", "older"},     {"sub\\b", "beta"},
                        {"ro", "new"},  {"locked", "older l"}, {"case", "lower"}};
  EXPECT_EQ(ReadTree(To(src)), copied);
  EXPECT_TRUE(Attributes(To(src + "sub")) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(Attributes(To(src + "ro")) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(host.status, (Lines{host.status[0], "Copying file 7 of 7"}));
  EXPECT_EQ(host.skipped, (Lines{src + "gone", src + "locked", src + "CASE"}));
  EXPECT_EQ(host.skippedLabel, "3 Skipped files - See log for details");
  Lines texts = LogTexts(log);
  ASSERT_EQ(texts.size(), 10u);
  EXPECT_EQ(texts[0], "  1   Copying " + src + "a -> " + To(src + "a"));
  EXPECT_EQ(texts[2], "  2   Error - File not found.  " + src + "gone");
  EXPECT_EQ(texts[6], "  5   Error - Permission Denied  " + src + "locked");
  EXPECT_EQ(texts[9], "  7   Error - Another file was copied to this name.  " + src + "CASE");
  EXPECT_TRUE(state.workerIdle == 1 && state.workerThread.load() == nullptr);
  // With no destination text nothing lands in the current folder.
  host.destination = "";
  RunWorker({src + "a"});
  EXPECT_EQ(LogTexts(log).back(), "  1   Error - That path doesn't exist.  " + src + "a");
  // The archive bit is cleared only on what was copied; read-only stays.
  EXPECT_TRUE(Attributes(src + "a") & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(Attributes(src + "locked") & FILE_ATTRIBUTE_ARCHIVE);
  if (Attributes(src + "a") & FILE_ATTRIBUTE_ARCHIVE)
    GTEST_SKIP() << "this file system reports the archive attribute as set on every file";
}

TEST_F(Engine, TheLogTakesWholeLinesFromEveryThreadSharesReadingAndKeepsItsSize) {
  LogWriter writer(host);
  host.logging = false;
  writer.Write("not written");
  EXPECT_FALSE(Exists(log)) << "an unchecked log switch must not create the file";
  host.logging = true;
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
  // A reader sharing writing opens it mid-job; one holding it unshared costs that line only.
  {
    ScopedHandle reader(CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    writer.Write("while read");
  }
  writer.Close();
  {
    Locked holder(log);
    writer.Write("while held");
  }
  writer.Write("after");
  texts = LogTexts(log);
  EXPECT_EQ(Lines(texts.begin() + 450, texts.end()), (Lines{"while read", "after"}));
  // The size rule, logging on or off: the limit less 140 gets a separator, a byte more goes.
  host.logging = false;
  writer.Close();
  const std::string content = std::string(858, 'x') + "\r\n";
  for (std::string extra : {"", "y"}) {
    ASSERT_TRUE(WriteFileText(log, content + extra));
    writer.ApplySizeRule(1000);
    EXPECT_EQ(Exists(log) ? ReadFileText(log) : "gone",
              extra.empty() ? content + std::string(140, '-') + "\r\n" : "gone");
  }
  SetLogFilePath(dir / "gone\\Stowly.log");
  host.logging = true;
  writer.Write("nowhere");
  EXPECT_FALSE(Exists(dir / "gone"));
}

// The older copy survives a locked destination; a read-only temporary a power cut left
// goes; a name so long the temporary must be shortened still copies.
TEST(SafeCopy, TheOlderCopySurvivesEveryFailureAndNoTemporaryIsLeft) {
  for (const auto& [name, lock, leftover] : std::vector<std::tuple<std::string, bool, bool>>{
           {"a.txt", true, false}, {"a.txt", false, true}, {std::string(250, 'n'), false, false}}) {
    ScratchDir dir;
    std::string dst = dir / "copy\\" + name;
    ASSERT_TRUE(MakeFiles(dir.path(), {{name, "newer"}, {"copy\\" + name, "older"}}));
    ASSERT_TRUE(!leftover || WriteFileText(PartialCopyPath(dst), "half"));
    SetFileAttributesA(PartialCopyPath(dst).c_str(), FILE_ATTRIBUTE_READONLY);
    {
      Locked destination(lock ? dst : "");
      EXPECT_EQ(CopyFileOver(dir / name, dst, false), lock ? kPermissionDenied : 0);
    }
    EXPECT_EQ(ReadTree(dir / "copy\\"), (Files{{name, lock ? "older" : "newer"}}));
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
        (Attributes(folder) & hiddenSystem) != hiddenSystem)
      GTEST_SKIP() << "this volume keeps no hidden or system bits on folders";
  ASSERT_EQ(CopyFileOver(drive.root() + "a.txt", dir / "dst1\\a.txt", false), 0);
  ASSERT_EQ(CopyFileOver(drive.root() + "plain\\b.txt", dir / "dst2\\plain\\b.txt", false), 0);
  EXPECT_EQ(Attributes(dir / "dst1") & hiddenSystem, 0u);
  EXPECT_EQ(Attributes(dir / "dst2\\plain") & hiddenSystem, hiddenSystem);
}

TEST(DestinationLock, OneJobPerFolderHoweverItIsNamedAndTheUsersFilesStay) {
  ScratchDir dir;
  std::string dst = dir / "usb\\";
  MakeFiles(dst, {});
  MappedDrive letter('W', dst);
  ASSERT_TRUE(letter.ready());
  for (const Files& mine : {Files{}, Files{{kLockFileName, "mine"}}}) {
    MakeFiles(dst, mine);  // a user's own file of the lock's name is used, never deleted
    {
      DestinationLock first, second;
      ASSERT_EQ(first.Acquire(dst), State::kHeld);
      EXPECT_EQ(second.Acquire(letter.root()), State::kBusy);
      first.Release();
      EXPECT_EQ(second.Acquire(letter.root()), State::kHeld);
      EXPECT_EQ(first.Acquire(dst), State::kBusy);
      EXPECT_EQ(ProveWritable(dst), 0);
    }
    EXPECT_EQ(ReadTree(dst), mine);
  }
  DestinationLock missing;
  EXPECT_EQ(missing.Acquire(dir / "gone\\"), State::kFailed);
  EXPECT_EQ(missing.failureCode(), kPathNotFound);
  EXPECT_EQ(ProveWritable(dir / "gone\\"), kPathNotFound);
}

// A job that dies holds its handle until the system closes it: the lock file goes with it.
TEST(DestinationLock, AKilledHolderLeavesNoStaleLock) {
  char held[MAX_PATH] = {};
  if (GetEnvironmentVariableA("STOWLY_HOLD_LOCK_IN", held, MAX_PATH)) {  // run as the holder
    DestinationLock lock;
    ASSERT_EQ(lock.Acquire(held), State::kHeld);
    Sleep(120000);
  }
  ScratchDir dir;
  std::string me(MAX_PATH, '\0');
  me.resize(GetModuleFileNameA(nullptr, me.data(), MAX_PATH));
  SetEnvironmentVariableA("STOWLY_HOLD_LOCK_IN", dir.path().c_str());
  std::optional<ChildProcess> holder;
  holder.emplace("\"" + me + "\" --gtest_filter=DestinationLock.AKilledHolderLeavesNoStaleLock");
  SetEnvironmentVariableA("STOWLY_HOLD_LOCK_IN", nullptr);
  DestinationLock lock;
  for (int i = 0; i < 1000 && !Exists(dir / kLockFileName); ++i) Sleep(20);
  EXPECT_EQ(lock.Acquire(dir.path()), State::kBusy);
  holder.reset();  // kills the holder, as a crash would end it
  for (int i = 0; i < 250 && lock.Acquire(dir.path()) != State::kHeld; ++i) Sleep(20);
  EXPECT_EQ(lock.state(), State::kHeld);
}

// Drive Q: is a small volume of its own (scripts/make-full-disk.sh). The new copy is
// written beside the older one, so it must fit beside it; the space a failed copy took is
// free again for the next file.
TEST_F(Engine, OnAFullDiskAFailedCopyLeavesTheOlderCopyAndNoTruncatedFile) {
  ULARGE_INTEGER total = {}, free = {};
  if (GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR)
    GTEST_SKIP() << "drive Q: is not prepared; run scripts/make-full-disk.sh on this prefix";
  if (!GetDiskFreeSpaceExA("Q:\\", &free, &total, nullptr) || total.QuadPart > (16u << 20))
    GTEST_SKIP() << "drive Q: is not a small test volume, so it is not filled";
  const size_t kKiB = 1024;
  std::string q = host.destination =
      "Q:\\stowly-full-" + std::to_string(GetCurrentProcessId()) + "\\";
  Files source = {{"small", "s"},
                  {"big", std::string(700 * kKiB, 'n')},
                  {"after", std::string(400 * kKiB, 'a')}};
  const std::string older = std::string(200 * kKiB, 'o');
  ASSERT_TRUE(MakeFiles(src, source) &&
              MakeFiles(CopyOf(q, src), {{"big", older}, {"after", std::string(100 * kKiB, 'p')}}));
  GetDiskFreeSpaceExA("Q:\\", &free, nullptr, nullptr);
  ASSERT_GT(free.QuadPart, 560 * kKiB) << "drive Q: is too small for this test";
  ASSERT_TRUE(WriteFileText(q + "ballast", std::string(free.QuadPart - 550 * kKiB, 'x')));
  RunWorker({src + "small", src + "big", src + "after"});
  source["big"] = older;
  EXPECT_TRUE(ReadTree(CopyOf(q, src)) == source);
  EXPECT_EQ(LogTexts(log)[2], "  2   Error - Disk full.  " + src + "big");
  EXPECT_EQ(host.skippedLabel, "1 Skipped files - See log for details");
  RemoveTree(q);
}

}  // namespace
