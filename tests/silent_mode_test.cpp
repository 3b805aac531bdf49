// The real Stowly.exe run the way a scheduled task runs it: /S /L with its settings file
// beside it, no one at the keyboard.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/backup_helpers.h"
#include "tests/support.h"

namespace {

class SilentMode : public ::testing::Test {
 protected:
  // A portable install: the exe and its settings file side by side in a scratch folder.
  std::string Install(const Config& config) {
    std::string app = dir / "app\\";
    CreateDirectoryA(app.c_str(), nullptr);
    EXPECT_TRUE(CopyFileA(StowlyExePath().c_str(), (app + "Stowly.exe").c_str(), FALSE));
    EXPECT_TRUE(WriteFileText(app + "Stowly.ini", IniText(config)));
    return "\"" + app + "Stowly.exe\" /S /L";
  }

  ScratchDir dir;
};

TEST_F(SilentMode, BacksUpWithoutAPromptLogsEveryStepAndExits) {
  std::string src = dir / "data\\", dst = dir / "usb\\";
  const Files source = {{"a.txt", "alpha"},
                        {"sub\\b.txt", std::string(300000, 'b')},
                        {"sub\\deeper\\c.txt", "charlie"},
                        {"h.txt", "hidden"}};
  MakeFiles(src, source);
  SetFileAttributesA((src + "h.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  std::string copy = CopyOf(dst, src);
  MakeFiles(copy, {{"stale.txt", "from an earlier backup"}});

  // A prompt would wait for a user who is not there, and the run would time out.
  EXPECT_EQ(RunProcess(Install({dst, {src}, 1, 0, 1}), 180000), 0);

  EXPECT_EQ(ReadTree(copy), source);
  EXPECT_FALSE(Exists(dst + "Stowly.Test"));
  std::vector<std::string> texts = LogTexts(dst + "Stowly.log");
  ASSERT_EQ(texts.size(), 15u);
  std::string subtree = copy.substr(0, copy.size() - 1);
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 8),
            (std::vector<std::string>{
                "Silent Mode - Begin Automatically",
                "Backup Mode = Full Mirror, leaving Archive Bit alone on backed up files",
                "Checking Destination Folder...",
                "  Deleting " + subtree,
                "  ...Ok",
                "Getting list of files from source...",
                "  ...4 files found",
                "Copying Files...",
            }));
  std::set<std::string> numbers, copied, expected;
  for (const std::string& t : CopyingLines(texts)) {
    size_t at = t.find("   Copying ");
    numbers.insert(t.substr(0, at));
    copied.insert(t.substr(at));
  }
  for (const auto& [name, content] : source)
    expected.insert("   Copying " + src + name + " -> " + copy + name);
  EXPECT_EQ(numbers, (std::set<std::string>{"  1", "  2", "  3", "  4"}));
  EXPECT_EQ(copied, expected);
  EXPECT_EQ(
      std::vector<std::string>(texts.end() - 3, texts.end()),
      (std::vector<std::string>{"  ...4 of 4 Files copied - 0 Files skipped",
                                "FINISHED!  Backup is complete.", "Silent Mode - Close Program"}));
}

TEST_F(SilentMode, ClosingTheWindowMidCopyEndsCleanlyAsCancelled) {
  std::string src = dir / "data\\", dst = dir / "usb\\";
  const std::string big = BigContent(64u << 20);
  MakeFiles(src + "1big\\", {{"big.bin", big}});
  Files many;
  for (int i = 0; i < 300; ++i) many[Numbered("f", i, ".txt")] = Numbered("file ", i, "");
  MakeFiles(src + "2many\\", many);
  MakeFiles(dst, {});
  std::string copy = CopyOf(dst, src);

  ChildProcess stowly(Install({dst, {src + "1big\\", src + "2many\\"}, 1, 0, 1}));
  ASSERT_TRUE(stowly.started());
  // Close the window once copying has begun: the big file, listed first, is being written.
  HWND window = nullptr;
  for (int i = 0; i < 12000 && stowly.Running(); ++i) {
    window = stowly.MainWindow();
    if (window && Exists(copy + "1big\\big.bin")) break;
    Sleep(5);
  }
  ASSERT_TRUE(window) << "the main window never appeared";
  PostMessageA(window, WM_CLOSE, 0, 0);
  ASSERT_EQ(stowly.Wait(180000), 2) << "a cancelled run exits with 2";

  EXPECT_EQ(ReadFileText(copy + "1big\\big.bin") == big, true)
      << "the file being copied when the window closed must be complete";
  Files copies = ReadTree(copy + "2many\\");
  for (const auto& [name, content] : copies) EXPECT_EQ(content, many[name]) << name;
  EXPECT_LT(copies.size(), 300u) << "the close cancelled the copying";

  std::vector<std::string> texts = LogTexts(dst + "Stowly.log");
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts.back(), "Silent Mode - Close Program");
  EXPECT_EQ(texts[texts.size() - 2],
            "CANCELED!  (" + std::to_string(copies.size() + 1) + " out of 301 Files Copied)");
  EXPECT_EQ(CopyingLines(texts).size(), copies.size() + 1);
}

}  // namespace
