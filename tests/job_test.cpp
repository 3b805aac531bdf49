// Whole backup jobs over real folder trees in a scratch folder, with a test host in
// place of the main window.
#include "engine/backup_job.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <set>

#include "engine/settings.h"
#include "engine/destination_lock.h"
#include "tests/support.h"

namespace {

Lines After(const Lines& texts, const std::string& marker) {
  auto at = std::find(texts.rbegin(), texts.rend(), marker);
  return at == texts.rend() ? texts : Lines(at.base(), texts.end());
}

size_t CopyingLines(const Lines& texts) {
  return std::count_if(texts.begin(), texts.end(),
                       [](const std::string& t) { return t.find("   Copying ") != t.npos; });
}

bool Has(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Job : public ::testing::Test {
 protected:
  void TearDown() override { SetLogFilePath("Stowly.log"); }

  // A fresh host and job over the configuration; the settings are the job's to read.
  BackupJob& Open(const Config& c) {
    host = std::make_unique<TestHost>();
    host->destination = c.destination;
    host->sources = c.sources;
    g_settings.NumDirs = static_cast<int>(c.sources.size());
    g_settings.FullMirror = c.fullMirror;
    g_settings.UseArchiveBit = c.useArchiveBit;
    g_settings.DeleteFiles = c.deleteFiles;
    g_settings.MaxLogSize = 104857600;
    SetLogFilePath(c.destination + "Stowly.log");
    job = std::make_unique<BackupJob>(*host);
    host->tick = [this] { job->WorkerEndCheck(); };
    return *job;
  }

  void ExpectIdleButton() {
    EXPECT_EQ(host->button, "Backup");
    EXPECT_TRUE(host->buttonEnabled);
  }

  ScratchDir dir;
  std::unique_ptr<TestHost> host;
  std::unique_ptr<BackupJob> job;
};

TEST_F(Job, RefusesWhatCannotWorkAndTouchesNothing) {
  std::string src = dir / "src\\", dst = dir / "dst\\";
  MakeFiles(src, {{"a.txt", "a"}});
  std::string inside = CopyOf(dst, src);  // a second source where the first one's copy goes
  MakeFiles(inside, {{"x.txt", "x"}});
  const std::string needBoth = "There must be at least 1 source folder and a destination folder.";
  const std::string illegal = "Illegal Configuration!  This will copy the source onto itself.";
  const struct {
    const char* what;
    Config config;
    std::string message;
  } cases[] = {
      {"no source folder", {dst, {}}, needBoth},
      {"destination inside the source", {src + "backup\\", {src}}, illegal},
      {"a source lies where another source's copy goes", {dst, {src, inside}}, illegal},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Open(c.config);
    host->status = {"earlier line"};
    job->Run();
    // The missing-settings message comes before the confirmation, the illegal one after it.
    ASSERT_EQ(host->messages.size(), c.message == needBoth ? 1u : 2u);
    EXPECT_EQ(host->messages.back(),
              std::make_pair(c.message, unsigned{MB_OK | MB_ICONINFORMATION}));
    EXPECT_EQ(host->status, Lines{"earlier line"});
    ExpectIdleButton();
    EXPECT_FALSE(Exists(dst + "Stowly.log"));
    EXPECT_EQ(ReadTree(src), (Files{{"a.txt", "a"}}));
  }
}

TEST_F(Job, ConfirmationShowsTheModeAndCancelChangesNothing) {
  std::string src = dir / "src\\", dst = dir / "dst\\";
  MakeFiles(src, {{"a.txt", "new"}});
  MakeFiles(dst, {{"Stowly.log", "12-06-2026   16:05:09   old line\r\n"}});
  MakeFiles(CopyOf(dst, src), {{"a.txt", "old"}, {"orphan.txt", "o"}});
  const Files before = ReadTree(dst);
  const struct {
    int fullMirror, useArchiveBit;
    std::string text;
  } cases[] = {
      {1, 0,
       "Ready to start Backup Job...\r\n\r\nFull Mirror Backup - Deletes all source folders from "
       "destination and does a complete mirror backup to destination.\r\n\r\nThe windows archive "
       "bit will be left alone."},
      {0, 1,
       "Ready to start Backup Job...\r\n\r\nFast Mirror Backup - Uses the windows archive bit to "
       "determine which files have changed since the last backup, and \r\nbacks up just those "
       "files.  If a file exists in the source folder, but not in the destination folder, Stowly "
       "will copy \r\nthat file to the destination folder regardless of the archive bit's "
       "status.\r\n\r\nStowly will delete the orphaned files from the destination folder that "
       "are no longer in the source folder.\r\n\r\nThe windows archive bit will be cleared on all "
       "files copied.  This allows Stowly to be able to do fast mirror\r\nbackups.  If you are "
       "using another backup program that uses the windows archive bit then CANCEL this "
       "backup\r\njob, and uncheck this option from the 'Options' Window."},
  };
  for (const auto& c : cases) {
    Open({dst, {src}, c.fullMirror, c.useArchiveBit, 1});
    host->status = {"earlier line"};
    host->skipped = {"earlier skip"};
    host->answer = IDCANCEL;
    job->Run();
    ASSERT_EQ(host->messages.size(), 1u);
    EXPECT_EQ(host->messages[0],
              std::make_pair(c.text, unsigned{MB_OKCANCEL | MB_ICONINFORMATION}));
    EXPECT_EQ(host->status, Lines{"earlier line"});
    EXPECT_EQ(host->skipped, Lines{"earlier skip"});
    EXPECT_EQ(host->skippedLabel, "Skipped Files - See log for details");
    ExpectIdleButton();
    EXPECT_EQ(ReadTree(dst), before);
  }
}

TEST_F(Job, FullMirrorReplacesTheDestinationCopies) {
  std::string src = dir / "src\\", dst = dir / "dst\\", copy = CopyOf(dst, src);
  const Files source = {{"a.txt", "alpha"}, {"sub\\b.txt", "bravo"}, {"sub\\deep\\c.txt", "c"}};
  MakeFiles(src, source);
  MakeFiles(copy, {{"stale.txt", "gone soon"}, {"sub\\b.txt", "old bravo"}});
  SetFileAttributesA((copy + "stale.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  const std::string oldLog = "12-06-2026   16:05:09   earlier job\r\n";
  MakeFiles(dst, {{"other\\keep.txt", "no source's copy"}, {"Stowly.log", oldLog}});

  Open({dst, {src}, 1, 0, 1});
  job->Run();

  EXPECT_EQ(
      host->status,
      (Lines{"Backup Mode = Full Mirror, leaving Archive Bit alone on backed up files",
             "Checking Destination Folder...", "  Deleting " + copy.substr(0, copy.size() - 1),
             "  ...Ok", "Getting list of files from source...3 Files Found",
             "3 of 3 Files copied - 0 Files skipped", "FINISHED!  Backup is complete."}));
  EXPECT_EQ(ReadTree(copy), source);
  EXPECT_EQ(ReadFileText(dst + "other\\keep.txt"), "no source's copy");
  EXPECT_FALSE(Exists(dst + "Stowly.Test"));
  EXPECT_EQ(host->skippedLabel, "Skipped files - See log for details");
  ExpectIdleButton();
  // The earlier job's log is kept and divided from this job's lines.
  std::string log = ReadFileText(dst + "Stowly.log");
  EXPECT_EQ(log.substr(0, oldLog.size() + 142), oldLog + std::string(140, '-') + "\r\n");
  EXPECT_EQ(LogTexts(dst + "Stowly.log").back(), "FINISHED!  Backup is complete.");
}

TEST_F(Job, FastMirrorCopiesAndRemovesOnlyRealOrphans) {
  std::string src = dir / "src\\", dst = dir / "dst\\", copy = CopyOf(dst, src);
  const Files source = {{"a.txt", "new alpha"}, {"sub\\b.txt", "bravo"}, {"new\\n.txt", "novel"}};
  MakeFiles(src, source);
  MakeFiles(copy, {{"a.txt", "old alpha"},
                   {"sub\\b.txt", "bravo"},
                   {"orphan.txt", "o"},
                   {"sub\\orphan2.txt", "o2"},
                   {"gone\\x.txt", "x"},
                   {"locked.txt", "held open by another program"}});
  SetFileAttributesA((copy + "a.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA((copy + "orphan.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  MakeFiles(dst, {{"elsewhere\\y.txt", "outside every copy"}});

  Open({dst, {src}, 0, 1, 1});
  HANDLE held = CreateFileA((copy + "locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  job->Run();
  CloseHandle(held);

  EXPECT_EQ(
      host->status,
      (Lines{"Backup Mode = Fast Mirror, delete orphaned files, clearing Archive Bit on backed "
             "up files",
             "Checking Destination Folder...", "  ...Ok",
             "Getting list of changed files from source...3 Files Found",
             "3 of 3 Files copied - 0 Files skipped",
             "Getting complete list of files from destination...7 Files Found",
             "Deleting files from destination folders that are not found in source "
             "folders...3 files",
             "FINISHED!  Backup is complete."}));
  // The read-only hidden copy was overwritten; empty folders stay, only files go.
  Files left = source;
  left["locked.txt"] = "held open by another program";
  EXPECT_EQ(ReadTree(copy), left);
  EXPECT_EQ(GetFileAttributesA((copy + "a.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_TRUE(Exists(copy + "gone"));
  EXPECT_EQ(ReadFileText(dst + "elsewhere\\y.txt"), "outside every copy");

  // Only real deletions count; the one that failed says why.
  Lines tail = After(LogTexts(dst + "Stowly.log"), "  ...3 of 3 Files copied - 0 Files skipped");
  ASSERT_EQ(tail.size(), 9u);
  EXPECT_EQ(
      Lines(tail.begin(), tail.begin() + 3),
      (Lines{"Getting complete list of files from destination...", "  ...7 files found",
             "Deleting files from destination folder that are not found in source folders..."}));
  EXPECT_EQ(std::set<std::string>(tail.begin() + 3, tail.begin() + 7),
            (std::set<std::string>{"  Deleted " + copy + "orphan.txt",
                                   "  Deleted " + copy + "sub\\orphan2.txt",
                                   "  Deleted " + copy + "gone\\x.txt",
                                   "  Error - Permission Denied  " + copy + "locked.txt"}));
  EXPECT_EQ(tail[7], "  ...3 files found");
  EXPECT_EQ(tail[8], "FINISHED!  Backup is complete.");
}

TEST_F(Job, EmptySourcesAndOverlappingSources) {
  std::string src = dir / "src\\", dst = dir / "dst\\";
  std::string outer = src + "outer\\", inner = outer + "sub\\";
  MakeFiles(src + "empty\\", {});
  MakeFiles(outer, {{"a.txt", "a"}, {"sub\\b.txt", "b"}});
  MakeFiles(CopyOf(dst, inner), {{"old.txt", "an orphan in both copies"}});

  Open({dst, {src + "empty\\"}, 1, 0, 1});
  job->Run();
  // With nothing to copy the summary replaces the listing line.
  Lines status = host->status;
  EXPECT_EQ(Lines(status.begin() + 2, status.end()),
            (Lines{"  ...Ok", "0 of 0 Files copied - 0 Files skipped",
                   "FINISHED!  Backup is complete."}));

  // Shared files are listed and copied twice; the orphan listed twice is deleted once.
  Open({dst, {outer, inner}, 0, 1, 1});
  job->Run();
  status = host->status;
  EXPECT_EQ(Lines(status.begin() + 3, status.end()),
            (Lines{"Getting list of changed files from source...3 Files Found",
                   "3 of 3 Files copied - 0 Files skipped",
                   "Getting complete list of files from destination...5 Files Found",
                   "Deleting files from destination folders that are not found in source "
                   "folders...1 files",
                   "FINISHED!  Backup is complete."}));
  EXPECT_EQ(ReadTree(CopyOf(dst, outer)), (Files{{"a.txt", "a"}, {"sub\\b.txt", "b"}}));
  Lines texts = After(LogTexts(dst + "Stowly.log"), "----");
  EXPECT_EQ(CopyingLines(texts), 3u);
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& t) { return t.rfind("  Deleted ", 0) == 0; }),
            1);
}

TEST_F(Job, AnUnwritableOrBusyDestinationStopsBeforeAnythingIsDeleted) {
  std::string src = dir / "src\\", busy = dir / "busy\\";
  MakeFiles(src, {{"a.txt", "a"}});
  MakeFiles(CopyOf(busy, src), {{"old.txt", "must survive"}});
  // Another job holds the destination; its log must not be cut short either.
  DestinationLock other;
  ASSERT_EQ(other.Acquire(busy), DestinationLock::State::kHeld);
  const std::string otherLog = std::string(200, 'x') + "\r\n";
  ASSERT_TRUE(WriteFileText(busy + "Stowly.log", otherLog));
  const struct {
    std::string destination, line;
  } cases[] = {{dir / "missing\\", "Destination folder is not writable...Operation canceled."},
               {busy, "Destination folder is in use by another backup job...Operation canceled."}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.destination);
    Open({c.destination, {src}, 1, 0, 1});
    g_settings.MaxLogSize = 100;
    job->Run();
    EXPECT_EQ(host->status,
              (Lines{"Backup Mode = Full Mirror, leaving Archive Bit alone on backed up "
                     "files",
                     "Checking Destination Folder...", c.line}));
    EXPECT_EQ(job->ExitCode(), 3);
    ExpectIdleButton();
  }
  EXPECT_FALSE(Exists(dir / "missing"));
  EXPECT_EQ(ReadTree(CopyOf(busy, src)), (Files{{"old.txt", "must survive"}}));
  EXPECT_EQ(ReadFileText(busy + "Stowly.log").substr(0, otherLog.size()), otherLog);
}

TEST_F(Job, MissingSourceFolderKeepsItsCopyInBothModes) {
  std::string dst = dir / "dst\\", present = dir / "src\\present\\";
  std::string gone = dir / "src\\gone\\", nested = present + "nested-gone\\";
  std::string presentCopy = CopyOf(dst, present);
  MakeFiles(present, {{"p.txt", "present"}});
  const struct {
    const char* what;
    int fullMirror;
    std::string missing, expectedLine;
    bool staleRemoved;
  } cases[] = {
      {"Full Mirror", 1, gone, "  Deleting " + presentCopy.substr(0, presentCopy.size() - 1), true},
      {"Fast Mirror", 0, gone, "", true},
      {"Full Mirror, missing folder inside a present one", 1, nested,
       "  Not deleted, shares its copy with a missing source folder: " +
           presentCopy.substr(0, presentCopy.size() - 1),
       false},
      {"Fast Mirror, missing folder inside a present one", 0, nested, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(dst);
    MakeFiles(CopyOf(dst, c.missing), {{"only copy.txt", "its source is unplugged"}});
    MakeFiles(presentCopy, {{"stale.txt", "stale"}});
    Open({dst, {present, c.missing}, c.fullMirror, 1, 1});
    job->Run();
    Lines status = host->status;
    const std::string missingLine = "  Source folder not found, skipped: " + c.missing;
    EXPECT_EQ(std::count(status.begin(), status.end(), missingLine), 1);
    EXPECT_TRUE(Has(LogTexts(dst + "Stowly.log"), missingLine));
    EXPECT_TRUE(c.expectedLine.empty() || Has(status, c.expectedLine)) << c.expectedLine;
    EXPECT_EQ(status.back(), "FINISHED!  Backup is complete.");
    EXPECT_EQ(ReadFileText(CopyOf(dst, c.missing) + "only copy.txt"), "its source is unplugged");
    EXPECT_EQ(Exists(presentCopy + "stale.txt"), !c.staleRemoved);
    EXPECT_EQ(ReadFileText(presentCopy + "p.txt"), "present");
  }
}

TEST_F(Job, CancelDuringALargeFileFinishesItAndTheNextJobRunsNormally) {
  std::string src = dir / "src\\", dst = dir / "dst\\", copy = CopyOf(dst, src);
  const std::string big = std::string(4u << 20, 'b');
  MakeFiles(src + "1big\\", {{"big.bin", big}});
  MakeFiles(src + "2many\\", ManyFiles(20));
  MakeFiles(dst, {});
  Open({dst, {src + "1big\\", src + "2many\\"}, 1, 0, 1});
  // The big file is entry 1 (its folder is listed first). Cancel is pressed, and the
  // worker-end check runs, just before its copy starts.
  host->WhenStatusShows("Copying file 1 of ", [this] {
    job->Run();
    job->WorkerEndCheck();
  });
  job->Run();

  EXPECT_TRUE(job->WorkerIdle());
  ExpectIdleButton();
  const std::string canceled = "CANCELED!  (1 out of 21 Files Copied)";
  EXPECT_EQ(host->status.back(), canceled);
  EXPECT_TRUE(ReadFileText(copy + "1big\\big.bin") == big) << "the file in hand is complete";
  EXPECT_EQ(ReadTree(copy).size(), 1u) << "no entry after it was started";
  // The worker's last line lands before the job's CANCELED line.
  Lines texts = LogTexts(dst + "Stowly.log");
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2],
            "  1   Copying " + src + "1big\\big.bin -> " + copy + "1big\\big.bin");
  EXPECT_EQ(texts.back(), canceled);

  job->Run();
  Lines status = host->status;
  EXPECT_EQ(Lines(status.end() - 2, status.end()),
            (Lines{"21 of 21 Files copied - 0 Files skipped", "FINISHED!  Backup is complete."}));
  EXPECT_TRUE(ReadTree(copy) == ReadTree(src));
}

TEST_F(Job, AskedToCloseMidCopyItFinishesTheFileInHandAndClosesOnce) {
  std::string src = dir / "src\\", dst = dir / "dst\\", copy = CopyOf(dst, src);
  Files many = ManyFiles(40);
  MakeFiles(src, many);
  const struct {
    const char* what;
    bool windowGone;  // a window destroyed outright takes its lists and log switch with it
  } cases[] = {{"close asked for", false}, {"window destroyed outright", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(dst);
    MakeFiles(dst, {});
    Open({dst, {src}, 1, 0, 1});
    host->WhenStatusShows("Copying file 3 of ", [this, &c] {
      if (!c.windowGone) return job->RequestClose();
      host->gone = true;
      host->logging = false;
      job->StopCopyingBeforeWindowsGo();
    });
    job->Run();

    EXPECT_EQ(host->closes, c.windowGone ? 0 : 1);
    EXPECT_TRUE(job->WorkerIdle());
    Files copies = ReadTree(copy);
    EXPECT_GE(copies.size(), 3u);
    EXPECT_LT(copies.size(), 40u);
    for (const auto& [name, content] : copies) EXPECT_EQ(content, many[name]) << name;
    if (c.windowGone) continue;
    Lines texts = LogTexts(dst + "Stowly.log");
    EXPECT_EQ(CopyingLines(texts), copies.size());
    EXPECT_EQ(texts.back(),
              "CANCELED!  (" + std::to_string(copies.size()) + " out of 40 Files Copied)");
  }
}

TEST_F(Job, DriveRootsNeverLoseAnythingOutsideTheDestination) {
  std::string srcRoot = dir / "srcroot\\", dstRoot = dir / "dstroot\\", cwd = dir / "cwd\\";
  MakeFiles(srcRoot, {{"a.txt", "a"}, {"sub\\b.txt", "b"}});
  MakeFiles(dstRoot, {{"stale.txt", "already there"}});
  MakeFiles(cwd, {{"sentinel.txt", "the current folder"}});
  MappedDrive source('J', srcRoot), destination('K', dstRoot);
  if (!source.ready() || !destination.ready())
    GTEST_SKIP() << "could not map drive letters to scratch folders in the Wine prefix";
  // A bare "K:" would name the drive's current folder; give the process one worth keeping.
  char oldCwd[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, oldCwd);
  SetCurrentDirectoryA(cwd.c_str());

  Open({destination.root(), {source.root()}, 1, 0, 1});
  job->Run();
  Lines status = host->status;
  EXPECT_TRUE(Has(status, "  Drive root not deleted: K:\\"));
  EXPECT_EQ(status.back(), "FINISHED!  Backup is complete.");
  EXPECT_EQ(ReadTree(dstRoot), (Files{{"a.txt", "a"},
                                      {"sub\\b.txt", "b"},
                                      {"stale.txt", "already there"},
                                      {"Stowly.log", ReadFileText(dstRoot + "Stowly.log")}}));
  EXPECT_EQ(ReadFileText(cwd + "sentinel.txt"), "the current folder");
  EXPECT_EQ(ReadTree(srcRoot), (Files{{"a.txt", "a"}, {"sub\\b.txt", "b"}}));
  SetCurrentDirectoryA(oldCwd);

  // Fast Mirror of a drive root: the log lies in the listed destination and is kept.
  std::string dst = dir / "dst\\";
  MakeFiles(dst, {{"orphan.txt", "o"}});
  Open({dst, {source.root()}, 0, 1, 1});
  job->Run();
  EXPECT_EQ(host->status.back(), "FINISHED!  Backup is complete.");
  EXPECT_FALSE(Exists(dst + "orphan.txt"));
  Lines texts = LogTexts(dst + "Stowly.log");
  EXPECT_TRUE(Has(texts, "  Skipped Stowly Log File"));
  EXPECT_TRUE(Has(texts, "  Deleted " + dst + "orphan.txt"));
}

}  // namespace
