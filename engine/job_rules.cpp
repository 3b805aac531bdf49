#include "engine/job_rules.h"

#include <windows.h>

#include "engine/fs.h"
#include "engine/path_identity.h"

std::string ConfirmationText(const ModeSettings& mode) {
  std::string text = "Ready to start Backup Job...\r\n\r\n";
  if (mode.fullMirror == 1) {
    text +=
        "Full Mirror Backup - Deletes from destination what is no longer in the source folders and "
        "does a complete mirror backup to destination.\r\n\r\n";
  } else {
    text +=
        "Fast Mirror Backup - Uses the windows archive bit to determine which files have changed "
        "since the last backup, and \r\n"
        "backs up just those files.  If a file exists in the source folder, but not in the "
        "destination folder, Stowly will copy \r\n"
        "that file to the destination folder regardless of the archive bit's status.\r\n\r\n";
    text += mode.deleteFiles == 1 ? "Stowly will delete" : "Stowly will not delete";
    text +=
        " the orphaned files from the destination folder that are no longer in the source "
        "folder.\r\n\r\n";
  }
  if (mode.useArchiveBit == 1) {
    text +=
        "The windows archive bit will be cleared on all files copied.  This allows Stowly to be "
        "able to do fast mirror\r\n"
        "backups.  If you are using another backup program that uses the windows archive bit "
        "then CANCEL this backup\r\n"
        "job, and uncheck this option from the 'Options' Window.";
  } else {
    text += "The windows archive bit will be left alone.";
  }
  return text;
}

std::string ModeLine(const ModeSettings& mode) {
  std::string line =
      mode.fullMirror != 0 ? "Backup Mode = Full Mirror, " : "Backup Mode = Fast Mirror, ";
  if (mode.fullMirror == 0 && mode.deleteFiles != 0) line += "delete orphaned files, ";
  line += mode.useArchiveBit != 0 ? "clearing Archive Bit on backed up files"
                                  : "leaving Archive Bit alone on backed up files";
  return line;
}

std::string CopySummary(int copied, int found, int skipped) {
  return std::to_string(copied) + " of " + std::to_string(found) + " Files copied - " +
         std::to_string(skipped) + " Files skipped";
}

std::string CanceledLine(int copied, int found) {
  return "CANCELED!  (" + std::to_string(copied) + " out of " + std::to_string(found) +
         " Files Copied)";
}

std::string Upper(std::string text) {
  std::wstring wide = WideFromUtf8(text);
  if (!wide.empty()) CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return Utf8FromWide(wide);
}

std::string WithBackslash(std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

bool IsAtOrBelow(const std::string& path, const std::string& folder) {
  std::string p = Upper(WithBackslash(path)), f = Upper(WithBackslash(folder));
  return p.compare(0, f.size(), f) == 0;
}

bool IsRootPath(const std::string& path) {
  if (path.size() <= 2) return true;
  if (path.compare(0, 2, "\\\\") != 0) return false;
  size_t share = path.find('\\', 2);
  return share == std::string::npos || path.find('\\', share + 1) == std::string::npos;
}

bool BelowAny(const std::string& path, const std::vector<std::string>& folders) {
  for (const std::string& folder : folders)
    if (IsAtOrBelow(path, folder)) return true;
  return false;
}

bool OverlapsMissingCopy(const Sources& s, const std::string& destination,
                         const std::string& subtree) {
  for (size_t i = 0; i < s.folders.size(); ++i) {
    if (s.available[i] || s.paths[i].empty()) continue;
    std::string missing = DestinationPath(destination, s.paths[i]);
    if (IsAtOrBelow(missing, subtree) || IsAtOrBelow(subtree, missing)) return true;
  }
  return false;
}

bool IsOrphanEntry(const Sources& s, const std::string& destination, const std::string& entry,
                   const std::function<bool(const std::string&)>& sourceHas) {
  bool held = false;
  for (size_t i = 0; i < s.paths.size(); ++i) {
    if (s.paths[i].empty() || !IsAtOrBelow(entry, DestinationPath(destination, s.paths[i])))
      continue;
    if (!s.available[i]) return false;
    held = true;
    if (sourceHas(Counterpart(destination, s.paths[i], entry))) return false;
  }
  return held;
}
