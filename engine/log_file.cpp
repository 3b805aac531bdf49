#include "engine/log_file.h"

#include <cstdio>
#include <mutex>

#include "app/settings.h"
#include "engine/failure.h"
#include "engine/file_list.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace {

// The log is opened without sharing for each line, so the user-interface thread and the
// copy worker take turns here; nothing that waits for another thread (such as a message
// to a window) may happen while it is held.
std::mutex g_logLock;

constexpr int kSeparatorLength = 140;

ScopedHandle OpenLog(const std::string& path, DWORD disposition) {
  return ScopedHandle(CreateFileW(FilePathW(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Appends at the end; a short write is cut back off so no half line stays in the file.
bool AppendWhole(HANDLE file, const std::string& text) {
  LARGE_INTEGER zero = {}, end = {};
  if (!SetFilePointerEx(file, zero, &end, FILE_END)) return false;
  DWORD written = 0;
  if (WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size())
    return true;
  if (SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) SetEndOfFile(file);
  return false;
}

}  // namespace

std::string LogLine(const SYSTEMTIME& date, const SYSTEMTIME& time, const std::string& text) {
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%02u-%02u-%04u   %02u:%02u:%02u   ",
                static_cast<unsigned>(date.wMonth), static_cast<unsigned>(date.wDay),
                static_cast<unsigned>(date.wYear), static_cast<unsigned>(time.wHour),
                static_cast<unsigned>(time.wMinute), static_cast<unsigned>(time.wSecond));
  return stamp + text + "\r\n";
}

void WriteLog(const std::string& text) {
  if (!IsChecked(MainControlHandle(kLogCheckBox))) return;
  std::string path = LogFilePath();
  std::lock_guard<std::mutex> hold(g_logLock);
  SYSTEMTIME date, time;
  GetLocalTime(&date);
  GetLocalTime(&time);
  QuietErrors quiet;
  ScopedHandle file = OpenLog(path, OPEN_ALWAYS);
  if (file) AppendWhole(file.get(), LogLine(date, time, text));
}

void ApplyLogSizeRule() {
  std::string path = LogFilePath();
  if (!FileExists(path)) return;
  std::lock_guard<std::mutex> hold(g_logLock);
  QuietErrors quiet;
  LARGE_INTEGER size = {};
  {
    ScopedHandle file = OpenLog(path, OPEN_EXISTING);
    if (!file || !GetFileSizeEx(file.get(), &size)) return;
    AppendWhole(file.get(), std::string(kSeparatorLength, '-') + "\r\n");
  }
  if (size.QuadPart + kSeparatorLength > static_cast<LONGLONG>(g_settings.MaxLogSize))
    DeleteFileW(FilePathW(path).c_str());
}

int ViewLog() {
  std::string path = LogFilePath();
  if (!FileExists(path)) {
    ShowMessage(nullptr, "Sorry, no log file found!", "Dadiro Vodazo Status...",
                MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
    return 0;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process = {};
  std::string commandLine = "notepad.exe " + path;
  if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                     nullptr, nullptr, &startup, &process)) {
    ScopedHandle thread(process.hThread);
    ScopedHandle started(process.hProcess);
  }
  return 0;
}
