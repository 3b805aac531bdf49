// Listing the files of a source folder or of its copy; a listed file's copy lies at its
// DestinationPath.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/job_progress.h"
#include "engine/path_identity.h"

enum class ListingMode { kSource = 0, kDestination = 1 };

// How a listing runs. The destination folder (normalised) is never entered from a
// source, and gives Fast Mirror its change filter; a quiet listing leaves the status
// list alone.
struct ListingOptions {
  ListingMode mode = ListingMode::kSource;
  std::string destination;
  bool quiet = false;
  bool fullMirror = true;  // else a source listing admits only changed and missing files
};

// What a listing met besides files: folders it could not read (with the failure code),
// online-only files it did not fetch, and links it did not follow.
struct ListingReport {
  std::vector<std::pair<std::string, int>> unreadable;
  std::vector<std::string> onlineOnly;
  std::vector<std::string> linksListedAlready;
  std::vector<std::string> linksIntoDestination;
  std::vector<std::string> linksRefused;
};

// What a folder's failed listing means: nothing there (a missing root), a link not followed
// (a link whose listing is refused, as the profile's old junctions refuse everyone; it
// protects no copy), or a folder that could not be read. link: the folder was reached
// through a link.
enum class ListingFailure { kNothing, kLinkRefused, kUnreadable };
ListingFailure ClassifyListingFailure(DWORD error, bool root, bool link);

// Appends the files below folder (depth first) to list after its first alreadyFound
// entries and returns how many it appended. The status list's last line shows the
// phase's header with the running total. In source mode Fast Mirror admits only files
// whose copy is missing or whose archive attribute is set. A destination listing never
// follows a link. A listing asked to stop everything ends early.
int ListFiles(JobProgress& progress, const std::string& folder, std::vector<std::string>& list,
              int alreadyFound, const ListingOptions& options, ListingReport* report = nullptr);
