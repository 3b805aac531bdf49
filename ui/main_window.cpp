#include "ui/main_window.h"

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

constexpr UINT_PTR kTimerId = 1003;
constexpr UINT kTimerPeriod = 500;

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

const FormSpec kSpec = {.className = "FORM_STOWLY_FORM1_CLASS",
                        .caption = "Stowly",
                        .width = 483,
                        .height = 476,
                        .style = WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
                        .controls = kControls,
                        .focusControl = kBackupButton};

}  // namespace

MainWindow::MainWindow(StartOptions options) : BaseWindow(kSpec), options_(std::move(options)) {}

MainWindow::~MainWindow() {
  if (IsWindow(Window())) DestroyWindow(Window());
}

void MainWindow::ShowButton(const ButtonState& button) {
  HWND h = Control(kBackupButton);
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
void MainWindow::ShowProgress() {
  ProgressView view = progress_.Take(seen_);
  stage_ = view.stage;
  ShowList(Control(kStatusList), view.status, statusLines_);
  ShowList(Control(kSkippedList), view.skipped, skippedLines_);
  if (view.skippedLabel) SetText(Control(kSkippedLabel), *view.skippedLabel);
  if (view.button) ShowButton(*view.button);
  ShowTaskbar(taskbar_, view);
  for (const JobMessage& message : view.messages)
    ShowMessage(Window(), message.text, kMessageCaption, message.flags);
  if (view.stage == JobStage::kEnded) job_.Join();
  if (closeDue_ && !job_.Running() && IsWindowEnabled(Window())) Close(job_.ExitCode());
}

// The source list's first `count` lines; the job backs up the first NumDirs.
std::vector<std::string> MainWindow::SourceLines(int count) const {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) lines.push_back(ListGetText(Control(kSourceList), i));
  return lines;
}

// The job starts once confirmed, from what the window and the settings hold now.
void MainWindow::StartBackup(bool silent) {
  JobInputs in = ReadJobInputs(SourceLines(g_settings.NumDirs), GetText(Control(kDestinationBox)));
  auto ask = [this](const std::string& text, unsigned flags) {
    return ShowMessage(Window(), text, kMessageCaption, flags);
  };
  if (!silent && !ConfirmJob(in, ask)) return;
  closeDue_ = silent;
  // Without a thread nothing ran: a scheduled task must not read that as success.
  if (!job_.Start(in, silent) && silent) Close(static_cast<int>(JobOutcome::kStopped));
}

void MainWindow::OnAdd() {
  HWND list = Control(kSourceList);
  std::string start = g_settings.NumDirs > 0 ? ListGetText(list, g_settings.NumDirs - 1) : "";
  std::string folder =
      ChooseFolder(Window(), "Select Source Folder", start, FolderPlace::kDriveLetter);
  if (folder.empty()) return;
  if (folder.back() != '\\') folder += '\\';
  for (int i = 0, n = ListCount(list); i < n; ++i) {
    if (ListGetText(list, i) == folder) {
      ShowMessage(Window(), "This folder is already in the list.");
      return;
    }
  }
  ListAdd(list, folder);
  SaveSourcesAfterAdd(SourceLines(ListCount(list)));
}

void MainWindow::OnDel() {
  HWND list = Control(kSourceList);
  int selected = ListCurrent(list);
  if (selected < 0) {
    ShowMessage(Window(), "Please select source folder from list first.");
    return;
  }
  ListDelete(list, selected);
  SaveSourcesAfterDel(SourceLines(ListCount(list)));
}

void MainWindow::OnDestination() {
  HWND box = Control(kDestinationBox);
  std::string folder = ChooseFolder(Window(), "Select Destination Folder", GetText(box),
                                    FolderPlace::kDriveLetterOrShare);
  if (folder.empty()) return;
  if (folder.back() != '\\') folder += '\\';
  SetText(box, folder);
  WriteSetting("DestinationFolder", folder);
  SetLogFolder(folder);
}

// Close, Esc, the title bar, Alt+F4 and the system menu. During a backup the job's copying
// is cancelled and the window closes once the job has ended. The program's exit code is
// the last job's, however the window is closed.
void MainWindow::OnClose() {
  if (job_.Running()) {
    closeDue_ = true;
    progress_.Cancel(CancelLevel::kCopying);
    return;
  }
  Close(job_.ExitCode());
}

// While a job runs the button cancels its copying, the only phase that enables it. A job
// that has just ended is taken in first, so the click starts the next one.
void MainWindow::OnBackup() {
  ShowProgress();
  if (!IsWindow(Window())) return;
  if (job_.Running())
    progress_.Cancel(CancelLevel::kCopying);
  else
    StartBackup(false);
}

void MainWindow::OnViewLog() {
  std::string path = LogFilePath();
  if (FileExists(path))
    OpenInNotepad(path);
  else
    ShowMessage(nullptr, "Sorry, no log file found!", "Dadiro Vodazo Status...",
                MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
}

void MainWindow::OnLogCheckBox() {
  bool on = IsChecked(Control(kLogCheckBox)) != 0;
  job_.EnableLog(on);
  WriteSetting("LogFile", on ? "1" : "0");
}

void MainWindow::OnHelp() { HelpWindow::Open(Window()); }

void MainWindow::OnOptions() { ShowOptionsWindow(Window(), stage_ == JobStage::kCopying); }

const MainWindow::CommandRow MainWindow::kCommands[] = {
    {kAddButton, BN_CLICKED, &MainWindow::OnAdd},
    {kDestinationButton, BN_CLICKED, &MainWindow::OnDestination},
    {kCloseButton, BN_CLICKED, &MainWindow::OnClose},
    {kBackupButton, BN_CLICKED, &MainWindow::OnBackup},
    {kViewLogButton, BN_CLICKED, &MainWindow::OnViewLog},
    {kLogCheckBox, BN_CLICKED, &MainWindow::OnLogCheckBox},
    {kHelpButton, BN_CLICKED, &MainWindow::OnHelp},
    {kDelButton, BN_CLICKED, &MainWindow::OnDel},
    {kOptionsButton, BN_CLICKED, &MainWindow::OnOptions},
};

void MainWindow::OnCreate() {
  HWND form = Window();
  progress_.OnChange([form] { PostMessageA(form, kProgressMessage, 0, 0); });
  if (options_.settingsFile.empty())
    ResolveSettingsPath(options_.local);
  else
    g_settings.settingsPath = options_.settingsFile;
  StoredSettings stored = LoadSettings();
  SetText(Control(kDestinationBox), stored.destination);
  SetChecked(Control(kLogCheckBox), stored.logFile);
  job_.EnableLog(stored.logFile);
  for (const std::string& folder : stored.sources) ListAdd(Control(kSourceList), folder);
  ChangeWindowMessageFilterEx(form, taskbarButtonCreated_, MSGFLT_ALLOW, nullptr);
  SetTimer(form, kTimerId, kTimerPeriod, nullptr);
  if (options_.silent) PostMessageA(form, kSilentStartMessage, 0, 0);
}

// Runs the silent backup once, minimised when the window is shown at all; minimising a
// window started hidden would show it.
void MainWindow::OnSilentStart() {
  if (silentStarted_ || !options_.silent) return;
  silentStarted_ = true;
  if (IsWindowVisible(Window())) ShowWindow(Window(), SW_MINIMIZE);
  StartBackup(true);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskbarButtonCreated_ && message != 0) {
    taskbar_.Attach(ShellTaskbarButton(Window()));
    return 0;
  }
  switch (message) {
    case WM_CREATE: {
      LRESULT result = Form::HandleMessage(message, wParam, lParam);
      OnCreate();
      return result;
    }
    case kSilentStartMessage:
      OnSilentStart();
      return 0;
    case kProgressMessage:
      ShowProgress();
      return 0;
    case WM_TIMER:
      if (wParam == kTimerId) ShowProgress();
      break;
    case WM_COMMAND:
      if (RunCommand(kCommands, wParam)) return 0;
      break;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      // The job is stopped and waited for while the window can still be told of it.
      job_.Stop();
      taskbar_.Attach(nullptr);
      KillTimer(Window(), kTimerId);
      Form::HandleMessage(message, wParam, lParam);
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return Form::HandleMessage(message, wParam, lParam);
}
