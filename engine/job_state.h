// What a job's copy phase works on, all on the job's thread: the master list and its count,
// filled before copying begins, the destination it copies into, and how far it got.
#pragma once
#include <string>
#include <vector>

struct JobState {
  int fileIndex = 0;   // 1-based number of the entry in hand; found count + 1 after a whole run
  int foundCount = 0;  // entries of the master list in this phase
  int failed = 0;      // files the copy phase could not copy
  std::vector<std::string> masterList{std::string()};
  // The destination folder the copies go into (ends with a backslash), and whether each
  // copied source file's archive attribute is cleared.
  std::string destination;
  bool clearArchive = false;
};
