// The backup job's rules, free of windows and file calls: the texts it shows, which
// configurations it refuses, and which destination files it may remove.
#pragma once
#include <functional>
#include <string>
#include <vector>

// The three mode settings as one job step reads them.
struct ModeSettings {
  int fullMirror = 1;
  int deleteFiles = 1;
  int useArchiveBit = 0;
};

std::string ConfirmationText(const ModeSettings& mode);
std::string ModeLine(const ModeSettings& mode);
std::string CopySummary(int copied, int found, int skipped);
std::string CanceledLine(int copied, int found);

// Paths compare as the file system does, without regard to letter case.
std::string Upper(std::string text);
std::string WithBackslash(std::string folder);
// Whether path lies at or below folder, ignoring letter case as the file system does.
bool IsAtOrBelow(const std::string& path, const std::string& folder);
// A drive root ("E:" once its backslash is gone) or a bare share: never deleted whole.
bool IsRootPath(const std::string& path);

// The source folders of one job: as the list holds them (for the texts), normalised
// (empty when not an absolute folder path), and whether each could be listed.
struct Sources {
  std::vector<std::string> folders;
  std::vector<std::string> paths;
  std::vector<bool> available;
};
// Whether the folder (normalised) is at or below one of the folders that could not be read.
bool BelowAny(const std::string& path, const std::vector<std::string>& folders);

// Whether a destination copy overlaps the copy of a source folder that is missing:
// deleting it would delete that folder's only copy.
bool OverlapsMissingCopy(const Sources& s, const std::string& destination,
                         const std::string& subtree);

// The orphan decision for one listed destination file: it goes only when some source
// folder's copy holds it, none of those folders is missing, and none of them still has
// the file (sourceHas answers for a source path).
bool IsOrphanEntry(const Sources& s, const std::string& destination, const std::string& entry,
                   const std::function<bool(const std::string&)>& sourceHas);
