#include "engine/log_file.h"

#include <cstdio>

#include "engine/fs.h"
#include "engine/settings.h"

namespace {

constexpr int kSeparatorLength = 140;
// Lines waiting for room beyond this are lost, so a destination that stays full cannot
// make the program's memory grow without bound.
constexpr size_t kMaxWaitingBytes = 16u << 20;

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

std::string LogLine(const SYSTEMTIME& now, const std::string& text) {
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%02u-%02u-%04u   %02u:%02u:%02u   ",
                static_cast<unsigned>(now.wMonth), static_cast<unsigned>(now.wDay),
                static_cast<unsigned>(now.wYear), static_cast<unsigned>(now.wHour),
                static_cast<unsigned>(now.wMinute), static_cast<unsigned>(now.wSecond));
  return stamp + text + "\r\n";
}

// Opens the file when it is not open at this path yet; a failed line drops the handle, so
// a log deleted or taken away meanwhile is looked for afresh at the next line.
bool LogWriter::Append(const std::string& path, const std::string& line) {
  if (!file_ || openPath_ != path) {
    file_.Reset(CreateFileW(FilePathW(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    openPath_ = path;
  }
  if (file_ && AppendWhole(file_.get(), line)) return true;
  file_.Reset();
  return false;
}

void LogWriter::UsePath(const std::string& path) {
  std::lock_guard<std::mutex> hold(lock_);
  path_ = path;
}

std::string LogWriter::Path() { return path_.empty() ? LogFilePath() : path_; }

void LogWriter::Keep(std::string line) {
  if (waitingBytes_ + line.size() > kMaxWaitingBytes) return;
  waitingBytes_ += line.size();
  waiting_.push_back(std::move(line));
}

// Oldest first, each line whole, up to the first that cannot be written.
void LogWriter::WriteWaiting() {
  if (waiting_.empty()) return;
  std::string path = Path();
  QuietErrors quiet;
  while (!waiting_.empty() && Append(path, waiting_.front())) {
    waitingBytes_ -= waiting_.front().size();
    waiting_.pop_front();
  }
}

void LogWriter::Write(const std::string& text) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> hold(lock_);
  SYSTEMTIME now;
  GetLocalTime(&now);
  Keep(LogLine(now, text));
  WriteWaiting();
}

void LogWriter::Close() {
  std::lock_guard<std::mutex> hold(lock_);
  WriteWaiting();
  waiting_.clear();
  waitingBytes_ = 0;
  file_.Reset();
}

void LogWriter::ApplySizeRule(int maxLogSize) {
  std::lock_guard<std::mutex> hold(lock_);
  std::string path = Path();
  if (!FileExists(path)) return;
  file_.Reset();
  QuietErrors quiet;
  LARGE_INTEGER size = {};
  {
    ScopedHandle file = OpenLog(path, OPEN_EXISTING);
    if (!file || !GetFileSizeEx(file.get(), &size)) return;
    AppendWhole(file.get(), std::string(kSeparatorLength, '-') + "\r\n");
  }
  if (size.QuadPart + kSeparatorLength > static_cast<LONGLONG>(maxLogSize))
    DeleteFileW(FilePathW(path).c_str());
}
