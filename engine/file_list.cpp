#include "engine/file_list.h"

#include <windows.h>
#include <shlwapi.h>

#include <set>
#include <tuple>

#include "app/message_loop.h"
#include "app/settings.h"
#include "engine/failure.h"
#include "engine/job_state.h"
#include "engine/safe_copy.h"
#include "ui/controls.h"
#include "ui/main_window.h"

namespace {

// Below this length every file function takes a plain path; CreateDirectory's own limit
// (MAX_PATH - 12) is the lowest of them.
constexpr size_t kPlainPathLimit = MAX_PATH - 12;

std::wstring WideFromAnsi(const std::string& text) {
  if (text.empty()) return {};
  int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// A folder's identity on its volume; a junction or symbolic link has its target's. The
// real path is left empty when the volume cannot give it.
using FolderKey = std::tuple<DWORD, DWORD, DWORD>;

bool ReadFolderKey(const std::wstring& folderW, FolderKey& key, std::wstring* finalPath) {
  QuietErrors quiet;
  ScopedHandle folder(CreateFileW(folderW.c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(folder.get(), &info)) return false;
  key = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  if (finalPath) {
    std::wstring buffer(32768, L'\0');
    DWORD length = GetFinalPathNameByHandleW(folder.get(), buffer.data(),
                                             static_cast<DWORD>(buffer.size()), 0);
    if (length > 0 && length < buffer.size()) {
      buffer.resize(length);
      if (buffer.back() != L'\\') buffer += L'\\';
      *finalPath = buffer;
    }
  }
  return true;
}

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() &&
         CompareStringOrdinal(text.data(), static_cast<int>(prefix.size()), prefix.data(),
                              static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

// Running state of one outermost ListFiles call. The open trees are the real paths of
// the listed root and of every link being followed, innermost last.
int g_depth = 0;
int g_running = 0;
// The destination folder, read from its box once per listing rather than once per file.
std::string g_listingDestination;
std::set<FolderKey> g_visited;
std::vector<std::wstring> g_openTrees;

// Junctions and symbolic links can lead back into the listed tree, or loop outside it.
// A link is followed only when its target lies outside every tree being listed and was
// not met before; otherwise its files are listed under their real path. Plain folders
// are always listed: a volume that gives no real folder identities (index 0) must never
// lose a folder to this guard. A followed link's real path comes back in linkTarget.
bool ShouldDescend(const std::string& folder, bool isLink, std::wstring& linkTarget) {
  linkTarget.clear();
  FolderKey key;
  if (!ReadFolderKey(FilePathW(folder), key, isLink ? &linkTarget : nullptr)) return true;
  bool known = std::get<1>(key) != 0 || std::get<2>(key) != 0;
  if (isLink) {
    if (known && g_visited.count(key)) return false;
    for (const std::wstring& tree : g_openTrees)
      if (!linkTarget.empty() && StartsWithIgnoringCase(linkTarget, tree)) return false;
  }
  if (known) g_visited.insert(key);
  return true;
}

void StartOutermostListing(const std::string& root) {
  g_listingDestination = GetText(MainControlHandle(kDestinationBox));
  g_visited.clear();
  g_openTrees.clear();
  FolderKey key;
  std::wstring rootPath;
  if (!ReadFolderKey(FilePathW(root), key, &rootPath)) return;
  if (std::get<1>(key) != 0 || std::get<2>(key) != 0) g_visited.insert(key);
  if (!rootPath.empty()) g_openTrees.push_back(rootPath);
}

const char* ListingHeader(ListingMode mode) {
  if (mode == ListingMode::kDestination)
    return "Getting complete list of files from destination...";
  return g_settings.FullMirror == 1 ? "Getting list of files from source..."
                                    : "Getting list of changed files from source...";
}

// The change filter: a source file is copied when its destination copy is missing, in
// Full Mirror, or when its archive attribute is set.
bool Admitted(const std::string& path, ListingMode mode) {
  // Full Mirror admits every file whatever the destination holds, so its copy is not probed.
  if (mode == ListingMode::kDestination || g_settings.FullMirror == 1) return true;
  if (!FileExists(DestinationPath(g_listingDestination, path))) return true;
  QuietErrors quiet;
  DWORD attributes = GetFileAttributesW(FilePathW(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_ARCHIVE);
}

bool IsDriveLevel(const std::string& level) { return level.size() == 2 && level[1] == ':'; }

}  // namespace

std::wstring FilePathW(const std::string& path) {
  std::wstring wide = WideFromAnsi(path);
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

std::string AnsiFromWide(const std::wstring& text) {
  if (text.empty()) return {};
  int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string ansi(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), ansi.data(), length,
                      nullptr, nullptr);
  return ansi;
}

std::string DestinationPath(const std::string& destinationFolder, const std::string& sourcePath) {
  return destinationFolder + (sourcePath.size() > 3 ? sourcePath.substr(3) : std::string());
}

std::string DestinationSubtree(const std::string& destinationFolder,
                               const std::string& sourceFolder) {
  return DestinationPath(destinationFolder, sourceFolder);
}

std::string Counterpart(const std::string& destinationFolder, const std::string& sourceFolder,
                        const std::string& destinationPath) {
  std::string below = destinationPath.size() > destinationFolder.size()
                          ? destinationPath.substr(destinationFolder.size())
                          : std::string();
  return sourceFolder.substr(0, 3) + below;
}

int ListFiles(std::string& folder, std::vector<std::string>& list, const std::string& mask,
              ListingMode mode) {
  ++g_depth;
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  if (g_depth == 1) StartOutermostListing(folder);

  HWND status = MainControlHandle(kStatusList);
  ListReplace(status, ListCount(status) - 1,
              ListingHeader(mode) + std::to_string(g_job.foundCount + g_running) + " Files Found",
              0);
  MessagePumpStep();

  std::vector<std::pair<std::string, bool>> subfolders;
  const std::wstring maskW = WideFromAnsi(mask);
  {
    QuietErrors quiet;
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileW(FilePathW(folder + "*").c_str(), &data));
    if (find.valid()) {
      do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
        std::string path = folder + AnsiFromWide(data.cFileName);
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            PassOverPartialCopy(path, mode == ListingMode::kDestination))
          continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          subfolders.emplace_back(path + "\\",
                                  (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
        } else if (PathMatchSpecW(data.cFileName, maskW.c_str()) && Admitted(path, mode)) {
          size_t at = static_cast<size_t>(g_job.foundCount + g_running);
          list.resize(at + 1);
          list[at] = std::move(path);
          ++g_running;
        }
      } while (FindNextFileW(find.get(), &data));
    }
  }

  std::wstring linkTarget;
  for (auto& [subfolder, isLink] : subfolders) {
    if (!ShouldDescend(subfolder, isLink, linkTarget)) continue;
    if (!linkTarget.empty()) g_openTrees.push_back(linkTarget);
    ListFiles(subfolder, list, mask, mode);
    if (!linkTarget.empty()) g_openTrees.pop_back();
  }

  if (--g_depth > 0) return 0;
  int appended = g_running;
  g_running = 0;
  g_visited.clear();
  g_openTrees.clear();
  return appended;
}

bool FileExists(const std::string& path) {
  QuietErrors quiet;
  if (GetFileAttributesW(FilePathW(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  int code = LastFailureCode();
  return code != kFileNotFound && code != kPathNotFound;
}

int MakeFolderPath(const std::string& folder) {
  if (folder.rfind("\\\\", 0) == 0) return 0;
  std::string path = folder;
  while (!path.empty() && path.back() == '\\') path.pop_back();
  if (path.empty()) return 0;
  QuietErrors quiet;
  // Each level that is missing is created; a drive designator is never a level to make,
  // and whatever stands at a level (even a file) is passed over for the next to report.
  for (size_t at = path.find('\\');; at = path.find('\\', at + 1)) {
    std::string level = at == std::string::npos ? path : path.substr(0, at);
    if (!level.empty() && !IsDriveLevel(level) && !FileExists(level) &&
        !CreateDirectoryW(FilePathW(level).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
      return LastFailureCode();
    if (at == std::string::npos) break;
  }
  return 0;
}
