// Copying one file over its older copy so that a copy that fails part-way never costs
// the older copy: the new one is written under a temporary name beside it and takes the
// older one's place only once it is complete.
#pragma once
#include <string>

// Copies source to destination, making missing destination folders and trying once more
// when the path was missing; clears the source's archive attribute after a good copy when
// asked. folderSwept: the caller has removed the temporaries of the destination's folder
// in this run (RemovePartialCopiesIn), so none is looked for. Returns the failure code, 0
// on success.
int CopyFileOver(const std::string& source, const std::string& destination, bool clearSourceArchive,
                 bool folderSwept = false);
// Removes the temporaries a run that was cut short left in folder (ends with a backslash).
void RemovePartialCopiesIn(const std::string& folder);

// The temporary name a copy of destination is written under before it replaces it.
std::string PartialCopyPath(const std::string& destination);
// True when the file name (with or without its folder) is one of our temporary names.
bool IsPartialCopyName(const std::string& path);
// A listing passes over temporary copies, which are never a backup nor a source; one that
// an interrupted run left behind goes when `remove` is set. True when path is one.
bool PassOverPartialCopy(const std::string& path, bool remove);
