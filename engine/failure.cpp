#include "engine/failure.h"

namespace {

// Win32 errors below 40, each with its failure code; 40 and above give 75, except the
// two that are listed here too.
struct ErrorRow {
  DWORD first, last;
  int code;
};
constexpr ErrorRow kErrorTable[] = {
    {1, 1, 75},
    {2, 2, kFileNotFound},
    {3, 3, kPathNotFound},
    {4, 4, 67},
    {5, 5, kPermissionDenied},
    {6, 6, 51},
    {8, 8, 7},
    {11, 13, 51},
    {14, 14, 7},
    {15, 15, 68},
    {16, 16, 75},
    {17, 17, 74},
    {18, 18, kFileNotFound},
    {19, 19, kPermissionDenied},
    {20, 20, 68},
    {21, 21, kDriveNotReady},
    {22, 22, 51},
    {23, 23, 72},
    {24, 24, 51},
    {25, 31, 72},
    {32, 33, kPermissionDenied},
    {34, 35, 72},
    {36, 36, kPermissionDenied},
    {37, 37, 75},
    {38, 38, 62},
    {39, 39, kDiskFull},
    {87, 87, 5},
    {112, 112, kDiskFull},
};

}  // namespace

int FailureCodeFromWin32(DWORD error) {
  if (error == 0) return 0;
  for (const ErrorRow& row : kErrorTable)
    if (error >= row.first && error <= row.last) return row.code;
  return error >= 40 ? 75 : kUnclassified;
}

int LastFailureCode() { return FailureCodeFromWin32(GetLastError()); }

const char* FailureMessage(int code) {
  switch (code) {
    case kFileNotFound:
      return "File not found.";
    case kDiskFull:
      return "Disk full.";
    case kPermissionDenied:
      return "Permission Denied";
    case kDriveNotReady:
      return "Drive not ready.";
    case kPathNotFound:
      return "That path doesn't exist.";
    case kSameDestination:
      return "Another file was copied to this name.";
    case kThroughLink:
      return "The destination folder is reached through a link.";
    case kFolderInTheWay:
      return "A folder of this name is in the way at the destination.";
    case kOnlineOnly:
      return "Online-only file, not on this PC.";
    default:
      return "Unknown error!";
  }
}
