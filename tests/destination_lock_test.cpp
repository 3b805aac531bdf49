// One job per destination folder, and a write test that leaves the user's own files alone.
#include <gtest/gtest.h>

#include <optional>

#include "engine/destination_lock.h"
#include "tests/backup_helpers.h"
#include "tests/support.h"

namespace {

using State = DestinationLock::State;

TEST(DestinationLock, ASecondJobIsRefusedHoweverItNamesTheFolderUntilTheFirstEnds) {
  ScratchDir dir;
  std::string dst = dir / "usb\\";
  MakeFiles(dst, {});
  MappedDrive letter('W', dst);
  ASSERT_TRUE(letter.ready());
  {
    DestinationLock first, second;
    ASSERT_EQ(first.Acquire(dst), State::kHeld);
    EXPECT_EQ(second.Acquire(dst), State::kBusy);
    EXPECT_EQ(second.Acquire(letter.root()), State::kBusy);
    first.Release();
    EXPECT_EQ(ReadTree(dst), Files{}) << "a released lock leaves nothing behind";
    EXPECT_EQ(second.Acquire(letter.root()), State::kHeld);
    EXPECT_EQ(first.Acquire(dst), State::kBusy);
  }
  EXPECT_EQ(ReadTree(dst), Files{}) << "a lock that goes out of scope leaves nothing behind";

  DestinationLock missing;
  EXPECT_EQ(missing.Acquire(dir / "gone\\"), State::kFailed);
  EXPECT_EQ(missing.failureCode(), kPathNotFound);
}

TEST(DestinationLock, AUsersOwnFileOfTheLockNameIsHeldButNeverDeleted) {
  ScratchDir dir;
  MakeFiles(dir.path(), {{kLockFileName, "mine"}});
  {
    DestinationLock first, second;
    EXPECT_EQ(first.Acquire(dir.path()), State::kHeld);
    EXPECT_EQ(second.Acquire(dir.path()), State::kBusy);
  }
  EXPECT_EQ(ReadTree(dir.path()), (Files{{kLockFileName, "mine"}}));
}

// A job that dies holds its handle until the system closes it: the lock file goes with it.
TEST(DestinationLock, AKilledHolderLeavesNoStaleLock) {
  ScratchDir dir;
  std::string dst = dir / "usb\\";
  MakeFiles(dst, {});
  std::string me(MAX_PATH, '\0');
  me.resize(GetModuleFileNameA(nullptr, me.data(), MAX_PATH));
  SetEnvironmentVariableA("STOWLY_HOLD_LOCK_IN", dst.c_str());
  std::optional<ChildProcess> holder;
  holder.emplace("\"" + me + "\" --gtest_filter=DestinationLock.HoldsTheLockWhenAsked");
  SetEnvironmentVariableA("STOWLY_HOLD_LOCK_IN", nullptr);
  ASSERT_TRUE(holder->started());
  DestinationLock lock;
  for (int i = 0; i < 1000 && !Exists(dst + kLockFileName); ++i) Sleep(20);
  EXPECT_EQ(lock.Acquire(dst), State::kBusy);
  EXPECT_TRUE(holder->Running());
  holder.reset();  // kills the holder, as a crash would end it
  // The system closes a killed process's handles a moment after it ends.
  for (int i = 0; i < 250 && lock.Acquire(dst) != State::kHeld; ++i) Sleep(20);
  EXPECT_EQ(lock.state(), State::kHeld);
}

// Run only as the killed holder above: takes the lock and waits to be killed.
TEST(DestinationLock, HoldsTheLockWhenAsked) {
  char folder[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("STOWLY_HOLD_LOCK_IN", folder, MAX_PATH))
    GTEST_SKIP() << "only run by the stale-lock test";
  DestinationLock lock;
  ASSERT_EQ(lock.Acquire(folder), State::kHeld);
  Sleep(120000);
}

TEST(ProveWritable, CreatesAndRemovesOnlyItsOwnFile) {
  ScratchDir dir;
  const std::vector<std::pair<Files, int>> cases = {
      {{}, 0},
      {{{"Stowly.Test", "the user's own file"}}, 0},
      {{{"Stowly.Test", "the user's"}, {"notes.txt", "n"}}, 0},
  };
  for (const auto& [before, code] : cases) {
    std::string dst = dir / "usb\\";
    RemoveTree(dst);
    MakeFiles(dst, before);
    EXPECT_EQ(ProveWritable(dst), code);
    EXPECT_EQ(ReadTree(dst), before);
  }
  EXPECT_EQ(ProveWritable(dir / "gone\\"), kPathNotFound);
}

}  // namespace
