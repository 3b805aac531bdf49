#include "engine/fs.h"

#include <cwchar>
#include <utility>

#include "engine/failure.h"

namespace {

// Below this length every file function takes a plain path; CreateDirectory's own limit
// (MAX_PATH - 12) is the lowest of them.
constexpr size_t kPlainPathLimit = MAX_PATH - 12;

}  // namespace

std::wstring WideFromUtf8(const std::string& text) {
  if (text.empty()) return {};
  int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Utf8FromWide(const std::wstring& text) {
  if (text.empty()) return {};
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length,
                      nullptr, nullptr);
  return utf8;
}

std::wstring FilePathW(const std::string& path) {
  std::wstring wide = WideFromUtf8(path);
  if (wide.size() < kPlainPathLimit || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

bool IsLinkEntry(DWORD attributes, DWORD reparseTag) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  return reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag);
}

bool IsOnlineOnly(DWORD attributes) {
  return !(attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & kOnlineOnlyAttribute);
}

bool IsLinkAt(const std::wstring& path, DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  FolderEntries entry(path);
  // An entry that cannot be looked at is taken for a link.
  return !entry.Next() ||
         IsLinkEntry(entry.attributes() | FILE_ATTRIBUTE_REPARSE_POINT, entry.reparseTag());
}

DWORD FileAttributes(const std::string& path) {
  QuietErrors quiet;
  return GetFileAttributesW(FilePathW(path).c_str());
}

std::string FolderPathForCalls(std::string folder) {
  while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

bool DeleteAnyFile(const std::string& path) {
  QuietErrors quiet;
  const std::wstring wide = FilePathW(path);
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(wide.c_str()) != 0;
}

bool FileExists(const std::string& path) {
  if (FileAttributes(path) != INVALID_FILE_ATTRIBUTES) return true;
  int code = LastFailureCode();
  return code != kFileNotFound && code != kPathNotFound;
}

bool IsFolder(const std::string& path) {
  DWORD attributes = FileAttributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

size_t RootLength(const std::string& path) {
  size_t start = 0, levels = 1;
  if (path.rfind("\\\\?\\UNC\\", 0) == 0) {
    start = 8, levels = 2;
  } else if (path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\\\.\\", 0) == 0) {
    start = 4;
  } else if (path.rfind("\\\\", 0) == 0) {
    start = 2, levels = 2;
  } else if (path.size() < 2 || path[1] != ':') {
    return 0;
  }
  size_t end = start;
  for (; levels > 0 && end != std::string::npos; --levels) end = path.find('\\', end + 1);
  return end == std::string::npos ? path.size() : end;
}

int MakeFolderPath(const std::string& folder) {
  std::string path = folder;
  while (!path.empty() && path.back() == '\\') path.pop_back();
  const size_t root = RootLength(path);
  if (path.size() <= root) return 0;
  QuietErrors quiet;
  // Each level below the root that is missing is created, and whatever stands at a level
  // (even a file) is passed over for the next to report.
  for (size_t at = path.find('\\', root + 1);; at = path.find('\\', at + 1)) {
    std::string level = at == std::string::npos ? path : path.substr(0, at);
    if (!FileExists(level) && !CreateDirectoryW(FilePathW(level).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
      return LastFailureCode();
    if (at == std::string::npos) break;
  }
  return 0;
}

QuietErrors::QuietErrors() {
  set_ = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_) != FALSE;
}

QuietErrors::~QuietErrors() {
  if (set_) SetThreadErrorMode(old_, nullptr);
}

FolderEntries::FolderEntries(const std::string& folder, const std::string& pattern)
    : FolderEntries(FilePathW(folder + pattern)) {}

// The basic information leaves out the short names, which nothing here reads.
FolderEntries::FolderEntries(const std::wstring& searchPath) {
  find_ = FindFirstFileExW(searchPath.c_str(), FindExInfoBasic, &data_, FindExSearchNameMatch,
                           nullptr, 0);
  first_ = find_ != INVALID_HANDLE_VALUE;
  DWORD error = first_ ? 0 : GetLastError();
  error_ = error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES ? 0 : error;
}

FolderEntries::~FolderEntries() {
  if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
}

bool FolderEntries::Advance() {
  if (std::exchange(first_, false)) return true;
  if (find_ == INVALID_HANDLE_VALUE) return false;
  if (FindNextFileW(find_, &data_)) return true;
  DWORD error = GetLastError();
  error_ = error == ERROR_NO_MORE_FILES ? 0 : error;
  FindClose(std::exchange(find_, INVALID_HANDLE_VALUE));
  return false;
}

bool FolderEntries::Next() {
  while (Advance())
    if (wcscmp(data_.cFileName, L".") != 0 && wcscmp(data_.cFileName, L"..") != 0) return true;
  return false;
}
