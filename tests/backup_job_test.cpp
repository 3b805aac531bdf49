// The backup job on the real main window, over real folder trees in a scratch folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/message_loop.h"
#include "app/settings.h"
#include "engine/copy_worker.h"
#include "engine/job_state.h"
#include "tests/backup_helpers.h"
#include "tests/support.h"
#include "ui/controls.h"
#include "ui/main_window.h"

namespace {

std::vector<std::string> Lines(HWND list) {
  std::vector<std::string> lines;
  for (int i = 0, n = ListCount(list); i < n; ++i) lines.push_back(ListGetText(list, i));
  return lines;
}

std::vector<std::string> StatusLines() { return Lines(MainControlHandle(kStatusList)); }

// Runs an action on the user-interface thread, from inside the job's message pumping, once
// the copy worker is on the given entry: the way a user's click arrives during a backup.
std::function<void()> g_whenCopying;
int g_atEntry = 0;
UINT_PTR g_trigger = 0;

void CALLBACK TriggerTick(HWND, UINT, UINT_PTR, DWORD) {
  if (!g_whenCopying || g_job.workerIdle != 0 || g_job.fileIndex < g_atEntry) return;
  KillTimer(nullptr, g_trigger);
  auto action = std::move(g_whenCopying);
  g_whenCopying = nullptr;
  action();
}

void WhenCopying(int entry, std::function<void()> action) {
  g_atEntry = entry;
  g_whenCopying = std::move(action);
  g_trigger = SetTimer(nullptr, 0, 10, TriggerTick);
}

// Runs an action when the copy worker puts a line starting with `head` into the status
// list: the worker waits for that message, so the action happens before the entry's
// copy begins, as a click and a timer tick landing in that moment would.
WNDPROC g_statusProc = nullptr;
std::string g_statusHead;
std::function<void()> g_onStatus;

LRESULT CALLBACK StatusHook(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == LB_ADDSTRING && g_onStatus &&
      std::string(reinterpret_cast<const char*>(lParam)).rfind(g_statusHead, 0) == 0) {
    auto action = std::move(g_onStatus);
    g_onStatus = nullptr;
    action();
  }
  return CallWindowProcA(g_statusProc, list, message, wParam, lParam);
}

void WhenStatusShows(const std::string& head, std::function<void()> action) {
  g_statusHead = head;
  g_onStatus = std::move(action);
  g_statusProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
      MainControlHandle(kStatusList), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusHook)));
}

class BackupJob : public ::testing::Test {
 protected:
  void TearDown() override {
    if (g_trigger) KillTimer(nullptr, g_trigger);
    g_whenCopying = nullptr;
    g_onStatus = nullptr;
    CloseMainWindow();
  }

  HWND Open(const Config& c) {
    EXPECT_TRUE(WriteFileText(dir / "Stowly.ini", IniText(c)));
    HWND form = OpenMainWindow(dir / "Stowly.ini");
    EXPECT_TRUE(form);
    return form;
  }

  // Presses Backup the way the user does; returns when the job has ended.
  void ClickBackup() { SendMessageA(MainControlHandle(kBackupButton), BM_CLICK, 0, 0); }

  ScratchDir dir;
};

void ExpectIdleButton() {
  HWND button = MainControlHandle(kBackupButton);
  EXPECT_EQ(GetText(button), "Backup");
  EXPECT_TRUE(IsWindowEnabled(button));
}

TEST_F(BackupJob, RefusesWhatCannotWorkAndTouchesNothing) {
  std::string src = dir / "src\\", dst = dir / "dst\\";
  MakeFiles(src, {{"a.txt", "a"}});
  MakeFiles(dst, {});
  const std::string needBoth = "There must be at least 1 source folder and a destination folder.";
  const std::string illegal = "Illegal Configuration!  This will copy the source onto itself.";
  struct Case {
    const char* what;
    Config config;
    std::string message;
  };
  std::string inside = CopyOf(dst, src);  // another source where the first one's copy goes
  MakeFiles(inside, {{"x.txt", "x"}});
  const Case cases[] = {
      {"no source folder", {dst, {}}, needBoth},
      {"no destination", {"", {src}}, needBoth},
      {"destination is the source's drive root", {src.substr(0, 3), {src}}, illegal},
      {"same root in lower case still copies the source onto itself",
       {std::string(1, static_cast<char>(tolower(src[0]))) + src.substr(1, 2), {src}},
       illegal},
      {"destination inside the source", {src + "backup\\", {src}}, illegal},
      {"destination is the source", {src, {src}}, illegal},
      {"a source lies where another source's copy goes", {dst, {src, inside}}, illegal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open(c.config);
    ListAdd(MainControlHandle(kStatusList), "earlier line");
    MessageRecorder recorder(IDOK);
    ClickBackup();
    ASSERT_FALSE(recorder.shown.empty());
    const auto& last = recorder.shown.back();
    EXPECT_EQ(last.text, c.message);
    EXPECT_EQ(last.caption, "Stowly Message");
    EXPECT_EQ(last.flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    // The missing-settings message comes before the confirmation, the illegal one after it.
    EXPECT_EQ(recorder.shown.size(), c.message == needBoth ? 1u : 2u);
    EXPECT_EQ(StatusLines(), std::vector<std::string>{"earlier line"});
    ExpectIdleButton();
    EXPECT_FALSE(Exists(dst + "Stowly.log"));
    EXPECT_FALSE(Exists(src + "backup"));
    EXPECT_EQ(ReadTree(src), (Files{{"a.txt", "a"}}));
  }
}

TEST_F(BackupJob, ConfirmationShowsTheModeAndCancelChangesNothing) {
  std::string src = dir / "src\\", dst = dir / "dst\\";
  MakeFiles(src, {{"a.txt", "new"}});
  MakeFiles(dst, {{"Stowly.log", "12-06-2026   16:05:09   old line\r\n"}});
  MakeFiles(CopyOf(dst, src), {{"a.txt", "old"}, {"orphan.txt", "o"}});
  const Files before = ReadTree(dst);
  const std::string fast =
      "Fast Mirror Backup - Uses the windows archive bit to determine which files have changed "
      "since the last backup, and \r\nbacks up just those files.  If a file exists in the source "
      "folder, but not in the destination folder, Stowly will copy \r\nthat file to the "
      "destination folder regardless of the archive bit's status.\r\n\r\n";
  const std::string clears =
      "The windows archive bit will be cleared on all files copied.  This allows Stowly to be able "
      "to do fast mirror\r\nbackups.  If you are using another backup program that uses the "
      "windows archive bit then CANCEL this backup\r\njob, and uncheck this option from the "
      "'Options' Window.";
  struct Case {
    int fullMirror, useArchiveBit, deleteFiles;
    std::string text;
  };
  const Case cases[] = {
      {1, 0, 1,
       "Ready to start Backup Job...\r\n\r\nFull Mirror Backup - Deletes all source folders from "
       "destination and does a complete mirror backup to destination.\r\n\r\nThe windows archive "
       "bit will be left alone."},
      {0, 1, 1,
       "Ready to start Backup Job...\r\n\r\n" + fast +
           "Stowly will delete the orphaned files from the destination folder that are no longer "
           "in the source folder.\r\n\r\n" +
           clears},
      {0, 1, 0,
       "Ready to start Backup Job...\r\n\r\n" + fast +
           "Stowly will not delete the orphaned files from the destination folder that are no "
           "longer in the source folder.\r\n\r\n" +
           clears},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    Open({dst, {src}, c.fullMirror, c.useArchiveBit, c.deleteFiles});
    ListAdd(MainControlHandle(kStatusList), "earlier line");
    ListAdd(MainControlHandle(kSkippedList), "earlier skip");
    MessageRecorder recorder(IDCANCEL);
    ClickBackup();
    ASSERT_EQ(recorder.shown.size(), 1u);
    EXPECT_EQ(recorder.shown[0].text, c.text);
    EXPECT_EQ(recorder.shown[0].caption, "Stowly Message");
    EXPECT_EQ(recorder.shown[0].flags, static_cast<UINT>(MB_OKCANCEL | MB_ICONINFORMATION));
    EXPECT_EQ(StatusLines(), std::vector<std::string>{"earlier line"});
    EXPECT_EQ(Lines(MainControlHandle(kSkippedList)), std::vector<std::string>{"earlier skip"});
    EXPECT_EQ(GetText(MainControlHandle(kSkippedLabel)), "Skipped Files - See log for details");
    ExpectIdleButton();
    EXPECT_EQ(ReadTree(dst), before);
  }
}

TEST_F(BackupJob, FullMirrorReplacesTheDestinationCopies) {
  std::string src = dir / "src\\", dst = dir / "dst\\";
  const Files source = {{"a.txt", "alpha"},
                        {"sub\\b.txt", "bravo"},
                        {"sub\\deeper\\c.txt", "charlie"},
                        {"sub\\h.txt", "hidden one"}};
  MakeFiles(src, source);
  SetFileAttributesA((src + "sub\\h.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  std::string copy = CopyOf(dst, src);
  MakeFiles(copy, {{"stale.txt", "gone soon"}, {"sub\\b.txt", "old bravo"}});
  SetFileAttributesA((copy + "stale.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  MakeFiles(dst, {{"other\\keep.txt", "not a copy of any source"}});
  const std::string oldLog = "12-06-2026   16:05:09   earlier job\r\n";
  MakeFiles(dst, {{"Stowly.log", oldLog}});

  Open({dst, {src}, 1, 0, 1});
  MessageRecorder recorder(IDOK);
  ClickBackup();

  std::string subtree = copy.substr(0, copy.size() - 1);
  EXPECT_EQ(StatusLines(),
            (std::vector<std::string>{
                "Backup Mode = Full Mirror, leaving Archive Bit alone on backed up files",
                "Checking Destination Folder...",
                "  Deleting " + subtree,
                "  ...Ok",
                "Getting list of files from source...4 Files Found",
                "4 of 4 Files copied - 0 Files skipped",
                "FINISHED!  Backup is complete.",
            }));
  EXPECT_EQ(ReadTree(copy), source);
  EXPECT_EQ(ReadFileText(dst + "other\\keep.txt"), "not a copy of any source");
  EXPECT_FALSE(Exists(dst + "Stowly.Test"));
  EXPECT_TRUE(Lines(MainControlHandle(kSkippedList)).empty());
  EXPECT_EQ(GetText(MainControlHandle(kSkippedLabel)), "Skipped files - See log for details");
  ExpectIdleButton();

  std::string log = ReadFileText(dst + "Stowly.log");
  EXPECT_EQ(log.substr(0, oldLog.size() + 142), oldLog + std::string(140, '-') + kCrLf);
  std::vector<std::string> texts = After(LogTexts(dst + "Stowly.log"), "----");
  ASSERT_EQ(texts.size(), 13u);
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 7),
            (std::vector<std::string>{
                "Backup Mode = Full Mirror, leaving Archive Bit alone on backed up files",
                "Checking Destination Folder...",
                "  Deleting " + subtree,
                "  ...Ok",
                "Getting list of files from source...",
                "  ...4 files found",
                "Copying Files...",
            }));
  // The listing order is the file system's: each file once, numbered 1 to 4 in some order.
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
  EXPECT_EQ(texts[11], "  ...4 of 4 Files copied - 0 Files skipped");
  EXPECT_EQ(texts[12], "FINISHED!  Backup is complete.");
}

TEST_F(BackupJob, FastMirrorCopiesAndRemovesOnlyRealOrphans) {
  std::string src = dir / "src\\", dst = dir / "dst\\";
  const Files source = {{"a.txt", "new alpha"}, {"sub\\b.txt", "bravo"}, {"new\\n.txt", "novel"}};
  MakeFiles(src, source);
  std::string copy = CopyOf(dst, src);
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
  MessageRecorder recorder(IDOK);
  {
    HANDLE held = CreateFileA((copy + "locked.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ClickBackup();
    CloseHandle(held);
  }

  EXPECT_EQ(StatusLines(),
            (std::vector<std::string>{
                "Backup Mode = Fast Mirror, delete orphaned files, clearing Archive Bit on backed "
                "up files",
                "Checking Destination Folder...",
                "  ...Ok",
                "Getting list of changed files from source...3 Files Found",
                "3 of 3 Files copied - 0 Files skipped",
                "Getting complete list of files from destination...7 Files Found",
                "Deleting files from destination folders that are not found in source "
                "folders...3 files",
                "FINISHED!  Backup is complete.",
            }));
  // The read-only hidden copy was overwritten and now carries the source's attributes.
  Files left = source;
  left["locked.txt"] = "held open by another program";
  EXPECT_EQ(ReadTree(copy), left);
  DWORD attributes = GetFileAttributesA((copy + "a.txt").c_str());
  EXPECT_EQ(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
  EXPECT_TRUE(Exists(copy + "gone"));  // folders stay, only files go
  EXPECT_EQ(ReadFileText(dst + "elsewhere\\y.txt"), "outside every copy");

  std::vector<std::string> texts = LogTexts(dst + "Stowly.log");
  std::vector<std::string> tail = After(texts, "  ...3 of 3 Files copied - 0 Files skipped");
  ASSERT_EQ(tail.size(), 9u);
  EXPECT_EQ(tail[0], "Getting complete list of files from destination...");
  EXPECT_EQ(tail[1], "  ...7 files found");
  EXPECT_EQ(tail[2],
            "Deleting files from destination folder that are not found in source folders...");
  // Only real deletions are counted; the one that failed says why.
  EXPECT_EQ(std::set<std::string>(tail.begin() + 3, tail.begin() + 7),
            (std::set<std::string>{"  Deleted " + copy + "orphan.txt",
                                   "  Deleted " + copy + "sub\\orphan2.txt",
                                   "  Deleted " + copy + "gone\\x.txt",
                                   "  Error - Permission Denied  " + copy + "locked.txt"}));
  EXPECT_EQ(tail[7], "  ...3 files found");
  EXPECT_EQ(tail[8], "FINISHED!  Backup is complete.");
}

TEST_F(BackupJob, EmptySourcesAndOverlappingSources) {
  std::string src = dir / "src\\", dst = dir / "dst\\";
  MakeFiles(dst, {});
  {
    SCOPED_TRACE("an empty source: nothing to copy");
    MakeFiles(src + "empty\\", {});
    Open({dst, {src + "empty\\"}, 1, 0, 1});
    MessageRecorder recorder(IDOK);
    ClickBackup();
    EXPECT_EQ(StatusLines(), (std::vector<std::string>{
                                 "Backup Mode = Full Mirror, leaving Archive Bit alone on backed "
                                 "up files",
                                 "Checking Destination Folder...",
                                 "  ...Ok",
                                 "0 of 0 Files copied - 0 Files skipped",
                                 "FINISHED!  Backup is complete.",
                             }));
    std::vector<std::string> texts = LogTexts(dst + "Stowly.log");
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(texts.end() - 4, texts.end()),
              (std::vector<std::string>{"  ...0 files found", "Copying Files...",
                                        "  ...0 of 0 Files copied - 0 Files skipped",
                                        "FINISHED!  Backup is complete."}));
    ExpectIdleButton();
  }
  {
    SCOPED_TRACE("overlapping sources: shared files twice, an orphan listed twice goes once");
    std::string outer = src + "outer\\", inner = outer + "sub\\";
    MakeFiles(outer, {{"a.txt", "a"}, {"sub\\b.txt", "b"}});
    MakeFiles(CopyOf(dst, inner), {{"old.txt", "orphan in the overlap"}});
    DeleteFileA((dst + "Stowly.log").c_str());
    Open({dst, {outer, inner}, 0, 1, 1});
    MessageRecorder recorder(IDOK);
    ClickBackup();
    std::vector<std::string> status = StatusLines();
    ASSERT_EQ(status.size(), 8u);
    EXPECT_EQ(status[3], "Getting list of changed files from source...3 Files Found");
    EXPECT_EQ(status[4], "3 of 3 Files copied - 0 Files skipped");
    EXPECT_EQ(status[5], "Getting complete list of files from destination...5 Files Found");
    EXPECT_EQ(status[6],
              "Deleting files from destination folders that are not found in source "
              "folders...1 files");
    EXPECT_EQ(ReadTree(CopyOf(dst, outer)), (Files{{"a.txt", "a"}, {"sub\\b.txt", "b"}}));
    std::vector<std::string> texts = LogTexts(dst + "Stowly.log");
    EXPECT_EQ(CopyingLines(texts).size(), 3u);
    int deletedLines = 0, errorLines = 0;
    for (const std::string& t : texts) {
      deletedLines += t.rfind("  Deleted ", 0) == 0;
      errorLines += t.find("Error - ") != std::string::npos;
    }
    EXPECT_EQ(deletedLines, 1);
    EXPECT_EQ(errorLines, 0);
  }
}

TEST_F(BackupJob, UnwritableDestinationStopsBeforeAnythingIsDeleted) {
  std::string src = dir / "src\\";
  MakeFiles(src, {{"a.txt", "a"}});
  struct Case {
    const char* what;
    std::string destination;
  };
  std::string blocked = dir / "blocked\\";
  MakeFiles(blocked + "Stowly.Test\\", {{"in the way.txt", "a folder where the test file goes"}});
  MakeFiles(CopyOf(blocked, src), {{"old.txt", "must survive"}});
  const Case cases[] = {{"destination folder missing", dir / "missing\\"},
                        {"test file cannot be created", blocked}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open({c.destination, {src}, 1, 0, 1});
    MessageRecorder recorder(IDOK);
    ClickBackup();
    EXPECT_EQ(StatusLines(),
              (std::vector<std::string>{
                  "Backup Mode = Full Mirror, leaving Archive Bit alone on backed up files",
                  "Checking Destination Folder...",
                  "Destination folder is not writable...Operation canceled.",
              }));
    EXPECT_NE(g_job.cancel, 0);
    ExpectIdleButton();
  }
  EXPECT_FALSE(Exists(dir / "missing"));
  EXPECT_EQ(ReadTree(CopyOf(blocked, src)), (Files{{"old.txt", "must survive"}}));
}

TEST_F(BackupJob, MissingSourceFolderKeepsItsCopyInBothModes) {
  std::string src = dir / "src\\", dst = dir / "dst\\";
  std::string present = src + "present\\", gone = src + "gone\\";
  MakeFiles(present, {{"p.txt", "present"}});
  struct Case {
    const char* what;
    int fullMirror;
    std::vector<std::string> sources;
    std::string kept;     // the missing folder's copy, which must survive
    std::string cleaned;  // a stale file the job may remove
    std::string extraLine;
  };
  std::string nested = present + "nested-gone\\";
  const Case cases[] = {
      {"Full Mirror",
       1,
       {present, gone},
       CopyOf(dst, gone),
       CopyOf(dst, present) + "stale.txt",
       "  Deleting " + CopyOf(dst, present).substr(0, CopyOf(dst, present).size() - 1)},
      {"Fast Mirror",
       0,
       {present, gone},
       CopyOf(dst, gone),
       CopyOf(dst, present) + "stale.txt",
       ""},
      {"Full Mirror, missing folder inside a present one",
       1,
       {present, nested},
       CopyOf(dst, nested),
       "",
       "  Not deleted, shares its copy with a missing source folder: " +
           CopyOf(dst, present).substr(0, CopyOf(dst, present).size() - 1)},
      {"Fast Mirror, missing folder inside a present one",
       0,
       {present, nested},
       CopyOf(dst, nested),
       CopyOf(dst, present) + "stale.txt",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(dst);
    MakeFiles(dst, {});
    MakeFiles(c.kept, {{"only copy.txt", "the source is on an unplugged drive"}});
    MakeFiles(CopyOf(dst, present), {{"stale.txt", "stale"}});
    Open({dst, c.sources, c.fullMirror, 1, 1});
    MessageRecorder recorder(IDOK);
    ClickBackup();
    std::vector<std::string> status = StatusLines();
    std::string missingLine = "  Source folder not found, skipped: " + c.sources[1];
    int shown = 0;
    for (const std::string& line : status) shown += line == missingLine;
    EXPECT_EQ(shown, 1);
    if (!c.extraLine.empty()) {
      EXPECT_NE(std::find(status.begin(), status.end(), c.extraLine), status.end()) << c.extraLine;
    }
    EXPECT_EQ(status.back(), "FINISHED!  Backup is complete.");
    std::vector<std::string> texts = LogTexts(dst + "Stowly.log");
    EXPECT_NE(std::find(texts.begin(), texts.end(), missingLine), texts.end());
    EXPECT_EQ(ReadFileText(c.kept + "only copy.txt"), "the source is on an unplugged drive");
    if (!c.cleaned.empty()) {
      EXPECT_FALSE(Exists(c.cleaned));
    }
    EXPECT_EQ(ReadFileText(CopyOf(dst, present) + "p.txt"), "present");
  }
}

TEST_F(BackupJob, CancelDuringALargeFileFinishesItAndTheNextJobRunsNormally) {
  std::string src = dir / "src\\", dst = dir / "dst\\";
  const std::string big = BigContent(48u << 20);
  MakeFiles(src + "1big\\", {{"big.bin", big}});
  Files many;
  for (int i = 0; i < 200; ++i) many[Numbered("f", i, ".txt")] = Numbered("file ", i, "");
  MakeFiles(src + "2many\\", many);
  MakeFiles(dst, {});
  Open({dst, {src + "1big\\", src + "2many\\"}, 1, 0, 1});
  MessageRecorder recorder(IDOK);
  // The big file is the first entry (its folder is listed first). Cancel is pressed, and the
  // worker-end check runs, just before its copy starts.
  WhenStatusShows("Copying file 1 of ", [] {
    SendMessageA(MainControlHandle(kBackupButton), BM_CLICK, 0, 0);
    WorkerEndCheck();
  });
  ClickBackup();

  EXPECT_EQ(g_job.workerAlive, 0);
  ExpectIdleButton();
  std::string last = StatusLines().back();
  const std::string head = "CANCELED!  (", tail = " out of 201 Files Copied)";
  ASSERT_EQ(last.substr(0, head.size()), head) << last;
  ASSERT_GT(last.size(), head.size() + tail.size());
  EXPECT_EQ(last.substr(last.size() - tail.size()), tail);
  int copied = std::stoi(last.substr(head.size()));
  EXPECT_EQ(copied, 1) << "the file in hand counts as copied, and nothing after it starts";
  EXPECT_EQ(ReadFileText(CopyOf(dst, src) + "1big\\big.bin") == big, true)
      << "the file in hand when the cancel came must be complete";
  // Exactly the entries the worker reached were copied, each whole.
  for (int k = 1; k <= 201; ++k) {
    const std::string& entry = g_job.masterList[k - 1];
    EXPECT_EQ(Exists(CopyOf(dst, entry)), k <= copied) << entry;
    if (k <= copied && k > 1) {
      EXPECT_EQ(ReadFileText(CopyOf(dst, entry)), ReadFileText(entry));
    }
  }
  std::vector<std::string> texts = LogTexts(dst + "Stowly.log");
  EXPECT_EQ(texts.back(), last);
  EXPECT_EQ(CopyingLines(texts).size(), static_cast<size_t>(copied));
  EXPECT_EQ(texts[texts.size() - 2].rfind("  " + std::to_string(copied) + "   Copying ", 0), 0u)
      << "the worker's last line lands before the job's CANCELED line";

  ClickBackup();
  EXPECT_EQ(StatusLines().back(), "FINISHED!  Backup is complete.");
  EXPECT_EQ(StatusLines()[StatusLines().size() - 2], "201 of 201 Files copied - 0 Files skipped");
  Files copies = ReadTree(CopyOf(dst, src));
  EXPECT_EQ(copies.size(), 201u);
  EXPECT_EQ(copies == ReadTree(src), true);
}

TEST_F(BackupJob, ClosingTheWindowMidJobFinishesTheFileInHandAndCloses) {
  std::string src = dir / "src\\", dst = dir / "dst\\";
  Files many;
  for (int i = 0; i < 150; ++i)
    many[Numbered("f", i, ".txt")] = std::string(4096, static_cast<char>('a' + i % 26));
  MakeFiles(src, many);
  struct Case {
    const char* what;
    std::function<void()> close;
    bool logged;  // a destroyed window takes the log switch with it
  };
  const Case cases[] = {
      {"Close button", [] { PostMessageA(MainControlHandle(kCloseButton), BM_CLICK, 0, 0); }, true},
      {"Esc",
       [] {
         HWND focus = GetFocus() ? GetFocus() : MainControlHandle(kBackupButton);
         PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0);
       },
       true},
      {"title bar", [] { PostMessageA(MainWindow(), WM_SYSCOMMAND, SC_CLOSE, 0); }, true},
      {"window destroyed outright", [] { DestroyWindow(MainWindow()); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(dst);
    MakeFiles(dst, {});
    HWND form = Open({dst, {src}, 1, 0, 1});
    SetActiveWindow(form);
    MessageRecorder recorder(IDOK);
    WhenCopying(3, c.close);
    ClickBackup();

    EXPECT_FALSE(IsWindow(form));
    EXPECT_EQ(MainWindow(), nullptr);
    EXPECT_EQ(g_job.workerAlive, 0) << "the worker ended before the window went";
    Files copies = ReadTree(CopyOf(dst, src));
    EXPECT_GE(copies.size(), 3u);
    EXPECT_LT(copies.size(), 150u);
    for (const auto& [name, content] : copies) EXPECT_EQ(content, many[name]) << name;
    std::vector<std::string> texts = LogTexts(dst + "Stowly.log");
    if (c.logged) {
      EXPECT_EQ(texts.back(),
                "CANCELED!  (" + std::to_string(copies.size()) + " out of 150 Files Copied)");
    }
    EXPECT_EQ(CopyingLines(texts).size(), copies.size());
  }
}

// A drive letter for a scratch folder, made the way Wine maps drives: a symbolic link in
// the prefix's dosdevices folder, created by a Unix program started from here.
class DriveLetter {
 public:
  DriveLetter(char letter, const std::string& windowsFolder) : letter_(letter) {
    using UnixName = char*(CDECL*)(const WCHAR*);
    auto toUnix = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char prefix[MAX_PATH] = {};
    if (!toUnix || !GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH)) return;
    WCHAR wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, windowsFolder.c_str(), -1, wide, MAX_PATH);
    char* unixPath = toUnix(wide);
    if (!unixPath) return;
    link_ = std::string(prefix) + "/dosdevices/" + static_cast<char>(tolower(letter)) + ":";
    Shell("/bin/ln -sfn \"" + std::string(unixPath) + "\" \"" + link_ + "\"");
    HeapFree(GetProcessHeap(), 0, unixPath);
    for (int i = 0; i < 500 && !ready(); ++i) Sleep(10);
  }
  ~DriveLetter() {
    if (!link_.empty()) Shell("/bin/rm -f \"" + link_ + "\"");
  }
  DriveLetter(const DriveLetter&) = delete;
  DriveLetter& operator=(const DriveLetter&) = delete;
  bool ready() const { return GetFileAttributesA(root().c_str()) != INVALID_FILE_ATTRIBUTES; }
  std::string root() const { return std::string(1, letter_) + ":\\"; }

 private:
  static void Shell(std::string command) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }
  char letter_;
  std::string link_;
};

TEST_F(BackupJob, DriveRootsNeverLoseAnythingOutsideTheDestination) {
  std::string srcRoot = dir / "srcroot\\", dstRoot = dir / "dstroot\\", cwd = dir / "cwd\\";
  MakeFiles(srcRoot, {{"a.txt", "a"}, {"sub\\b.txt", "b"}});
  MakeFiles(dstRoot, {{"stale.txt", "already there"}, {"old\\x.txt", "x"}});
  MakeFiles(cwd, {{"sentinel.txt", "the process's current folder"}});
  DriveLetter source('J', srcRoot), destination('K', dstRoot);
  if (!source.ready() || !destination.ready())
    GTEST_SKIP() << "could not map drive letters to scratch folders in the Wine prefix";
  struct CurrentFolder {
    explicit CurrentFolder(const std::string& folder) {
      GetCurrentDirectoryA(MAX_PATH, old);
      SetCurrentDirectoryA(folder.c_str());
    }
    ~CurrentFolder() { SetCurrentDirectoryA(old); }
    char old[MAX_PATH] = {};
  } inCwd(cwd);
  {
    SCOPED_TRACE("Full Mirror from a drive root to a drive root");
    Open({destination.root(), {source.root()}, 1, 0, 1});
    MessageRecorder recorder(IDOK);
    ClickBackup();
    std::vector<std::string> status = StatusLines();
    EXPECT_NE(std::find(status.begin(), status.end(), "  Drive root not deleted: K:\\"),
              status.end());
    EXPECT_EQ(status.back(), "FINISHED!  Backup is complete.");
    EXPECT_EQ(ReadFileText(dstRoot + "a.txt"), "a");
    EXPECT_EQ(ReadFileText(dstRoot + "sub\\b.txt"), "b");
    EXPECT_EQ(ReadFileText(dstRoot + "stale.txt"), "already there");
    EXPECT_EQ(ReadFileText(dstRoot + "old\\x.txt"), "x");
    EXPECT_EQ(ReadFileText(cwd + "sentinel.txt"), "the process's current folder");
    EXPECT_EQ(ReadTree(srcRoot), (Files{{"a.txt", "a"}, {"sub\\b.txt", "b"}}));
  }
  {
    SCOPED_TRACE("Fast Mirror from a drive root: the log lies among the orphans and stays");
    std::string dst = dir / "dst\\";
    MakeFiles(dst, {{"orphan.txt", "o"}});
    Open({dst, {source.root()}, 0, 1, 1});
    MessageRecorder recorder(IDOK);
    ClickBackup();
    EXPECT_EQ(StatusLines().back(), "FINISHED!  Backup is complete.");
    EXPECT_FALSE(Exists(dst + "orphan.txt"));
    EXPECT_EQ(ReadFileText(dst + "a.txt"), "a");
    std::vector<std::string> texts = LogTexts(dst + "Stowly.log");
    EXPECT_NE(std::find(texts.begin(), texts.end(), "  Skipped Stowly Log File"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "  Deleted " + dst + "orphan.txt"),
              texts.end());
  }
}

}  // namespace
