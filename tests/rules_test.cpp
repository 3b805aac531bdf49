// Pure rules as tables: path mapping, folder spellings and containment, the log line and
// the failure codes whose messages a user reads.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/fs.h"
#include "engine/log_file.h"
#include "engine/numbers.h"
#include "engine/path_identity.h"

namespace {

using Lines = std::vector<std::string>;

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(Rules, PathsMapBetweenSourceAndDestinationBelowTheDriveRoot) {
  const Pairs cases = {
      {DestinationPath("E:\\B\\", "c:\\MiXed\\A.TXT"), "E:\\B\\MiXed\\A.TXT"},
      {DestinationSubtree("E:\\B\\", "C:\\"), "E:\\B\\"},
      {DestinationSubtree("E:\\B\\", "\\\\server\\share\\dir\\"), "E:\\B\\erver\\share\\dir\\"},
      {Counterpart("E:\\B\\", "C:\\Data\\", "E:\\B\\Data\\sub\\x.txt"), "C:\\Data\\sub\\x.txt"},
      {Counterpart("E:\\B\\", "D:\\", "E:\\B\\x.txt"), "D:\\x.txt"},
      {Counterpart("E:\\B\\", "C:\\Data\\", "E:\\"), "C:\\"}};  // shorter: no crash
  for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
  const Pairs spellings = {{"s:/Data/Notes", "S:\\Data\\Notes\\"},
                           {"S:\\\\Data\\\\\\Notes\\\\", "S:\\Data\\Notes\\"},
                           {"\\\\?\\S:\\Data\\.\\x\\..", "S:\\Data\\"},
                           {"S:\\Data\\..\\..\\Data\\", "S:\\Data\\"},
                           {"S:\\Data\\...\\", "S:\\Data\\...\\"},
                           {"  \tS:\\Data\\  ", "S:\\Data\\"},
                           {"\\\\server\\share\\dir\\..\\..", "\\\\server\\share\\"},
                           {"\\\\?\\UNC\\server\\share\\dir", "\\\\server\\share\\dir\\"}};
  for (const auto& [input, expected] : spellings)
    EXPECT_EQ(NormalizeFolderPath(input), expected) << input;
  for (const char* none : {"", ".", "\\", "..\\Data\\", "Data\\", "C:Data", "1:\\Data\\",
                           "\\\\server\\", "\\\\.\\C:\\", "S:\\Da*ta\\", "S:\\Data\\a:b\\"})
    EXPECT_EQ(NormalizeFolderPath(none), "") << none;
}

// A made-up file system: second names (U: for D:, T: for S:\DATA, N: for M:), the folders
// that exist, and one volume (M:) that gives no file indexes.
bool FakeVolumes(const std::string& folder, FolderIdentity& identity) {
  const Pairs aliases = {{"U:\\", "D:\\"}, {"T:\\", "S:\\DATA\\"}, {"N:\\", "M:\\"}};
  const Lines existing = {"S:\\", "S:\\DATA\\",   "S:\\DATA\\NOTES\\",
                          "D:\\", "D:\\BACKUP\\", "D:\\BACKUP\\DATA\\",
                          "M:\\", "M:\\A\\",      "M:\\B\\"};
  std::string name = folder;
  for (char& c : name) c = static_cast<char>(toupper(c));
  for (const auto& [alias, real] : aliases)
    if (name.rfind(alias, 0) == 0) name = real + name.substr(alias.size());
  auto at = std::find(existing.begin(), existing.end(), name);
  if (at == existing.end()) return false;
  identity = name[0] == 'M'
                 ? FolderIdentity{7u, 0u}
                 : FolderIdentity{1u, 1u + static_cast<ULONGLONG>(at - existing.begin())};
  return true;
}

TEST(Rules, ContainmentIsByIdentityAndEveryWayACopyMeetsASourceIsIllegal) {
  using C = Containment;
  const struct {
    const char *folder, *path;
    Containment expected;
  } cases[] = {{"S:\\Data\\", "s:\\data\\notes\\", C::kYes},
               {"S:\\Data\\", "S:\\DataX\\", C::kNo},
               {"S:\\Data\\Notes\\", "T:\\Notes\\x\\", C::kYes},
               {"T:\\", "S:\\", C::kNo},
               {"D:\\Backup\\New\\", "U:\\Backup\\New\\Deeper\\", C::kYes},  // by ancestors
               {"D:\\Backup\\New\\", "U:\\Backup\\Newer\\", C::kNo},
               {"M:\\A\\", "M:\\a\\x\\", C::kYes},  // no indexes: the text decides
               {"M:\\A\\", "M:\\B\\", C::kNo},
               {"M:\\A\\", "N:\\A\\", C::kMaybe},
               {"", "S:\\", C::kMaybe}};
  for (const auto& c : cases)
    EXPECT_EQ(FolderContains(c.folder, c.path, FakeVolumes), c.expected) << c.path << c.folder;
  const struct {
    const char* destination;
    Lines sources;
    bool illegal;
  } configs[] = {{"D:\\Backup\\", {"S:\\Data\\"}, false},
                 {"S:\\", {"S:\\Data\\"}, true},
                 {"T:\\New\\", {"S:\\Data\\"}, true},
                 {"D:\\Backup\\", {"S:\\Data\\", "U:\\Backup\\Data\\Notes\\"}, true},
                 {"D:\\Backup\\", {"D:\\Backup\\Data\\", "S:\\Data\\Notes\\"}, true},
                 {"D:\\Backup\\", {"D:\\Backup\\Data\\"}, false},
                 {"D:\\Backup\\", {"", "S:\\Data\\"}, false},
                 {"M:\\A\\", {"S:\\Data\\"}, false},
                 {"", {"S:\\Data\\"}, true}};
  for (const auto& c : configs)
    EXPECT_EQ(IsIllegalConfiguration(c.destination, c.sources, FakeVolumes), c.illegal)
        << c.destination << " <- " << c.sources.back();
}

TEST(Rules, LogLinesAndFailureMessages) {
  // At midnight the date may be the new day's and the time the old day's.
  EXPECT_EQ(LogLine({2027, 1, 5, 1, 0, 0, 0, 0}, {2026, 12, 4, 31, 23, 59, 59, 999}, "x"),
            "01-01-2027   23:59:59   x\r\n");
  EXPECT_EQ(LogLine({987, 1, 0, 2, 0, 0, 0, 0}, {}, ""), "01-02-0987   00:00:00   \r\n");
  const std::vector<std::pair<DWORD, std::string>> cases = {
      {ERROR_NO_MORE_FILES, "File not found."}, {ERROR_WRITE_PROTECT, "Permission Denied"},
      {ERROR_NOT_READY, "Drive not ready."},    {ERROR_HANDLE_DISK_FULL, "Disk full."},
      {ERROR_DISK_FULL, "Disk full."},          {ERROR_INVALID_NAME, "Unknown error!"},
      {0xFFFFFFFFu, "Unknown error!"}};
  EXPECT_EQ(FailureCodeFromWin32(0), 0);
  for (const auto& [error, message] : cases) {
    EXPECT_NE(FailureCodeFromWin32(error), 0) << error;
    EXPECT_STREQ(FailureMessage(FailureCodeFromWin32(error)), message.c_str()) << error;
  }
  SetThreadErrorMode(0, nullptr);
  {
    QuietErrors outer;
    { QuietErrors inner; }
    EXPECT_EQ(GetThreadErrorMode(), SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    EXPECT_EQ(GetFileAttributesA("C:\\no-such-folder-here\\x.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(LastFailureCode(), kPathNotFound) << "the guard keeps the call's own error";
  }
  EXPECT_EQ(GetThreadErrorMode(), 0u);
}

// Numbers in settings and boxes: blanks, tabs and line feeds skipped, the number at the
// start taken with its sign and fraction, rounded half to even, saturating at 32 bits.
TEST(Rules, NumbersAreReadFromTheStartOfTheText) {
  const std::pair<const char*, int> cases[] = {{"2.5", 2},
                                               {"3.5", 4},
                                               {"-2.5", -2},
                                               {"0.5", 0},
                                               {"1.4999", 1},
                                               {" \t\n42abc", 42},
                                               {"+7", 7},
                                               {".75", 1},
                                               {"abc", 0},
                                               {"-", 0},
                                               {"x12", 0},
                                               {"", 0},
                                               {"99999999999", 2147483647},
                                               {"-99999999999", -2147483647 - 1}};
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseNumber(text), value) << text;
  EXPECT_EQ(RoundToInt32(ParseNumberValue("1.5MB") * 1048576), 1572864);
  EXPECT_EQ(NumberText(-1048576), "-1048576");
}

}  // namespace
