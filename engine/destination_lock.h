// One job per destination folder, and a write test that leaves the user's files alone.
#pragma once
#include <string>

#include "engine/failure.h"
#include "engine/fs.h"

inline constexpr const char* kLockFileName = "Stowly.lock";
inline constexpr const char* kDestinationBusyLine =
    "Destination folder is in use by another backup job...Operation canceled.";

// A lock file held open, unshared, in the destination folder for as long as the job runs.
// It is opened with delete-on-close, so a crashed job leaves no stale lock: the system
// closes the handle and the file goes with it.
class DestinationLock {
 public:
  enum class State { kFree, kHeld, kBusy, kFailed };
  DestinationLock() = default;
  DestinationLock(const DestinationLock&) = delete;
  DestinationLock& operator=(const DestinationLock&) = delete;

  // destinationFolder ends with a backslash. kBusy: another job holds the lock. kFailed:
  // the folder refused the lock file.
  State Acquire(const std::string& destinationFolder);
  void Release();
  State state() const { return state_; }

 private:
  ScopedHandle file_;
  State state_ = State::kFree;
};

// 0 when the destination folder takes a new file, else the failure code. Only a file this
// call created is deleted: a "Stowly.Test" of the user's is left as it is, and another,
// new name is tried instead.
int ProveWritable(const std::string& destinationFolder);
