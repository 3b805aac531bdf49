// Job-wide state shared by the user-interface thread (the job, the worker-end check,
// the options window) and the copy worker thread.
//
// Handshake: the job fills the master list and the found count, sets the file index to 0
// and the worker-idle flag to 0, then starts the worker. The worker alone advances the
// file index; the job alone writes the cancel flag; the worker-end check (on the main
// window's timer) sets the worker-idle flag back to 1. The master list and the found
// count are only written while no worker runs.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

struct JobState {
  std::atomic<int> cancel{0};
  std::atomic<int> workerIdle{1};
  std::atomic<int> fileIndex{0};
  std::atomic<int> foundCount{0};
  std::atomic<HANDLE> workerThread{nullptr};
  // 1 from just before a worker thread is created until that thread's last instruction;
  // the worker-idle flag comes back earlier on a cancel, this one only when it has ended.
  std::atomic<int> workerAlive{0};
  // Files the worker could not copy in its run.
  std::atomic<int> failed{0};
  std::vector<std::string> masterList{std::string()};
  // The destination folder the worker copies into (ends with a backslash), and whether
  // it clears each copied source file's archive attribute.
  std::string destination;
  bool clearArchive = false;
};
