#include "engine/failure.h"
#include "engine/fs.h"

#include <gtest/gtest.h>

#include <map>

// The expected code of every Win32 error, written out from the classification table.
int ExpectedCode(DWORD error) {
  static const std::map<DWORD, int> kBelow40 = {
      {0, 0},   {1, 75},  {2, 53},  {3, 76},  {4, 67},  {5, 70},  {6, 51},  {8, 7},
      {11, 51}, {12, 51}, {13, 51}, {14, 7},  {15, 68}, {16, 75}, {17, 74}, {18, 53},
      {19, 70}, {20, 68}, {21, 71}, {22, 51}, {23, 72}, {24, 51}, {25, 72}, {26, 72},
      {27, 72}, {28, 72}, {29, 72}, {30, 72}, {31, 72}, {32, 70}, {33, 70}, {34, 72},
      {35, 72}, {36, 70}, {37, 75}, {38, 62}, {39, 61}};
  if (error == 87) return 5;
  if (error == 112) return 61;
  if (error >= 40) return 75;
  auto row = kBelow40.find(error);
  return row == kBelow40.end() ? -1 : row->second;
}

TEST(Failure, EveryWin32ErrorMapsToItsCode) {
  for (DWORD error = 0; error < 40; ++error) {
    if (error == 7 || error == 9 || error == 10) continue;
    EXPECT_EQ(FailureCodeFromWin32(error), ExpectedCode(error)) << "Win32 error " << error;
  }
  for (DWORD error : {40u, 50u, 53u, 76u, 86u, 87u, 88u, 111u, 112u, 113u, 123u, 206u, 1392u,
                      0x7FFFFFFFu, 0xFFFFFFFFu})
    EXPECT_EQ(FailureCodeFromWin32(error), ExpectedCode(error)) << "Win32 error " << error;
  // The three without a code of their own still fail, as an unknown error.
  for (DWORD error : {7u, 9u, 10u}) {
    int code = FailureCodeFromWin32(error);
    EXPECT_NE(code, 0) << error;
    EXPECT_STREQ(FailureMessage(code), "Unknown error!") << error;
  }
}

TEST(Failure, MessagesOfTheFiveClassesAndTheRest) {
  EXPECT_STREQ(FailureMessage(53), "File not found.");
  EXPECT_STREQ(FailureMessage(61), "Disk full.");
  EXPECT_STREQ(FailureMessage(70), "Permission Denied");
  EXPECT_STREQ(FailureMessage(71), "Drive not ready.");
  EXPECT_STREQ(FailureMessage(76), "That path doesn't exist.");
  for (int code : {5, 7, 51, 62, 67, 68, 72, 74, 75, 1, -1, 999})
    EXPECT_STREQ(FailureMessage(code), "Unknown error!") << code;
  // What a caller sees for the common Win32 errors, end to end.
  EXPECT_STREQ(FailureMessage(FailureCodeFromWin32(ERROR_SHARING_VIOLATION)), "Permission Denied");
  EXPECT_STREQ(FailureMessage(FailureCodeFromWin32(ERROR_HANDLE_DISK_FULL)), "Disk full.");
  EXPECT_STREQ(FailureMessage(FailureCodeFromWin32(ERROR_NO_MORE_FILES)), "File not found.");
  EXPECT_STREQ(FailureMessage(FailureCodeFromWin32(ERROR_INVALID_NAME)), "Unknown error!");
}

TEST(Failure, QuietErrorsSwitchesTheBoxesOffAndRestoresTheModeInOrder) {
  SetThreadErrorMode(0, nullptr);
  {
    QuietErrors outer;
    EXPECT_EQ(GetThreadErrorMode(),
              static_cast<DWORD>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
    {
      QuietErrors inner;
      EXPECT_EQ(GetThreadErrorMode() & SEM_FAILCRITICALERRORS,
                static_cast<DWORD>(SEM_FAILCRITICALERRORS));
    }
    EXPECT_EQ(GetThreadErrorMode(),
              static_cast<DWORD>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
  }
  EXPECT_EQ(GetThreadErrorMode(), 0u);
  // A failing call inside the guard still reports its own error.
  QuietErrors quiet;
  EXPECT_EQ(GetFileAttributesA("C:\\no-such-folder-here\\x.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(LastFailureCode(), kPathNotFound);
}
