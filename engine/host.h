// What a backup job needs from whatever shows it: the main window implements this over
// its controls, the tests and the benchmark over plain lists and flags. The job reads
// its inputs here at the moment it uses them. Calls marked "worker" also come from the
// copy worker's thread; everything else comes from the user-interface thread.
#pragma once
#include <string>
#include <vector>

class JobHost {
 public:
  virtual ~JobHost() = default;

  // Inputs: the source folders (one per stored line), the destination folder's text,
  // whether "Create Log File" is on (worker), and whether this is a silent run.
  virtual std::vector<std::string> SourceFolders() = 0;
  virtual std::string Destination() = 0;
  virtual bool LoggingOn() = 0;
  virtual bool Silent() = 0;

  // The status list: append (and select, which scrolls to it), rewrite the last line in
  // place and select it, read the last line, empty it.
  virtual void StatusAdd(const std::string& text, bool select) = 0;
  virtual void StatusReplaceLast(const std::string& text) = 0;
  virtual std::string StatusLast() = 0;
  virtual void StatusClear() = 0;
  // Worker: the copy phase's progress line for entry `done` + 1 of `total`; the first
  // call appends it, each later call removes it and appends the new text, which is
  // selected.
  virtual void CopyProgress(const std::string& text, int done, int total) = 0;
  // The job's stage, for views beyond the lists (the taskbar button).
  virtual void Listing() {}
  virtual void Ended() {}

  // The skipped list and its label. SkippedAdd (worker) appends and selects the path and
  // returns the list's new line count.
  virtual int SkippedAdd(const std::string& path) = 0;
  virtual int SkippedCount() = 0;
  virtual void SkippedClear() = 0;
  virtual void SetSkippedLabel(const std::string& text) = 0;

  // The Backup button, which reads "Cancel" while a job runs.
  virtual std::string ButtonText() = 0;
  virtual void SetButtonText(const std::string& text) = 0;
  virtual void EnableButton(bool enabled) = 0;

  // The user-interface thread's messages: handle what is waiting; or first wait up to
  // 10 ms for something to arrive (a message the worker sends included).
  virtual void Pump() = 0;
  virtual void PumpWait() = 0;
  // The window is gone (destroyed mid-job), or the program was asked to quit.
  virtual bool WindowGone() = 0;
  virtual bool QuitRequested() = 0;
  // Closes the window once the job has ended (silent runs, a close asked for mid-job),
  // with the job's exit code as the program's.
  virtual void CloseWindow(int exitCode) = 0;
  // A message box owned by the window, caption "Stowly Message"; returns the button.
  virtual int ShowMessage(const std::string& text, unsigned flags) = 0;
};
