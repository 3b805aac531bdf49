#include "engine/backup_job.h"

#include <windows.h>

#include <algorithm>

#include "engine/failure.h"
#include "engine/fs.h"
#include "engine/link_safety.h"
#include "engine/path_identity.h"
#include "engine/settings.h"

namespace {

constexpr unsigned kInformation = MB_OK | MB_ICONINFORMATION;
constexpr const char* kNeedBoth =
    "There must be at least 1 source folder and a destination folder.";
constexpr const char* kIllegal = "Illegal Configuration!  This will copy the source onto itself.";

std::string Num(long long n) { return std::to_string(n); }

std::string WithoutBackslash(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// A folder that is missing or cannot be listed (unplugged drive, offline share) gives an
// empty listing, which must never be read as "everything in its copy is gone". A value
// that is no absolute folder path is never listed at all.
bool SourceFolderAvailable(const std::string& path) {
  return !path.empty() && IsFolder(path) && FolderEntries(path).error() == 0;
}

// A source path holds a file (or a folder); a path that cannot be looked at may, so it
// counts as holding one.
bool SourceHas(const std::string& path, bool folder) {
  DWORD attributes = FileAttributes(folder ? FolderPathForCalls(path) : path);
  if (attributes != INVALID_FILE_ATTRIBUTES)
    return ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
  int code = LastFailureCode();
  return code != kFileNotFound && code != kPathNotFound;
}

}  // namespace

std::string BackupJob::SourceHeader() const {
  return FullMirror() ? "Getting list of files from source..."
                      : "Getting list of changed files from source...";
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

// The source list as it stands, each folder normalised; a value that is no absolute
// folder path is reported like a missing folder and never listed, mapped or deleted.
Sources BackupJob::CheckSources() {
  Sources s;
  s.folders = in_.sources;
  for (const std::string& folder : s.folders) {
    std::string path = NormalizeFolderPath(folder);
    bool available = SourceFolderAvailable(path);
    s.paths.push_back(path);
    s.available.push_back(available);
    if (!available) ReportMissing(folder, false);
  }
  return s;
}

// A destination file goes: into this run's versions when they are kept, else deleted.
int BackupJob::RemoveCopy(const std::string& file) {
  return versions_.On() ? versions_.Keep(file) : DeleteFileOrKeepIt(file);
}

// Removes from one destination copy what its source no longer has, before anything is
// copied, so the space is free (unless versions are kept) and no file loses its previous
// copy before its new one is in place. The destination folder's own files (lock, log, kept
// versions) stay.
void BackupJob::CleanCopy(Sources& s, const std::string& path) {
  if (!IsFolder(path)) return;
  Say("  Deleting " + path, true);
  Pump();
  const std::string lock = Upper(destination_ + kLockFileName), log = Upper(logPath_);
  auto keep = [&](const std::string& entry, bool isFolder) {
    std::string upper = Upper(entry);
    return upper == lock || upper == log || !GoneFromSources(s, entry, isFolder);
  };
  PruneRules rules{[&](const std::string& entry) { return IsInVersions(destination_, entry); },
                   [&](const std::string& file) { return RemoveCopy(file); }};
  TreeDeletion left = PruneTree(WithBackslash(path), keep, rules);
  for (const std::string& link : left.links) Say("  Link left in place: " + link);
  for (const auto& [entry, code] : left.failed) ReportLeftBehind(entry, code);
}

void BackupJob::ReportSkipped(const std::string& entry, int code) {
  int count = host_.SkippedAdd(entry);
  host_.SetSkippedLabel(Num(count) + " Skipped files - See log for details");
  log_.Write("  Error - " + std::string(FailureMessage(code)) + "  " + entry);
}

void BackupJob::ReportLeftBehind(const std::string& entry, int code) {
  ++orphanFailures_;
  ReportSkipped(entry, code);
}

// The copy of source i, unless that would cost a copy the job cannot make again.
void BackupJob::CleanCopyOf(Sources& s, size_t i) {
  std::string path = WithoutBackslash(DestinationPath(destination_, s.paths[i]));
  if (IsRootPath(path))
    Say("  Drive root not deleted: " + WithBackslash(path), true);
  else if (OverlapsMissingCopy(s, destination_, path))
    Say("  Not deleted, shares its copy with a missing source folder: " + path, true);
  else
    CleanCopy(s, path);
}

void BackupJob::CleanDestinationCopies(Sources& s) {
  for (size_t i = 0; i < s.folders.size() && !host_.WindowGone(); ++i)
    if (s.available[i]) CleanCopyOf(s, i);
}

void BackupJob::ReportListing(const ListingReport& report) {
  for (const auto& [folder, code] : report.unreadable) {
    unreadable_.push_back(folder);
    ReportSkipped(folder, code);
  }
  for (const std::string& file : report.onlineOnly) ReportSkipped(file, kOnlineOnly);
  for (const std::string& link : report.linksListedAlready)
    log_.Write("  Link not followed, its target is listed already: " + link);
  for (const std::string& link : report.linksIntoDestination)
    log_.Write("  Link not followed, it leads into the destination folder: " + link);
  for (const std::string& link : report.linksRefused)
    log_.Write("  Link not followed, its listing is refused: " + link);
}

// Lists every source folder into the master list. Full Mirror lists quietly before it
// deletes anything, so a folder it cannot read keeps its copy; the lines come after.
void BackupJob::ListSources(bool quiet) {
  if (!quiet) {
    Say(SourceHeader());
    host_.Listing();
  }
  Pump();
  state_.foundCount = 0;
  ListingOptions options{ListingMode::kSource, destination_, quiet, FullMirror()};
  ListingReport report;
  for (const std::string& folder : in_.sources) {
    Pump();
    if (host_.WindowGone()) return;
    std::string path = NormalizeFolderPath(folder);
    if (!SourceFolderAvailable(path)) continue;
    state_.foundCount +=
        ListFiles(host_, path, state_.masterList, state_.foundCount, options, &report);
  }
  unreadable_.clear();
  ReportListing(report);
}

void BackupJob::ShowSourceListing() {
  host_.StatusReplaceLast(SourceHeader() + Num(state_.foundCount) + " Files Found");
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
  state_.destination = destination_;
  state_.clearArchive = in_.mode.useArchiveBit == 1;
  StartCopyWorker(copy_);
  WaitForWorkerIdle();
  // The copy phase is over: a click or a close request from here on cannot cancel it.
  bool cancelled = state_.cancel != 0;
  phase_ = Phase::kPreparing;
  host_.EnableButton(false);
  // A cancelled worker finishes the file in hand; its lines come before the job's own.
  WaitForWorkerToEnd(state_, host_);
  host_.Pump();  // what the worker left for the window lands before the job's next line
  return cancelled;
}

// Whether nothing in the sources has entry any more (a file, or a folder ending with a
// backslash), looked at right before it goes: a drive unplugged since the listing must not
// turn its copies into orphans, nor may anything below a source folder that could not be
// read. A file whose source path is now a folder is gone, and the other way round.
bool BackupJob::GoneFromSources(Sources& s, const std::string& entry, bool isFolder) {
  auto sourceHas = [&](const std::string& path) {
    return BelowAny(path, unreadable_) || SourceHas(path, isFolder);
  };
  if (!IsOrphanEntry(s, destination_, entry, sourceHas)) return false;
  for (size_t i = 0; i < s.paths.size(); ++i) {
    if (s.paths[i].empty() || !IsAtOrBelow(entry, DestinationPath(destination_, s.paths[i])))
      continue;
    if (!SourceFolderAvailable(s.paths[i])) {
      s.available[i] = false;
      ReportMissing(s.folders[i], phase_ == Phase::kCleaning);
      return false;
    }
  }
  return true;
}

// An orphan found by the destination listing, which may lead through a link.
bool BackupJob::StillOrphan(Sources& s, const std::string& entry) {
  return !PathGoesThroughLink(destination_, entry) && GoneFromSources(s, entry, false);
}

void BackupJob::ListDestination(const Sources& s) {
  const std::string header = "Getting complete list of files from destination...";
  Say(header, true);
  host_.Listing();
  Pump();
  state_.foundCount = 0;
  ListingOptions options{ListingMode::kDestination, destination_, false};
  for (size_t i = 0; i < s.folders.size(); ++i) {
    if (!s.available[i]) continue;
    Pump();
    if (host_.WindowGone()) return;
    state_.foundCount += ListFiles(host_, DestinationPath(destination_, s.paths[i]),
                                   state_.masterList, state_.foundCount, options);
  }
  host_.StatusReplaceLast(header + Num(state_.foundCount) + " Files Found");
  Pump();
  log_.Write("  ..." + Num(state_.foundCount) + " files found");
}

void BackupJob::DeleteOrphans(Sources& s) {
  Say("Deleting files from destination folder that are not found in source folders...", true);
  int deleted = 0;
  const std::string logPath = Upper(logPath_), lockPath = Upper(destination_ + kLockFileName);
  for (int k = 1; k <= state_.foundCount && static_cast<size_t>(k) <= state_.masterList.size();
       ++k) {
    const std::string entry = state_.masterList[k - 1];
    // An entry listed twice (overlapping source folders) is gone after its first turn.
    if (Upper(entry) != lockPath && FileExists(entry) && StillOrphan(s, entry)) {
      int code = 0;
      if (Upper(entry) == logPath) {
        log_.Write("  Skipped Stowly Log File");
      } else if ((code = RemoveCopy(entry)) == 0) {
        ++deleted;
        log_.Write("  Deleted " + entry);
      } else {
        ++orphanFailures_;
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
  ListDestination(s);
  if (host_.WindowGone()) return;
  DeleteOrphans(s);
}

void BackupJob::StartLines() {
  host_.EnableButton(false);
  host_.SetButtonText("Cancel");
  host_.SetSkippedLabel("Skipped files - See log for details");
  state_.cancel = 0;
  reportedMissing_.clear();
  unreadable_.clear();
  orphanFailures_ = 0;
  // Another job's log is never cut short under it.
  if (lock_.Acquire(destination_) == DestinationLock::State::kHeld)
    log_.ApplySizeRule(in_.maxLogSize);
  host_.StatusClear();
  host_.SkippedClear();
  if (host_.Silent()) Say("Silent Mode - Begin Automatically");
  Say(ModeLine(in_.mode));
  Say("Checking Destination Folder...");
}

// The lock, the write test and Full Mirror's removal of the old copies; false when the
// job stops before copying.
bool BackupJob::PrepareDestination() {
  // A lock that cannot be held for any reason (a folder or a dangling link of its name)
  // leaves the destination open to another job: nothing may change then.
  int code = lock_.state() == DestinationLock::State::kBusy ? 0 : ProveWritable(destination_);
  if (code != 0) {
    state_.cancel = code;
    Say("Destination folder is not writable...Operation canceled.");
    return false;
  }
  if (lock_.state() != DestinationLock::State::kHeld) {
    state_.cancel = 1;
    Say(kDestinationBusyLine);
    return false;
  }
  versions_.Start(destination_, in_.keepVersions);
  versions_.DeleteExpired();
  Sources s = CheckSources();
  bool fullMirror = FullMirror();
  if (fullMirror) {
    // The quiet listing says which source folders could not be read, before any cleaning.
    ListSources(true);
    phase_ = Phase::kCleaning;
    if (!host_.WindowGone()) CleanDestinationCopies(s);
    phase_ = Phase::kPreparing;
  }
  if (host_.WindowGone()) return false;
  Say("  ...Ok", true);
  if (fullMirror) {
    Say(SourceHeader());
    host_.Listing();
  } else {
    ListSources(false);
  }
  if (host_.WindowGone()) return false;
  ShowSourceListing();
  return true;
}

void BackupJob::SayVersionsKept() {
  if (versions_.KeptAny()) Say("  Previous versions kept in " + versions_.RunFolder(), true);
}

JobOutcome BackupJob::FinishCopyPhase(bool cancelled) {
  int skipped = host_.SkippedCount();
  if (cancelled) {
    // A cancel in the moment after the last entry must not count one file too many.
    int reached = std::min<int>(state_.fileIndex, state_.foundCount);
    SayVersionsKept();
    Say(CanceledLine(reached - state_.failed, state_.foundCount), true);
    return JobOutcome::kCanceled;
  }
  std::string summary =
      CopySummary(state_.fileIndex - 1 - state_.failed, state_.foundCount, skipped);
  host_.StatusReplaceLast(summary);
  log_.Write("  ..." + summary);
  if (!FullMirror() && in_.mode.deleteFiles != 0) {
    RemoveOrphans();
    if (host_.WindowGone()) return JobOutcome::kCanceled;
  }
  SayVersionsKept();
  Say("FINISHED!  Backup is complete.", true);
  bool problems = skipped > 0 || orphanFailures_ > 0 || !reportedMissing_.empty();
  return problems ? JobOutcome::kProblems : JobOutcome::kClean;
}

// Everything after the checks and the confirmation.
JobOutcome BackupJob::RunBody() {
  StartLines();
  if (!PrepareDestination())
    return host_.WindowGone() ? JobOutcome::kCanceled : JobOutcome::kStopped;
  bool cancelled = CopyFiles();
  if (host_.WindowGone()) return JobOutcome::kCanceled;
  return FinishCopyPhase(cancelled);
}

// A message that would be a box: in silent mode nobody is there to close it, so it goes
// to the status list and, where the destination may be written, to the log.
void BackupJob::Refuse(const std::string& message, bool silent, bool logIt) {
  if (!silent) {
    host_.ShowMessage(message, kInformation);
    return;
  }
  host_.StatusAdd(message, true);
  refusalLogged_ = logIt;
  if (logIt) log_.Write(message);
}

BackupJob::Check BackupJob::Checks(bool silent) {
  in_ = {host_.SourceFolders(),
         NormalizeFolderPath(host_.Destination()),
         {g_settings.FullMirror, g_settings.DeleteFiles, g_settings.UseArchiveBit},
         g_settings.MaxLogSize,
         g_settings.KeepVersions};
  const std::vector<std::string>& folders = in_.sources;
  logPath_ = destination_ + "Stowly.log";
  log_.UsePath(logPath_);
  if (folders.empty() || destination_.empty()) {
    Refuse(kNeedBoth, silent, !destination_.empty());
    return Check::kRefused;
  }
  if (!silent &&
      host_.ShowMessage(ConfirmationText(in_.mode), MB_OKCANCEL | MB_ICONINFORMATION) == IDCANCEL)
    return Check::kDeclined;
  std::vector<std::string> paths;
  for (const std::string& folder : folders) paths.push_back(NormalizeFolderPath(folder));
  // The log of the refusal is written only where no source can be.
  if (IsIllegalConfiguration(destination_, paths) || ASourceLiesInside(destination_, paths)) {
    Refuse(kIllegal, silent, !ASourceHoldsDestination(destination_, paths));
    return Check::kRefused;
  }
  return Check::kPass;
}

void BackupJob::Run() {
  if (host_.ButtonText() == "Cancel") {
    state_.cancel = 1;
    return;
  }
  if (phase_ != Phase::kIdle) return;
  bool silent = host_.Silent();
  refusalLogged_ = false;
  Check check = Checks(silent);
  if (check == Check::kDeclined) return;
  phase_ = Phase::kPreparing;
  closeRequested_ = false;
  outcome_ = check == Check::kRefused ? JobOutcome::kStopped : RunBody();
  // The job has waited for its worker to end, so closing now cuts no copy off half-way.
  bool closing = closeRequested_ || host_.QuitRequested() || host_.WindowGone() || silent;
  if (check == Check::kPass) {
    host_.EnableButton(true);
    host_.SetButtonText("Backup");
  }
  if (silent && check == Check::kRefused && !refusalLogged_)
    host_.StatusAdd("Silent Mode - Close Program", false);
  else if (silent)
    Say("Silent Mode - Close Program");
  log_.Close();
  lock_.Release();
  host_.Ended();
  phase_ = Phase::kIdle;
  closeRequested_ = false;
  if (closing && !host_.WindowGone()) host_.CloseWindow(ExitCode());
}

void BackupJob::RequestClose() {
  closeRequested_ = true;
  if (phase_ == Phase::kCopying && state_.cancel == 0) state_.cancel = 1;
}

void BackupJob::StopCopyingBeforeWindowsGo() {
  if (state_.workerAlive != 0 && state_.cancel == 0) state_.cancel = 1;
}
