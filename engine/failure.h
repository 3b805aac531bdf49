// Failure codes: the number a failed file operation leaves behind, and its message; and
// the guards every file-system call of the engine runs inside.
#pragma once
#include <windows.h>

inline constexpr int kFileNotFound = 53;
inline constexpr int kDiskFull = 61;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kDriveNotReady = 71;
inline constexpr int kPathNotFound = 76;
// Given to the few Win32 errors below 40 that no row of the table names.
inline constexpr int kUnclassified = 51;

int FailureCodeFromWin32(DWORD error);
// The failure code of the calling thread's last Win32 error.
int LastFailureCode();
const char* FailureMessage(int code);

// File-system calls run with the critical-error and open-file boxes off, so an unready
// drive gives a failure code instead of a system dialog; the old mode comes back after.
// The mode is the calling thread's own, so the worker and the user-interface thread
// cannot restore each other's mode out of order.
class QuietErrors {
 public:
  QuietErrors();
  ~QuietErrors();
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  DWORD old_ = 0;
  bool set_ = false;
};

// Owns a kernel handle (file, find, process, timer) and closes it once.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void Reset(HANDLE h = nullptr) {
    if (h_) CloseHandle(h_);
    h_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
  }

 private:
  HANDLE h_ = nullptr;
};

// Owns a FindFirstFile search handle.
class ScopedFind {
 public:
  explicit ScopedFind(HANDLE h) : h_(h) {}
  ~ScopedFind() {
    if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
  }
  ScopedFind(const ScopedFind&) = delete;
  ScopedFind& operator=(const ScopedFind&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};
