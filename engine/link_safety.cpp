#include "engine/link_safety.h"

#include <windows.h>

#include <functional>

#include "engine/failure.h"
#include "engine/fs.h"
#include "engine/path_identity.h"

namespace {

DWORD Attributes(const std::string& path) { return FileAttributes(FolderPathForCalls(path)); }

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

struct WalkHandlers {
  std::function<void(const std::string& file)> file;
  std::function<void(const std::string& link, bool isFolder)> link;
  std::function<void(const std::string& folder)> unreadable;
  std::function<void(const std::string& folder)> entered = [](const std::string&) {};
};

// Depth first below folder (which ends with a backslash); a link is reported, never entered.
void Walk(const std::string& folder, const WalkHandlers& on) {
  on.entered(folder);
  std::vector<std::string> subfolders;
  {
    QuietErrors quiet;
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileW(FilePathW(folder + "*").c_str(), &data));
    if (!find.valid()) {
      DWORD error = GetLastError();  // an empty drive root lists nothing, not even "."
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) on.unreadable(folder);
      return;
    }
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::string path = folder + AnsiFromWide(name);
      bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        on.link(path, isFolder);
      else if (isFolder)
        subfolders.push_back(path + "\\");
      else
        on.file(path);
    } while (FindNextFileW(find.get(), &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) on.unreadable(folder);
  }
  for (const std::string& subfolder : subfolders) Walk(subfolder, on);
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

}  // namespace

TreeListing ListTreeWithoutLinks(const std::string& folder) {
  TreeListing listing;
  WalkHandlers on;
  on.file = [&](const std::string& file) { listing.files.push_back(file); };
  on.link = [&](const std::string& link, bool isFolder) {
    listing.links.push_back(isFolder ? link + "\\" : link);
  };
  on.unreadable = [&](const std::string& at) { listing.unreadable.push_back(at); };
  Walk(folder, on);
  return listing;
}

bool PathGoesThroughLink(const std::string& folder, const std::string& path) {
  if (path.size() <= folder.size()) return false;
  for (size_t at = path.find('\\', folder.size()); at != std::string::npos;
       at = path.find('\\', at + 1)) {
    DWORD attributes = Attributes(path.substr(0, at));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      DWORD error = GetLastError();
      return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    if (IsLink(attributes)) return true;
  }
  return false;
}

LinkRemoval RemoveLinksInside(const std::string& folder) {
  LinkRemoval removal;
  auto remove = [&](const std::string& link, bool) {
    if (RemoveLink(link) && Attributes(link) == INVALID_FILE_ATTRIBUTES)
      ++removal.removed;
    else
      removal.failed.push_back(link);
  };
  DWORD attributes = Attributes(folder);
  if (IsLink(attributes)) {
    remove(folder, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    return removal;
  }
  WalkHandlers on;
  on.file = [](const std::string&) {};
  on.link = remove;
  on.unreadable = [&](const std::string& at) { removal.failed.push_back(at); };
  Walk(folder, on);
  return removal;
}

TreeDeletion DeleteTreeWithoutLinks(const std::string& folder) {
  TreeDeletion deletion;
  if (IsLink(Attributes(folder))) {
    deletion.left.push_back(folder);
    return deletion;
  }
  auto tally = [&](bool done, const std::string& path) {
    if (done)
      ++deletion.deleted;
    else
      deletion.left.push_back(path);
  };
  std::vector<std::string> folders;
  WalkHandlers on;
  on.entered = [&](const std::string& at) { folders.push_back(at); };
  on.file = [&](const std::string& file) { tally(DeleteAnyFile(file), file); };
  on.link = [&](const std::string& link, bool) { deletion.left.push_back(link); };
  on.unreadable = [&](const std::string& at) { deletion.left.push_back(at); };
  Walk(folder, on);
  // Every folder comes after the one holding it, so backwards each is empty when its turn
  // comes, unless a link or an undeletable file stayed in it.
  for (auto at = folders.rbegin(); at != folders.rend(); ++at) {
    QuietErrors quiet;
    std::wstring path = FilePathW(FolderPathForCalls(*at));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    tally(RemoveDirectoryW(path.c_str()) != 0, *at);
  }
  return deletion;
}
