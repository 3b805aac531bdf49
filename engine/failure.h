// Failure codes: the number a failed file operation leaves behind, and its message.
#pragma once
#include <windows.h>

inline constexpr int kFileNotFound = 53;
inline constexpr int kDiskFull = 61;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kDriveNotReady = 71;
inline constexpr int kPathNotFound = 76;
// A second source file that lands on a name already copied to in the same run (names
// that differ only in letter case or a trailing dot, from a share of another system).
inline constexpr int kSameDestination = 58;
// A destination folder reached through a link: a copy there would land outside the backup.
inline constexpr int kThroughLink = 59;
// A folder stands where the copy of a file goes, and holds files: it is not removed.
inline constexpr int kFolderInTheWay = 57;
// A file whose data is only with its cloud provider: it is not fetched.
inline constexpr int kOnlineOnly = 56;
// Given to the few Win32 errors below 40 that no row of the table names.
inline constexpr int kUnclassified = 51;

int FailureCodeFromWin32(DWORD error);
// The failure code of the calling thread's last Win32 error.
int LastFailureCode();
const char* FailureMessage(int code);
