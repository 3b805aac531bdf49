// The main window: source folders, destination, log switch, the status and skipped
// lists, and the buttons that start backups and open the other windows.
#pragma once
#include <windows.h>

#include <string>

#include "engine/backup_job.h"
#include "ui/form.h"
#include "ui/taskbar_progress.h"

// The main window's controls, in creation order (which is also the tab order).
enum MainControl {
  kBackupButton,
  kSourceList,
  kCloseButton,
  kAddButton,
  kDelButton,
  kDestinationButton,
  kSourceLabel,
  kDestinationLabel,
  kStatusLabel,
  kLogCheckBox,
  kDestinationBox,
  kHelpButton,
  kSkippedLabel,
  kOptionsButton,
  kSkippedList,
  kStatusList,
  kViewLogButton,
  kMainControlCount
};

// What the command line asks of the main window.
struct StartOptions {
  bool silent = false;       // the S switch: minimised (or hidden), one backup, then close
  bool local = false;        // the L switch: the settings file beside the exe
  std::string settingsFile;  // when set, used instead of either place (tests)
};

// Shown modally by the program, whose exit code is its Result: the last job's.
class MainWindow : public BaseWindow<MainWindow> {
 public:
  explicit MainWindow(StartOptions options);
  // The job is stopped and waited for while its window still exists.
  ~MainWindow();
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void OnCreate();
  void OnSilentStart();
  void ShowProgress();
  void ShowButton(const ButtonState& button);
  std::vector<std::string> SourceLines(int count) const;
  void StartBackup(bool silent);
  void OnAdd();
  void OnDel();
  void OnDestination();
  void OnClose();
  void OnBackup();
  void OnViewLog();
  void OnLogCheckBox();
  void OnHelp();
  void OnOptions();
  static const CommandRow kCommands[];

  StartOptions options_;
  bool silentStarted_ = false;
  JobProgress progress_;
  BackupJob job_{progress_};
  uint64_t seen_ = 0;  // the progress's last stamp the window shows
  // The lines each list shows, counted here to spare the list a count at every change.
  int statusLines_ = 0, skippedLines_ = 0;
  JobStage stage_ = JobStage::kIdle;
  // The window closes once the job has ended: a silent run, or a close asked for meanwhile.
  bool closeDue_ = false;
  TaskbarProgress taskbar_;
  // Sent by the shell once the window's taskbar button exists (again after a restart).
  UINT taskbarButtonCreated_ = RegisterWindowMessageW(L"TaskbarButtonCreated");
};
