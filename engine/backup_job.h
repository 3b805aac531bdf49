// One whole backup, run on the user-interface thread from the Backup button or the
// silent first paint. The job owns everything a run shares: its phase, a close asked
// for mid-job, the folders reported missing, and the state the copy worker shares.
#pragma once
#include <string>
#include <vector>

#include "engine/copy_worker.h"
#include "engine/host.h"
#include "engine/job_rules.h"
#include "engine/job_state.h"
#include "engine/log_file.h"

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

 private:
  enum class Phase { kIdle, kPreparing, kCopying, kCleaning };
  enum class Ending { kStopped, kFinished, kCanceled };

  bool ChecksPass(bool silent);
  Ending RunBody();
  void StartLines();
  bool PrepareDestination(const std::string& destination);
  bool DeleteDestinationCopies(const std::string& destination, const Sources& s);
  bool DeleteCopy(const std::string& path);
  void ListSources();
  bool CopyFiles();
  void WaitForWorkerIdle();
  Ending FinishCopyPhase(bool cancelled);
  void RemoveOrphans();
  void ListDestination(const Sources& s, const std::string& destination);
  void DeleteOrphans(Sources& s, const std::string& destination);
  bool StillOrphan(Sources& s, const std::string& destination, const std::string& entry);
  Sources CheckSources();
  void ReportMissing(const std::string& folder, bool keepProgressLineLast);
  void Pump();
  void Say(const std::string& text, bool select = false);
  ModeSettings Mode() const;

  JobHost& host_;
  LogWriter log_;
  JobState state_;
  WorkerContext copy_{state_, host_, log_};
  Phase phase_ = Phase::kIdle;
  bool closeRequested_ = false;
  std::vector<std::string> reportedMissing_;
};
