#include "engine/file_list.h"

#include <windows.h>

#include <memory>
#include <set>
#include <tuple>
#include <unordered_set>

#include "engine/failure.h"
#include "engine/fs.h"
#include "engine/safe_copy.h"
#include "engine/versions.h"

namespace {

// A folder's identity on its volume; a junction or symbolic link has its target's.
using FolderKey = std::tuple<DWORD, DWORD, DWORD>;

// The real path is left empty when the volume cannot give it.
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

bool KnownKey(const FolderKey& key) { return std::get<1>(key) != 0 || std::get<2>(key) != 0; }

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() &&
         CompareStringOrdinal(text.data(), static_cast<int>(prefix.size()), prefix.data(),
                              static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

std::wstring UpperW(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// What one destination folder holds, read in one listing: Fast Mirror asks it once per
// source file. A folder that cannot be listed for another reason than being missing
// answers "present" for every name, as a failed existence test would.
class DestinationFolder {
 public:
  explicit DestinationFolder(const std::string& folder) {
    QuietErrors quiet;
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileW(FilePathW(folder + "*").c_str(), &data));
    if (!find.valid()) {
      DWORD error = GetLastError();
      unknown_ = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
                 error != ERROR_NO_MORE_FILES;
      return;
    }
    do names_.insert(UpperW(data.cFileName));
    while (FindNextFileW(find.get(), &data));
  }
  bool Holds(const wchar_t* name) const { return unknown_ || names_.count(UpperW(name)) != 0; }

 private:
  std::unordered_set<std::wstring> names_;
  bool unknown_ = false;
};

const char* ListingHeader(const ListingOptions& options) {
  if (options.mode == ListingMode::kDestination)
    return "Getting complete list of files from destination...";
  return options.fullMirror ? "Getting list of files from source..."
                            : "Getting list of changed files from source...";
}

constexpr DWORD kShowEveryMs = 20;

// One outermost listing: its place in the list, its running count, and the folders met
// so far, so links that lead back into the tree or loop end promptly.
class Lister {
 public:
  Lister(JobHost& host, std::vector<std::string>& list, int alreadyFound,
         const ListingOptions& options, ListingReport* report)
      : host_(host), list_(list), alreadyFound_(alreadyFound), options_(options), report_(report) {}

  int Run(std::string root) {
    if (root.empty() || root.back() != '\\') root += '\\';
    bool source = options_.mode == ListingMode::kSource;
    if (source && !options_.fullMirror) admitAgainst_ = options_.destination;
    FolderKey key;
    std::wstring rootPath;
    if (source && !options_.destination.empty() &&
        ReadFolderKey(FilePathW(options_.destination), key, nullptr) && KnownKey(key))
      destinationKey_ = key;
    if (ReadFolderKey(FilePathW(root), key, &rootPath)) {
      if (KnownKey(key)) visited_.insert(key);
      if (!rootPath.empty()) listedTrees_.push_back(rootPath);
    }
    ListFolder(root, true);
    return running_;
  }

 private:
  void ListFolder(const std::string& folder, bool root);
  void ListEntries(const std::string& folder, bool root,
                   std::vector<std::pair<std::string, bool>>& subfolders);
  bool ShouldDescend(const std::string& folder, bool isLink);
  void Append(std::string path);

  JobHost& host_;
  std::vector<std::string>& list_;
  const int alreadyFound_;
  const ListingOptions& options_;
  ListingReport* report_;
  int running_ = 0;
  // Fast Mirror's destination; empty when every file is admitted.
  std::string admitAgainst_;
  // The destination folder as its volume knows it: never entered from a source.
  FolderKey destinationKey_{0, 0, 0};
  std::set<FolderKey> visited_;  // the root's and every followed link's target
  // The real paths of the listed root and of every link followed.
  std::vector<std::wstring> listedTrees_;
  // The running count is shown at most this often: each showing is window traffic.
  DWORD lastShown_ = 0;
  bool shown_ = false;
};

// Plain folders are always listed, and cost no look of their own: only a link can lead
// into the destination folder or back into what is listed. A link is followed only from a
// source, when its target lies outside every tree listed so far and was not met before;
// otherwise its files are listed (or were) under their real path.
bool Lister::ShouldDescend(const std::string& folder, bool isLink) {
  if (!isLink) return true;
  if (options_.mode == ListingMode::kDestination) return false;
  FolderKey key;
  std::wstring target;
  if (!ReadFolderKey(FilePathW(folder), key, &target)) return true;
  if (KnownKey(key) && key == destinationKey_) {
    if (report_) report_->linksIntoDestination.push_back(folder);
    return false;
  }
  bool listedAlready = KnownKey(key) && visited_.count(key);
  for (const std::wstring& tree : listedTrees_)
    if (!target.empty() && StartsWithIgnoringCase(target, tree)) listedAlready = true;
  if (listedAlready) {
    if (report_) report_->linksListedAlready.push_back(folder);
    return false;
  }
  if (KnownKey(key)) visited_.insert(key);
  if (!target.empty()) listedTrees_.push_back(target);
  return true;
}

void Lister::Append(std::string path) {
  size_t at = static_cast<size_t>(alreadyFound_ + running_);
  list_.resize(at + 1);
  list_[at] = std::move(path);
  ++running_;
}

// A folder's own files, in the file system's order; its subfolders are returned. A folder
// that cannot be read is reported, except a root that is simply missing (the job says so).
void Lister::ListEntries(const std::string& folder, bool root,
                         std::vector<std::pair<std::string, bool>>& subfolders) {
  // Fast Mirror's change filter: a file is copied when its copy is missing or its archive
  // attribute is set.
  std::unique_ptr<DestinationFolder> copies;
  if (!admitAgainst_.empty())
    copies = std::make_unique<DestinationFolder>(DestinationPath(admitAgainst_, folder));
  QuietErrors quiet;
  WIN32_FIND_DATAW data;
  ScopedFind find(FindFirstFileW(FilePathW(folder + "*").c_str(), &data));
  if (!find.valid()) {
    DWORD error = GetLastError();  // an empty drive root lists nothing, not even "."
    bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES ||
                   (root && error == ERROR_PATH_NOT_FOUND);
    if (!missing && report_) report_->unreadable.emplace_back(folder, FailureCodeFromWin32(error));
    return;
  }
  do {
    if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
    std::string path = folder + AnsiFromWide(data.cFileName);
    bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder)
      subfolders.emplace_back(path + "\\",
                              (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    else if (!copies || !copies->Holds(data.cFileName) ||
             (data.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE))
      Append(std::move(path));
  } while (FindNextFileW(find.get(), &data));
}

void Lister::ListFolder(const std::string& folder, bool root) {
  // The destination's kept versions are no source folder's copy.
  if (options_.mode == ListingMode::kDestination && IsInVersions(options_.destination, folder))
    return;
  DWORD now = GetTickCount();
  if (!shown_ || now - lastShown_ >= kShowEveryMs) {
    if (!options_.quiet)
      host_.StatusReplaceLast(ListingHeader(options_) + std::to_string(alreadyFound_ + running_) +
                              " Files Found");
    host_.Pump();
    shown_ = true;
    lastShown_ = now;
  }
  std::vector<std::pair<std::string, bool>> subfolders;
  ListEntries(folder, root, subfolders);
  for (auto& [subfolder, isLink] : subfolders)
    if (ShouldDescend(subfolder, isLink)) ListFolder(subfolder, false);
}

}  // namespace

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

int ListFiles(JobHost& host, const std::string& folder, std::vector<std::string>& list,
              int alreadyFound, const ListingOptions& options, ListingReport* report) {
  return Lister(host, list, alreadyFound, options, report).Run(folder);
}
