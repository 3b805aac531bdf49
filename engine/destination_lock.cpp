#include "engine/destination_lock.h"

namespace {

constexpr int kLockAttempts = 5;

HANDLE CreateNew(const std::string& path, DWORD flags) {
  QuietErrors quiet;
  return CreateFileW(FilePathW(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                     CREATE_NEW, flags, nullptr);
}

// Creates the named file new and deletes it again; ERROR_FILE_EXISTS when the name is taken.
DWORD CreateAndRemove(const std::string& path) {
  HANDLE file = CreateNew(path, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  // Closing is part of the test (a full or vanished medium can fail it), so it is checked.
  if (CloseHandle(file)) return ERROR_SUCCESS;
  DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

}  // namespace

DestinationLock::State DestinationLock::Acquire(const std::string& destinationFolder) {
  Release();
  std::string path = destinationFolder + kLockFileName;
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    file_.Reset(CreateNew(path, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE));
    if (file_) return state_ = State::kHeld;
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      // A lock file another job is closing is briefly pending deletion.
      if (error == ERROR_ACCESS_DENIED && attempt + 1 < kLockAttempts) {
        Sleep(20);
        continue;
      }
      return state_ = State::kFailed;
    }
    // A file of that name that nobody holds open (a user's, or one a power cut left) is
    // held as it is, and never deleted.
    QuietErrors quiet;
    file_.Reset(CreateFileW(FilePathW(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file_) return state_ = State::kHeld;
    if (GetLastError() == ERROR_SHARING_VIOLATION) return state_ = State::kBusy;
  }
  return state_ = State::kFailed;
}

void DestinationLock::Release() {
  file_.Reset();
  state_ = State::kFree;
}

int ProveWritable(const std::string& destinationFolder) {
  std::string name = destinationFolder + "Stowly.Test";
  DWORD error = CreateAndRemove(name);
  for (int n = 1; error == ERROR_FILE_EXISTS && n < 100; ++n)
    error = CreateAndRemove(destinationFolder + "Stowly." + std::to_string(GetCurrentProcessId()) +
                            "-" + std::to_string(n) + ".Test");
  return error == ERROR_SUCCESS ? 0 : FailureCodeFromWin32(error);
}
