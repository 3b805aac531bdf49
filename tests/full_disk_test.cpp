// The copy worker on a volume that really fills up. It needs drive Q: mapped to a small
// volume (scripts/make-full-disk.sh) and skips itself without one.
#include <gtest/gtest.h>

#include "engine/copy_worker.h"
#include "engine/file_list.h"
#include "engine/fs.h"
#include "engine/settings.h"
#include "tests/support.h"

namespace {

constexpr const char* kDrive = "Q:\\";
constexpr ULONGLONG kLargestTestVolume = 16ull * 1048576;

TEST(FullDisk, AFailedCopyLeavesNoTruncatedFileAndKeepsUntouchedOlderCopies) {
  if (GetDriveTypeA(kDrive) == DRIVE_NO_ROOT_DIR)
    GTEST_SKIP() << "drive Q: is not prepared; run scripts/make-full-disk.sh on this test's "
                    "Wine prefix first";
  ULARGE_INTEGER freeBytes = {}, totalBytes = {};
  ASSERT_TRUE(GetDiskFreeSpaceExA(kDrive, &freeBytes, &totalBytes, nullptr));
  if (totalBytes.QuadPart > kLargestTestVolume)
    GTEST_SKIP() << "drive Q: holds " << totalBytes.QuadPart
                 << " bytes; it is not a small test volume, so it is not filled";

  ScratchDir dir;
  std::string dest =
      std::string(kDrive) + "stowly-full-disk-" + std::to_string(GetCurrentProcessId()) + "\\";
  RemoveTree(dest);
  ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
  TestHost host;
  host.destination = dest;
  SetLogFilePath(dest + "Stowly.log");

  std::string src = dir / "src\\";
  ASSERT_TRUE(CreateDirectoryA(src.c_str(), nullptr));
  ASSERT_TRUE(WriteFileText(src + "small.txt", "small"));
  ASSERT_TRUE(WriteFileText(src + "after.txt", "after"));
  ASSERT_TRUE(WriteFileText(src + "locked.txt", "locked"));
  auto to = [&](const std::string& source) { return DestinationPath(dest, source); };
  ASSERT_EQ(MakeFolderPath(to(src)), 0);
  // Older copies: one whose source is gone, one whose source is locked, and one that the
  // failing copy overwrites.
  ASSERT_TRUE(WriteFileText(to(src + "gone.txt"), "older gone"));
  ASSERT_TRUE(WriteFileText(to(src + "locked.txt"), "older locked"));
  ASSERT_TRUE(WriteFileText(to(src + "big.bin"), "older big"));
  ASSERT_TRUE(GetDiskFreeSpaceExA(kDrive, &freeBytes, nullptr, nullptr));
  ASSERT_TRUE(WriteFileText(src + "big.bin",
                            std::string(static_cast<size_t>(freeBytes.QuadPart) + 65536, 'b')));
  HANDLE holder = CreateFileA((src + "locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);

  JobState state;
  RunCopyWorker(host, state,
                {src + "small.txt", src + "gone.txt", src + "locked.txt", src + "big.bin",
                 src + "after.txt"});
  CloseHandle(holder);

  EXPECT_EQ(ReadFileText(to(src + "small.txt")), "small");
  EXPECT_EQ(ReadFileText(to(src + "gone.txt")), "older gone");
  EXPECT_EQ(ReadFileText(to(src + "locked.txt")), "older locked");
  EXPECT_FALSE(Exists(to(src + "big.bin"))) << "a truncated copy was left behind";
  // The space is free again, so the next file is copied.
  EXPECT_EQ(ReadFileText(to(src + "after.txt")), "after");

  std::vector<std::string> log = LogTexts(dest + "Stowly.log");
  std::vector<std::string> errors;
  for (const std::string& line : log)
    if (line.find("Error - ") != std::string::npos) errors.push_back(line);
  EXPECT_EQ(errors,
            (std::vector<std::string>{"  2   Error - File not found.  " + src + "gone.txt",
                                      "  3   Error - Permission Denied  " + src + "locked.txt",
                                      "  4   Error - Disk full.  " + src + "big.bin"}));
  EXPECT_EQ(host.skipped.size(), 3u);
  EXPECT_EQ(host.skippedLabel, "3 Skipped files - See log for details");
  SetLogFilePath("Stowly.log");
  RemoveTree(dest);
}

}  // namespace
