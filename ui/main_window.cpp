#include "ui/main_window.h"

#include <memory>

#include "engine/backup_job.h"
#include "engine/fs.h"
#include "engine/settings.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/help_window.h"
#include "ui/options_window.h"
#include "ui/taskbar_progress.h"

namespace {

// Posted by the job's thread when it has reported something new.
constexpr UINT kProgressMessage = WM_APP + 1;
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

// What one main window owns besides its controls: its job, what the job reports, how much
// of that the window shows already, and the taskbar button's progress.
struct MainJob {
  JobProgress progress;
  BackupJob job{progress};
  uint64_t seen = 0;  // the progress's last stamp the window shows
  // The lines each list shows, counted here to spare the list a count at every change.
  int statusLines = 0, skippedLines = 0;
  JobStage stage = JobStage::kIdle;
  // The window closes once the job has ended: a silent run, or a close asked for meanwhile.
  bool closeDue = false;
  TaskbarProgress taskbar;
};

// The window's own state: one per process, as the window is; a fresh job for each window.
struct MainState {
  bool silentStarted = false;
  StartOptions options;
  std::unique_ptr<MainJob> job;
  // Sent by the shell once the window's taskbar button exists (again after a restart).
  UINT taskbarButtonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
};
MainState g_main;

// A selection does not scroll a list without selections under every system: each change
// scrolls the newest line into view itself.
void ShowList(HWND list, const ListChanges& changes, int& shown) {
  if (changes.cleared) ListClear(list), shown = 0;
  if (!changes.cleared && changes.lines.empty()) return;
  for (; shown > changes.from; --shown) ListDelete(list, shown - 1);
  for (const std::string& line : changes.lines) ListAdd(list, line), ++shown;
  if (changes.selected >= 0) ListSelect(list, changes.selected);
  ListShowLast(list);
}

void ShowTaskbar(TaskbarProgress& taskbar, const ProgressView& view) {
  if (!view.skipped.lines.empty()) taskbar.FileSkipped();
  if (view.stage == JobStage::kListing) taskbar.Listing();
  if (view.stage == JobStage::kCopying) taskbar.Copying(view.done, view.total);
  if (view.stage == JobStage::kEnded) taskbar.Clear();
}

void ShowButton(const ButtonState& button) {
  HWND h = g_handles[kBackupButton];
  if (button.enabled)
    EnableControl(h);
  else
    DisableControl(h);
  SetText(h, button.text);
}

// Takes what the job reported since the last look, on the job's message or the timer. A
// message box runs a loop of its own, in which this runs again for what comes meanwhile.
// Once the job's thread has ended, a close that is due waits for no modal window (Options,
// a message box) to be open over this one.
void ShowProgress(HWND form) {
  MainJob& j = *g_main.job;
  ProgressView view = j.progress.Take(j.seen);
  j.stage = view.stage;
  ShowList(g_handles[kStatusList], view.status, j.statusLines);
  ShowList(g_handles[kSkippedList], view.skipped, j.skippedLines);
  if (view.skippedLabel) SetText(g_handles[kSkippedLabel], *view.skippedLabel);
  if (view.button) ShowButton(*view.button);
  ShowTaskbar(j.taskbar, view);
  for (const JobMessage& message : view.messages)
    ShowMessage(form, message.text, kMessageCaption, message.flags);
  if (view.stage == JobStage::kEnded) j.job.Join();
  if (j.closeDue && !j.job.Running() && IsWindowEnabled(form)) CloseForm(form, j.job.ExitCode());
}

// The source folders the job backs up: the list's first NumDirs lines.
std::vector<std::string> SourceFolders() {
  std::vector<std::string> folders;
  for (int i = 0; i < g_settings.NumDirs; ++i)
    folders.push_back(ListGetText(g_handles[kSourceList], i));
  return folders;
}

// The job starts once confirmed, from what the window and the settings hold now.
void StartBackup(HWND form, bool silent) {
  MainJob& j = *g_main.job;
  JobInputs in = ReadJobInputs(SourceFolders(), GetText(g_handles[kDestinationBox]));
  auto ask = [form](const std::string& text, unsigned flags) {
    return ShowMessage(form, text, kMessageCaption, flags);
  };
  if (!silent && !ConfirmJob(in, ask)) return;
  j.closeDue = silent;
  // Without a thread nothing ran: a scheduled task must not read that as success.
  if (!j.job.Start(in, silent) && silent) CloseForm(form, static_cast<int>(JobOutcome::kStopped));
}

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

// Close, Esc, the title bar, Alt+F4 and the system menu. During a backup the job's copying
// is cancelled and the window closes once the job has ended. The program's exit code is
// the last job's, however the window is closed.
void Close(HWND form) {
  MainJob& j = *g_main.job;
  if (j.job.Running()) {
    j.closeDue = true;
    j.progress.Cancel(CancelLevel::kCopying);
    return;
  }
  CloseForm(form, j.job.ExitCode());
}

int OnClose(int, HWND form, HWND, int) {
  Close(form);
  return 0;
}

// While a job runs the button cancels its copying, the only phase that enables it. A job
// that has just ended is taken in first, so the click starts the next one.
int OnBackup(int, HWND form, HWND, int) {
  ShowProgress(form);
  if (!IsWindow(form)) return 0;
  if (g_main.job->job.Running())
    g_main.job->progress.Cancel(CancelLevel::kCopying);
  else
    StartBackup(form, false);
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
  g_main.job->job.EnableLog(on);
  WriteSetting("LogFile", on ? "1" : "0");
  return 0;
}

int OnHelp(int, HWND form, HWND, int) {
  ShowHelpWindow(form);
  return 0;
}

int OnOptions(int, HWND form, HWND, int) {
  ShowOptionsWindow(form, g_main.job->stage == JobStage::kCopying);
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
  g_main.job = std::make_unique<MainJob>();
  g_main.job->progress.OnChange([form] { PostMessageA(form, kProgressMessage, 0, 0); });
  if (g_main.options.settingsFile.empty())
    ResolveSettingsPath(g_main.options.local);
  else
    g_settings.settingsPath = g_main.options.settingsFile;
  StoredSettings stored = LoadSettings();
  SetText(g_handles[kDestinationBox], stored.destination);
  SetChecked(g_handles[kLogCheckBox], stored.logFile);
  g_main.job->job.EnableLog(stored.logFile);
  for (const std::string& folder : stored.sources) ListAdd(g_handles[kSourceList], folder);
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
  StartBackup(form, true);
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
  // Nothing of the window's own runs before its creation has made its job.
  if (!g_main.job) return FormProcedure(kDef, form, message, wParam, lParam);
  if (message == g_main.taskbarButtonCreated && message != 0) {
    g_main.job->taskbar.Attach(ShellTaskbarButton(form));
    return 0;
  }
  switch (message) {
    case kSilentStartMessage:
      OnSilentStart(form);
      return 0;
    case kProgressMessage:
      ShowProgress(form);
      return 0;
    case WM_TIMER:
      if (wParam == kMainTimerId) ShowProgress(form);
      break;
    case WM_CLOSE:
      Close(form);
      return 0;
    case WM_DESTROY:
      // The job is stopped and waited for while the window can still be told of it.
      g_main.job->job.Stop();
      g_main.job->taskbar.Attach(nullptr);
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
