#include "engine/copy_worker.h"

#include <gtest/gtest.h>

#include "engine/file_list.h"
#include "engine/fs.h"
#include "engine/settings.h"
#include "tests/support.h"

namespace {

DWORD Attributes(const std::string& path) { return GetFileAttributesW(Long(path).c_str()); }

// "<missing>" tells a missing copy apart from an empty one.
std::string ReadLong(const std::string& path) {
  return Attributes(path) == INVALID_FILE_ATTRIBUTES ? "<missing>" : ReadFileText(path);
}

// A test host, a source tree and a destination folder in a scratch folder.
class Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    src = dir / "src\\";
    dest = dir / "dest\\";
    ASSERT_TRUE(MakeDir(src) && MakeDir(dest));
    host.destination = dest;
    log = dest + "Stowly.log";
    SetLogFilePath(log);
    g_settings.UseArchiveBit = 0;
    host.status = {"Getting list of files from source...5 Files Found"};
    host.skippedLabel = "Skipped files - See log for details";
  }
  void TearDown() override {
    RemoveTreeW(Long(dir.path().substr(0, dir.path().size() - 1)));
    g_settings.UseArchiveBit = 0;
    SetLogFilePath("Stowly.log");
  }
  std::string To(const std::string& source) const { return DestinationPath(dest, source); }

  void RunWorker(const std::vector<std::string>& list) { RunCopyWorker(host, state, list); }

  ScratchDir dir;
  TestHost host;
  JobState state;
  std::string src, dest, log;
};

TEST_F(Worker, CopiesTheListAndReportsEachFailureInTheSkippedListAndTheLog) {
  ASSERT_TRUE(MakeFile(src + "a.txt", "alpha"));
  ASSERT_TRUE(MakeDir(src + "sub"));
  ASSERT_TRUE(MakeFile(src + "sub\\b.txt", "beta"));
  ASSERT_TRUE(SetFileAttributesA((src + "sub").c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(MakeFile(src + "ro.txt", "new content"));
  ASSERT_TRUE(MakeFile(src + "locked.txt", "locked"));
  // Existing destination copies: one read-only and hidden, two whose copy will fail.
  ASSERT_EQ(MakeFolderPath(To(src)), 0);
  ASSERT_TRUE(MakeFile(To(src + "ro.txt"), "old", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(MakeFile(To(src + "gone.txt"), "older copy"));
  ASSERT_TRUE(MakeFile(To(src + "locked.txt"), "older locked copy"));
  std::vector<std::string> list = {src + "a.txt", src + "gone.txt", src + "sub\\b.txt",
                                   src + "ro.txt", src + "locked.txt"};
  HANDLE holder = CreateFileA((src + "locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  RunWorker(list);
  CloseHandle(holder);

  EXPECT_EQ(state.fileIndex, 6);
  EXPECT_EQ(ReadLong(To(src + "a.txt")), "alpha");
  EXPECT_EQ(ReadLong(To(src + "sub\\b.txt")), "beta");
  // The missing folder was made and took the source folder's hidden bit.
  EXPECT_TRUE(Attributes(To(src + "sub")) & FILE_ATTRIBUTE_HIDDEN);
  // Overwritten, and carrying the source's attributes now.
  EXPECT_EQ(ReadLong(To(src + "ro.txt")), "new content");
  EXPECT_FALSE(Attributes(To(src + "ro.txt")) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  // A copy that failed before it wrote anything leaves the older copy alone.
  EXPECT_EQ(ReadLong(To(src + "gone.txt")), "older copy");
  EXPECT_EQ(ReadLong(To(src + "locked.txt")), "older locked copy");

  EXPECT_EQ(host.status,
            (std::vector<std::string>{"Getting list of files from source...5 Files Found",
                                      "Copying file 5 of 5"}));
  EXPECT_EQ(host.skipped, (std::vector<std::string>{src + "gone.txt", src + "locked.txt"}));
  EXPECT_EQ(host.skippedLabel, "2 Skipped files - See log for details");
  EXPECT_EQ(LogTexts(log), (std::vector<std::string>{
                               "  1   Copying " + src + "a.txt -> " + To(src + "a.txt"),
                               "  2   Copying " + src + "gone.txt -> " + To(src + "gone.txt"),
                               "  2   Error - File not found.  " + src + "gone.txt",
                               "  3   Copying " + src + "sub\\b.txt -> " + To(src + "sub\\b.txt"),
                               "  4   Copying " + src + "ro.txt -> " + To(src + "ro.txt"),
                               "  5   Copying " + src + "locked.txt -> " + To(src + "locked.txt"),
                               "  5   Error - Permission Denied  " + src + "locked.txt",
                           }));

  // The worker-end check found it past the last entry and released the thread.
  EXPECT_EQ(state.workerIdle, 1);
  EXPECT_EQ(state.workerThread.load(), nullptr);
}

TEST_F(Worker, AnEmptyListTouchesNothing) {
  RunWorker({});
  EXPECT_EQ(state.fileIndex, 1);
  EXPECT_EQ(host.status.size(), 1u);
  EXPECT_TRUE(host.skipped.empty());
  EXPECT_FALSE(Exists(log));
  EXPECT_EQ(state.workerIdle, 1);
}

TEST_F(Worker, WithNoDestinationTextNothingIsCopiedIntoTheCurrentFolder) {
  ASSERT_TRUE(MakeFile(src + "stray.txt", "s"));
  host.destination = "";
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, current);
  ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
  RunWorker({src + "stray.txt"});
  SetCurrentDirectoryA(current);
  EXPECT_FALSE(Exists(DestinationPath(dir.path(), src + "stray.txt")));
  EXPECT_EQ(host.skipped, (std::vector<std::string>{src + "stray.txt"}));
  EXPECT_EQ(LogTexts(log).back(), "  1   Error - That path doesn't exist.  " + src + "stray.txt");
}

TEST_F(Worker, ArchiveBitIsClearedOnlyOnCopiedFilesAndReadOnlyStays) {
  g_settings.UseArchiveBit = 1;
  ASSERT_TRUE(MakeFile(src + "ro.txt", "r", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(MakeFile(src + "held.txt", "h", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
  HANDLE holder =
      CreateFileA((src + "held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  RunWorker({src + "ro.txt", src + "held.txt"});
  CloseHandle(holder);
  EXPECT_EQ(ReadLong(To(src + "ro.txt")), "r");
  EXPECT_EQ(host.skipped.size(), 1u);
  DWORD copied = Attributes(src + "ro.txt"), failed = Attributes(src + "held.txt");
  EXPECT_TRUE(copied & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(failed & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(failed & FILE_ATTRIBUTE_ARCHIVE);
  if (copied & FILE_ATTRIBUTE_ARCHIVE)
    GTEST_SKIP() << "this file system reports the archive attribute as set on every file, so "
                    "its clearing cannot be seen";
}

TEST_F(Worker, CancelDuringALargeFileFinishesItAndStartsNoOther) {
  std::string big(24 * 1048576, '\0');
  for (size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>('a' + i % 26);
  ASSERT_TRUE(MakeFile(src + "big.bin", big));
  ASSERT_TRUE(MakeFile(src + "next1.txt", "1"));
  ASSERT_TRUE(MakeFile(src + "next2.txt", "2"));
  // Cancel comes in with the first progress line, right before that file's copy.
  host.WhenStatusShows("Copying file 1 of ", [this] { state.cancel = 1; });
  RunWorker({src + "big.bin", src + "next1.txt", src + "next2.txt"});

  EXPECT_EQ(state.fileIndex, 1);
  EXPECT_TRUE(ReadLong(To(src + "big.bin")) == big) << "the file in hand is copied whole";
  EXPECT_FALSE(Exists(To(src + "next1.txt")));
  EXPECT_FALSE(Exists(To(src + "next2.txt")));
  EXPECT_EQ(LogTexts(log), (std::vector<std::string>{"  1   Copying " + src + "big.bin -> " +
                                                     To(src + "big.bin")}));
  EXPECT_EQ(host.status.back(), "Copying file 1 of 3");
  EXPECT_EQ(state.workerIdle, 1);
  EXPECT_EQ(state.workerThread.load(), nullptr);
}

TEST(WorkerEndCheck, EndsTheRunPastTheLastEntryOrOnACancelWithoutWaiting) {
  auto handleIsOpen = [](HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
  };
  JobState job;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  job.workerThread = event;
  job.foundCount = 3;
  job.fileIndex = 3;
  job.cancel = 0;
  job.workerIdle = 0;
  WorkerEndCheck(job);  // still on the last entry
  EXPECT_EQ(job.workerIdle, 0);
  job.cancel = -2;  // a negative code is not a cancel request here
  WorkerEndCheck(job);
  EXPECT_EQ(job.workerIdle, 0);
  EXPECT_TRUE(handleIsOpen(event));
  job.cancel = 1;
  WorkerEndCheck(job);
  EXPECT_EQ(job.workerIdle, 1);
  EXPECT_EQ(job.workerThread.load(), nullptr);
  EXPECT_FALSE(handleIsOpen(event));

  // Idle: nothing happens.
  HANDLE other = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  job.workerThread = other;
  job.fileIndex = 4;
  WorkerEndCheck(job);
  EXPECT_EQ(job.workerThread.load(), other);
  // Past the end; a handle that cannot be closed does not hang the check.
  job.workerIdle = 0;
  job.cancel = 0;
  CloseHandle(other);
  job.workerThread = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFC));
  WorkerEndCheck(job);
  EXPECT_EQ(job.workerIdle, 1);
  EXPECT_EQ(job.workerThread.load(), nullptr);
}

TEST_F(Worker, PathsLongerThanMaxPathAreCopiedWhole) {
  std::string folder = src;
  for (int i = 0; i < 5; ++i) {
    folder += std::string(55, static_cast<char>('m' + i)) + "\\";
    ASSERT_TRUE(MakeDir(folder));
  }
  std::string file = folder + "long name.txt";
  ASSERT_TRUE(MakeFile(file, "far down"));
  ASSERT_GT(To(file).size(), 300u);
  RunWorker({file});
  EXPECT_EQ(ReadLong(To(file)), "far down");
  EXPECT_TRUE(host.skipped.empty());
  EXPECT_EQ(LogTexts(log), (std::vector<std::string>{"  1   Copying " + file + " -> " + To(file)}));
}

}  // namespace
