// One whole backup, run on the user-interface thread from the Backup button or the
// silent start. The job owns everything a run shares: its phase, a close asked
// for mid-job, the folders reported missing or unreadable, the lock on its destination,
// and the state the copy worker shares.
#pragma once
#include <string>
#include <vector>

#include "engine/copy_worker.h"
#include "engine/destination_lock.h"
#include "engine/file_list.h"
#include "engine/host.h"
#include "engine/job_rules.h"
#include "engine/job_state.h"
#include "engine/log_file.h"
#include "engine/versions.h"

// What the last job came to, for a scheduled task's exit code.
enum class JobOutcome {
  kClean = 0,     // finished and skipped nothing
  kProblems = 1,  // finished, but skipped files or folders, or left orphans it could not delete
  kCanceled = 2,  // cancelled
  kStopped = 3,   // stopped before copying
};

// What a job runs on, read once as it starts: the settings and the window's lists may
// change beside a running job, which goes on with what it began with.
struct JobInputs {
  std::vector<std::string> sources;  // as the list holds them
  std::string destination;           // normalised
  ModeSettings mode;
  int maxLogSize = 0;
  int keepVersions = 0;  // days; 0 keeps no versions
};

class BackupJob {
 public:
  explicit BackupJob(JobHost& host) : host_(host), log_(host) {}
  BackupJob(const BackupJob&) = delete;
  BackupJob& operator=(const BackupJob&) = delete;

  // While the Backup button reads "Cancel" this only requests a cancel.
  void Run();
  // True from the end of a job's checks and confirmation until the job has ended.
  bool Running() const { return phase_ != Phase::kIdle; }
  // A close asked for while a job runs: the copy phase is cancelled (now, or as soon as
  // it begins) and the job closes the window once it and its worker have ended.
  void RequestClose();
  // The window is being destroyed: a running worker stops after the file in hand.
  void StopCopyingBeforeWindowsGo();
  // The main window's timer.
  void WorkerEndCheck() { ::WorkerEndCheck(state_); }
  bool WorkerIdle() const { return state_.workerIdle != 0; }
  // The last job's outcome as an exit code; 0 before any job.
  int ExitCode() const { return static_cast<int>(outcome_); }

 private:
  enum class Phase { kIdle, kPreparing, kCopying, kCleaning };
  enum class Check { kPass, kDeclined, kRefused };

  Check Checks(bool silent);
  void Refuse(const std::string& message, bool silent, bool logIt);
  JobOutcome RunBody();
  void StartLines();
  bool PrepareDestination();
  void CleanDestinationCopies(Sources& s);
  void CleanCopyOf(Sources& s, size_t i);
  void CleanCopy(Sources& s, const std::string& path);
  void ReportSkipped(const std::string& entry, int code);
  void ReportLeftBehind(const std::string& entry, int code);
  void ListSources(bool quiet);
  void ShowSourceListing();
  void ReportListing(const ListingReport& report);
  bool CopyFiles();
  void WaitForWorkerIdle();
  JobOutcome FinishCopyPhase(bool cancelled);
  void SayVersionsKept();
  int RemoveCopy(const std::string& file);
  void RemoveOrphans();
  void ListDestination(const Sources& s);
  void DeleteOrphans(Sources& s);
  bool GoneFromSources(Sources& s, const std::string& entry, bool isFolder);
  bool StillOrphan(Sources& s, const std::string& entry);
  Sources CheckSources();
  void ReportMissing(const std::string& folder, bool keepProgressLineLast);
  void Pump();
  void Say(const std::string& text, bool select = false);
  std::string SourceHeader() const;
  bool FullMirror() const { return in_.mode.fullMirror != 0; }

  JobHost& host_;
  LogWriter log_;
  JobState state_;
  KeptVersions versions_{log_};
  WorkerContext copy_{state_, host_, log_, &versions_};
  DestinationLock lock_;
  Phase phase_ = Phase::kIdle;
  JobOutcome outcome_ = JobOutcome::kClean;
  bool closeRequested_ = false;
  JobInputs in_;
  // The destination folder of the running job, normalised, and its log file.
  const std::string& destination_ = in_.destination;
  std::string logPath_;
  std::vector<std::string> reportedMissing_;
  // Source folders (and subfolders) the listing could not read: what is below their
  // copies is kept.
  std::vector<std::string> unreadable_;
  // Orphans and stale entries of a copy that could not be deleted.
  int orphanFailures_ = 0;
  // A refused silent job wrote its message to the log (never into a source).
  bool refusalLogged_ = false;
};
