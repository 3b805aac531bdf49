#include "engine/file_list.h"

#include <windows.h>

#include <memory>
#include <set>
#include <unordered_set>

#include "engine/failure.h"
#include "engine/fs.h"
#include "engine/path_identity.h"
#include "engine/versions.h"

namespace {

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
    FolderEntries entry(folder);
    unknown_ = entry.error() != 0 && entry.error() != ERROR_PATH_NOT_FOUND;
    while (entry.Next()) names_.insert(UpperW(entry.wideName()));
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
  Lister(JobProgress& progress, std::vector<std::string>& list, int alreadyFound,
         const ListingOptions& options, ListingReport* report)
      : progress_(progress),
        list_(list),
        alreadyFound_(alreadyFound),
        options_(options),
        report_(report) {}

  int Run(std::string root) {
    if (root.empty() || root.back() != '\\') root += '\\';
    bool source = options_.mode == ListingMode::kSource;
    if (source && !options_.fullMirror) admitAgainst_ = options_.destination;
    FolderIdentity identity;
    std::wstring rootPath;
    if (source && !options_.destination.empty() &&
        ReadFolderIdentity(options_.destination, identity) && identity.known())
      destination_ = identity;
    if (ReadFolderIdentity(root, identity, &rootPath)) {
      if (identity.known()) visited_.insert(identity);
      if (!rootPath.empty()) listedTrees_.push_back(rootPath);
    }
    ListFolder(root, true, false);
    return running_;
  }

 private:
  void ListFolder(const std::string& folder, bool root, bool link);
  void ListEntries(const std::string& folder, bool root, bool link,
                   std::vector<std::pair<std::string, bool>>& subfolders);
  void Take(const std::string& folder, const FolderEntries& entry, const DestinationFolder* copies,
            std::vector<std::pair<std::string, bool>>& subfolders);
  bool ShouldDescend(const std::string& folder, bool isLink);
  void Append(std::string path);

  JobProgress& progress_;
  std::vector<std::string>& list_;
  const int alreadyFound_;
  const ListingOptions& options_;
  ListingReport* report_;
  int running_ = 0;
  // Fast Mirror's destination; empty when every file is admitted.
  std::string admitAgainst_;
  // The destination folder as its volume knows it: never entered from a source.
  FolderIdentity destination_;
  std::set<FolderIdentity> visited_;  // the root's and every followed link's target
  // The real paths of the listed root and of every link followed.
  std::vector<std::wstring> listedTrees_;
  // The running count is shown at most this often: each showing wakes the window.
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
  FolderIdentity identity;
  std::wstring target;
  if (!ReadFolderIdentity(folder, identity, &target)) return true;
  if (identity.known() && identity == destination_) {
    if (report_) report_->linksIntoDestination.push_back(folder);
    return false;
  }
  bool listedAlready = identity.known() && visited_.count(identity);
  for (const std::wstring& tree : listedTrees_)
    if (!target.empty() && StartsWithIgnoringCase(target, tree)) listedAlready = true;
  if (listedAlready) {
    if (report_) report_->linksListedAlready.push_back(folder);
    return false;
  }
  if (identity.known()) visited_.insert(identity);
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
// link: the folder was reached through a link.
void Lister::ListEntries(const std::string& folder, bool root, bool link,
                         std::vector<std::pair<std::string, bool>>& subfolders) {
  // Fast Mirror's change filter: a file is copied when its copy is missing or its archive
  // attribute is set.
  std::unique_ptr<DestinationFolder> copies;
  if (!admitAgainst_.empty())
    copies = std::make_unique<DestinationFolder>(DestinationPath(admitAgainst_, folder));
  FolderEntries entry(folder);
  if (DWORD error = entry.error()) {
    ListingFailure failure = ClassifyListingFailure(error, root, link);
    if (report_ && failure == ListingFailure::kLinkRefused) report_->linksRefused.push_back(folder);
    if (report_ && failure == ListingFailure::kUnreadable)
      report_->unreadable.emplace_back(folder, FailureCodeFromWin32(error));
    return;
  }
  while (entry.Next()) Take(folder, entry, copies.get(), subfolders);
}

// One entry of a folder. An online-only file is not fetched (fetching them all can fill the
// disk): its copy stays, as its source is still there, and it is reported.
void Lister::Take(const std::string& folder, const FolderEntries& entry,
                  const DestinationFolder* copies,
                  std::vector<std::pair<std::string, bool>>& subfolders) {
  std::string path = folder + entry.name();
  const DWORD attributes = entry.attributes();
  if (entry.isFolder()) {
    subfolders.emplace_back(path + "\\", entry.isLink());
    return;
  }
  if (copies && copies->Holds(entry.wideName()) && !(attributes & FILE_ATTRIBUTE_ARCHIVE)) return;
  if (options_.mode == ListingMode::kSource && IsOnlineOnly(attributes)) {
    if (report_) report_->onlineOnly.push_back(path);
    return;
  }
  Append(std::move(path));
}

void Lister::ListFolder(const std::string& folder, bool root, bool link) {
  // The destination's kept versions are no source folder's copy.
  if (options_.mode == ListingMode::kDestination && IsInVersions(options_.destination, folder))
    return;
  if (progress_.CancelRequested() == CancelLevel::kEverything) return;
  DWORD now = GetTickCount();
  if (!shown_ || now - lastShown_ >= kShowEveryMs) {
    if (!options_.quiet)
      progress_.StatusReplaceLast(ListingHeader(options_) +
                                  std::to_string(alreadyFound_ + running_) + " Files Found");
    shown_ = true;
    lastShown_ = now;
  }
  std::vector<std::pair<std::string, bool>> subfolders;
  ListEntries(folder, root, link, subfolders);
  for (auto& [subfolder, isLink] : subfolders)
    if (ShouldDescend(subfolder, isLink)) ListFolder(subfolder, false, isLink);
}

}  // namespace

ListingFailure ClassifyListingFailure(DWORD error, bool root, bool link) {
  if (root && error == ERROR_PATH_NOT_FOUND) return ListingFailure::kNothing;
  return link && error == ERROR_ACCESS_DENIED ? ListingFailure::kLinkRefused
                                              : ListingFailure::kUnreadable;
}

int ListFiles(JobProgress& progress, const std::string& folder, std::vector<std::string>& list,
              int alreadyFound, const ListingOptions& options, ListingReport* report) {
  return Lister(progress, list, alreadyFound, options, report).Run(folder);
}
