#include "ui/main_window.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "engine/backup_job.h"
#include "engine/fs.h"
#include "engine/settings.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/help_window.h"
#include "ui/message_loop.h"
#include "ui/options_window.h"
#include "ui/taskbar_progress.h"

namespace {

// The copy worker's progress line and skipped files, sent to the window.
constexpr UINT kProgressMessage = WM_APP + 1;
constexpr UINT kSkippedMessage = WM_APP + 2;
// Posted at creation with the S switch: a window started hidden is never painted.
constexpr UINT kSilentStartMessage = WM_APP + 3;

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

// The backup job's view of this window: its controls, its pump and its message boxes.
class MainHost : public JobHost {
 public:
  bool silent = false;
  std::unique_ptr<TaskbarProgress> taskbar;
  // The "Create Log File" box as last set or clicked, so the worker's log lines need not
  // ask the window.
  std::atomic<bool> logging{true};

  std::vector<std::string> SourceFolders() override {
    std::vector<std::string> folders;
    for (int i = 0; i < g_settings.NumDirs; ++i)
      folders.push_back(ListGetText(g_handles[kSourceList], i));
    return folders;
  }
  std::string Destination() override { return GetText(g_handles[kDestinationBox]); }
  bool LoggingOn() override { return logging; }
  bool Silent() override { return silent; }

  // A selection does not scroll a list without selections under every system: each
  // change scrolls the newest line into view itself.
  void StatusAdd(const std::string& text, bool select) override {
    int at = ListAdd(g_handles[kStatusList], text);
    if (select && at >= 0) ListSelect(g_handles[kStatusList], at);
    ListShowLast(g_handles[kStatusList]);
  }
  void StatusReplaceLast(const std::string& text) override {
    HWND status = g_handles[kStatusList];
    ListReplace(status, ListCount(status) - 1, text, 0);
    ListShowLast(status);
  }
  std::string StatusLast() override {
    HWND status = g_handles[kStatusList];
    return ListGetText(status, ListCount(status) - 1);
  }
  void StatusClear() override { ListClear(g_handles[kStatusList]); }
  // From the worker, which never waits for the window here: it leaves the newest line
  // and posts one message unless one is on its way; the window then does the list's
  // three steps itself. A line the window had no time for is passed over.
  void CopyProgress(const std::string& text, int done, int total) override {
    {
      std::lock_guard<std::mutex> hold(progressLock_);
      progress_ = {text, done, total, progress_.fresh || done == 0};
    }
    if (!progressPosted_.exchange(true) &&
        !(g_vars.form && PostMessageA(g_vars.form, kProgressMessage, 0, 0)))
      progressPosted_ = false;
  }
  void ShowProgress() {
    progressPosted_ = false;
    Progress p;
    {
      std::lock_guard<std::mutex> hold(progressLock_);
      p = progress_;
      progress_.fresh = false;
    }
    HWND status = g_handles[kStatusList];
    if (!p.fresh) ListDelete(status, progressLine_ >= 0 ? progressLine_ : ListCount(status) - 1);
    progressLine_ = ListAdd(status, p.text);
    ListSelect(status, progressLine_);
    ListShowLast(status);
    if (taskbar) taskbar->Copying(p.done, p.total);
  }
  void Listing() override {
    if (taskbar) taskbar->Listing();
  }
  void Ended() override {
    if (taskbar) taskbar->Clear();
  }

  // From the worker: one message, so the taskbar is told on the window's thread.
  int SkippedAdd(const std::string& path) override {
    return static_cast<int>(
        SendMessageA(g_vars.form, kSkippedMessage, 0, reinterpret_cast<LPARAM>(path.c_str())));
  }
  int AddSkipped(const char* path) {
    HWND skipped = g_handles[kSkippedList];
    ListSelect(skipped, ListAdd(skipped, path));
    ListShowLast(skipped);
    if (taskbar) taskbar->FileSkipped();
    return ListCount(skipped);
  }
  int SkippedCount() override { return ListCount(g_handles[kSkippedList]); }
  void SkippedClear() override { ListClear(g_handles[kSkippedList]); }
  void SetSkippedLabel(const std::string& text) override {
    SetText(g_handles[kSkippedLabel], text);
  }

  std::string ButtonText() override { return GetText(g_handles[kBackupButton]); }
  void SetButtonText(const std::string& text) override { SetText(g_handles[kBackupButton], text); }
  void EnableButton(bool enabled) override {
    if (enabled)
      EnableControl(g_handles[kBackupButton]);
    else
      DisableControl(g_handles[kBackupButton]);
  }

  void Pump() override { MessagePumpStep(); }
  // Sleeps until a message arrives, a sent one included, or 10 ms pass: the worker's
  // sent messages are served as soon as they come.
  void PumpWait() override {
    MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_SENDMESSAGE | QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MessagePumpStep();
  }
  bool WindowGone() override { return g_vars.form == nullptr; }
  bool QuitRequested() override { return g_quitRequested; }
  void CloseWindow(int exitCode) override { CloseForm(g_vars.form, exitCode); }
  int ShowMessage(const std::string& text, unsigned flags) override {
    return ::ShowMessage(g_vars.form, text, kMessageCaption, flags);
  }

 private:
  struct Progress {
    std::string text;
    int done = 0, total = 0;
    bool fresh = false;  // the run's first line, which is added rather than replacing
  };
  std::mutex progressLock_;
  Progress progress_;
  std::atomic<bool> progressPosted_{false};
  int progressLine_ = -1;  // the worker's line, remembered to spare it a count per file
};

// The window's own state besides its controls: one per process, as the window is.
struct MainState {
  bool silentStarted = false;
  StartOptions options;
  MainHost host;
  BackupJob job{host};
  // Sent by the shell once the window's taskbar button exists (again after a restart).
  UINT taskbarButtonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
};
MainState g_main;

std::vector<std::string> SourceLines() {
  std::vector<std::string> lines;
  for (int i = 0, n = ListCount(g_handles[kSourceList]); i < n; ++i)
    lines.push_back(ListGetText(g_handles[kSourceList], i));
  return lines;
}

int OnAdd(int, HWND form, HWND, int) {
  HWND list = g_handles[kSourceList];
  std::string start = g_settings.NumDirs > 0 ? ListGetText(list, g_settings.NumDirs - 1) : "";
  std::string folder = ChooseFolder(form, "Select Source Folder", start, FolderPlace::kDriveLetter);
  if (folder.empty()) return 0;
  if (folder.back() != '\\') folder += '\\';
  for (int i = 0, n = ListCount(list); i < n; ++i) {
    if (ListGetText(list, i) == folder) {
      ShowMessage(form, "This folder is already in the list.");
      return 0;
    }
  }
  ListAdd(list, folder);
  SaveSourcesAfterAdd(SourceLines());
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
  SaveSourcesAfterDel(SourceLines());
  return 0;
}

int OnDestination(int, HWND form, HWND, int) {
  HWND box = g_handles[kDestinationBox];
  std::string folder = ChooseFolder(form, "Select Destination Folder", GetText(box),
                                    FolderPlace::kDriveLetterOrShare);
  if (folder.empty()) return 0;
  if (folder.back() != '\\') folder += '\\';
  SetText(box, folder);
  WriteSetting("DestinationFolder", folder);
  SetLogFolder(folder);
  return 0;
}

int OnClose(int, HWND form, HWND, int) {
  // Close and Esc during a backup: the job cancels its copying and closes the window itself.
  if (g_main.job.Running()) {
    g_main.job.RequestClose();
    return 0;
  }
  CloseForm(form, g_main.job.ExitCode());
  return 0;
}

int OnBackup(int, HWND, HWND, int) {
  g_main.job.Run();
  return 0;
}

std::wstring SystemFolder() {
  UINT size = GetSystemDirectoryW(nullptr, 0);
  std::wstring folder(size, L'\0');
  UINT length = size ? GetSystemDirectoryW(folder.data(), size) : 0;
  folder.resize(length < size ? length : 0);
  return folder;
}

// The system's own Notepad, never one that a folder on the search path (the current one
// included) offers; the path quoted, as it may hold blanks. Notepad gets the default error
// mode, not the quiet one this process runs with. It is not waited for, and a Notepad that
// will not start is not reported.
void OpenInNotepad(const std::string& path) {
  std::wstring notepad = SystemFolder() + L"\\notepad.exe";
  std::wstring commandLine = L"\"" + notepad + L"\" \"" + WideFromUtf8(path) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(notepad.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                     NORMAL_PRIORITY_CLASS | CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &startup,
                     &process)) {
    ScopedHandle thread(process.hThread);
    ScopedHandle started(process.hProcess);
  }
}

int OnViewLog(int, HWND, HWND, int) {
  std::string path = LogFilePath();
  if (FileExists(path))
    OpenInNotepad(path);
  else
    ShowMessage(nullptr, "Sorry, no log file found!", "Dadiro Vodazo Status...",
                MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
  return 0;
}

int OnLogCheckBox(int, HWND, HWND, int) {
  bool on = IsChecked(g_handles[kLogCheckBox]) != 0;
  g_main.host.logging = on;
  WriteSetting("LogFile", on ? "1" : "0");
  return 0;
}

int OnHelp(int, HWND form, HWND, int) {
  ShowHelpWindow(form);
  return 0;
}

int OnOptions(int, HWND form, HWND, int) {
  ShowOptionsWindow(form, !g_main.job.WorkerIdle());
  return 0;
}

const CommandRow kCommands[] = {
    {kAddButton, BN_CLICKED, OnAdd},         {kDestinationButton, BN_CLICKED, OnDestination},
    {kCloseButton, BN_CLICKED, OnClose},     {kBackupButton, BN_CLICKED, OnBackup},
    {kViewLogButton, BN_CLICKED, OnViewLog}, {kLogCheckBox, BN_CLICKED, OnLogCheckBox},
    {kHelpButton, BN_CLICKED, OnHelp},       {kDelButton, BN_CLICKED, OnDel},
    {kOptionsButton, BN_CLICKED, OnOptions},
};

int OnCreate(HWND form, LPARAM userData) {
  g_main.silentStarted = false;
  g_main.options = userData ? *reinterpret_cast<const StartOptions*>(userData) : StartOptions();
  g_main.host.silent = false;
  if (g_main.options.settingsFile.empty())
    ResolveSettingsPath(g_main.options.local);
  else
    g_settings.settingsPath = g_main.options.settingsFile;
  StoredSettings stored = LoadSettings();
  SetText(g_handles[kDestinationBox], stored.destination);
  SetChecked(g_handles[kLogCheckBox], stored.logFile);
  g_main.host.logging = stored.logFile;
  for (const std::string& folder : stored.sources) ListAdd(g_handles[kSourceList], folder);
  g_main.host.taskbar = std::make_unique<TaskbarProgress>();
  ChangeWindowMessageFilterEx(form, g_main.taskbarButtonCreated, MSGFLT_ALLOW, nullptr);
  SetTimer(form, kMainTimerId, kMainTimerPeriod, nullptr);
  if (g_main.options.silent) PostMessageA(form, kSilentStartMessage, 0, 0);
  return 0;
}

// Runs the silent backup once, minimised when the window is shown at all; minimising a
// window started hidden would show it.
void OnSilentStart(HWND form) {
  if (g_main.silentStarted || !g_main.options.silent) return;
  g_main.silentStarted = true;
  if (IsWindowVisible(form)) ShowWindow(form, SW_MINIMIZE);
  g_main.host.silent = true;
  g_main.job.Run();
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
  if (message == g_main.taskbarButtonCreated && message != 0 && g_main.host.taskbar) {
    g_main.host.taskbar->Attach(ShellTaskbarButton(form));
    return 0;
  }
  switch (message) {
    case kSilentStartMessage:
      OnSilentStart(form);
      return 0;
    case kProgressMessage:
      g_main.host.ShowProgress();
      return 0;
    case kSkippedMessage:
      return g_main.host.AddSkipped(reinterpret_cast<const char*>(lParam));
    case WM_TIMER:
      if (wParam == kMainTimerId) g_main.job.WorkerEndCheck();
      break;
    case WM_CLOSE:
      // The title bar, Alt+F4 and the system menu during a backup: as the Close button.
      if (g_main.job.Running()) {
        g_main.job.RequestClose();
        return 0;
      }
      // The program's exit code is the last job's, however the window is closed.
      CloseForm(form, g_main.job.ExitCode());
      return 0;
    case WM_DESTROY:
      g_main.job.StopCopyingBeforeWindowsGo();
      g_main.host.taskbar.reset();
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
