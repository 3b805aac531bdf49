#include "tests/support.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <memory>

#include "app/startup.h"
#include "ui/dialogs.h"

namespace {

// Test programs run side by side on one Wine server, and focus and activation are shared
// by everything on a desktop; on a desktop of its own, each program's windows keep the
// focus its tests rely on. Then what start-up does before the first window.
class ProgramEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string name = "stowly-test-" + std::to_string(GetCurrentProcessId());
    HDESK desktop = CreateDesktopA(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_TRUE(desktop && SetThreadDesktop(desktop)) << "could not move to a desktop of its own";
    CoInitialize(nullptr);
    PrepareWindowing();
  }
};

std::unique_ptr<MainWindow> g_main;

[[maybe_unused]] auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironment);

void ForEachEntry(const std::string& folder, const std::function<void(std::string, DWORD)>& visit) {
  for (FolderEntries entry(folder); entry.Next();) visit(entry.name(), entry.attributes());
}

}  // namespace

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  path_ = std::string(temp) + "stowly-test-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(counter++) + "\\";
  RemoveTree(path_);
  CreateDirectoryA(path_.c_str(), nullptr);
}

void RemoveTree(const std::string& folder) {
  std::string base = folder.empty() || folder.back() == '\\' ? folder : folder + "\\";
  ForEachEntry(base, [&](const std::string& name, DWORD attributes) {
    std::wstring full = FilePathW(base + name);
    SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
      DeleteFileW(full.c_str());
    else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
      RemoveDirectoryW(full.c_str());
    else
      RemoveTree(base + name);
  });
  SetFileAttributesW(FilePathW(base).c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(FilePathW(base).c_str());
}

bool WriteFileText(const std::string& path, const std::string& content) {
  ScopedHandle file(CreateFileW(FilePathW(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0, size = static_cast<DWORD>(content.size());
  return file && WriteFile(file.get(), content.data(), size, &written, nullptr) && written == size;
}

std::string ReadFileText(const std::string& path) {
  ScopedHandle file(CreateFileW(FilePathW(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
  std::string content;
  char buffer[65536];
  DWORD got = 0;
  while (file && ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    content.append(buffer, got);
  return content;
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(FilePathW(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeFiles(const std::string& root, const Files& files) {
  bool ok = true;
  Files all = files;
  all.emplace("", "");  // root itself
  for (const auto& [name, content] : all) {
    std::string path = root + name;
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
      CreateDirectoryW(FilePathW(path.substr(0, at)).c_str(), nullptr);
    ok = (name.empty() || WriteFileText(path, content)) && ok;
  }
  return ok;
}

Lines Names(const std::string& folder) {
  Lines names;
  ForEachEntry(folder, [&](const std::string& name, DWORD) { names.push_back(name); });
  return names;
}

Files ReadTree(const std::string& root, const std::string& below) {
  Files files;
  ForEachEntry(root + below, [&](const std::string& name, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
      files.merge(ReadTree(root, below + name + "\\"));
    else
      files[below + name] = ReadFileText(root + below + name);
  });
  return files;
}

Lines LogTexts(const std::string& path) {
  std::string content = ReadFileText(path);
  Lines texts;
  size_t start = 0;
  for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::string line = content.substr(start, end - start);
    bool dated = line.size() >= 24 && line.compare(10, 3, "   ") == 0 && line[2] == '-' &&
                 line[15] == ':' && line.compare(21, 3, "   ") == 0;
    bool separator = line == std::string(140, '-');
    EXPECT_TRUE(dated || separator) << "malformed log line: " << line;
    texts.push_back(separator ? "----" : dated ? line.substr(24) : line);
  }
  EXPECT_EQ(start, content.size()) << "the log ends mid-line";
  return texts;
}

Files ManyFiles(int n) {
  Files files;
  for (int i = 0; i < n; ++i) {
    std::string name = "f";  // built step by step: GCC 12 warns falsely on "f" + to_string
    files[(name += std::to_string(i)) + ".txt"] = name;
  }
  return files;
}

std::string IniText(const Config& c) {
  std::string ini = "[Main Settings]\r\nDestinationFolder=" + c.destination +
                    "\r\nLogFile=1\r\nNumDirs=" + std::to_string(c.sources.size()) + "\r\n";
  for (size_t i = 0; i < c.sources.size(); ++i)
    ini += "SourceFolder" + std::to_string(i + 1) + "=" + c.sources[i] + "\r\n";
  return ini + "FullMirror=" + std::to_string(c.fullMirror) +
         "\r\nUseArchiveBit=" + std::to_string(c.useArchiveBit) +
         "\r\nDeleteFiles=" + std::to_string(c.deleteFiles) +
         "\r\nKeepVersions=" + std::to_string(c.keepVersions) + "\r\n";
}

void PumpFor(int milliseconds) {
  MSG msg;
  for (DWORD start = GetTickCount(); GetTickCount() - start < static_cast<DWORD>(milliseconds);) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
      TranslateMessage(&msg), DispatchMessageA(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
  }
}

bool PumpUntil(const std::function<bool()>& done) {
  for (DWORD start = GetTickCount(); !done(); PumpFor(2))
    if (GetTickCount() - start > 60000) return false;
  return true;
}

MessageRecorder::MessageRecorder(int answerWith) : answer(answerWith) {
  static MessageRecorder* current;
  current = this;
  g_messageBoxHook = [](HWND, const char* text, const char* caption, UINT flags) {
    current->shown.push_back({text, caption, flags});
    return current->answer;
  };
}

MessageRecorder::~MessageRecorder() { g_messageBoxHook = nullptr; }

FolderAnswer::FolderAnswer(std::string answerPath) : path(std::move(answerPath)) {
  static FolderAnswer* current;
  current = this;
  g_chooseFolderHook = [](HWND, const char* title, const std::string& start) {
    current->lastTitle = title;
    current->lastStart = start;
    return current->path;
  };
}

FolderAnswer::~FolderAnswer() { g_chooseFolderHook = nullptr; }

ChildProcess::ChildProcess(std::string commandLine, WORD show) {
  char desktop[256] = {};
  GetUserObjectInformationA(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desktop,
                            sizeof desktop, nullptr);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = show;
  CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                 &startup, &process_);
}

ChildProcess::~ChildProcess() {
  if (!process_.hProcess) return;
  // Waited for, so what the killed program held open is let go of before the test looks.
  if (Running() && TerminateProcess(process_.hProcess, 1))
    WaitForSingleObject(process_.hProcess, 10000);
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

int ChildProcess::Wait(DWORD milliseconds) {
  DWORD code = 0;
  bool ended = WaitForSingleObject(process_.hProcess, milliseconds) == WAIT_OBJECT_0;
  return ended && GetExitCodeProcess(process_.hProcess, &code) ? static_cast<int>(code) : -1;
}

HWND ChildProcess::MainWindow() const {
  for (HWND h = nullptr; (h = FindWindowExA(nullptr, h, "FORM_STOWLY_FORM1_CLASS", nullptr));) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == process_.dwProcessId && IsWindowVisible(h)) return h;
  }
  return nullptr;
}

std::string InstallStowly(const std::string& folder, const std::string& ini) {
  std::string built = "Z:" STOWLY_EXE_PATH_FOR_TESTS;
  std::replace(built.begin(), built.end(), '/', '\\');
  MakeFiles(folder, {});
  EXPECT_TRUE(CopyFileW(FilePathW(built).c_str(), FilePathW(folder + "Stowly.exe").c_str(), FALSE));
  EXPECT_TRUE(ini.empty() || WriteFileText(folder + "Stowly.ini", ini));
  return "\"" + folder + "Stowly.exe\"";
}

MainWindow& ShowMainWindow(const StartOptions& options) {
  CloseMainWindow();
  g_main = std::make_unique<MainWindow>(options);
  g_main->Show(nullptr);
  return *g_main;
}

MainWindow& Main() { return *g_main; }

HWND OpenMainWindow(const std::string& iniPath) {
  StartOptions options;
  options.settingsFile = iniPath;
  HWND made = ShowMainWindow(options).Window();
  PumpFor(20);
  return made;
}

void CloseMainWindow() {
  g_main.reset();
  // Its quit request must not stop the next test's loops.
  MSG msg;
  while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

void RunHost(const std::string& commandLine) { ChildProcess(commandLine).Wait(30000); }

std::string HostPath(const std::string& path) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
  char* unix = toUnix ? toUnix(WideFromUtf8(path).c_str()) : nullptr;
  if (!unix) return {};
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  // The prefix's drive C: seen without its dosdevices link, whose name has a colon.
  size_t drive = result.find("/dosdevices/c:/");
  if (drive != std::string::npos) result.replace(drive, 15, "/drive_c/");
  return result;
}

bool HostSymlink(const std::string& link, const std::string& target) {
  std::string plain = link.substr(0, std::max<size_t>(3, link.find_last_not_of('\\') + 1));
  size_t cut = plain.rfind('\\');
  std::string unixTarget = HostPath(target), unixParent = HostPath(plain.substr(0, cut + 1));
  if (unixTarget.empty() || unixParent.empty()) return false;
  RunHost("/bin/ln -sfn \"" + unixTarget + "\" \"" + unixParent + "/" + plain.substr(cut + 1) +
          "\"");
  return PumpUntil([&] { return Exists(plain); }) &&
         (GetFileAttributesA(plain.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
}

MappedDrive::MappedDrive(char letter, const std::string& folder)
    : root_(std::string(1, letter) + ":\\") {
  char prefix[MAX_PATH] = {};
  std::string unixPath = HostPath(folder);
  if (unixPath.empty() || !GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH)) return;
  link_ = std::string(prefix) + "/dosdevices/" + static_cast<char>(tolower(letter)) + ":";
  RunHost("/bin/ln -sfn \"" + unixPath + "\" \"" + link_ + "\"");
  PumpUntil([this] { return ready(); });
}

// Waited for: a removal still on its way would take away the next test's mapping.
MappedDrive::~MappedDrive() {
  if (link_.empty()) return;
  RunHost("/bin/rm -f \"" + link_ + "\"");
  PumpUntil([this] { return GetDriveTypeA(root_.c_str()) == DRIVE_NO_ROOT_DIR; });
}

void RemoveTreeOnHost(const std::string& folder) {
  std::string unixPath = HostPath(folder);
  if (unixPath.size() <= 1) return;
  RunHost("/bin/rm -rf \"" + unixPath + "\"");
  PumpUntil([&] { return !Exists(folder); });
}
