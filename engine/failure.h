// Failure codes: the number a failed file operation leaves behind, and its message.
#pragma once
#include <windows.h>

#include <string>

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
// A file stands where the copy needs a folder (the source made a folder of a file's name).
inline constexpr int kFileInTheWay = 55;
// A file whose data is only with its cloud provider: it is not fetched.
inline constexpr int kOnlineOnly = 56;
// Any other Win32 error keeps its own number above this base, so that its log line can give
// the system's message and the code; one too large to keep is unclassified.
inline constexpr int kWin32ErrorBase = 100000;
inline constexpr int kUnclassified = 51;

int FailureCodeFromWin32(DWORD error);
// The failure code of the calling thread's last Win32 error.
int LastFailureCode();
// The code's message; for a Win32 error without a class, "Unknown error!" with the system's
// message and the code.
std::string FailureMessage(int code);
// The log's error text for a path: "Error - <message>  <path>".
std::string ErrorLine(int code, const std::string& path);
// The system's own message for a Win32 error, as it gives it; empty when it has none.
std::wstring SystemMessage(DWORD error);
// "Unknown error! (message. Code n)", the message on one line without its closing period.
std::string UnknownErrorText(DWORD error, const std::wstring& systemMessage);
