// Deleting inside a destination copy without ever reaching through a link: a link found
// there is removed as a link, and what it points at is never listed, entered or deleted.
#pragma once
#include <string>
#include <vector>

// The files below a folder, found without following a link.
struct TreeListing {
  std::vector<std::string> files;       // full paths of plain files
  std::vector<std::string> links;       // links met: folders (ending in '\\') not entered, files
  std::vector<std::string> unreadable;  // folders that could not be listed
};
TreeListing ListTreeWithoutLinks(const std::string& folder);

// True when some level of path below folder, up to path's parent, is a link (or cannot be
// read): such a path is never one to delete through.
bool PathGoesThroughLink(const std::string& folder, const std::string& path);

struct LinkRemoval {
  int removed = 0;
  std::vector<std::string> failed;  // links left in place and folders that could not be listed
};
// Removes every link inside folder, and folder itself when it is one, as links. Only a
// folder with nothing failed may then go to a deletion that follows links. Wine 8 cannot
// remove a host symbolic link through any file call (RemoveDirectory, DeleteFile and the
// open-the-link flag all reach the target, MoveFile moves the target), so there every
// link fails and stays.
LinkRemoval RemoveLinksInside(const std::string& folder);

struct TreeDeletion {
  int deleted = 0;                // files and folders
  std::vector<std::string> left;  // links, what could not be deleted, folders still holding them
};
// Deletes folder and everything below it without entering a link; links stay where they
// are, with the folders that hold them. For a copy whose links could not be removed.
TreeDeletion DeleteTreeWithoutLinks(const std::string& folder);
