#include "engine/versions.h"

#include <algorithm>
#include <cstdio>

#include "engine/failure.h"
#include "engine/fs.h"
#include "engine/job_rules.h"
#include "engine/link_safety.h"

namespace {

constexpr ULONGLONG kTicksPerDay = 864000000000ull;  // of 100 ns

// The time as 100 ns ticks (local times compare as they are); 0 for no real time.
ULONGLONG Ticks(const SYSTEMTIME& time) {
  FILETIME ticks;
  if (!SystemTimeToFileTime(&time, &ticks)) return 0;
  return (ULONGLONG{ticks.dwHighDateTime} << 32) | ticks.dwLowDateTime;
}

// Never through a link: the versions folder, or a folder in it, could lead out of the
// destination.
int MoveAside(const std::string& destination, const std::string& file, const std::string& kept) {
  if (PathGoesThroughLink(destination, kept)) return kThroughLink;
  if (int code = MakeFolderPath(kept.substr(0, kept.rfind('\\') + 1))) return code;
  QuietErrors quiet;
  return MoveFileExW(FilePathW(file).c_str(), FilePathW(kept).c_str(), 0) ? 0 : LastFailureCode();
}

}  // namespace

std::string VersionFolderName(const SYSTEMTIME& time) {
  char name[40];
  std::snprintf(name, sizeof name, "%04u-%02u-%02u %02u.%02u.%02u", unsigned{time.wYear},
                unsigned{time.wMonth}, unsigned{time.wDay}, unsigned{time.wHour},
                unsigned{time.wMinute}, unsigned{time.wSecond});
  return name;
}

bool ParseVersionFolderName(const std::string& name, SYSTEMTIME& time) {
  const std::string form = "0000-00-00 00.00.00";
  if (name.size() != form.size()) return false;
  for (size_t i = 0; i < form.size(); ++i)
    if (form[i] == '0' ? name[i] < '0' || name[i] > '9' : name[i] != form[i]) return false;
  auto number = [&](size_t at, size_t digits) {
    WORD n = 0;
    for (size_t i = at; i < at + digits; ++i) n = static_cast<WORD>(n * 10 + (name[i] - '0'));
    return n;
  };
  time = {};
  time.wYear = number(0, 4), time.wMonth = number(5, 2), time.wDay = number(8, 2);
  time.wHour = number(11, 2), time.wMinute = number(14, 2), time.wSecond = number(17, 2);
  return Ticks(time) != 0;  // a 30 February is the user's name, not a date
}

bool IsInVersions(const std::string& destination, const std::string& path) {
  return !destination.empty() && IsAtOrBelow(path, destination + kVersionsFolderName);
}

void KeptVersions::Start(const std::string& destination, int days) {
  destination_ = destination;
  root_ = destination + kVersionsFolderName + "\\";
  days_ = days;
  kept_ = 0;
  tried_.clear();
  SYSTEMTIME now;
  GetLocalTime(&now);
  // A run in the same second as the one before would find that run's folder taken; the
  // next second is free, since the lock lets no other run start meanwhile.
  if (On() && FileExists(root_ + VersionFolderName(now))) {
    Sleep(1000u - now.wMilliseconds);
    GetLocalTime(&now);
  }
  runName_ = VersionFolderName(now);
  runStart_ = Ticks(now);
}

// The runs' folders, oldest first: real folders (never links) named by a date and time.
// Anything else in the versions folder is the user's.
std::vector<std::string> KeptVersions::RunFolders() const {
  std::vector<std::string> names;
  if (!On() || PathGoesThroughLink(destination_, root_ + "?")) return names;
  for (FolderEntries entry(root_); entry.Next();) {
    const DWORD kind =
        entry.attributes() & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    std::string name = entry.name();
    SYSTEMTIME time;
    if (kind == FILE_ATTRIBUTE_DIRECTORY && ParseVersionFolderName(name, time))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void KeptVersions::Delete(const std::string& name, const std::string& line) {
  const std::string folder = root_ + name + "\\";
  TreeDeletion left = DeleteTreeWithoutLinks(folder);
  for (const std::string& link : left.links) log_.Write("  Link left in place: " + link);
  for (const auto& [path, code] : left.failed) log_.Write("  " + ErrorLine(code, path));
  if (left.links.empty() && left.failed.empty()) log_.Write(line + folder);
}

void KeptVersions::DeleteExpired() {
  for (const std::string& name : RunFolders()) {
    SYSTEMTIME time;
    ParseVersionFolderName(name, time);
    const ULONGLONG made = Ticks(time);
    if (runStart_ > made && runStart_ - made > kTicksPerDay * static_cast<ULONGLONG>(days_))
      Delete(name, "  Deleted old versions ");
  }
}

std::string KeptVersions::KeptPath(const std::string& file) const {
  return RunFolder() + file.substr(destination_.size());
}

int KeptVersions::Keep(const std::string& file) {
  if (!On() || file.size() <= destination_.size()) return kPathNotFound;
  for (;;) {
    int code = MoveAside(destination_, file, KeptPath(file));
    if (code == 0) ++kept_;
    if (code != kDiskFull || !MakeRoom()) return code;
  }
}

void KeptVersions::PutBack(const std::string& file) {
  QuietErrors quiet;
  if (MoveFileExW(FilePathW(KeptPath(file)).c_str(), FilePathW(file).c_str(), 0)) --kept_;
}

bool KeptVersions::MakeRoom() {
  for (const std::string& name : RunFolders()) {
    if (name == runName_ || !tried_.insert(name).second) continue;
    Delete(name, "  Disk full, deleted old versions ");
    return true;
  }
  return false;
}
