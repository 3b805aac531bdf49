// Deleting inside a destination copy without ever reaching through a link: a link found
// there is removed as a link, and what it points at is never listed, entered or deleted.
#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

// True when some level of path below folder, up to path's parent, is a link (or cannot be
// read): such a path is never one to delete through.
bool PathGoesThroughLink(const std::string& folder, const std::string& path);

// What a deletion left behind, each for what it is.
struct TreeDeletion {
  int deleted = 0;                                  // files, folders and links
  std::vector<std::string> links;                   // links that could not be removed as links
  std::vector<std::pair<std::string, int>> failed;  // with their failure codes
};
// Whether a pruning keeps a path (a folder's ends with a backslash).
using KeepPath = std::function<bool(const std::string& path, bool isFolder)>;
// Beyond keep: what a pruning never touches nor enters, whatever keep says (a link
// included), and how a file not kept goes (0 or its failure code); deleted by default.
struct PruneRules {
  std::function<bool(const std::string& path)> leaveWhole;
  std::function<int(const std::string& file)> removeFile;
};

// Removes from folder (ending with a backslash) every file and folder that keep does not
// keep, never entering a link: a link met goes as a link. A kept folder is entered, one not
// kept goes whole. Wine 8 cannot remove a host symbolic link through any file call
// (RemoveDirectory, DeleteFile and the open-the-link flag all reach the target, MoveFile
// moves the target), so there every link stays, with the folders that hold it.
TreeDeletion PruneTree(const std::string& folder, const KeepPath& keep,
                       const PruneRules& rules = {});
// Deletes folder and everything below it the same way.
TreeDeletion DeleteTreeWithoutLinks(const std::string& folder);
// Deletes a file whatever its attributes; 0, or the failure code with the attributes put back.
int DeleteFileOrKeepIt(const std::string& path);
