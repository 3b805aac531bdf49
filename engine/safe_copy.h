// Copying one file over its older copy so that a copy that fails part-way never costs
// the older copy: the new one is written under a temporary name beside it and takes the
// older one's place only once it is complete.
#pragma once
#include <string>

class KeptVersions;

// Copies source to destination, making missing destination folders and trying once more
// when the path was missing; clears the source's archive attribute after a good copy when
// asked. folderSwept: the caller has removed the temporaries of the destination's folder
// in this run (RemovePartialCopiesIn), so none is looked for. versions: where an older
// copy that differs from the new one goes once the new one is complete. Returns the
// failure code, 0 on success.
int CopyFileOver(const std::string& source, const std::string& destination, bool clearSourceArchive,
                 bool folderSwept = false, KeptVersions* versions = nullptr);
// Removes the temporaries a run that was cut short left in folder (ends with a backslash):
// those of a file the source folder has, and hashed short names. A file the source folder
// has by the same name is the user's copy and stays; so does one whose file is gone.
void RemovePartialCopiesIn(const std::string& folder, const std::string& sourceFolder);

// The temporary name a copy of destination is written under before it replaces it; never
// the name of a file beside source, whose own copy that name is.
std::string PartialCopyPath(const std::string& destination, const std::string& source = "");
