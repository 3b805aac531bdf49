// Pure rules, as tables: path mapping, folder spellings and containment, the log line,
// and the failure codes whose messages a user reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/fs.h"
#include "engine/log_file.h"
#include "engine/path_identity.h"

namespace {

TEST(Rules, DestinationPathsKeepEverythingBelowTheDriveRoot) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {DestinationPath("E:\\Backup\\", "C:\\Data\\sub\\report.txt"),
       "E:\\Backup\\Data\\sub\\report.txt"},
      {DestinationPath("E:\\Backup\\", "C:\\a.txt"), "E:\\Backup\\a.txt"},
      {DestinationPath("e:\\b\\", "c:\\MiXed\\A.TXT"), "e:\\b\\MiXed\\A.TXT"},
      {DestinationSubtree("E:\\Backup\\", "C:\\"), "E:\\Backup\\"},
      {DestinationSubtree("E:\\Backup\\", "C:\\Data\\"), "E:\\Backup\\Data\\"},
      {DestinationSubtree("E:\\Backup\\", "\\\\server\\share\\dir\\"),
       "E:\\Backup\\erver\\share\\dir\\"},
      {Counterpart("E:\\Backup\\", "C:\\Data\\", "E:\\Backup\\Data\\sub\\x.txt"),
       "C:\\Data\\sub\\x.txt"},
      {Counterpart("E:\\Backup\\", "D:\\", "E:\\Backup\\x.txt"), "D:\\x.txt"},
      // A path shorter than the destination folder gives the bare drive root, not a crash.
      {Counterpart("E:\\Backup\\", "C:\\Data\\", "E:\\"), "C:\\"}};
  for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
}

TEST(Rules, EverySpellingOfAFolderGivesOneFormAndNonFoldersGiveNone) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"S:\\Data", "S:\\Data\\"},
      {"s:/Data/Notes", "S:\\Data\\Notes\\"},
      {"S:\\\\Data\\\\\\Notes\\\\", "S:\\Data\\Notes\\"},
      {"S:/", "S:\\"},
      {"\\\\?\\S:\\Data\\.\\x\\..", "S:\\Data\\"},
      {"S:\\Data\\..\\..\\Data\\", "S:\\Data\\"},
      {"S:\\Data\\...\\", "S:\\Data\\...\\"},
      {"  \tS:\\Data\\  ", "S:\\Data\\"},
      {"\\\\server\\share\\dir\\..\\..", "\\\\server\\share\\"},
      {"\\\\?\\UNC\\server\\share\\dir", "\\\\server\\share\\dir\\"},
      {"//server/share/dir/", "\\\\server\\share\\dir\\"}};
  for (const auto& [input, expected] : cases)
    EXPECT_EQ(NormalizeFolderPath(input), expected) << input;
  for (const char* none : {"", " ", ".", "\\", ".\\", "..\\Data\\", "Data\\", "C:Data",
                           "C:", "\\Data\\", "1:\\Data\\", "\\\\server", "\\\\server\\",
                           "\\\\.\\C:\\", "\\\\?\\Volume{0}\\", "S:\\Da*ta\\", "S:\\Data\\a:b\\"})
    EXPECT_EQ(NormalizeFolderPath(none), "") << none;
}

// A made-up file system: letters (and a second share name) that lead to the same folders,
// the folders that exist, and one volume (M:) that gives no file indexes.
IdentityReader FakeVolumes(std::vector<std::string> existing) {
  return [existing](const std::string& folder, FolderIdentity& identity) {
    const std::vector<std::pair<std::string, std::string>> aliases = {
        {"U:\\", "D:\\"}, {"Z:\\HOST\\S\\", "S:\\"}, {"T:\\", "S:\\DATA\\"}, {"N:\\", "M:\\"}};
    std::string name = folder;
    for (char& c : name) c = static_cast<char>(toupper(c));
    for (const auto& [alias, real] : aliases)
      if (name.rfind(alias, 0) == 0) name = real + name.substr(alias.size());
    for (size_t i = 0; i < existing.size(); ++i) {
      if (existing[i] != name) continue;
      identity = name[0] == 'M' ? FolderIdentity{7u, 0u} : FolderIdentity{1u, i + 1};
      return true;
    }
    return false;
  };
}

const IdentityReader kVolumes =
    FakeVolumes({"S:\\", "S:\\DATA\\", "S:\\DATA\\NOTES\\", "S:\\OTHER\\", "D:\\", "D:\\BACKUP\\",
                 "D:\\BACKUP\\DATA\\", "M:\\", "M:\\A\\", "M:\\B\\", "Z:\\", "Z:\\HOST\\"});

TEST(Rules, ContainmentIsByIdentityAndMissingFoldersGoByTheirAncestors) {
  using C = Containment;
  const struct {
    const char *folder, *path;
    Containment expected;
  } cases[] = {{"S:\\Data\\", "s:\\data\\notes\\", C::kYes},
               {"S:\\Data\\", "S:\\DataX\\", C::kNo},
               {"S:\\Data\\", "S:\\", C::kNo},
               {"S:\\", "Z:\\host\\s\\Data\\", C::kYes},
               {"S:\\Data\\", "T:\\", C::kYes},
               {"S:\\Data\\Notes\\", "T:\\Notes\\x\\", C::kYes},
               {"T:\\", "S:\\", C::kNo},
               {"D:\\Backup\\Data\\Notes\\", "U:\\Backup\\Data\\Notes\\", C::kYes},
               {"D:\\Backup\\New\\", "U:\\Backup\\New\\Deeper\\", C::kYes},
               {"D:\\Backup\\New\\", "U:\\Backup\\Newer\\", C::kNo},
               {"Q:\\Gone\\", "D:\\Backup\\", C::kNo},
               // No file indexes: the text decides on one name; a second name for it may hide.
               {"M:\\A\\", "M:\\a\\x\\", C::kYes},
               {"M:\\A\\", "M:\\B\\", C::kNo},
               {"M:\\A\\", "N:\\A\\", C::kMaybe},
               {"", "S:\\", C::kMaybe}};
  for (const auto& c : cases)
    EXPECT_EQ(FolderContains(c.folder, c.path, kVolumes), c.expected)
        << c.path << " in " << c.folder;
}

TEST(Rules, EveryWayACopyCanMeetASourceIsIllegal) {
  const struct {
    const char* destination;
    std::vector<std::string> sources;
    bool illegal;
  } cases[] = {{"D:\\Backup\\", {"S:\\Data\\"}, false},
               {"S:\\Other\\", {"S:\\Data\\"}, false},
               {"S:\\", {"S:\\Data\\"}, true},
               {"S:\\Data\\", {"S:\\Data\\"}, true},
               {"S:\\Data\\Notes\\", {"S:\\Data\\"}, true},
               {"T:\\New\\", {"S:\\Data\\"}, true},
               {"D:\\Backup\\", {"S:\\Data\\", "U:\\Backup\\Data\\Notes\\"}, true},
               // A source inside the destination whose folder another source's copy would replace.
               {"D:\\Backup\\", {"D:\\Backup\\Data\\", "S:\\Data\\Notes\\"}, true},
               {"D:\\Backup\\", {"D:\\Backup\\Data\\"}, false},
               {"D:\\", {"D:\\Backup\\"}, true},
               {"D:\\Backup\\", {"", "S:\\Data\\"}, false},
               {"M:\\A\\", {"S:\\Data\\"}, false},
               {"", {"S:\\Data\\"}, true}};
  for (const auto& c : cases)
    EXPECT_EQ(IsIllegalConfiguration(c.destination, c.sources, kVolumes), c.illegal)
        << c.destination << " <- " << c.sources.back();
}

TEST(Rules, LogLinesCarryEachClockFieldAsRead) {
  const struct {
    SYSTEMTIME date, time;
    const char *text, *line;
  } cases[] = {
      {{2026, 12, 0, 6, 0, 0, 0, 0},
       {0, 0, 0, 0, 16, 5, 9, 0},
       "  12   Copying C:\\a.txt -> E:\\B\\a.txt",
       "12-06-2026   16:05:09     12   Copying C:\\a.txt -> E:\\B\\a.txt\r\n"},
      {{987, 1, 0, 2, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, "", "01-02-0987   00:00:00   \r\n"},
      // At midnight the date may be the new day's and the time the old day's.
      {{2027, 1, 5, 1, 0, 0, 0, 0},
       {2026, 12, 4, 31, 23, 59, 59, 999},
       "x",
       "01-01-2027   23:59:59   x\r\n"}};
  for (const auto& c : cases) EXPECT_EQ(LogLine(c.date, c.time, c.text), c.line);
}

TEST(Rules, FailuresAUserReadsAboutHaveTheirOwnMessage) {
  const std::vector<std::pair<DWORD, std::string>> cases = {
      {ERROR_FILE_NOT_FOUND, "File not found."},
      {ERROR_NO_MORE_FILES, "File not found."},
      {ERROR_PATH_NOT_FOUND, "That path doesn't exist."},
      {ERROR_ACCESS_DENIED, "Permission Denied"},
      {ERROR_SHARING_VIOLATION, "Permission Denied"},
      {ERROR_WRITE_PROTECT, "Permission Denied"},
      {ERROR_NOT_READY, "Drive not ready."},
      {ERROR_HANDLE_DISK_FULL, "Disk full."},
      {ERROR_DISK_FULL, "Disk full."},
      {ERROR_INVALID_NAME, "Unknown error!"},
      {ERROR_NOT_ENOUGH_MEMORY, "Unknown error!"},
      {0xFFFFFFFFu, "Unknown error!"}};
  EXPECT_EQ(FailureCodeFromWin32(0), 0);
  for (const auto& [error, message] : cases) {
    EXPECT_NE(FailureCodeFromWin32(error), 0) << error;
    EXPECT_STREQ(FailureMessage(FailureCodeFromWin32(error)), message.c_str()) << error;
  }
}

TEST(Rules, QuietErrorsSwitchesTheBoxesOffAndRestoresTheModeInOrder) {
  const DWORD quiet = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
  SetThreadErrorMode(0, nullptr);
  {
    QuietErrors outer;
    EXPECT_EQ(GetThreadErrorMode(), quiet);
    { QuietErrors inner; }
    EXPECT_EQ(GetThreadErrorMode(), quiet);
    // A failing call inside the guard still reports its own error.
    EXPECT_EQ(GetFileAttributesA("C:\\no-such-folder-here\\x.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(LastFailureCode(), kPathNotFound);
  }
  EXPECT_EQ(GetThreadErrorMode(), 0u);
}

}  // namespace
