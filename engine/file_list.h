// File enumeration and the path rules that tie the source and destination trees together.
#pragma once
#include <string>
#include <vector>

#include "engine/host.h"

enum class ListingMode { kSource = 0, kDestination = 1 };

// destinationFolder + sourcePath without its first three characters (its drive root).
std::string DestinationPath(const std::string& destinationFolder, const std::string& sourcePath);
// The destination path of a source folder (ends with a backslash).
std::string DestinationSubtree(const std::string& destinationFolder,
                               const std::string& sourceFolder);
// First three characters of sourceFolder + destinationPath without the destination folder.
std::string Counterpart(const std::string& destinationFolder, const std::string& sourceFolder,
                        const std::string& destinationPath);

// Appends the files below folder (depth first) to list after its first alreadyFound
// entries and returns how many it appended. The status list's last line shows the
// phase's header with the running total. In source mode Fast Mirror admits only files
// whose copy is missing or whose archive attribute is set.
int ListFiles(JobHost& host, const std::string& folder, std::vector<std::string>& list,
              int alreadyFound, ListingMode mode);
