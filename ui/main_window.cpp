#include "ui/main_window.h"

#include "app/command_line.h"
#include "app/settings.h"
#include "engine/backup_job.h"
#include "engine/copy_worker.h"
#include "engine/job_state.h"
#include "engine/log_file.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/help_window.h"
#include "ui/options_window.h"

namespace {

HWND g_handles[kMainControlCount];
int g_ids[kMainControlCount];
FormVars g_vars = {nullptr, g_handles, g_ids};

constexpr const char* kStandard = kStandardFont;
constexpr const char* kBold = "MS Sans Serif,-13,0,0,0,700,0,0,0,0,1,2,1,34";
constexpr DWORD kPush = WS_TABSTOP | BS_PUSHBUTTON | BS_TEXT | BS_NOTIFY | BS_CENTER | BS_VCENTER;
constexpr DWORD kLabel = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | SS_LEFT | SS_NOTIFY;
constexpr DWORD kReportList =
    WS_VSCROLL | LBS_NOTIFY | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT | LBS_NOSEL;

const ControlRow kControls[kMainControlCount] = {
    {"Button", "Backup", kPush, 0, 302, 402, 78, 30, kStandard, kNoColors},
    {"ListBox", "", WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, WS_EX_CLIENTEDGE, 8, 32, 416,
     72, kStandard, kWindowColors},
    {"Button", "Close", kPush, 0, 386, 402, 78, 30, kStandard, kNoColors, IDCANCEL},
    {"Button", "Add", kPush, 0, 433, 32, 30, 20, kStandard, kNoColors},
    {"Button", "Del", kPush, 0, 433, 55, 30, 20, kStandard, kNoColors},
    {"Button", "...", kPush, 0, 433, 134, 30, 20, kBold, kNoColors},
    {"Static", "Source Folders:", kLabel, 0, 9, 16, 120, 16, kStandard, kSystemColors},
    {"Static", "Destination Folder:", kLabel, 0, 9, 118, 120, 16, kStandard, kSystemColors},
    {"Static", "Status", kLabel, 0, 8, 172, 96, 16, kStandard, kSystemColors},
    {"Button", "Create Log File", WS_TABSTOP | BS_AUTOCHECKBOX | BS_LEFT | BS_VCENTER | BS_NOTIFY,
     0, 336, 160, 93, 16, kStandard, kSystemColors},
    {"Edit", "", ES_LEFT | ES_AUTOHSCROLL | ES_READONLY, WS_EX_CLIENTEDGE, 9, 134, 416, 20,
     kStandard, kWindowColors},
    {"Button", "Help", kPush, 0, 8, 402, 78, 30, kStandard, kNoColors},
    {"Static", "Skipped Files - See log for details", kLabel, 0, 8, 303, 244, 16, kStandard,
     kSystemColors},
    {"Button", "Options", kPush, 0, 92, 402, 78, 30, kStandard, kNoColors},
    {"ListBox", "", kReportList, WS_EX_CLIENTEDGE, 8, 319, 455, 62, kStandard, kWindowColors},
    {"ListBox", "", kReportList, WS_EX_CLIENTEDGE, 8, 188, 455, 98, kStandard, kWindowColors},
    {"Button", "View Log", kPush, 0, 218, 402, 78, 30, kStandard, kNoColors},
};

int OnAdd(int, HWND form, HWND, int) {
  HWND list = g_handles[kSourceList];
  std::string start = g_settings.NumDirs > 0 ? ListGetText(list, g_settings.NumDirs - 1) : "";
  std::string folder = ChooseFolder(form, "Select Source Folder", start);
  if (folder.empty()) return 0;
  if (folder.back() != '\\') folder += '\\';
  for (int i = 0, n = ListCount(list); i < n; ++i) {
    if (ListGetText(list, i) == folder) {
      ShowMessage(form, "This folder is already in the list.");
      return 0;
    }
  }
  ListAdd(list, folder);
  SaveSourcesAfterAdd(list);
  return 0;
}

int OnDel(int, HWND form, HWND, int) {
  HWND list = g_handles[kSourceList];
  int selected = ListCurrent(list);
  if (selected < 0) {
    ShowMessage(form, "Please select source folder from list first.");
    return 0;
  }
  ListDelete(list, selected);
  SaveSourcesAfterDel(list);
  return 0;
}

int OnDestination(int, HWND form, HWND, int) {
  HWND box = g_handles[kDestinationBox];
  std::string folder = ChooseFolder(form, "Select Destination Folder", GetText(box));
  if (folder.empty()) return 0;
  if (folder.back() != '\\') folder += '\\';
  SetText(box, folder);
  WriteSetting("DestinationFolder", folder);
  SetLogFilePath(folder + "Stowly.log");
  return 0;
}

int OnClose(int, HWND form, HWND, int) {
  // Close and Esc during a backup: the job cancels its copying and closes the window itself.
  if (BackupJobRunning()) {
    RequestCloseAfterJob();
    return 0;
  }
  CloseForm(form, 0);
  return 0;
}

int OnBackup(int, HWND form, HWND, int) { return RunBackupJob(form); }

int OnViewLog(int, HWND, HWND, int) { return ViewLog(); }

int OnLogCheckBox(int, HWND, HWND, int) {
  WriteSetting("LogFile", IsChecked(g_handles[kLogCheckBox]) ? "1" : "0");
  return 0;
}

int OnHelp(int, HWND form, HWND, int) {
  ShowHelpWindow(form);
  return 0;
}

int OnOptions(int, HWND form, HWND, int) {
  ShowOptionsWindow(form);
  return 0;
}

const CommandRow kCommands[] = {
    {kAddButton, BN_CLICKED, OnAdd},         {kDestinationButton, BN_CLICKED, OnDestination},
    {kCloseButton, BN_CLICKED, OnClose},     {kBackupButton, BN_CLICKED, OnBackup},
    {kViewLogButton, BN_CLICKED, OnViewLog}, {kLogCheckBox, BN_CLICKED, OnLogCheckBox},
    {kHelpButton, BN_CLICKED, OnHelp},       {kDelButton, BN_CLICKED, OnDel},
    {kOptionsButton, BN_CLICKED, OnOptions},
};

int OnCreate(HWND form, LPARAM) {
  g_job.masterList.assign(1, std::string());
  g_job.workerIdle = 1;
  g_switchText = BuildSwitchText(g_commandTail);
  ResolveSettingsPath(HasSwitch('L'));
  g_versionText = BuildVersionText();
  LoadSettings(g_handles[kDestinationBox], g_handles[kLogCheckBox], g_handles[kSourceList]);
  SetTimer(form, kMainTimerId, kMainTimerPeriod, nullptr);
  return 0;
}

// Acts once: marks the window painted and, with the S switch, minimises it and runs the
// backup right here.
void OnFirstPaint(HWND form) {
  if (g_startState != 0) return;
  g_startState = 1;
  if (!HasSwitch('S')) return;
  ShowWindow(form, SW_MINIMIZE);
  g_startState = 2;
  RunBackupJob(form);
}

LRESULT CALLBACK MainFormProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK MainControlProc(HWND, UINT, WPARAM, LPARAM);

const FormDef kDef = {"FORM_STOWLY_FORM1_CLASS",
                      "Stowly",
                      483,
                      476,
                      WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
                      kControls,
                      kMainControlCount,
                      kCommands,
                      static_cast<int>(std::size(kCommands)),
                      nullptr,
                      0,
                      nullptr,
                      0,
                      OnCreate,
                      kBackupButton,
                      &g_vars,
                      MainFormProc,
                      MainControlProc};

LRESULT CALLBACK MainFormProc(HWND form, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      OnFirstPaint(form);
      break;
    case WM_TIMER:
      if (wParam == kMainTimerId) WorkerEndCheck();
      break;
    case WM_CLOSE:
      // The title bar, Alt+F4 and the system menu during a backup: as the Close button.
      if (BackupJobRunning()) {
        RequestCloseAfterJob();
        return 0;
      }
      break;
    case WM_DESTROY:
      StopCopyingBeforeWindowsGo();
      KillTimer(form, kMainTimerId);
      FormProcedure(kDef, form, message, wParam, lParam);
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return FormProcedure(kDef, form, message, wParam, lParam);
}

LRESULT CALLBACK MainControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  return ControlProcedure(kDef, control, message, wParam, lParam);
}

}  // namespace

const FormDef& MainFormDef() { return kDef; }

HWND MainWindow() { return g_vars.form; }

HWND MainControlHandle(MainControl control) { return g_handles[control]; }

int MainControlId(MainControl control) { return g_ids[control]; }
