// Folder paths compared by what they are, not by how they are spelled: one canonical form
// for a folder path, the identity of a folder on its volume, containment decided by that
// identity, and the rules that keep a backup's deletions inside its destination copies.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// "X:\dir\" or "\\server\share\dir\": '/' read as '\', doubled backslashes, the \\?\ and
// \\?\UNC\ prefixes, "." and ".." segments and surrounding blanks taken out, the drive
// letter upper-cased, one trailing backslash. Empty when the text is not an absolute
// folder path ("", ".", "\", "Data\", "C:Data" and the like).
std::string NormalizeFolderPath(const std::string& path);

// A folder as its volume knows it: the 128-bit file ID where the volume gives one (ReFS
// promises no unique 64-bit ID), else the 64-bit file index. Some volumes (certain network
// and FAT drivers) give no index: an ID of 0 identifies nothing, so two such folders can be
// neither told apart nor matched.
struct FolderIdentity {
  ULONGLONG volume = 0;
  ULONGLONG high = 0, low = 0;
  bool known() const { return high != 0 || low != 0; }
  auto operator<=>(const FolderIdentity&) const = default;
};

// The identity from what an open folder tells: its 128-bit ID (null when the volume has
// none), else its handle information.
FolderIdentity IdentityFrom(const FILE_ID_INFO* id128, const BY_HANDLE_FILE_INFORMATION& info);
// Reads a folder's identity, and its real path when asked (left empty when the volume cannot
// give it); a link gives its target's. False when it cannot be opened.
bool ReadFolderIdentity(const std::string& folder, FolderIdentity& identity,
                        std::wstring* realPath = nullptr);
using IdentityReader = std::function<bool(const std::string& folder, FolderIdentity& identity)>;
inline const IdentityReader kReadFolderIdentity = [](const std::string& folder,
                                                     FolderIdentity& identity) {
  return ReadFolderIdentity(folder, identity);
};

// kMaybe: no identity could settle it. A check that refuses treats it as kYes; a check
// that allows a deletion treats it as kNo.
enum class Containment { kNo, kYes, kMaybe };

// Whether path is folder or lies inside it, both normalised. Decided by identity where the
// folders exist (another drive letter, a link or another spelling of the same folder
// counts); a missing folder is judged through its nearest existing ancestor.
Containment FolderContains(const std::string& folder, const std::string& path,
                           const IdentityReader& read = kReadFolderIdentity);

// Where the copy of a source path (a file, or a folder) lies: destination + the source path
// without its first three characters (its drive root).
std::string DestinationPath(const std::string& destination, const std::string& sourcePath);
// The way back, for the source folder whose copy holds destinationPath: that folder's first
// three characters + destinationPath below destination.
std::string Counterpart(const std::string& destination, const std::string& sourceFolder,
                        const std::string& destinationPath);

// True when the destination is a source folder, lies inside one or is the drive root of
// one, when a source lies inside the destination as its path shows, or when the
// destination copy of a source overlaps a source folder: the job would then delete or copy
// over a source. Paths normalised; a source that is not (empty) is ignored.
bool IsIllegalConfiguration(const std::string& destination, const std::vector<std::string>& sources,
                            const IdentityReader& read = kReadFolderIdentity);

// Whether a source folder lies inside the destination where no spelling shows it (a drive
// letter mapped onto a folder of it, a link). Only a source on the destination's volume
// can; the destination's folders are then looked through, never through a link.
bool ASourceLiesInside(const std::string& destination, const std::vector<std::string>& sources);

// Whether some source folder holds the destination folder (or may): nothing may then be
// written there, not even the log of a refusal.
bool ASourceHoldsDestination(const std::string& destination,
                             const std::vector<std::string>& sources);
