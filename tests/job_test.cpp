// Whole backup jobs over real folder trees, with a test host in place of the main window.
#include "engine/backup_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "engine/destination_lock.h"
#include "engine/settings.h"
#include "tests/support.h"

namespace {

const std::string kFinished = "FINISHED!  Backup is complete.";

bool Has(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Job : public ::testing::Test {
 protected:
  void TearDown() override { SetLogFilePath("Stowly.log"); }
  // A fresh host and job over the configuration, loaded as the program loads its settings;
  // the log lies in the destination.
  void Run(const Config& c, std::function<void()> before = nullptr) {
    ASSERT_TRUE(WriteFileText(g_settings.settingsPath = home / "Stowly.ini", IniText(c)));
    LoadSettings();
    host = std::make_unique<TestHost>();
    host->destination = c.destination;
    host->sources = c.sources;
    job = std::make_unique<BackupJob>(*host);
    host->tick = [this] { job->WorkerEndCheck(); };
    host->status = {"earlier line"};
    if (before) before();
    job->Run();
    EXPECT_TRUE(host->button == "Backup" && host->buttonEnabled);
  }
  Lines Log() { return LogTexts(dst + "Stowly.log"); }
  Lines Last(size_t n) { return Lines(host->status.end() - n, host->status.end()); }

  ScratchDir dir, home;
  std::string src = dir / "src\\", dst = dir / "dst\\", copy = CopyOf(dst, src);
  std::unique_ptr<TestHost> host;
  std::unique_ptr<BackupJob> job;
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
  for (const auto& [config, message, mode] : cases) {
    Run(config, [&] { host->answer = message.empty() ? IDCANCEL : IDOK; });
    const auto& [text, flags] = host->messages.front();
    // The missing-settings message comes before the confirmation, the illegal one after it.
    EXPECT_EQ(host->messages.size(), message == illegal ? 2u : 1u);
    if (message.empty()) {
      EXPECT_EQ(text.find("Ready to start Backup Job...\r\n\r\n" + mode), 0u) << text;
      EXPECT_EQ(text.find("archive bit will be cleared") != text.npos, config.useArchiveBit);
      EXPECT_EQ(flags, unsigned{MB_OKCANCEL | MB_ICONINFORMATION});
    } else {
      EXPECT_EQ(host->messages.back(),
                std::make_pair(message, unsigned{MB_OK | MB_ICONINFORMATION}));
    }
    EXPECT_EQ(host->status, Lines{"earlier line"});
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
  EXPECT_TRUE(Has(log, "  Error - Permission Denied  " + copy + "locked"));
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
  EXPECT_EQ(host->status.back(), kDestinationBusyLine);
  EXPECT_EQ(job->ExitCode(), 3);
  EXPECT_EQ(ReadTree(copy), (Files{{"old.txt", "must survive"}}));
  EXPECT_EQ(ReadFileText(dst + "Stowly.log").substr(0, otherLog.size()), otherLog);
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
    EXPECT_EQ(std::count(host->status.begin(), host->status.end(), missingLine), 1);
    EXPECT_TRUE(line.empty() || Has(host->status, line)) << line;
    EXPECT_EQ(host->status.back(), kFinished);
    EXPECT_EQ(ReadFileText(CopyOf(dst, missing) + "only copy.txt"), "its source is unplugged");
    EXPECT_EQ(Exists(copy + "stale.txt"), !staleRemoved);
    EXPECT_EQ(ReadFileText(copy + "p.txt"), "present");
  }
}

// Cancel pressed, a close asked for, the window destroyed outright (taking its lists and
// log switch with it): each just before the big file, listed first, starts.
TEST_F(Job, StoppedMidCopyItFinishesTheFileInHandAndTheNextJobRunsNormally) {
  const std::string big = std::string(4u << 20, 'b');
  MakeFiles(src + "1big\\", {{"big.bin", big}});
  MakeFiles(src + "2many\\", ManyFiles(20));
  for (int how = 2; how >= 0; --how) {  // the cancelled one last
    RemoveTree(dst);
    MakeFiles(dst, {});
    Run({dst, {src + "1big\\", src + "2many\\"}}, [this, how] {
      host->WhenStatusShows("Copying file 1 of ", [this, how] {
        if (how == 0) job->Run(), job->WorkerEndCheck();
        if (how == 1) job->RequestClose();
        if (how == 2) host->gone = true, host->logging = false, job->StopCopyingBeforeWindowsGo();
      });
    });
    SCOPED_TRACE(how);
    EXPECT_TRUE(job->WorkerIdle());
    EXPECT_EQ(host->closes, how == 1);
    EXPECT_TRUE(ReadFileText(copy + "1big\\big.bin") == big);
    EXPECT_EQ(ReadTree(copy).size(), 1u) << "no entry after it was started";
    Lines log = Log();
    EXPECT_TRUE(how == 2 ||
                Lines(log.end() - 2, log.end()) ==
                    (Lines{"  1   Copying " + src + "1big\\big.bin -> " + copy + "1big\\big.bin",
                           "CANCELED!  (1 out of 21 Files Copied)"}));
  }
  job->Run();
  EXPECT_EQ(host->status.back(), kFinished);
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
  EXPECT_TRUE(Has(host->status, "  Drive root not deleted: K:\\"));
  Files left = ReadTree(dstRoot);
  EXPECT_EQ(left.erase("Stowly.log"), 1u);
  EXPECT_EQ(left, (Files{{"a.txt", "a"}, {"sub\\b.txt", "b"}, {"stale.txt", "already there"}}));
  EXPECT_EQ(ReadTree(cwd), (Files{{"sentinel.txt", "the current folder"}}));
  EXPECT_EQ(ReadTree(srcRoot), source);
  // Fast Mirror of a drive root: the log lies in the listed destination and is kept.
  MakeFiles(dst, {{"orphan.txt", "o"}});
  Run({dst, {from.root()}, 0, 1, 1});
  EXPECT_FALSE(Exists(dst + "orphan.txt"));
  EXPECT_TRUE(Has(Log(), "  Skipped Stowly Log File"));
}

}  // namespace
