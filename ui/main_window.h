// The main window: source folders, destination, log switch, the status and skipped
// lists, and the buttons that start backups and open the other windows.
#pragma once
#include <windows.h>

#include <string>

#include "ui/form.h"

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

inline constexpr UINT_PTR kMainTimerId = 1003;
inline constexpr UINT kMainTimerPeriod = 500;

// What the command line asks of the main window; passed as ShowForm's user data.
struct StartOptions {
  bool silent = false;       // the S switch: minimised (or hidden), one backup, then close
  bool local = false;        // the L switch: the settings file beside the exe
  std::string settingsFile;  // when set, used instead of either place (tests)
};

const FormDef& MainFormDef();
HWND MainWindow();  // 0 while the main window does not exist
HWND MainControlHandle(MainControl control);
int MainControlId(MainControl control);
