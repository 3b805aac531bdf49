#include "engine/backup_job.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>

#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/fs.h"
#include "engine/settings.h"

namespace {

constexpr unsigned kInformation = MB_OK | MB_ICONINFORMATION;

std::string Num(long long n) { return std::to_string(n); }

std::string Upper(std::string text) {
  if (!text.empty()) CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// A folder that is missing or cannot be listed (unplugged drive, offline share) gives an
// empty listing, which must never be read as "everything in its copy is gone".
bool SourceFolderAvailable(const std::string& folder) {
  std::string path = WithBackslash(folder);
  if (!IsFolder(path)) return false;
  QuietErrors quiet;
  WIN32_FIND_DATAW data;
  ScopedFind find(FindFirstFileW(FilePathW(path + "*").c_str(), &data));
  if (find.valid()) return true;
  DWORD error = GetLastError();  // an empty drive root lists nothing, not even "."
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
}

// Creates and removes "Stowly.Test"; 0, or the failure code when the destination refuses.
int WriteTest(const std::string& destination) {
  QuietErrors quiet;
  std::wstring path = FilePathW(destination + "Stowly.Test");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  // Closing is part of the test (a full or vanished medium can fail it), so it is checked.
  if (file == INVALID_HANDLE_VALUE || !CloseHandle(file)) {
    int code = LastFailureCode();
    return code ? code : 1;
  }
  DeleteFileW(path.c_str());
  return 0;
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

// The shell's deletion of a whole destination copy: removed, not recycled; 0 or its error.
int ShellDelete(const std::string& path) {
  std::wstring from = WideFromAnsi(path);
  from.append(2, L'\0');
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
  return SHFileOperationW(&op);
}

}  // namespace

ModeSettings BackupJob::Mode() const {
  return {g_settings.FullMirror, g_settings.DeleteFiles, g_settings.UseArchiveBit};
}

void BackupJob::Say(const std::string& text, bool select) {
  host_.StatusAdd(text, select);
  log_.Write(text);
}

void BackupJob::Pump() {
  host_.Pump();
  if (host_.QuitRequested() && !host_.WindowGone()) RequestClose();
}

void BackupJob::ReportMissing(const std::string& folder, bool keepProgressLineLast) {
  if (std::find(reportedMissing_.begin(), reportedMissing_.end(), folder) != reportedMissing_.end())
    return;
  reportedMissing_.push_back(folder);
  std::string line = "  Source folder not found, skipped: " + folder;
  if (keepProgressLineLast) {
    std::string progress = host_.StatusLast();
    host_.StatusReplaceLast(line);
    host_.StatusAdd(progress, true);
  } else {
    host_.StatusAdd(line, true);
  }
  log_.Write(line);
}

Sources BackupJob::CheckSources() {
  Sources s;
  s.folders = host_.SourceFolders();
  for (const std::string& folder : s.folders) {
    bool available = SourceFolderAvailable(folder);
    s.available.push_back(available);
    if (!available) ReportMissing(folder, false);
  }
  return s;
}

// Deletes one destination copy through the shell; false when the job must stop.
bool BackupJob::DeleteCopy(const std::string& path) {
  if (!IsFolder(path)) return true;
  Say("  Deleting " + path, true);
  Pump();
  log_.Close();  // the copy may hold the log, which goes with it
  state_.cancel = ShellDelete(path);
  if (state_.cancel == 0) return true;
  Say("Can't delete destination folder...Operation canceled.");
  return false;
}

bool BackupJob::DeleteDestinationCopies(const std::string& destination, const Sources& s) {
  for (size_t i = 0; i < s.folders.size(); ++i) {
    std::string path = DestinationSubtree(destination, s.folders[i]);
    while (!path.empty() && path.back() == '\\') path.pop_back();
    if (g_settings.FullMirror == 0 || !s.available[i]) continue;
    if (IsRootPath(path)) {
      Say("  Drive root not deleted: " + WithBackslash(path), true);
      continue;
    }
    if (OverlapsMissingCopy(s, destination, path)) {
      Say("  Not deleted, shares its copy with a missing source folder: " + path, true);
      continue;
    }
    if (!DeleteCopy(path) || host_.WindowGone()) return false;
  }
  return true;
}

void BackupJob::ListSources() {
  std::string header = g_settings.FullMirror == 1 ? "Getting list of files from source..."
                                                  : "Getting list of changed files from source...";
  Say(header);
  host_.Listing();
  Pump();
  state_.foundCount = 0;
  for (const std::string& folder : host_.SourceFolders()) {
    Pump();
    if (host_.WindowGone()) return;
    state_.foundCount +=
        ListFiles(host_, folder, state_.masterList, state_.foundCount, ListingMode::kSource);
  }
  host_.StatusReplaceLast(header + Num(state_.foundCount) + " Files Found");
  Pump();
  log_.Write("  ..." + Num(state_.foundCount) + " files found");
}

// The copy phase's wait. The worker-end check normally runs from the main window's timer;
// once the window is gone there is no timer, so the wait runs the check itself.
void BackupJob::WaitForWorkerIdle() {
  while (state_.workerIdle == 0) {
    host_.PumpWait();
    // A worker that has ended is noticed at once rather than at the timer's next tick.
    if (state_.workerAlive == 0) ::WorkerEndCheck(state_);
    if (host_.WindowGone()) {
      if (state_.cancel == 0) state_.cancel = 1;
      ::WorkerEndCheck(state_);
    } else if (host_.QuitRequested()) {
      RequestClose();
    }
  }
}

// Starts the worker once the previous one has really ended, then waits for the end of the
// copy phase and for the thread itself; true when the copy phase was cancelled.
bool BackupJob::CopyFiles() {
  host_.EnableButton(true);
  phase_ = Phase::kCopying;
  Pump();
  log_.Write("Copying Files...");
  if (closeRequested_ && state_.cancel == 0) state_.cancel = 1;
  WaitForWorkerToEnd(state_, host_);
  StartCopyWorker(copy_);
  WaitForWorkerIdle();
  // The copy phase is over: a click or a close request from here on cannot cancel it.
  bool cancelled = state_.cancel != 0;
  phase_ = Phase::kPreparing;
  host_.EnableButton(false);
  // A cancelled worker finishes the file in hand; its lines come before the job's own.
  WaitForWorkerToEnd(state_, host_);
  return cancelled;
}

// Looked at again right before deleting: a drive unplugged since the listing must not
// turn its files into orphans.
bool BackupJob::StillOrphan(Sources& s, const std::string& destination, const std::string& entry) {
  if (!IsOrphanEntry(s, destination, entry, FileExists)) return false;
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

void BackupJob::ListDestination(const Sources& s, const std::string& destination) {
  const std::string header = "Getting complete list of files from destination...";
  Say(header, true);
  host_.Listing();
  Pump();
  state_.foundCount = 0;
  for (size_t i = 0; i < s.folders.size(); ++i) {
    if (!s.available[i]) continue;
    Pump();
    if (host_.WindowGone()) return;
    state_.foundCount += ListFiles(host_, DestinationSubtree(destination, s.folders[i]),
                                   state_.masterList, state_.foundCount, ListingMode::kDestination);
  }
  host_.StatusReplaceLast(header + Num(state_.foundCount) + " Files Found");
  Pump();
  log_.Write("  ..." + Num(state_.foundCount) + " files found");
}

void BackupJob::DeleteOrphans(Sources& s, const std::string& destination) {
  Say("Deleting files from destination folder that are not found in source folders...", true);
  int deleted = 0;
  std::string logPath = Upper(LogFilePath());
  for (int k = 1; k <= state_.foundCount && static_cast<size_t>(k) <= state_.masterList.size();
       ++k) {
    const std::string entry = state_.masterList[k - 1];
    // An entry listed twice (overlapping source folders) is gone after its first turn.
    if (FileExists(entry) && StillOrphan(s, destination, entry)) {
      int code = 0;
      if (Upper(entry) == logPath) {
        log_.Write("  Skipped Stowly Log File");
      } else if (DeleteOrphan(entry, code)) {
        ++deleted;
        log_.Write("  Deleted " + entry);
      } else {
        log_.Write("  Error - " + std::string(FailureMessage(code)) + "  " + entry);
      }
    }
    host_.StatusReplaceLast(
        "Deleting files from destination folders that are not found in source folders..." +
        Num(deleted) + " files");
    Pump();
    if (host_.WindowGone()) return;
  }
  log_.Write("  ..." + Num(deleted) + " files found");
}

void BackupJob::RemoveOrphans() {
  host_.EnableButton(false);
  phase_ = Phase::kCleaning;
  // Availability is checked before the header goes up, since the listing keeps
  // rewriting the status list's last line.
  Sources s = CheckSources();
  std::string destination = host_.Destination();
  ListDestination(s, destination);
  if (host_.WindowGone()) return;
  DeleteOrphans(s, destination);
}

void BackupJob::StartLines() {
  host_.EnableButton(false);
  host_.SetButtonText("Cancel");
  host_.SetSkippedLabel("Skipped files - See log for details");
  state_.cancel = 0;
  reportedMissing_.clear();
  log_.ApplySizeRule(g_settings.MaxLogSize);
  host_.StatusClear();
  host_.SkippedClear();
  if (host_.Silent()) Say("Silent Mode - Begin Automatically");
  Say(ModeLine(Mode()));
  Say("Checking Destination Folder...");
}

// The write test and Full Mirror's removal of the old copies; false when the job stops.
bool BackupJob::PrepareDestination(const std::string& destination) {
  if (int code = WriteTest(destination)) {
    state_.cancel = code;
    Say("Destination folder is not writable...Operation canceled.");
    return false;
  }
  if (!DeleteDestinationCopies(destination, CheckSources())) return false;
  Say("  ...Ok", true);
  return true;
}

BackupJob::Ending BackupJob::FinishCopyPhase(bool cancelled) {
  int skipped = host_.SkippedCount();
  if (cancelled) {
    // A cancel in the moment after the last entry must not count one file too many.
    int reached = std::min<int>(state_.fileIndex, state_.foundCount);
    Say(CanceledLine(reached - skipped, state_.foundCount), true);
    return Ending::kCanceled;
  }
  std::string summary = CopySummary(state_.fileIndex - 1 - skipped, state_.foundCount, skipped);
  host_.StatusReplaceLast(summary);
  log_.Write("  ..." + summary);
  if (g_settings.FullMirror != 1 && g_settings.DeleteFiles != 0) {
    RemoveOrphans();
    if (host_.WindowGone()) return Ending::kStopped;
  }
  Say("FINISHED!  Backup is complete.", true);
  return Ending::kFinished;
}

// Everything after the checks and the confirmation.
BackupJob::Ending BackupJob::RunBody() {
  StartLines();
  if (!PrepareDestination(host_.Destination())) return Ending::kStopped;
  ListSources();
  if (host_.WindowGone()) return Ending::kStopped;
  bool cancelled = CopyFiles();
  if (host_.WindowGone()) return Ending::kStopped;
  return FinishCopyPhase(cancelled);
}

bool BackupJob::ChecksPass(bool silent) {
  std::string destination = host_.Destination();
  if (host_.SourceFolders().empty() || destination.empty()) {
    host_.ShowMessage("There must be at least 1 source folder and a destination folder.",
                      kInformation);
    return false;
  }
  if (!silent &&
      host_.ShowMessage(ConfirmationText(Mode()), MB_OKCANCEL | MB_ICONINFORMATION) == IDCANCEL)
    return false;
  if (IllegalConfiguration(destination, host_.SourceFolders())) {
    host_.ShowMessage("Illegal Configuration!  This will copy the source onto itself.",
                      kInformation);
    return false;
  }
  return true;
}

void BackupJob::Run() {
  if (host_.ButtonText() == "Cancel") {
    state_.cancel = 1;
    return;
  }
  if (phase_ != Phase::kIdle) return;
  bool silent = host_.Silent();
  if (!ChecksPass(silent)) return;

  phase_ = Phase::kPreparing;
  closeRequested_ = false;
  Ending ending = RunBody();
  // The job has waited for its worker to end, so closing now cuts no copy off half-way.
  bool closing = closeRequested_ || host_.QuitRequested() || host_.WindowGone() ||
                 (silent && ending != Ending::kStopped);
  host_.EnableButton(true);
  host_.SetButtonText("Backup");
  if (silent && ending != Ending::kStopped) Say("Silent Mode - Close Program");
  log_.Close();
  host_.Ended();
  phase_ = Phase::kIdle;
  closeRequested_ = false;
  if (closing && !host_.WindowGone()) host_.CloseWindow();
}

void BackupJob::RequestClose() {
  closeRequested_ = true;
  if (phase_ == Phase::kCopying && state_.cancel == 0) state_.cancel = 1;
}

void BackupJob::StopCopyingBeforeWindowsGo() {
  if (state_.workerAlive != 0 && state_.cancel == 0) state_.cancel = 1;
}
