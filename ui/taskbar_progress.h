// Progress of a backup on the window's taskbar button, so a minimised (silent) run shows
// it: indeterminate while listing, files done of files found while copying, the error
// colour once a file was skipped, nothing once the job ends. Where the shell lacks the
// taskbar-list interface (older shells, Wine) every call does nothing. The shell's list is
// made only once the shell says the window's button exists, as the shell asks: a window
// without a button (under Wine, or before the taskbar has it) starts at once.
#pragma once
#include <windows.h>
#include <shobjidl.h>

#include <memory>

// What the button is told. The shell's taskbar list in the program; a recorder in tests.
class TaskbarButton {
 public:
  virtual ~TaskbarButton() = default;
  virtual void SetState(TBPFLAG state) = 0;
  virtual void SetValue(ULONGLONG done, ULONGLONG total) = 0;
};

// The shell's taskbar list for `window`, or null where there is none.
std::unique_ptr<TaskbarButton> ShellTaskbarButton(HWND window);

class TaskbarProgress {
 public:
  TaskbarProgress() = default;
  explicit TaskbarProgress(std::unique_ptr<TaskbarButton> button) { Attach(std::move(button)); }

  // The button arrived (or came back after the shell restarted): it shows the state now.
  void Attach(std::unique_ptr<TaskbarButton> button);

  void Listing();
  void Copying(int done, int total);
  void FileSkipped();
  void Clear();

 private:
  void Show(TBPFLAG state);
  void ShowValue();

  std::unique_ptr<TaskbarButton> button_;
  TBPFLAG shown_ = TBPF_NOPROGRESS;
  bool skipped_ = false;
  int done_ = 0, total_ = 0;
};
