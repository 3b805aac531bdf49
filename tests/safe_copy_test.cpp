// Copying over an older copy: the older copy survives every failure, and nothing of the
// temporary copy is left behind, listed or copied back.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/safe_copy.h"
#include "tests/backup_helpers.h"
#include "tests/drive_letter.h"
#include "tests/support.h"

namespace {

// Holds a file open with share mode 0, as a program that has it open exclusively does.
class Locked {
 public:
  explicit Locked(const std::string& path)
      : h_(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~Locked() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  bool held() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

DWORD Attributes(const std::string& path) {
  return GetFileAttributesA(path.c_str()) &
         (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

TEST(SafeCopy, TheOlderCopySurvivesEveryFailureAndNoTemporaryIsLeft) {
  struct Case {
    const char* name;
    std::function<void(const std::string& src, const std::string& dst)> prepare;
    bool lockSource, lockDestination;
    int code;
    std::string expected;  // destination content afterwards; "" = none
  };
  const Case cases[] = {
      {"source gone", [](auto& src, auto&) { DeleteFileA(src.c_str()); }, false, false,
       kFileNotFound, "older"},
      {"source locked", nullptr, true, false, kPermissionDenied, "older"},
      {"destination in use", nullptr, false, true, kPermissionDenied, "older"},
      {"read-only hidden older copy is overwritten",
       [](auto&, auto& dst) {
         SetFileAttributesA(dst.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
       },
       false, false, 0, "newer"},
      {"a temporary left by a power cut, read-only",
       [](auto&, auto& dst) {
         WriteFileText(PartialCopyPath(dst), "half");
         SetFileAttributesA(PartialCopyPath(dst).c_str(), FILE_ATTRIBUTE_READONLY);
       },
       false, false, 0, "newer"},
      {"no older copy", [](auto&, auto& dst) { DeleteFileA(dst.c_str()); }, false, false, 0,
       "newer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    std::string src = dir / "a.txt", dst = dir / "copy\\a.txt";
    MakeFiles(dir.path(), {{"a.txt", "newer"}, {"copy\\a.txt", "older"}});
    if (c.prepare) c.prepare(src, dst);
    {
      Locked source(c.lockSource ? src : ""), destination(c.lockDestination ? dst : "");
      ASSERT_EQ(source.held(), c.lockSource);
      ASSERT_EQ(destination.held(), c.lockDestination);
      EXPECT_EQ(CopyFileOver(src, dst, false), c.code);
    }
    EXPECT_EQ(ReadFileText(dst), c.expected);
    if (c.code == 0) {
      EXPECT_EQ(Attributes(dst), Attributes(src)) << "attributes as the source's";
    }
    EXPECT_EQ(ReadTree(dir / "copy\\"), (Files{{"a.txt", c.expected}}));
  }
}

TEST(SafeCopy, LongNamesGetATemporaryNameThatStillFits) {
  ScratchDir dir;
  const std::string name = std::string(250, 'n') + ".txt";
  ASSERT_TRUE(MakeDir(dir / "src") && MakeDir(dir / "dst"));
  ASSERT_TRUE(MakeFile(dir / "src\\" + name, "newer") && MakeFile(dir / "dst\\" + name, "older"));
  EXPECT_EQ(CopyFileOver(dir / "src\\" + name, dir / "dst\\" + name, false), 0);
  EXPECT_EQ(ReadTree(dir / "dst\\"), (Files{{name, "newer"}}));
  EXPECT_TRUE(IsPartialCopyName(PartialCopyPath(dir / "dst\\" + name)));
}

// A source file in a folder the destination lacks: the folder is made and takes the
// source folder's bits, except a drive root's, which are hidden and system.
TEST(SafeCopy, NewDestinationFoldersNeverTakeADriveRootsAttributes) {
  ScratchDir dir;
  MakeFiles(dir / "root\\", {{"a.txt", "a"}, {"plain\\b.txt", "b"}});
  DriveLetter drive('W', dir / "root\\");
  if (!drive.ready()) GTEST_SKIP() << "could not map a drive letter in the Wine prefix";
  const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  for (const std::string& folder : {drive.root(), drive.root() + "plain\\"}) {
    std::string trimmed = folder.size() > 3 ? folder.substr(0, folder.size() - 1) : folder;
    if (!SetFileAttributesA(trimmed.c_str(), hiddenSystem) ||
        (GetFileAttributesA(trimmed.c_str()) & hiddenSystem) != hiddenSystem)
      GTEST_SKIP() << "this volume keeps no hidden or system bits on folders";
  }
  struct Case {
    std::string source, destination;
    DWORD expected;
  };
  const Case cases[] = {
      {drive.root() + "a.txt", dir / "dst1\\a.txt", 0},
      {drive.root() + "plain\\b.txt", dir / "dst2\\plain\\b.txt", hiddenSystem},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    ASSERT_EQ(CopyFileOver(c.source, c.destination, false), 0);
    std::string folder = c.destination.substr(0, c.destination.rfind('\\'));
    EXPECT_EQ(GetFileAttributesA(folder.c_str()) & hiddenSystem, c.expected);
  }
}

// Temporaries are never listed: not as a source file to copy, not as an orphan; one that a
// run cut short left in the destination goes when the destination is listed.
TEST(SafeCopy, ListingsPassOverTemporaries) {
  ScratchDir dir;
  TestHost host;
  struct Case {
    ListingMode mode;
    bool kept;
  };
  for (const Case& c : {Case{ListingMode::kSource, true}, Case{ListingMode::kDestination, false}}) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    std::string tree = dir / ("tree" + std::to_string(static_cast<int>(c.mode)) + "\\");
    std::string partial = PartialCopyPath(tree + "sub\\a.txt");
    MakeFiles(tree, {{"sub\\a.txt", "a"}});
    ASSERT_TRUE(WriteFileText(partial, "half"));
    std::vector<std::string> list{std::string()};
    EXPECT_EQ(ListFiles(host, tree, list, 0, {c.mode, ""}), 1);
    EXPECT_EQ(list, (std::vector<std::string>{tree + "sub\\a.txt"}));
    EXPECT_EQ(Exists(partial), c.kept);
  }
}

}  // namespace
