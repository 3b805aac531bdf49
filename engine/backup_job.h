// One whole backup, on a thread of its own from the user's confirmation (or a silent start)
// to its end; it reports through a JobProgress, which the window shows. The job owns
// everything a run shares: its inputs, the folders reported missing or unreadable, the lock
// on its destination, the log, and the copy phase's state.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/copy_worker.h"
#include "engine/destination_lock.h"
#include "engine/file_list.h"
#include "engine/fs.h"
#include "engine/job_progress.h"
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

// What a job runs on, read once before it starts: the settings and the window's lists may
// change beside a running job, which goes on with what it began with.
struct JobInputs {
  std::vector<std::string> sources;  // as the list holds them
  std::string destination;           // normalised
  ModeSettings mode;
  int maxLogSize = 0;
  int keepVersions = 0;  // days; 0 keeps no versions
};
// The source list's lines and the destination box's text, with the stored settings.
JobInputs ReadJobInputs(std::vector<std::string> sources, const std::string& destination);

// Shows a message box on the caller's thread and returns the button that closed it.
using AskUser = std::function<int(const std::string& text, unsigned flags)>;
// What is asked before a job starts: the missing-folders message, or the confirmation;
// true when the user confirmed.
bool ConfirmJob(const JobInputs& in, const AskUser& ask);

class BackupJob {
 public:
  explicit BackupJob(JobProgress& progress) : progress_(progress) {}
  ~BackupJob() { Stop(); }
  BackupJob(const BackupJob&) = delete;
  BackupJob& operator=(const BackupJob&) = delete;

  // Starts the job on its own thread; false when one runs (or no thread can be made).
  bool Start(const JobInputs& in, bool silent);
  // True from Start until Join has seen the thread end.
  bool Running() const { return static_cast<bool>(thread_); }
  // Waits for the job's thread to end: at once after the progress reached its end stage.
  void Join();
  // The window is going away: the job stops after the file in hand, and is waited for.
  void Stop();
  // "Create Log File": takes effect at the job's next log line.
  void EnableLog(bool on) { log_.Enable(on); }
  // The last job's outcome as an exit code; 0 before any job. Read once it is joined.
  int ExitCode() const { return static_cast<int>(outcome_); }

 private:
  enum class Check { kPass, kRefused };

  static DWORD WINAPI ThreadMain(LPVOID job);
  void Run();
  Check Checks();
  void Refuse(const std::string& message, bool logIt);
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
  void Say(const std::string& text, bool select = false);
  std::string SourceHeader() const;
  bool FullMirror() const { return in_.mode.fullMirror != 0; }
  // The window is going away: nothing more is listed, cleaned or copied.
  bool Stopping() const { return progress_.CancelRequested() == CancelLevel::kEverything; }

  JobProgress& progress_;
  ScopedHandle thread_;
  LogWriter log_;
  JobState state_;
  KeptVersions versions_{log_};
  CopyPhase copy_{state_, progress_, log_, &versions_};
  DestinationLock lock_;
  JobOutcome outcome_ = JobOutcome::kClean;
  JobInputs in_;
  bool silent_ = false;
  // Removing from the copies (Full Mirror's cleaning, orphan removal): a source found
  // missing then keeps the status list's last line last.
  bool cleaning_ = false;
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
