// Progress of a backup on the window's taskbar button, so a minimised (silent) run shows
// it: indeterminate while listing, files done of files found while copying, the error
// colour once a file was skipped, nothing once the job ends. Where the shell lacks the
// taskbar-list interface (older shells, Wine) every call does nothing.
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
  explicit TaskbarProgress(HWND window) : TaskbarProgress(ShellTaskbarButton(window)) {}
  explicit TaskbarProgress(std::unique_ptr<TaskbarButton> button) : button_(std::move(button)) {}

  void Listing();
  void Copying(int done, int total);
  void FileSkipped();
  void Clear();

 private:
  void Show(TBPFLAG state);

  std::unique_ptr<TaskbarButton> button_;
  TBPFLAG shown_ = TBPF_NOPROGRESS;
  bool skipped_ = false;
  int done_ = 0, total_ = 0;
};
