// Failure codes: the number a failed file operation leaves behind, and its message.
#pragma once
#include <windows.h>

inline constexpr int kFileNotFound = 53;
inline constexpr int kDiskFull = 61;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kDriveNotReady = 71;
inline constexpr int kPathNotFound = 76;

int FailureCodeFromWin32(DWORD error);
const char* FailureMessage(int code);

// File-system calls run with the critical-error and open-file boxes off, so an unready
// drive gives a failure code instead of a system dialog; the old mode comes back after.
class QuietErrors {
 public:
  QuietErrors();
  ~QuietErrors();
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  UINT old_;
};
