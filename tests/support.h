// Shared helpers for the tests: scratch trees, message pumping, the answers given to the
// program's modal dialogs, a job host with no window, the real exe, host links and drives.
#pragma once
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/host.h"

// A fresh empty folder (ending with a backslash) below the system temp folder, removed
// with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + relative; }

 private:
  std::string path_;
};

// Every helper below takes paths beyond MAX_PATH too.
void RemoveTree(const std::string& folder);
bool WriteFileText(const std::string& path, const std::string& content);
std::string ReadFileText(const std::string& path);
bool Exists(const std::string& path);

using Files = std::map<std::string, std::string>;  // relative path -> content
using Lines = std::vector<std::string>;
// Makes root and the files below it (with their folders); false when one cannot be made.
bool MakeFiles(const std::string& root, const Files& files);
// Every file below root by relative path; a link is not followed.
Files ReadTree(const std::string& root, const std::string& below = "");
// The log's texts without their date and time columns; separators read "----".
Lines LogTexts(const std::string& path);
inline std::string CopyOf(const std::string& destination, const std::string& source) {
  return destination + source.substr(3);
}
// n files named f<i>.txt, each with its own content.
Files ManyFiles(int n);

// Holds a file open with share mode 0, as a program that has it open exclusively does.
struct Locked {
  explicit Locked(const std::string& path);
  ~Locked();
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  HANDLE h;
};

// The settings file of a job: one destination, the source folders, the mode.
struct Config {
  std::string destination;
  std::vector<std::string> sources;
  int fullMirror = 1, useArchiveBit = 0, deleteFiles = 1;
};
std::string IniText(const Config& c);

// Handles waiting window messages for about the given time.
void PumpFor(int milliseconds);

// Message boxes shown while the recorder was installed, each answered with `answer`.
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

// A job host over plain lists, so the engine runs with no window. Calls from the copy
// worker wait, as a message sent to a window would, for this thread to take them in its
// next pump; an action set with WhenStatusShows runs there too, before the worker goes on.
class TestHost : public JobHost {
 public:
  std::vector<std::string> sources, status, skipped;
  std::string destination, skippedLabel = "Skipped Files - See log for details";
  std::string button = "Backup";
  std::atomic<bool> logging{true};
  bool buttonEnabled = true, gone = false;
  std::vector<std::pair<std::string, unsigned>> messages;  // text and flags of each box
  int answer = IDOK;  // the button every message box is closed with
  int closes = 0;
  std::function<void()> tick;  // what the main window's timer would run, at every wait

  // Runs action on this thread when a status or progress line starting with head appears.
  void WhenStatusShows(const std::string& head, std::function<void()> action) {
    triggerHead_ = head;
    trigger_ = std::move(action);
  }

  std::vector<std::string> SourceFolders() override { return sources; }
  std::string Destination() override;
  bool LoggingOn() override { return logging; }
  bool Silent() override { return false; }
  void StatusAdd(const std::string& text, bool) override;
  void StatusReplaceLast(const std::string& text) override;
  std::string StatusLast() override { return status.empty() ? "" : status.back(); }
  void StatusClear() override { status.clear(); }
  void CopyProgress(const std::string& text, int done, int total) override;
  int SkippedAdd(const std::string& path) override;
  int SkippedCount() override { return static_cast<int>(skipped.size()); }
  void SkippedClear() override { skipped.clear(); }
  void SetSkippedLabel(const std::string& text) override;
  std::string ButtonText() override { return button; }
  void SetButtonText(const std::string& text) override { button = text; }
  void EnableButton(bool enabled) override { buttonEnabled = enabled; }
  void Pump() override;
  void PumpWait() override;
  bool WindowGone() override { return gone; }
  bool QuitRequested() override { return false; }
  void CloseWindow(int) override { ++closes; }
  int ShowMessage(const std::string& text, unsigned flags) override {
    messages.emplace_back(text, flags);
    return answer;
  }

 private:
  // Runs call on this thread: at once from it, else at its next pump (the caller waits).
  void OnUiThread(const std::function<void()>& call);
  void CheckTrigger(const std::string& line);

  DWORD uiThread_ = GetCurrentThreadId();
  std::mutex lock_;
  std::condition_variable changed_;
  const std::function<void()>* pending_ = nullptr;
  std::string triggerHead_;
  std::function<void()> trigger_;
};

// A program started on this test program's desktop (so its windows can be found), ended
// when the object goes if it is still running.
class ChildProcess {
 public:
  explicit ChildProcess(std::string commandLine, WORD show = SW_SHOWNORMAL);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }
  // The exit code, or -1 when the process has not ended within the time.
  int Wait(DWORD milliseconds);
  // Its visible main window (visible once its creation is complete), or 0.
  HWND MainWindow() const;

 private:
  PROCESS_INFORMATION process_ = {};
};

// A portable install in folder: the built exe with the given settings file beside it.
// Returns the quoted exe path.
std::string InstallStowly(const std::string& folder, const std::string& ini);

// Opens the real main window (modeless, so the test keeps control) with its settings
// read from iniPath; closes any main window still open.
HWND OpenMainWindow(const std::string& iniPath);
void CloseMainWindow();

// Runs a host (Unix) program; Wine does not let it be waited for, so callers wait for
// its effect.
void RunHost(const std::string& commandLine);
// The host path of a Windows path, or "" outside Wine.
std::string HostPath(const std::string& path);
// A host symbolic link at `link` to `target`; Wine shows it as a reparse point.
bool HostSymlink(const std::string& link, const std::string& target);
// Removes a folder and everything in it from the host side: host links in it go as links,
// which no Windows file call under Wine can do.
void RemoveTreeOnHost(const std::string& folder);

// A drive letter mapped to a folder the way Wine maps drives (a link in the prefix's
// dosdevices folder); unmapped when the object goes.
class MappedDrive {
 public:
  MappedDrive(char letter, const std::string& folder);
  ~MappedDrive();
  MappedDrive(const MappedDrive&) = delete;
  MappedDrive& operator=(const MappedDrive&) = delete;
  bool ready() const { return Exists(root_); }
  const std::string& root() const { return root_; }

 private:
  std::string root_, link_;
};
