// The thin file-system layer under the engine: every file call takes its path through
// the W functions (a path past MAX_PATH gets the \\?\ prefix, never a cut), runs with the
// system's error boxes off, and keeps its handles in guards.
#pragma once
#include <windows.h>

#include <string>

// The engine's paths are UTF-8 text, converted as such whatever the process's code page:
// before Windows 10 1903 the manifest cannot make it UTF-8, and names would become "?".
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);
// The path for a W file call: as it is below the plain-path limit, else made absolute and
// prefixed with \\?\ (\\?\UNC\ for a network path).
std::wstring FilePathW(const std::string& path);

// The attributes a copy or a restore may set: read-only, hidden, system, archive.
constexpr DWORD kSettableAttributes = 0x27;

// FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS, which the headers here do not name.
constexpr DWORD kOnlineOnlyAttribute = 0x00400000;

// Only a name surrogate leads elsewhere: a symbolic link, a junction or a mount point. Any
// other reparse point (a cloud placeholder, deduplication) is the file or folder itself. A
// reparse point without a tag (0, which no file system gives, but Wine gives its host links)
// is taken for a link: a link is never followed.
bool IsLinkEntry(DWORD attributes, DWORD reparseTag);
// A file whose data is only with its cloud provider: reading it would download it.
bool IsOnlineOnly(DWORD attributes);
// Whether what stands at a path for the W calls (no trailing backslash), with the attributes
// read already, is a link. Attributes alone cannot tell a link from a cloud folder, so a
// reparse point's tag is read from its entry in its folder's listing.
bool IsLinkAt(const std::wstring& path, DWORD attributes);

// The file's attributes, or INVALID_FILE_ATTRIBUTES (the thread's last error says why).
DWORD FileAttributes(const std::string& path);
// A folder path for the attribute and open calls: without its trailing backslashes, but a
// drive root keeps its own ("C:\"), which alone names the root.
std::string FolderPathForCalls(std::string folder);
// Deletes a file even when it is read-only, hidden or system; false when it stays.
bool DeleteAnyFile(const std::string& path);
// True when the path names something, or when it cannot be told that nothing is there.
bool FileExists(const std::string& path);
bool IsFolder(const std::string& path);
// The length of the part of a path no one creates: "C:", "\\\\server\\share",
// "\\\\?\\UNC\\server\\share", "\\\\?\\C:"; 0 for a relative path.
size_t RootLength(const std::string& path);
// Creates every missing level of a folder path below its root; 0 or the failure code of the first
// failure.
int MakeFolderPath(const std::string& folder);

// File-system calls run with the critical-error and open-file boxes off, so an unready
// drive gives a failure code instead of a system dialog; the old mode comes back after.
// The mode is the calling thread's own, so the job's thread and the window's cannot
// restore each other's mode out of order.
class QuietErrors {
 public:
  QuietErrors();
  ~QuietErrors();
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  DWORD old_ = 0;
  bool set_ = false;
};

// Owns a kernel handle (file, process, thread, timer) and closes it once.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void Reset(HANDLE h = nullptr) {
    if (h_) CloseHandle(h_);
    h_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
  }

 private:
  HANDLE h_ = nullptr;
};

// The entries of one folder, "." and ".." left out, read with the error boxes off through
// a search handle it owns:  for (FolderEntries entry(folder); entry.Next();) ...
class FolderEntries {
 public:
  // The entries of folder (ending with a backslash) whose names match pattern.
  explicit FolderEntries(const std::string& folder, const std::string& pattern = "*");
  // The entries a search path for the W calls matches; a path without wildcards names one.
  explicit FolderEntries(const std::wstring& searchPath);
  ~FolderEntries();
  FolderEntries(const FolderEntries&) = delete;
  FolderEntries& operator=(const FolderEntries&) = delete;

  // Moves to the next entry; false once there is none, or none could be read.
  bool Next();
  // The Win32 error that kept the folder from being listed whole; 0 when it was. Finding
  // nothing is no failure: an empty drive root lists nothing, not even ".".
  DWORD error() const { return error_; }

  const wchar_t* wideName() const { return data_.cFileName; }
  std::string name() const { return Utf8FromWide(data_.cFileName); }
  DWORD attributes() const { return data_.dwFileAttributes; }
  DWORD reparseTag() const { return data_.dwReserved0; }
  bool isFolder() const { return (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  bool isLink() const { return IsLinkEntry(data_.dwFileAttributes, data_.dwReserved0); }

 private:
  bool Advance();

  QuietErrors quiet_;
  WIN32_FIND_DATAW data_ = {};
  HANDLE find_ = INVALID_HANDLE_VALUE;
  bool first_ = false;  // data_ holds the first entry, not yet given
  DWORD error_ = 0;
};
