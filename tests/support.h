// Shared helpers for the tests: scratch trees, message pumping, answers to the program's
// modal dialogs, the real exe, host links and drives.
// Every path helper takes paths beyond MAX_PATH too.
#pragma once
#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/fs.h"
#include "ui/main_window.h"

using Files = std::map<std::string, std::string>;  // relative path -> content
using Lines = std::vector<std::string>;
const std::string kFinished = "FINISHED!  Backup is complete.";  // a whole job's last line
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
void PumpFor(int milliseconds);  // handles this thread's messages for that long
// Handles messages until done (checked between them) or 60 s pass; whether it got done.
bool PumpUntil(const std::function<bool()>& done);
Files ManyFiles(int n);  // f<i>.txt, each with its own content
inline bool Has(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

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

// Shows the real main window modeless; closes any still open. Main() is the window last
// shown, until CloseMainWindow.
MainWindow& ShowMainWindow(const StartOptions& options);
MainWindow& Main();
// Shows it with settings from iniPath and lets it take its first messages.
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
