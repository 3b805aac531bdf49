// Real drive letters for scratch folders in the tests' Wine prefix.
#pragma once
#include <windows.h>

#include <cctype>
#include <string>

#include "tests/support.h"

// A drive letter for a scratch folder, the way Wine maps drives: a symbolic link in the
// prefix's dosdevices folder, made by a Unix program started from here.
class DriveLetter {
 public:
  DriveLetter(char letter, const std::string& folder) : root_(std::string(1, letter) + ":\\") {
    using UnixName = char*(CDECL*)(const WCHAR*);
    auto toUnix = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char prefix[MAX_PATH] = {};
    WCHAR wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide, MAX_PATH);
    char* unixPath = toUnix ? toUnix(wide) : nullptr;
    if (!unixPath || !GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH)) return;
    link_ = std::string(prefix) + "/dosdevices/" + static_cast<char>(tolower(letter)) + ":";
    Shell("/bin/ln -sfn \"" + std::string(unixPath) + "\" \"" + link_ + "\"");
    HeapFree(GetProcessHeap(), 0, unixPath);
    for (int i = 0; i < 500 && !ready(); ++i) Sleep(10);  // the link is made asynchronously
  }
  ~DriveLetter() {
    if (!link_.empty()) Shell("/bin/rm -f \"" + link_ + "\"");
  }
  DriveLetter(const DriveLetter&) = delete;
  DriveLetter& operator=(const DriveLetter&) = delete;
  bool ready() const { return Exists(root_); }
  const std::string& root() const { return root_; }

 private:
  static void Shell(std::string command) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
      return;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  std::string root_, link_;
};
