// Kept versions: before a run replaces a copy that has changed, or deletes one, the older
// copy moves (a rename on the destination's volume, no bytes copied) to
// Stowly.Versions\<run start>\<its path below the destination folder>. The versions are
// plain files, got back by copying them. Runs' folders older than the kept days go at the
// start of a run, and the oldest go when a copy finds no room.
#pragma once
#include <windows.h>

#include <atomic>
#include <set>
#include <string>
#include <vector>

#include "engine/log_file.h"

inline constexpr const char* kVersionsFolderName = "Stowly.Versions";

// A run's folder name: its start in local time, "YYYY-MM-DD HH.MM.SS".
std::string VersionFolderName(const SYSTEMTIME& time);
// Whether name is a run's folder name (a real date and time), and the time it names.
bool ParseVersionFolderName(const std::string& name, SYSTEMTIME& time);
// Whether path is the destination's versions folder or lies below it.
bool IsInVersions(const std::string& destination, const std::string& path);

// One job's versions, used on the job's thread only.
class KeptVersions {
 public:
  explicit KeptVersions(LogWriter& log) : log_(log) {}
  KeptVersions(const KeptVersions&) = delete;
  KeptVersions& operator=(const KeptVersions&) = delete;

  // A run starts on destination (normalised); days 0 keeps nothing this run.
  void Start(const std::string& destination, int days);
  bool On() const { return days_ > 0; }
  // Deletes the runs' folders more than the kept days older than this run, each logged.
  void DeleteExpired();
  // Moves a file below the destination into this run's folder, making room when the disk
  // is full; 0, or the failure code with the file where it was.
  int Keep(const std::string& file);
  // Puts a file Keep moved back in its place.
  void PutBack(const std::string& file);
  // Deletes the oldest run's folder but this run's, logged; false when none is left.
  bool MakeRoom();
  bool KeptAny() const { return kept_ > 0; }
  // This run's folder, ending with a backslash.
  std::string RunFolder() const { return root_ + runName_ + "\\"; }

 private:
  std::vector<std::string> RunFolders() const;
  void Delete(const std::string& name, const std::string& line);
  std::string KeptPath(const std::string& file) const;

  LogWriter& log_;
  std::string destination_, root_, runName_;
  ULONGLONG runStart_ = 0;
  int days_ = 0;
  std::atomic<int> kept_{0};  // files in this run's folder
  // Folders MakeRoom went for: one that cannot be deleted whole is not tried again.
  std::set<std::string> tried_;
};
