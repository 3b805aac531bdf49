#include "engine/backup_job.h"

#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/message_loop.h"
#include "app/settings.h"
#include "engine/copy_worker.h"
#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/job_state.h"
#include "engine/log_file.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/form.h"
#include "ui/main_window.h"

JobState g_job;

namespace {

enum class Phase { kIdle, kPreparing, kCopying, kCleaning };
enum class Ending { kStopped, kFinished, kCanceled };

// All of these belong to the user-interface thread.
Phase g_phase = Phase::kIdle;
bool g_closeRequested = false;

constexpr SIZE_T kWorkerStack = 1048576;

HWND StatusList() { return MainControlHandle(kStatusList); }
HWND SkippedList() { return MainControlHandle(kSkippedList); }
HWND BackupButton() { return MainControlHandle(kBackupButton); }

void Add(const std::string& text) { ListAdd(StatusList(), text); }

void AddSelect(const std::string& text) {
  int at = ListAdd(StatusList(), text);
  if (at >= 0) ListSelect(StatusList(), at);
}

void Replace(const std::string& text) {
  ListReplace(StatusList(), ListCount(StatusList()) - 1, text, 0);
}

std::string Num(long long n) { return std::to_string(n); }

std::string WithBackslash(std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

std::string Upper(std::string text) {
  if (!text.empty()) CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// Whether path lies at or below folder. The file system ignores letter case, so this
// does too: a check that guards against deleting or overwriting must not be fooled by it.
bool IsAtOrBelow(const std::string& path, const std::string& folder) {
  std::string p = Upper(WithBackslash(path)), f = Upper(WithBackslash(folder));
  return p.compare(0, f.size(), f) == 0;
}

std::string Destination() { return GetText(MainControlHandle(kDestinationBox)); }

std::vector<std::string> SourceFolders() {
  std::vector<std::string> folders;
  for (int i = 0; i < g_settings.NumDirs; ++i)
    folders.push_back(ListGetText(MainControlHandle(kSourceList), i));
  return folders;
}

bool WindowGone() { return MainWindow() == nullptr; }

// Sleeps until a message arrives, a sent one included, or 10 ms pass, then handles what
// is waiting: the worker's sent messages are served as soon as they come.
void PumpWait() {
  MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_SENDMESSAGE | QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  MessagePumpStep();
}

void Pump() {
  MessagePumpStep();
  if (g_quitRequested && !WindowGone()) RequestCloseAfterJob();
}

// The worker-idle flag comes back as soon as a cancel is seen; this waits for the thread
// itself, so nothing the job does next can meet a worker still copying.
void WaitForWorkerToEnd() {
  while (g_job.workerAlive != 0) PumpWait();
}

// The copy phase's wait. The worker-end check normally runs from the main window's timer;
// once the window is gone there is no timer, so the wait runs the check itself.
void WaitForWorkerIdle() {
  while (g_job.workerIdle == 0) {
    PumpWait();
    if (WindowGone()) {
      if (g_job.cancel == 0) g_job.cancel = 1;
      WorkerEndCheck();
    } else if (g_quitRequested) {
      RequestCloseAfterJob();
    }
  }
}

// A folder that is missing or cannot be listed (unplugged drive, offline share) gives an
// empty listing, which must never be read as "everything in its copy is gone".
bool SourceFolderAvailable(const std::string& folder) {
  QuietErrors quiet;
  std::string path = WithBackslash(folder);
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  WIN32_FIND_DATAA data;
  ScopedFind find(FindFirstFileA((path + "*").c_str(), &data));
  if (find.valid()) return true;
  DWORD error = GetLastError();  // an empty drive root lists nothing, not even "."
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
}

// The source folders of one job, with what is known about their availability; a folder
// found missing is reported once per job.
struct Sources {
  std::vector<std::string> folders;
  std::vector<bool> available;
};
std::vector<std::string> g_reportedMissing;

void ReportMissing(const std::string& folder, bool keepProgressLineLast) {
  for (const std::string& done : g_reportedMissing)
    if (done == folder) return;
  g_reportedMissing.push_back(folder);
  std::string line = "  Source folder not found, skipped: " + folder;
  if (keepProgressLineLast) {
    std::string progress = ListGetText(StatusList(), ListCount(StatusList()) - 1);
    Replace(line);
    AddSelect(progress);
  } else {
    AddSelect(line);
  }
  WriteLog(line);
}

Sources CheckSources() {
  Sources s;
  s.folders = SourceFolders();
  for (const std::string& folder : s.folders) {
    bool available = SourceFolderAvailable(folder);
    s.available.push_back(available);
    if (!available) ReportMissing(folder, false);
  }
  return s;
}

// Whether a destination copy overlaps the copy of a source folder that is now missing:
// deleting it would delete that folder's only copy.
bool OverlapsMissingCopy(const Sources& s, const std::string& destination,
                         const std::string& subtree) {
  for (size_t i = 0; i < s.folders.size(); ++i) {
    if (s.available[i]) continue;
    std::string missing = DestinationSubtree(destination, s.folders[i]);
    if (IsAtOrBelow(missing, subtree) || IsAtOrBelow(subtree, missing)) return true;
  }
  return false;
}

// A drive root ("E:" once its backslash is gone, or a bare share) is never handed to the
// shell for deletion: "E:" alone means the drive's current folder, whatever that is.
bool IsRootPath(const std::string& path) {
  if (path.size() <= 2) return true;
  if (path.compare(0, 2, "\\\\") != 0) return false;
  size_t share = path.find('\\', 2);
  return share == std::string::npos || path.find('\\', share + 1) == std::string::npos;
}

std::string ConfirmationText() {
  std::string text = "Ready to start Backup Job...\r\n\r\n";
  if (g_settings.FullMirror == 1) {
    text +=
        "Full Mirror Backup - Deletes all source folders from destination and does a complete "
        "mirror backup to destination.\r\n\r\n";
  } else {
    text +=
        "Fast Mirror Backup - Uses the windows archive bit to determine which files have changed "
        "since the last backup, and \r\n"
        "backs up just those files.  If a file exists in the source folder, but not in the "
        "destination folder, Stowly will copy \r\n"
        "that file to the destination folder regardless of the archive bit's status.\r\n\r\n";
    text += g_settings.DeleteFiles == 1 ? "Stowly will delete" : "Stowly will not delete";
    text +=
        " the orphaned files from the destination folder that are no longer in the source "
        "folder.\r\n\r\n";
  }
  if (g_settings.UseArchiveBit == 1) {
    text +=
        "The windows archive bit will be cleared on all files copied.  This allows Stowly to be "
        "able to do fast mirror\r\n"
        "backups.  If you are using another backup program that uses the windows archive bit "
        "then CANCEL this backup\r\n"
        "job, and uncheck this option from the 'Options' Window.";
  } else {
    text += "The windows archive bit will be left alone.";
  }
  return text;
}

std::string ModeLine() {
  std::string line =
      g_settings.FullMirror != 0 ? "Backup Mode = Full Mirror, " : "Backup Mode = Fast Mirror, ";
  if (g_settings.FullMirror == 0 && g_settings.DeleteFiles != 0) line += "delete orphaned files, ";
  line += g_settings.UseArchiveBit != 0 ? "clearing Archive Bit on backed up files"
                                        : "leaving Archive Bit alone on backed up files";
  return line;
}

// Copying a folder into a place inside itself would copy the source onto itself; so would
// a destination copy that lands on or above another source folder, which Full Mirror
// deletion and orphan removal would then eat.
bool IllegalConfiguration(const std::string& destination, const std::vector<std::string>& folders) {
  for (const std::string& folder : folders)
    if (folder.substr(0, 3) == destination) return true;
  auto isFolderPath = [](const std::string& f) {
    return f.size() >= 3 && (f[1] == ':' || f.compare(0, 2, "\\\\") == 0);
  };
  for (const std::string& folder : folders) {
    if (!isFolderPath(folder)) continue;
    if (IsAtOrBelow(destination, folder)) return true;
    std::string subtree = DestinationSubtree(destination, folder);
    for (const std::string& other : folders)
      if (isFolderPath(other) && IsAtOrBelow(other, subtree)) return true;
  }
  return false;
}

// Creates and removes "Stowly.Test"; 0, or the failure code when the destination refuses.
int WriteTest(const std::string& destination) {
  QuietErrors quiet;
  std::string path = destination + "Stowly.Test";
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  // Closing is part of the test (a full or vanished medium can fail it), so it is checked.
  if (file == INVALID_HANDLE_VALUE || !CloseHandle(file)) {
    int code = LastFailureCode();
    return code ? code : 1;
  }
  DeleteFileA(path.c_str());
  return 0;
}

// Full Mirror's removal of the old destination copies; false when the job must stop.
bool DeleteDestinationCopies(const std::string& destination, const Sources& s) {
  for (size_t i = 0; i < s.folders.size(); ++i) {
    std::string path = DestinationSubtree(destination, s.folders[i]);
    while (!path.empty() && path.back() == '\\') path.pop_back();
    if (g_settings.FullMirror == 0 || !s.available[i]) continue;
    if (IsRootPath(path)) {
      std::string line = "  Drive root not deleted: " + WithBackslash(path);
      AddSelect(line);
      WriteLog(line);
      continue;
    }
    if (OverlapsMissingCopy(s, destination, path)) {
      std::string line = "  Not deleted, shares its copy with a missing source folder: " + path;
      AddSelect(line);
      WriteLog(line);
      continue;
    }
    DWORD attributes;
    {
      QuietErrors quiet;
      attributes = GetFileAttributesA(path.c_str());
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      AddSelect("  Deleting " + path);
      WriteLog("  Deleting " + path);
      Pump();
      std::string from = path;
      from.append(2, '\0');
      SHFILEOPSTRUCTA op = {};
      op.hwnd = nullptr;
      op.wFunc = FO_DELETE;
      op.pFrom = from.c_str();
      op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
      g_job.cancel = SHFileOperationA(&op);
      if (g_job.cancel != 0) {
        Add("Can't delete destination folder...Operation canceled.");
        WriteLog("Can't delete destination folder...Operation canceled.");
      }
    }
    if (g_job.cancel != 0 || WindowGone()) return false;
  }
  return true;
}

void ListSources() {
  std::string header = g_settings.FullMirror == 1 ? "Getting list of files from source..."
                                                  : "Getting list of changed files from source...";
  Add(header);
  WriteLog(header);
  Pump();
  g_job.foundCount = 0;
  for (std::string folder : SourceFolders()) {
    Pump();
    if (WindowGone()) return;
    int found = ListFiles(folder, g_job.masterList, "*.*", ListingMode::kSource);
    g_job.foundCount += found;
  }
  Replace(header + Num(g_job.foundCount) + " Files Found");
  Pump();
  WriteLog("  ..." + Num(g_job.foundCount) + " files found");
}

// Starts the worker once the previous one has really ended, then waits for the end of the
// copy phase and for the thread itself; true when the copy phase was cancelled.
bool CopyFiles() {
  EnableControl(BackupButton());
  g_phase = Phase::kCopying;
  Pump();
  WriteLog("Copying Files...");
  g_job.fileIndex = 0;
  if (g_closeRequested && g_job.cancel == 0) g_job.cancel = 1;
  WaitForWorkerToEnd();
  if (g_job.workerIdle != 0) {
    g_job.workerIdle = 0;
    g_job.workerAlive = 1;
    HANDLE thread = CreateThread(nullptr, kWorkerStack, CopyWorker, nullptr, 0, nullptr);
    if (thread) {
      g_job.workerThread = thread;
    } else {
      int code = LastFailureCode();
      g_job.cancel = code ? code : 1;
      g_job.workerAlive = 0;
      g_job.workerIdle = 1;
    }
  }
  WaitForWorkerIdle();
  // The copy phase is over: a click or a close request from here on cannot cancel it.
  bool cancelled = g_job.cancel != 0;
  g_phase = Phase::kPreparing;
  DisableControl(BackupButton());
  // A cancelled worker finishes the file in hand; its lines come before the job's own.
  WaitForWorkerToEnd();
  return cancelled;
}

// E is removed only when no source folder whose copy holds it still has it, and none of
// those source folders is missing: a missing folder's copy is the only copy left.
bool IsOrphan(Sources& s, const std::string& destination, const std::string& entry) {
  bool held = false;
  for (size_t i = 0; i < s.folders.size(); ++i) {
    if (!IsAtOrBelow(entry, DestinationSubtree(destination, s.folders[i]))) continue;
    if (!s.available[i]) return false;
    held = true;
    if (FileExists(Counterpart(destination, s.folders[i], entry))) return false;
  }
  if (!held) return false;
  // Looked at again right before deleting: a drive unplugged since the listing must not
  // turn its files into orphans.
  for (size_t i = 0; i < s.folders.size(); ++i) {
    if (!IsAtOrBelow(entry, DestinationSubtree(destination, s.folders[i]))) continue;
    if (!SourceFolderAvailable(s.folders[i])) {
      s.available[i] = false;
      ReportMissing(s.folders[i], true);
      return false;
    }
  }
  return true;
}

// Returns false when the entry could not be deleted; its attributes are put back then.
bool DeleteOrphan(const std::string& entry, int& failureCode) {
  QuietErrors quiet;
  std::wstring path = FilePathW(entry);
  DWORD old = GetFileAttributesW(path.c_str());
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(path.c_str())) return true;
  failureCode = LastFailureCode();
  if (old != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path.c_str(), old & 0x27);
  return false;
}

void RemoveOrphans() {
  DisableControl(BackupButton());
  g_phase = Phase::kCleaning;
  const std::string header = "Getting complete list of files from destination...";
  // Availability is checked before the header goes up, since the listing keeps
  // rewriting the status list's last line.
  Sources s = CheckSources();
  std::string destination = Destination();
  AddSelect(header);
  WriteLog(header);
  Pump();
  g_job.foundCount = 0;
  for (size_t i = 0; i < s.folders.size(); ++i) {
    if (!s.available[i]) continue;
    std::string subtree = DestinationSubtree(destination, s.folders[i]);
    Pump();
    if (WindowGone()) return;
    int found = ListFiles(subtree, g_job.masterList, "*.*", ListingMode::kDestination);
    g_job.foundCount += found;
  }
  Replace(header + Num(g_job.foundCount) + " Files Found");
  Pump();
  WriteLog("  ..." + Num(g_job.foundCount) + " files found");

  const std::string removing =
      "Deleting files from destination folder that are not found in source folders...";
  AddSelect(removing);
  WriteLog(removing);
  int deleted = 0;
  std::string logPath = LogFilePath();
  for (int k = 1; k <= g_job.foundCount && static_cast<size_t>(k) <= g_job.masterList.size(); ++k) {
    const std::string entry = g_job.masterList[k - 1];
    // An entry listed twice (overlapping source folders) is gone after its first turn.
    if (FileExists(entry) && IsOrphan(s, destination, entry)) {
      int code = 0;
      if (Upper(entry) == Upper(logPath)) {
        WriteLog("  Skipped Stowly Log File");
      } else if (DeleteOrphan(entry, code)) {
        ++deleted;
        WriteLog("  Deleted " + entry);
      } else {
        WriteLog("  Error - " + std::string(FailureMessage(code)) + "  " + entry);
      }
    }
    Replace("Deleting files from destination folders that are not found in source folders..." +
            Num(deleted) + " files");
    Pump();
    if (WindowGone()) return;
  }
  WriteLog("  ..." + Num(deleted) + " files found");
}

// Steps 5 to 16 of a job: everything after the checks and the confirmation.
Ending RunJobBody() {
  HWND button = BackupButton();
  DisableControl(button);
  SetText(button, "Cancel");
  SetText(MainControlHandle(kSkippedLabel), "Skipped files - See log for details");
  g_job.cancel = 0;
  g_reportedMissing.clear();

  ApplyLogSizeRule();
  ListClear(StatusList());
  ListClear(SkippedList());
  if (g_startState == 2) {
    Add("Silent Mode - Begin Automatically");
    WriteLog("Silent Mode - Begin Automatically");
  }
  Add(ModeLine());
  WriteLog(ModeLine());
  Add("Checking Destination Folder...");
  WriteLog("Checking Destination Folder...");

  std::string destination = Destination();
  if (int code = WriteTest(destination)) {
    g_job.cancel = code;
    Add("Destination folder is not writable...Operation canceled.");
    WriteLog("Destination folder is not writable...Operation canceled.");
    return Ending::kStopped;
  }
  if (!DeleteDestinationCopies(destination, CheckSources())) return Ending::kStopped;
  AddSelect("  ...Ok");
  WriteLog("  ...Ok");

  ListSources();
  if (WindowGone()) return Ending::kStopped;
  bool cancelled = CopyFiles();
  if (WindowGone()) return Ending::kStopped;

  int skipped = ListCount(SkippedList());
  if (cancelled) {
    // A cancel in the moment after the last entry must not count one file too many.
    int reached = std::min<int>(g_job.fileIndex, g_job.foundCount);
    std::string line = "CANCELED!  (" + Num(reached - skipped) + " out of " +
                       Num(g_job.foundCount) + " Files Copied)";
    AddSelect(line);
    WriteLog(line);
    return Ending::kCanceled;
  }
  std::string summary = Num(g_job.fileIndex - 1 - skipped) + " of " + Num(g_job.foundCount) +
                        " Files copied - " + Num(skipped) + " Files skipped";
  Replace(summary);
  WriteLog("  ..." + summary);
  if (g_settings.FullMirror != 1 && g_settings.DeleteFiles != 0) {
    RemoveOrphans();
    if (WindowGone()) return Ending::kStopped;
  }
  AddSelect("FINISHED!  Backup is complete.");
  WriteLog("FINISHED!  Backup is complete.");
  return Ending::kFinished;
}

}  // namespace

int RunBackupJob(HWND owner) {
  HWND button = BackupButton();
  if (GetText(button) == "Cancel") {
    g_job.cancel = 1;
    return 0;
  }
  if (g_phase != Phase::kIdle) return 0;

  std::string destination = Destination();
  if (g_settings.NumDirs <= 0 || destination.empty()) {
    ShowMessage(owner, "There must be at least 1 source folder and a destination folder.");
    return 0;
  }
  bool silent = g_startState == 2;
  if (!silent && ShowMessage(owner, ConfirmationText(), kMessageCaption,
                             MB_OKCANCEL | MB_ICONINFORMATION) == IDCANCEL)
    return 0;
  if (IllegalConfiguration(destination, SourceFolders())) {
    ShowMessage(owner, "Illegal Configuration!  This will copy the source onto itself.");
    return 0;
  }

  g_phase = Phase::kPreparing;
  g_closeRequested = false;
  Ending ending = RunJobBody();
  // The job has waited for its worker to end, so closing now cuts no copy off half-way.
  bool closing =
      g_closeRequested || g_quitRequested || WindowGone() || (silent && ending != Ending::kStopped);
  EnableControl(button);
  SetText(button, "Backup");
  if (silent && ending != Ending::kStopped) {
    Add("Silent Mode - Close Program");
    WriteLog("Silent Mode - Close Program");
  }
  g_phase = Phase::kIdle;
  g_closeRequested = false;
  if (closing && !WindowGone()) CloseForm(MainWindow(), 0);
  return 0;
}

bool BackupJobRunning() { return g_phase != Phase::kIdle; }

void RequestCloseAfterJob() {
  g_closeRequested = true;
  if (g_phase == Phase::kCopying && g_job.cancel == 0) g_job.cancel = 1;
}

void StopCopyingBeforeWindowsGo() {
  if (g_job.workerAlive != 0 && g_job.cancel == 0) g_job.cancel = 1;
}
