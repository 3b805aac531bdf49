// File enumeration and the path rules that tie the source and destination trees together.
#pragma once
#include <string>
#include <vector>

enum class ListingMode { kSource = 0, kDestination = 1 };

// destinationFolder + sourcePath without its first three characters (its drive root).
std::string DestinationPath(const std::string& destinationFolder, const std::string& sourcePath);
// The destination path of a source folder (ends with a backslash).
std::string DestinationSubtree(const std::string& destinationFolder,
                               const std::string& sourceFolder);
// First three characters of sourceFolder + destinationPath without the destination folder.
std::string Counterpart(const std::string& destinationFolder, const std::string& sourceFolder,
                        const std::string& destinationPath);

// Appends the files below folder (depth first) to list after the first found-count
// entries; returns the number appended from the outermost call.
int ListFiles(std::string& folder, std::vector<std::string>& list, const std::string& mask,
              ListingMode mode);
bool FileExists(const std::string& path);
// Creates every missing level of a folder path; 0 or the failure code of the first failure.
int MakeFolderPath(const std::string& folder);

// The engine's paths are ANSI text (UTF-8 under the manifest's code page); the file calls
// take them through the W functions so a path longer than MAX_PATH is never cut: such a
// path gets the \\?\ prefix (\\?\UNC\ for a network path) after it is made absolute.
std::wstring FilePathW(const std::string& path);
std::string AnsiFromWide(const std::wstring& text);
