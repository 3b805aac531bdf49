// The copy worker on a volume that really fills up. It needs drive Q: mapped to a small
// volume (scripts/make-full-disk.sh) and skips itself without one.
#include <gtest/gtest.h>

#include "engine/settings.h"
#include "engine/copy_worker.h"
#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/job_state.h"
#include "engine/safe_copy.h"
#include "tests/support.h"

namespace {

constexpr const char* kDrive = "Q:\\";
constexpr ULONGLONG kLargestTestVolume = 16ull * 1048576;

// Why drive Q: cannot be filled, or "" when it is a small volume of our own.
std::string WhyNoSmallVolume() {
  if (GetDriveTypeA(kDrive) == DRIVE_NO_ROOT_DIR)
    return "drive Q: is not prepared; run scripts/make-full-disk.sh on this test's Wine prefix "
           "first";
  ULARGE_INTEGER totalBytes = {};
  if (!GetDiskFreeSpaceExA(kDrive, nullptr, &totalBytes, nullptr)) return "drive Q: is unreadable";
  if (totalBytes.QuadPart > kLargestTestVolume)
    return "drive Q: holds " + std::to_string(totalBytes.QuadPart) +
           " bytes; it is not a small test volume, so it is not filled";
  return "";
}

ULONGLONG FreeBytes() {
  ULARGE_INTEGER freeBytes = {};
  GetDiskFreeSpaceExA(kDrive, &freeBytes, nullptr, nullptr);
  return freeBytes.QuadPart;
}

TEST(FullDisk, AFailedCopyLeavesNoTruncatedFileAndKeepsEveryOlderCopy) {
  if (std::string why = WhyNoSmallVolume(); !why.empty()) GTEST_SKIP() << why;
  ULARGE_INTEGER freeBytes = {};

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
  EXPECT_EQ(ReadFileText(to(src + "big.bin")), "older big") << "the older copy was lost";
  EXPECT_FALSE(Exists(PartialCopyPath(to(src + "big.bin")))) << "a truncated copy was left";
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

// An older 300 KiB copy on a volume with 800 KiB free before it. The new copy is written
// beside the older one, so it needs room for both: a newer file that would fit only in
// the older copy's place is skipped as well, and the older copy stays.
TEST(FullDisk, ANewerCopyReplacesTheOlderOnlyWhenItFitsBesideIt) {
  if (std::string why = WhyNoSmallVolume(); !why.empty()) GTEST_SKIP() << why;
  constexpr size_t kKiB = 1024;
  struct Case {
    const char* name;
    size_t newer;
    int code;
  };
  const Case cases[] = {
      {"larger than the volume", 900 * kKiB, kDiskFull},
      {"fits only in the older copy's place", 700 * kKiB, kDiskFull},
      {"fits beside the older copy", 400 * kKiB, 0},
  };
  ScratchDir dir;
  const std::string dest =
      std::string(kDrive) + "stowly-beside-" + std::to_string(GetCurrentProcessId()) + "\\";
  const std::string older(300 * kKiB, 'o');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(dest);
    ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
    ULONGLONG before = FreeBytes();
    ASSERT_GT(before, 800 * kKiB) << "drive Q: is too small for this test";
    ASSERT_TRUE(WriteFileText(dest + "ballast", std::string(before - 800 * kKiB, 'x')));
    ASSERT_TRUE(WriteFileText(dest + "big.bin", older));
    const std::string newer(c.newer, 'n');
    ASSERT_TRUE(WriteFileText(dir / "big.bin", newer));

    EXPECT_EQ(CopyFileOver(dir / "big.bin", dest + "big.bin", false), c.code);
    EXPECT_TRUE(ReadFileText(dest + "big.bin") == (c.code == 0 ? newer : older))
        << "the destination holds neither the older nor the newer copy whole";
    EXPECT_FALSE(Exists(PartialCopyPath(dest + "big.bin")));
  }
  RemoveTree(dest);
}

}  // namespace
