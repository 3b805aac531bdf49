#include "engine/path_identity.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "engine/fs.h"

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Folder names compare without regard to letter case, as the file system does.
bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  return true;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && StartsWithIgnoringCase(a, b);
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsValidName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 32 || std::string("<>:\"|?*").find(c) != std::string::npos)
      return false;
  return true;
}

std::vector<std::string> Segments(const std::string& text) {
  std::vector<std::string> segments;
  size_t start = 0;
  for (size_t end = 0; end <= text.size(); ++end) {
    if (end < text.size() && text[end] != '\\') continue;
    segments.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return segments;
}

// "X:\" or "\\server\share\" at the start of a prefix-free path, and where the rest begins.
std::string RootAndRest(const std::string& path, size_t& rest) {
  if (path.size() >= 3 && IsLetter(path[0]) && path[1] == ':' && path[2] == '\\') {
    rest = 3;
    return std::string(1, static_cast<char>(toupper(path[0]))) + ":\\";
  }
  if (!StartsWith(path, "\\\\")) return {};
  size_t serverEnd = path.find('\\', 2);
  if (serverEnd == std::string::npos) return {};
  size_t shareEnd = path.find('\\', serverEnd + 1);
  if (shareEnd == std::string::npos) shareEnd = path.size();
  std::string server = path.substr(2, serverEnd - 2);
  std::string share = path.substr(serverEnd + 1, shareEnd - serverEnd - 1);
  // "\\.\" and "\\?\" name devices, not shares.
  if (!IsValidName(server) || server == "." || !IsValidName(share)) return {};
  rest = shareEnd;
  return "\\\\" + server + "\\" + share + "\\";
}

std::string RootOf(const std::string& normalized) {
  size_t rest = 0;
  return RootAndRest(normalized, rest);
}

// The folder above a normalised folder; empty above a root.
std::string ParentOf(const std::string& folder) {
  if (folder.size() <= RootOf(folder).size()) return {};
  size_t cut = folder.rfind('\\', folder.size() - 2);
  return folder.substr(0, cut + 1);
}

enum class Sameness { kNo, kYes, kMaybe };

// Two existing folders. Without file indexes the text decides, except where two different
// roots sit on one volume: a second name for the same place could hide behind it.
Sameness SameFolder(const std::string& a, const FolderIdentity& ia, const std::string& b,
                    const FolderIdentity& ib) {
  if (ia.known() && ib.known()) return ia == ib ? Sameness::kYes : Sameness::kNo;
  if (ia.volume != ib.volume) return Sameness::kNo;
  if (EqualIgnoringCase(a, b)) return Sameness::kYes;
  return EqualIgnoringCase(RootOf(a), RootOf(b)) ? Sameness::kNo : Sameness::kMaybe;
}

struct Anchor {
  std::string path;
  FolderIdentity identity;
  std::string tail;  // what of the folder lies below the anchor, not yet made
};

std::optional<Anchor> NearestExisting(const std::string& folder, const IdentityReader& read) {
  for (std::string at = folder; !at.empty(); at = ParentOf(at)) {
    FolderIdentity identity;
    if (read(at, identity)) return Anchor{at, identity, folder.substr(at.size())};
  }
  return std::nullopt;
}

// Reads each folder once: every pair of sources meets the same folders and ancestors
// again, and each read opens the folder (a round trip to a server or through Wine).
IdentityReader Remembering(const IdentityReader& read) {
  auto seen = std::make_shared<std::map<std::string, std::optional<FolderIdentity>>>();
  return [read, seen](const std::string& folder, FolderIdentity& identity) {
    auto [at, added] = seen->try_emplace(folder);
    FolderIdentity found;
    if (added && read(folder, found)) at->second = found;
    if (at->second) identity = *at->second;
    return at->second.has_value();
  };
}

// Depth first over the folders below folder (ending with a backslash), never through a
// link; true as soon as one of them is among the wanted.
bool FolderBelowIsAny(const std::string& folder, const std::vector<FolderIdentity>& wanted) {
  std::vector<std::string> subfolders;
  for (FolderEntries entry(folder); entry.Next();)
    if (entry.isFolder() && !entry.isLink()) subfolders.push_back(folder + entry.name() + "\\");
  for (const std::string& subfolder : subfolders) {
    FolderIdentity identity;
    if (ReadFolderIdentity(subfolder, identity) && identity.known() &&
        std::find(wanted.begin(), wanted.end(), identity) != wanted.end())
      return true;
    if (FolderBelowIsAny(subfolder, wanted)) return true;
  }
  return false;
}

// The folder's path as its volume gives it, ending with a backslash; empty when it cannot.
std::wstring RealPath(HANDLE folder) {
  std::wstring buffer(32768, L'\0');
  DWORD length =
      GetFinalPathNameByHandleW(folder, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (length == 0 || length >= buffer.size()) return {};
  buffer.resize(length);
  if (buffer.back() != L'\\') buffer += L'\\';
  return buffer;
}

}  // namespace

std::string NormalizeFolderPath(const std::string& raw) {
  size_t first = raw.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  std::string path = raw.substr(first, raw.find_last_not_of(" \t") - first + 1);
  for (char& c : path)
    if (c == '/') c = '\\';
  if (StartsWith(path, "\\\\?\\UNC\\"))
    path = "\\\\" + path.substr(8);
  else if (StartsWith(path, "\\\\?\\"))
    path = path.substr(4);
  size_t rest = 0;
  std::string root = RootAndRest(path, rest);
  if (root.empty()) return {};
  std::vector<std::string> kept;
  for (const std::string& segment : Segments(path.substr(rest))) {
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();  // ".." at the root stays at the root
      continue;
    }
    if (!IsValidName(segment)) return {};
    kept.push_back(segment);
  }
  for (const std::string& segment : kept) root += segment + "\\";
  return root;
}

FolderIdentity IdentityFrom(const FILE_ID_INFO* id128, const BY_HANDLE_FILE_INFORMATION& info) {
  FolderIdentity identity;
  if (id128) {
    static_assert(sizeof id128->FileId.Identifier == 2 * sizeof(ULONGLONG));
    std::memcpy(&identity.low, id128->FileId.Identifier, sizeof identity.low);
    std::memcpy(&identity.high, id128->FileId.Identifier + sizeof identity.low,
                sizeof identity.high);
    identity.volume = id128->VolumeSerialNumber;
  }
  if (identity.known()) return identity;
  identity.volume = info.dwVolumeSerialNumber;
  identity.low = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return identity;
}

bool ReadFolderIdentity(const std::string& folder, FolderIdentity& identity,
                        std::wstring* realPath) {
  QuietErrors quiet;
  ScopedHandle handle(CreateFileW(FilePathW(folder).c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return false;
  FILE_ID_INFO id128 = {};
  BY_HANDLE_FILE_INFORMATION info = {};
  bool has128 = GetFileInformationByHandleEx(handle.get(), FileIdInfo, &id128, sizeof id128) != 0;
  identity = IdentityFrom(has128 ? &id128 : nullptr, info);
  if (!identity.known()) {
    if (!GetFileInformationByHandle(handle.get(), &info)) return false;
    identity = IdentityFrom(nullptr, info);
  }
  if (realPath) *realPath = RealPath(handle.get());
  return true;
}

Containment FolderContains(const std::string& folder, const std::string& path,
                           const IdentityReader& read) {
  if (folder.empty() || path.empty()) return Containment::kMaybe;
  if (StartsWithIgnoringCase(path, folder)) return Containment::kYes;
  std::optional<Anchor> anchor = NearestExisting(folder, read);
  if (!anchor) return Containment::kNo;
  // Some existing folder on the way to path must be the anchor, with the rest of the way
  // running through what of folder is not there yet.
  Containment result = Containment::kNo;
  for (std::string at = path; !at.empty(); at = ParentOf(at)) {
    FolderIdentity identity;
    if (!read(at, identity)) continue;
    if (!StartsWithIgnoringCase(path.substr(at.size()), anchor->tail)) continue;
    Sameness same = SameFolder(anchor->path, anchor->identity, at, identity);
    if (same == Sameness::kYes) return Containment::kYes;
    if (same == Sameness::kMaybe) result = Containment::kMaybe;
  }
  return result;
}

std::string DestinationPath(const std::string& destination, const std::string& sourcePath) {
  return destination + (sourcePath.size() > 3 ? sourcePath.substr(3) : std::string());
}

std::string Counterpart(const std::string& destination, const std::string& sourceFolder,
                        const std::string& destinationPath) {
  std::string below = destinationPath.size() > destination.size()
                          ? destinationPath.substr(destination.size())
                          : std::string();
  return sourceFolder.substr(0, 3) + below;
}

bool IsIllegalConfiguration(const std::string& destination, const std::vector<std::string>& sources,
                            const IdentityReader& uncached) {
  if (destination.empty()) return true;
  const IdentityReader read = Remembering(uncached);
  auto overlaps = [&](const std::string& a, const std::string& b) {
    return FolderContains(a, b, read) != Containment::kNo ||
           FolderContains(b, a, read) != Containment::kNo;
  };
  for (const std::string& source : sources) {
    if (source.empty()) continue;
    if (FolderContains(source, destination, read) != Containment::kNo) return true;
    if (FolderContains(destination, source, read) != Containment::kNo) return true;
    std::string root = RootOf(source);
    if (FolderContains(root, destination, read) != Containment::kNo &&
        FolderContains(destination, root, read) != Containment::kNo)
      return true;
    std::string copy = DestinationPath(destination, source);
    for (const std::string& other : sources)
      if (!other.empty() && overlaps(copy, other)) return true;
  }
  return false;
}

bool ASourceLiesInside(const std::string& destination, const std::vector<std::string>& sources) {
  FolderIdentity target;
  if (!ReadFolderIdentity(destination, target) || !target.known()) return false;
  std::vector<FolderIdentity> wanted;
  for (const std::string& source : sources) {
    FolderIdentity identity;
    if (!source.empty() && ReadFolderIdentity(source, identity) && identity.known() &&
        identity.volume == target.volume)
      wanted.push_back(identity);
  }
  return !wanted.empty() && FolderBelowIsAny(destination, wanted);
}

bool ASourceHoldsDestination(const std::string& destination,
                             const std::vector<std::string>& sources) {
  for (const std::string& source : sources)
    if (!source.empty() && FolderContains(source, destination) != Containment::kNo) return true;
  return destination.empty();
}
