#include "engine/backup_job.h"

#include <windows.h>
#include <objbase.h>

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
constexpr SIZE_T kJobStack = 1048576;

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
  progress_.StatusAdd(text, select);
  log_.Write(text);
}

void BackupJob::ReportMissing(const std::string& folder, bool keepProgressLineLast) {
  if (std::find(reportedMissing_.begin(), reportedMissing_.end(), folder) != reportedMissing_.end())
    return;
  reportedMissing_.push_back(folder);
  std::string line = "  Source folder not found, skipped: " + folder;
  if (keepProgressLineLast) {
    std::string last = progress_.StatusLast();
    progress_.StatusReplaceLast(line);
    progress_.StatusAdd(last, true);
  } else {
    progress_.StatusAdd(line, true);
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
  int count = progress_.SkippedAdd(entry);
  progress_.SetSkippedLabel(Num(count) + " Skipped files - See log for details");
  log_.Write("  " + ErrorLine(code, entry));
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
  for (size_t i = 0; i < s.folders.size() && !Stopping(); ++i)
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
    progress_.SetStage(JobStage::kListing);
  }
  state_.foundCount = 0;
  ListingOptions options{ListingMode::kSource, destination_, quiet, FullMirror()};
  ListingReport report;
  for (const std::string& folder : in_.sources) {
    if (Stopping()) return;
    std::string path = NormalizeFolderPath(folder);
    if (!SourceFolderAvailable(path)) continue;
    state_.foundCount +=
        ListFiles(progress_, path, state_.masterList, state_.foundCount, options, &report);
  }
  unreadable_.clear();
  ReportListing(report);
}

void BackupJob::ShowSourceListing() {
  progress_.StatusReplaceLast(SourceHeader() + Num(state_.foundCount) + " Files Found");
  log_.Write("  ..." + Num(state_.foundCount) + " files found");
}

// The copy phase; true when it was cancelled. A cancel (or a close) asked for before it
// began cancels it before its first file.
bool BackupJob::CopyFiles() {
  progress_.SetButton("Cancel", true);
  progress_.SetStage(JobStage::kCopying, state_.foundCount);
  log_.Write("Copying Files...");
  state_.destination = destination_;
  state_.clearArchive = in_.mode.useArchiveBit == 1;
  CopyListedFiles(copy_);
  // The copy phase is over: a click or a close request from here on cannot cancel it.
  bool cancelled = progress_.CancelRequested() != CancelLevel::kNone;
  progress_.SetButton("Cancel", false);
  progress_.SetStage(JobStage::kWorking);
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
      ReportMissing(s.folders[i], cleaning_);
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
  progress_.SetStage(JobStage::kListing);
  state_.foundCount = 0;
  ListingOptions options{ListingMode::kDestination, destination_, false};
  for (size_t i = 0; i < s.folders.size(); ++i) {
    if (!s.available[i]) continue;
    if (Stopping()) return;
    state_.foundCount += ListFiles(progress_, DestinationPath(destination_, s.paths[i]),
                                   state_.masterList, state_.foundCount, options);
  }
  progress_.StatusReplaceLast(header + Num(state_.foundCount) + " Files Found");
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
        log_.Write("  " + ErrorLine(code, entry));
      }
    }
    progress_.StatusReplaceLast(
        "Deleting files from destination folders that are not found in source folders..." +
        Num(deleted) + " files");
    if (Stopping()) return;
  }
  log_.Write("  ..." + Num(deleted) + " files found");
}

void BackupJob::RemoveOrphans() {
  progress_.SetButton("Cancel", false);
  cleaning_ = true;
  // Availability is checked before the header goes up, since the listing keeps
  // rewriting the status list's last line.
  Sources s = CheckSources();
  ListDestination(s);
  if (!Stopping()) DeleteOrphans(s);
  cleaning_ = false;
}

void BackupJob::StartLines() {
  progress_.SetButton("Cancel", false);
  progress_.SetSkippedLabel("Skipped files - See log for details");
  reportedMissing_.clear();
  unreadable_.clear();
  orphanFailures_ = 0;
  // Another job's log is never cut short under it.
  if (lock_.Acquire(destination_) == DestinationLock::State::kHeld)
    log_.ApplySizeRule(in_.maxLogSize);
  progress_.StatusClear();
  progress_.SkippedClear();
  if (silent_) Say("Silent Mode - Begin Automatically");
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
    Say("Destination folder is not writable...Operation canceled.");
    return false;
  }
  if (lock_.state() != DestinationLock::State::kHeld) {
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
    cleaning_ = true;
    if (!Stopping()) CleanDestinationCopies(s);
    cleaning_ = false;
  }
  if (Stopping()) return false;
  Say("  ...Ok", true);
  if (fullMirror) {
    Say(SourceHeader());
    progress_.SetStage(JobStage::kListing);
  } else {
    ListSources(false);
  }
  if (Stopping()) return false;
  ShowSourceListing();
  return true;
}

void BackupJob::SayVersionsKept() {
  if (versions_.KeptAny()) Say("  Previous versions kept in " + versions_.RunFolder(), true);
}

JobOutcome BackupJob::FinishCopyPhase(bool cancelled) {
  int skipped = progress_.SkippedCount();
  if (cancelled) {
    // A cancel in the moment after the last entry must not count one file too many.
    int reached = std::min<int>(state_.fileIndex, state_.foundCount);
    SayVersionsKept();
    Say(CanceledLine(reached - state_.failed, state_.foundCount), true);
    return JobOutcome::kCanceled;
  }
  std::string summary =
      CopySummary(state_.fileIndex - 1 - state_.failed, state_.foundCount, skipped);
  progress_.StatusReplaceLast(summary);
  log_.Write("  ..." + summary);
  if (!FullMirror() && in_.mode.deleteFiles != 0) {
    RemoveOrphans();
    if (Stopping()) return JobOutcome::kCanceled;
  }
  SayVersionsKept();
  Say("FINISHED!  Backup is complete.", true);
  bool problems = skipped > 0 || orphanFailures_ > 0 || !reportedMissing_.empty();
  return problems ? JobOutcome::kProblems : JobOutcome::kClean;
}

// Everything after the checks and the confirmation.
JobOutcome BackupJob::RunBody() {
  StartLines();
  if (!PrepareDestination()) return Stopping() ? JobOutcome::kCanceled : JobOutcome::kStopped;
  bool cancelled = CopyFiles();
  if (Stopping()) return JobOutcome::kCanceled;
  return FinishCopyPhase(cancelled);
}

// A message that would be a box: in silent mode nobody is there to close it, so it goes
// to the status list and, where the destination may be written, to the log.
void BackupJob::Refuse(const std::string& message, bool logIt) {
  if (!silent_) {
    progress_.Tell(message, kInformation);
    return;
  }
  progress_.StatusAdd(message, true);
  refusalLogged_ = logIt;
  if (logIt) log_.Write(message);
}

// The checks that need no answer, made again on the job's thread: a silent job is asked
// nothing before it starts.
BackupJob::Check BackupJob::Checks() {
  logPath_ = destination_ + "Stowly.log";
  log_.UsePath(logPath_);
  if (in_.sources.empty() || destination_.empty()) {
    Refuse(kNeedBoth, !destination_.empty());
    return Check::kRefused;
  }
  std::vector<std::string> paths;
  for (const std::string& folder : in_.sources) paths.push_back(NormalizeFolderPath(folder));
  // The log of the refusal is written only where no source can be.
  if (IsIllegalConfiguration(destination_, paths) || ASourceLiesInside(destination_, paths)) {
    Refuse(kIllegal, !ASourceHoldsDestination(destination_, paths));
    return Check::kRefused;
  }
  return Check::kPass;
}

void BackupJob::Run() {
  refusalLogged_ = false;
  Check check = Checks();
  outcome_ = check == Check::kRefused ? JobOutcome::kStopped : RunBody();
  if (check == Check::kPass) progress_.SetButton("Backup", true);
  if (silent_ && check == Check::kRefused && !refusalLogged_)
    progress_.StatusAdd("Silent Mode - Close Program", false);
  else if (silent_)
    Say("Silent Mode - Close Program");
  log_.Close();
  lock_.Release();
  progress_.SetStage(JobStage::kEnded);
}

DWORD WINAPI BackupJob::ThreadMain(LPVOID job) {
  HRESULT com = CoInitialize(nullptr);
  static_cast<BackupJob*>(job)->Run();
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

bool BackupJob::Start(const JobInputs& in, bool silent) {
  if (Running()) return false;
  in_ = in;
  silent_ = silent;
  progress_.Begin();
  thread_.Reset(CreateThread(nullptr, kJobStack, ThreadMain, this, 0, nullptr));
  return Running();
}

void BackupJob::Join() {
  if (thread_) WaitForSingleObject(thread_.get(), INFINITE);
  thread_.Reset();
}

void BackupJob::Stop() {
  progress_.Cancel(CancelLevel::kEverything);
  Join();
}

JobInputs ReadJobInputs(std::vector<std::string> sources, const std::string& destination) {
  return {std::move(sources),
          NormalizeFolderPath(destination),
          {g_settings.FullMirror, g_settings.DeleteFiles, g_settings.UseArchiveBit},
          g_settings.MaxLogSize,
          g_settings.KeepVersions};
}

bool ConfirmJob(const JobInputs& in, const AskUser& ask) {
  if (in.sources.empty() || in.destination.empty()) {
    ask(kNeedBoth, kInformation);
    return false;
  }
  return ask(ConfirmationText(in.mode), MB_OKCANCEL | MB_ICONINFORMATION) != IDCANCEL;
}
