#include "engine/safe_copy.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstdio>

#include "engine/failure.h"
#include "engine/fs.h"
#include "engine/versions.h"

namespace {

constexpr char kPartialSuffix[] = ".Stowly-Partial";
constexpr size_t kSuffixLength = sizeof kPartialSuffix - 1;
constexpr size_t kLongestName = 255;  // characters in one path component

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A drive or share root is hidden and system; given to a destination folder, those bits
// would make the backup vanish from Explorer.
void CopyFolderAttributes(const std::string& sourceFolder, const std::string& destinationFolder) {
  const std::wstring from = FilePathW(FolderPathForCalls(sourceFolder));
  if (PathIsRootW(from.c_str())) return;
  DWORD attributes = GetFileAttributesW(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) attributes = 0;
  SetFileAttributesW(FilePathW(FolderPathForCalls(destinationFolder)).c_str(),
                     attributes & kSettableAttributes);
}

// A short temporary name made from a long one (FNV-1a), for a name with no room for the
// suffix or one the source folder has itself.
std::string ShortName(const std::string& name, unsigned salt) {
  std::uint64_t hash = 14695981039346656037ull ^ salt;
  for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
  char hex[17] = {};
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("~") + hex + kPartialSuffix;
}

// A file, not a folder, stands at path (no trailing backslash).
bool FileStandsAt(const std::string& path) {
  DWORD attributes = FileAttributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A temporary name is a cut run's only when it is a hashed short name or names a file the
// source folder has; any other is the copy of a user's file whose source has gone, which
// the orphan rules (and the kept versions) decide about.
bool LeftByACutRun(const std::string& name, const std::string& sourceFolder) {
  if (name.size() <= kSuffixLength) return false;
  const std::string base = name.substr(0, name.size() - kSuffixLength);
  if (base.size() == 17 && base[0] == '~' &&
      base.find_first_not_of("0123456789abcdef", 1) == std::string::npos)
    return true;
  return FileStandsAt(sourceFolder + base);
}

int CopyOnce(const std::wstring& source, const std::wstring& target) {
  return CopyFileW(source.c_str(), target.c_str(), FALSE) ? 0 : LastFailureCode();
}

// Whether a file (no folder) stands at one of the levels of path's folder.
bool FileStandsOnPath(const std::string& path) {
  for (std::string level = FolderOf(path); level.size() > RootLength(level) + 1;
       level = FolderOf(level.substr(0, level.size() - 1)))
    if (FileStandsAt(level.substr(0, level.size() - 1))) return true;
  return false;
}

// Writes the new copy under its temporary name; a missing destination path is made and
// the copy tried once more. A temporary left by a run that was cut short goes first (unless
// the caller has swept the folder), so none of its attributes can stick to the new copy.
int CopyToPartial(const std::string& source, const std::string& destination,
                  const std::string& partial, bool swept) {
  const std::wstring sourceW = FilePathW(source), partialW = FilePathW(partial);
  if (!swept && GetFileAttributesW(partialW.c_str()) != INVALID_FILE_ATTRIBUTES)
    DeleteAnyFile(partial);
  int code = CopyOnce(sourceW, partialW);
  if (code != kPathNotFound) return code;
  MakeFolderPath(FolderOf(destination));
  CopyFolderAttributes(FolderOf(source), FolderOf(destination));
  code = CopyOnce(sourceW, partialW);
  return code == kPathNotFound && FileStandsOnPath(destination) ? kFileInTheWay : code;
}

// Where the source had a folder of the file's name, an empty one (never a link) gives way
// to the file; one that still holds files is reported where it stands.
int ClearFolderInTheWay(const std::wstring& destination, DWORD attributes) {
  if (IsLinkAt(destination, attributes)) return kFolderInTheWay;
  SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (RemoveDirectoryW(destination.c_str())) return 0;
  SetFileAttributesW(destination.c_str(), attributes & kSettableAttributes);
  return kFolderInTheWay;
}

// The complete new copy takes the older copy's place, even a read-only, hidden or system
// one (its attributes are looked at only when the plain replace is refused); when the
// older copy cannot be replaced (in use) it keeps its attributes too.
int ReplaceOlderCopy(const std::wstring& partial, const std::wstring& destination) {
  if (MoveFileExW(partial.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  int code = LastFailureCode();
  DWORD older = GetFileAttributesW(destination.c_str());
  if (older == INVALID_FILE_ATTRIBUTES) return code;
  if (older & FILE_ATTRIBUTE_DIRECTORY) {
    if (int cleared = ClearFolderInTheWay(destination, older)) return cleared;
    return MoveFileExW(partial.c_str(), destination.c_str(), 0) ? 0 : LastFailureCode();
  }
  if (!(older & kSettableAttributes & ~FILE_ATTRIBUTE_ARCHIVE)) return code;
  SetFileAttributesW(destination.c_str(), 0);
  if (MoveFileExW(partial.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  code = LastFailureCode();
  SetFileAttributesW(destination.c_str(), older & kSettableAttributes);
  return code;
}

// A virus scanner, the search indexer or a backup agent often holds a freshly written file
// open for a moment, so a refused move is tried again for about a second.
constexpr int kReplaceRetries = 8;
constexpr DWORD kReplaceRetryMs = 125;

template <typename Move>
int AllowingAMoment(const Move& move) {
  int code = move();
  for (int retry = 0; code == kPermissionDenied && retry < kReplaceRetries; ++retry) {
    Sleep(kReplaceRetryMs);
    code = move();
  }
  return code;
}

// An older copy (a plain file, never a link) whose size or last-write time is not the new
// copy's; both lie on one volume, so its time resolution cannot tell them apart.
bool OlderCopyDiffers(const std::wstring& partial, const std::wstring& destination) {
  WIN32_FILE_ATTRIBUTE_DATA older, newer;
  if (!GetFileAttributesExW(destination.c_str(), GetFileExInfoStandard, &older) ||
      (older.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      !GetFileAttributesExW(partial.c_str(), GetFileExInfoStandard, &newer))
    return false;
  return older.nFileSizeHigh != newer.nFileSizeHigh || older.nFileSizeLow != newer.nFileSizeLow ||
         CompareFileTime(&older.ftLastWriteTime, &newer.ftLastWriteTime) != 0;
}

// Changes the archive bit alone (no other attribute of the user's file); true when the bit
// was set and is now cleared. A source whose attributes cannot be read is left alone.
bool SetArchiveBit(const std::wstring& source, bool set) {
  DWORD attributes = GetFileAttributesW(source.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  const DWORD archive = FILE_ATTRIBUTE_ARCHIVE;
  if (((attributes & archive) != 0) == set) return false;
  return SetFileAttributesW(source.c_str(), set ? attributes | archive : attributes & ~archive) !=
         0;
}

}  // namespace

std::string PartialCopyPath(const std::string& destination, const std::string& source) {
  const std::string folder = FolderOf(destination);
  const std::string name = destination.substr(folder.size());
  std::string partial = WideFromUtf8(name).size() + kSuffixLength <= kLongestName
                            ? destination + kPartialSuffix
                            : folder + ShortName(name, 0);
  // A source file of that name has its own copy there, which the temporary must not be.
  const std::string sourceFolder = FolderOf(source);
  for (unsigned salt = 1;
       !source.empty() && salt < 100 && FileExists(sourceFolder + partial.substr(folder.size()));
       ++salt)
    partial = folder + ShortName(name, salt);
  return partial;
}

void RemovePartialCopiesIn(const std::string& folder, const std::string& sourceFolder) {
  for (FolderEntries entry(folder, std::string("*") + kPartialSuffix); entry.Next();) {
    const std::string name = entry.name();
    if (!entry.isFolder() && !FileExists(sourceFolder + name) && LeftByACutRun(name, sourceFolder))
      DeleteAnyFile(folder + name);
  }
}

int CopyFileOver(const std::string& source, const std::string& destination, bool clearSourceArchive,
                 bool folderSwept, KeptVersions* versions) {
  const std::wstring destinationW = FilePathW(destination);
  const std::string partial = PartialCopyPath(destination, source);
  const std::wstring partialW = FilePathW(partial);
  QuietErrors quiet;
  // Cleared before the copy, so a write made while it runs sets the bit again for the next
  // Fast Mirror; a failed copy gets its bit back.
  const std::wstring sourceW = FilePathW(source);
  const bool cleared = clearSourceArchive && SetArchiveBit(sourceW, false);
  int code = CopyToPartial(source, destination, partial, folderSwept);
  // The older copy is kept only once the new one is complete, and only when it differs.
  bool kept = false;
  if (code == 0 && versions && versions->On() && OlderCopyDiffers(partialW, destinationW))
    kept = (code = AllowingAMoment([&] { return versions->Keep(destination); })) == 0;
  if (code == 0) code = AllowingAMoment([&] { return ReplaceOlderCopy(partialW, destinationW); });
  if (code != 0) {
    if (kept) versions->PutBack(destination);
    DeleteAnyFile(partial);
    if (cleared) SetArchiveBit(sourceW, true);
  }
  return code;
}
