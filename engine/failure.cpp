#include "engine/failure.h"

#include <climits>

#include "engine/fs.h"

namespace {

// The Win32 errors that have a class of their own.
struct ErrorRow {
  DWORD first, last;
  int code;
};
constexpr ErrorRow kErrorTable[] = {
    {2, 2, kFileNotFound},       {3, 3, kPathNotFound},       {5, 5, kPermissionDenied},
    {18, 18, kFileNotFound},     {19, 19, kPermissionDenied}, {21, 21, kDriveNotReady},
    {32, 33, kPermissionDenied}, {36, 36, kPermissionDenied}, {39, 39, kDiskFull},
    {112, 112, kDiskFull},
};

bool IsLineBreakOrBlank(wchar_t c) { return c == L'\r' || c == L'\n' || c == L' ' || c == L'\t'; }

// The message on one line: line breaks become blanks, and the closing period goes.
std::wstring OneLine(const std::wstring& message) {
  std::wstring line;
  for (wchar_t c : message) {
    bool blank = IsLineBreakOrBlank(c);
    if (blank && (line.empty() || line.back() == L' ')) continue;
    line += blank ? L' ' : c;
  }
  while (!line.empty() && (line.back() == L' ' || line.back() == L'.')) line.pop_back();
  return line;
}

}  // namespace

int FailureCodeFromWin32(DWORD error) {
  if (error == 0) return 0;
  for (const ErrorRow& row : kErrorTable)
    if (error >= row.first && error <= row.last) return row.code;
  return error <= static_cast<DWORD>(INT_MAX - kWin32ErrorBase)
             ? kWin32ErrorBase + static_cast<int>(error)
             : kUnclassified;
}

int LastFailureCode() { return FailureCodeFromWin32(GetLastError()); }

std::wstring SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length > 0 && text ? std::wstring(text, length) : std::wstring();
  LocalFree(text);
  return message;
}

std::string UnknownErrorText(DWORD error, const std::wstring& systemMessage) {
  const std::string message = Utf8FromWide(OneLine(systemMessage));
  const bool closed = !message.empty() && (message.back() == '?' || message.back() == '!');
  const std::string separator = message.empty() ? "" : closed ? " " : ". ";
  return "Unknown error! (" + message + separator + "Code " + std::to_string(error) + ")";
}

std::string FailureMessage(int code) {
  switch (code) {
    case kFileNotFound:
      return "File not found.";
    case kDiskFull:
      return "Disk full.";
    case kPermissionDenied:
      return "Permission Denied";
    case kDriveNotReady:
      return "Drive not ready.";
    case kPathNotFound:
      return "That path doesn't exist.";
    case kSameDestination:
      return "Another file was copied to this name.";
    case kThroughLink:
      return "The destination folder is reached through a link.";
    case kFolderInTheWay:
      return "A folder of this name is in the way at the destination.";
    case kFileInTheWay:
      return "A file at the destination stands where this copy needs a folder.";
    case kOnlineOnly:
      return "Online-only file, not on this PC.";
  }
  if (code < kWin32ErrorBase) return "Unknown error!";
  const DWORD error = static_cast<DWORD>(code - kWin32ErrorBase);
  return UnknownErrorText(error, SystemMessage(error));
}

std::string ErrorLine(int code, const std::string& path) {
  return "Error - " + FailureMessage(code) + "  " + path;
}
