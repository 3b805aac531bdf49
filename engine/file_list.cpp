#include "engine/file_list.h"

std::string DestinationPath(const std::string& destinationFolder, const std::string& sourcePath) {
  return destinationFolder + (sourcePath.size() > 3 ? sourcePath.substr(3) : std::string());
}

std::string DestinationSubtree(const std::string& destinationFolder,
                               const std::string& sourceFolder) {
  return DestinationPath(destinationFolder, sourceFolder);
}

std::string Counterpart(const std::string& destinationFolder, const std::string& sourceFolder,
                        const std::string& destinationPath) {
  return sourceFolder.substr(0, 3) + destinationPath.substr(destinationFolder.size());
}

int ListFiles(std::string&, std::vector<std::string>&, const std::string&, ListingMode) {
  return 0;
}

bool FileExists(const std::string&) { return false; }

int MakeFolderPath(const std::string&) { return 0; }
