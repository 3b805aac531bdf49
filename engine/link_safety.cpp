#include "engine/link_safety.h"

#include <windows.h>

#include <functional>

#include "engine/failure.h"
#include "engine/fs.h"

namespace {

DWORD Attributes(const std::string& path) { return FileAttributes(FolderPathForCalls(path)); }

bool IsLink(const std::string& path, DWORD attributes) {
  return IsLinkAt(FilePathW(FolderPathForCalls(path)), attributes);
}

// One folder's entries (ending with a backslash), read whole before anything in it
// changes; 0, or the error that kept it from being listed whole.
struct Entry {
  std::string path;
  bool isFolder, isLink;
};
DWORD ReadEntries(const std::string& folder, std::vector<Entry>& entries) {
  FolderEntries entry(folder);
  while (entry.Next())
    entries.push_back(
        {folder + entry.name() + (entry.isFolder() ? "\\" : ""), entry.isFolder(), entry.isLink()});
  return entry.error();
}

// Deleted only through a handle that is provably the link itself. Wine 8 opens the target
// even when asked for the link, and its DeleteFile on a host link deletes the target.
bool RemoveLink(const std::string& link) {
  QuietErrors quiet;
  ScopedHandle handle(
      CreateFileW(FilePathW(FolderPathForCalls(link)).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!handle || !GetFileInformationByHandle(handle.get(), &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(handle.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

bool Left(const TreeDeletion& d, const std::string& folder) {
  for (const std::string& link : d.links)
    if (link.rfind(folder, 0) == 0) return true;
  for (const auto& [path, code] : d.failed)
    if (path.rfind(folder, 0) == 0) return true;
  return false;
}

// An emptied folder goes; one that still holds what could not go is not a failure of its own.
void RemoveEmptiedFolder(const std::string& folder, TreeDeletion& d) {
  if (Left(d, folder)) return;
  QuietErrors quiet;
  std::wstring path = FilePathW(FolderPathForCalls(folder));
  DWORD old = GetFileAttributesW(path.c_str());
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (RemoveDirectoryW(path.c_str())) {
    ++d.deleted;
    return;
  }
  d.failed.emplace_back(folder, LastFailureCode());
  if (old != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path.c_str(), old & kSettableAttributes);
}

void Prune(const std::string& folder, const KeepPath& keep, TreeDeletion& d,
           const PruneRules& rules = {}) {
  std::vector<Entry> entries;
  if (DWORD error = ReadEntries(folder, entries)) {
    d.failed.emplace_back(folder, FailureCodeFromWin32(error));
    return;
  }
  for (const Entry& e : entries) {
    if (rules.leaveWhole && rules.leaveWhole(e.path)) continue;
    if (keep(e.path, e.isFolder) && !e.isLink) {
      if (e.isFolder) Prune(e.path, keep, d, rules);
    } else if (e.isLink) {
      // A link is never a copy's own content, and is never followed.
      if (RemoveLink(e.path) && Attributes(e.path) == INVALID_FILE_ATTRIBUTES)
        ++d.deleted;
      else
        d.links.push_back(e.path);
    } else if (e.isFolder) {
      Prune(
          e.path, [](const std::string&, bool) { return false; }, d, rules);
      RemoveEmptiedFolder(e.path, d);
    } else if (int code =
                   rules.removeFile ? rules.removeFile(e.path) : DeleteFileOrKeepIt(e.path)) {
      d.failed.emplace_back(e.path, code);
    } else {
      ++d.deleted;
    }
  }
}

}  // namespace

bool PathGoesThroughLink(const std::string& folder, const std::string& path) {
  if (path.size() <= folder.size()) return false;
  for (size_t at = path.find('\\', folder.size()); at != std::string::npos;
       at = path.find('\\', at + 1)) {
    DWORD attributes = Attributes(path.substr(0, at));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      DWORD error = GetLastError();
      return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    if (IsLink(path.substr(0, at), attributes)) return true;
  }
  return false;
}

TreeDeletion PruneTree(const std::string& folder, const KeepPath& keep, const PruneRules& rules) {
  TreeDeletion d;
  Prune(folder, keep, d, rules);
  return d;
}

TreeDeletion DeleteTreeWithoutLinks(const std::string& folder) {
  TreeDeletion d;
  if (IsLink(folder, Attributes(folder))) {
    d.links.push_back(folder);
    return d;
  }
  Prune(
      folder, [](const std::string&, bool) { return false; }, d);
  RemoveEmptiedFolder(folder, d);
  return d;
}

int DeleteFileOrKeepIt(const std::string& path) {
  QuietErrors quiet;
  std::wstring wide = FilePathW(path);
  DWORD old = GetFileAttributesW(wide.c_str());
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(wide.c_str())) return 0;
  int code = LastFailureCode();
  if (old != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(wide.c_str(), old & kSettableAttributes);
  return code;
}
