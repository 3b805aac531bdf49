// Shared helpers for the tests: scratch trees, message pumping, answers to the program's
// modal dialogs, a job host with no window, the real exe, host links and drives.
// Every path helper takes paths beyond MAX_PATH too.
#pragma once
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/fs.h"
#include "engine/host.h"

using Files = std::map<std::string, std::string>;  // relative path -> content
using Lines = std::vector<std::string>;
void RemoveTree(const std::string& folder);
bool WriteFileText(const std::string& path, const std::string& content);
std::string ReadFileText(const std::string& path);
bool Exists(const std::string& path);
// Makes root and the files below it (with their folders); false when one cannot be made.
bool MakeFiles(const std::string& root, const Files& files);
Lines Names(const std::string& folder);  // the entries of a folder, links included
// Every file below root by relative path; links are not followed.
Files ReadTree(const std::string& root, const std::string& below = "");
// The log's texts without their date and time columns; separators read "----".
Lines LogTexts(const std::string& path);
Files ManyFiles(int n);  // f<i>.txt, each with its own content
inline bool Has(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}
void PumpFor(int milliseconds);
void PumpMessages();  // handles what is waiting, without waiting

// A fresh empty folder (ending with a backslash) in the temp folder, removed when it goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir() { RemoveTree(path_); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + relative; }

 private:
  std::string path_;
};

// Holds a file open with share mode 0, as a program that has it open exclusively does.
struct Locked {
  explicit Locked(const std::string& path)
      : h(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ScopedHandle h;
};

struct Config {
  std::string destination;
  std::vector<std::string> sources;
  int fullMirror = 1, useArchiveBit = 0, deleteFiles = 1, keepVersions = 0;
};
std::string IniText(const Config& c);

// Message boxes shown while the recorder is installed, each answered with `answer`.
struct MessageRecorder {
  explicit MessageRecorder(int answer = IDOK);
  ~MessageRecorder();
  struct Shown {
    std::string text, caption;
    UINT flags;
  };
  std::vector<Shown> shown;
  int answer;
};

// Answers the folder dialog with the given path ("" = cancelled); records the start folder.
struct FolderAnswer {
  explicit FolderAnswer(std::string path);
  ~FolderAnswer();
  std::string path, lastTitle, lastStart;
  int calls = 0;
};

// A job host over plain lists. Calls from the copy worker are messages sent to a window
// of this thread, so they wait for its next pump, as with the main window; so does a
// WhenStatusShows action, which runs on this thread before the worker goes on.
class TestHost : public JobHost {
 public:
  TestHost();
  ~TestHost() override { DestroyWindow(window_); }
  std::vector<std::string> sources, status, skipped;
  std::string destination, skippedLabel = "Skipped Files - See log for details";
  std::string button = "Backup";
  std::atomic<bool> logging{true};
  bool buttonEnabled = true, gone = false;
  std::vector<std::pair<std::string, unsigned>> messages;  // text and flags of each box
  int answer = IDOK, closes = 0;
  std::function<void()> tick;  // what the main window's timer would run, at every wait

  void WhenStatusShows(const std::string& head, std::function<void()> action) {
    triggerHead_ = head;
    trigger_ = std::move(action);
  }
  std::vector<std::string> SourceFolders() override { return sources; }
  std::string Destination() override { return destination; }
  bool LoggingOn() override { return logging; }
  bool Silent() override { return false; }
  void StatusAdd(const std::string& text, bool) override {
    status.push_back(text);
    if (trigger_ && text.rfind(triggerHead_, 0) == 0) std::exchange(trigger_, nullptr)();
  }
  void StatusReplaceLast(const std::string& text) override {
    if (!status.empty()) status.pop_back();
    status.push_back(text);
  }
  std::string StatusLast() override { return status.empty() ? "" : status.back(); }
  void StatusClear() override { status.clear(); }
  void CopyProgress(const std::string& text, int done, int) override {
    OnUiThread([&] { done > 0 ? StatusReplaceLast(text) : StatusAdd(text, false); });
  }
  int SkippedAdd(const std::string& path) override {
    OnUiThread([&] { skipped.push_back(path); });
    return SkippedCount();
  }
  int SkippedCount() override { return static_cast<int>(skipped.size()); }
  void SkippedClear() override { skipped.clear(); }
  void SetSkippedLabel(const std::string& text) override {
    OnUiThread([&] { skippedLabel = text; });
  }
  std::string ButtonText() override { return button; }
  void SetButtonText(const std::string& text) override { button = text; }
  void EnableButton(bool enabled) override { buttonEnabled = enabled; }
  void Pump() override { PumpMessages(); }
  void PumpWait() override {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    PumpMessages();
    if (tick) tick();
  }
  bool WindowGone() override { return gone; }
  bool QuitRequested() override { return false; }
  void CloseWindow(int) override { ++closes; }
  int ShowMessage(const std::string& text, unsigned flags) override {
    messages.emplace_back(text, flags);
    return answer;
  }

 private:
  // Runs call on this thread: at once from it, else at its next pump (the caller waits).
  void OnUiThread(const std::function<void()>& call) {
    SendMessageA(window_, WM_APP, 0, reinterpret_cast<LPARAM>(&call));
  }
  HWND window_;
  std::string triggerHead_;
  std::function<void()> trigger_;
};

// A program started on this test program's desktop, ended when the object goes.
class ChildProcess {
 public:
  explicit ChildProcess(std::string commandLine, WORD show = SW_SHOWNORMAL);
  ~ChildProcess();
  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }
  int Wait(DWORD milliseconds);  // the exit code, or -1 when it has not ended in time
  HWND MainWindow() const;       // its visible main window, or 0

 private:
  PROCESS_INFORMATION process_ = {};
};

// The built exe with the given settings file beside it in folder; returns its quoted path.
std::string InstallStowly(const std::string& folder, const std::string& ini);

// Opens the real main window modeless with settings from iniPath; closes any still open.
HWND OpenMainWindow(const std::string& iniPath);
void CloseMainWindow();

// Runs a host (Unix) program; Wine does not let it be waited for: callers wait for its effect.
void RunHost(const std::string& commandLine);
std::string HostPath(const std::string& path);  // "" outside Wine
// A host symbolic link, which Wine shows as a reparse point.
bool HostSymlink(const std::string& link, const std::string& target);
// Removes a folder from the host side: links in it go as links, which Wine cannot do.
void RemoveTreeOnHost(const std::string& folder);

// A drive letter mapped to a folder as Wine maps drives; unmapped when the object goes.
// The test programs share one prefix and run side by side, so each takes letters of its own.
class MappedDrive {
 public:
  MappedDrive(char letter, const std::string& folder);
  ~MappedDrive();
  bool ready() const { return Exists(root_); }
  const std::string& root() const { return root_; }

 private:
  std::string root_, link_;
};
