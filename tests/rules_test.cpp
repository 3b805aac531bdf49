// Pure rules as tables: path mapping, folder spellings and containment, the log line, the
// failure codes whose messages a user reads, and numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

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
      {Counterpart("E:\\B\\", "C:\\Data\\", "E:\\B\\Data\\sub\\x.txt"), "C:\\Data\\sub\\x.txt"},
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
  for (const char* none :
       {"", "Data\\", "C:Data", "1:\\Data\\", "\\\\server\\", "\\\\.\\C:\\", "S:\\Da*ta\\"})
    EXPECT_EQ(NormalizeFolderPath(none), "") << none;
}

// A made-up file system: second names (U: for D:, T: for S:\DATA, N: for M:), the folders
// that exist, and one volume (M:) that gives no file indexes.
bool FakeVolumes(const std::string& folder, FolderIdentity& identity) {
  std::string name = folder;
  for (char& c : name) c = static_cast<char>(toupper(c));
  for (const auto& [alias, real] :
       Pairs{{"U:\\", "D:\\"}, {"T:\\", "S:\\DATA\\"}, {"N:\\", "M:\\"}})
    if (name.rfind(alias, 0) == 0) name = real + name.substr(alias.size());
  const Lines existing = {"S:\\", "S:\\DATA\\",   "S:\\DATA\\NOTES\\",
                          "D:\\", "D:\\BACKUP\\", "D:\\BACKUP\\DATA\\",
                          "M:\\", "M:\\A\\",      "M:\\B\\"};
  auto at = std::find(existing.begin(), existing.end(), name);
  bool m = name[0] == 'M';
  identity = {m ? 7u : 1u, m ? 0u : 1u + static_cast<ULONGLONG>(at - existing.begin())};
  return at != existing.end();
}

TEST(Rules, ContainmentIsByIdentityAndEveryWayACopyMeetsASourceIsIllegal) {
  using C = Containment;
  const std::tuple<const char*, const char*, Containment> cases[] = {
      {"S:\\Data\\", "s:\\data\\notes\\", C::kYes},
      {"S:\\Data\\", "S:\\DataX\\", C::kNo},
      {"S:\\Data\\Notes\\", "T:\\Notes\\x\\", C::kYes},
      {"D:\\Backup\\New\\", "U:\\Backup\\New\\Deeper\\", C::kYes},  // by ancestors
      {"D:\\Backup\\New\\", "U:\\Backup\\Newer\\", C::kNo},
      {"M:\\A\\", "M:\\B\\", C::kNo},  // no indexes: the text decides on one root
      {"M:\\A\\", "N:\\A\\", C::kMaybe},
      {"", "S:\\", C::kMaybe}};
  for (const auto& [folder, path, expected] : cases)
    EXPECT_EQ(FolderContains(folder, path, FakeVolumes), expected) << path << folder;
  const std::tuple<const char*, Lines, bool> configs[] = {
      {"D:\\Backup\\", {"S:\\Data\\"}, false},
      {"S:\\", {"S:\\Data\\"}, true},
      {"T:\\New\\", {"S:\\Data\\"}, true},
      {"D:\\Backup\\", {"S:\\Data\\", "U:\\Backup\\Data\\Notes\\"}, true},
      {"D:\\Backup\\", {"D:\\Backup\\Data\\", "S:\\Data\\Notes\\"}, true},
      {"D:\\Backup\\", {"D:\\Backup\\Data\\"}, false},
      {"D:\\Backup\\", {"", "S:\\Data\\"}, false},
      {"M:\\A\\", {"S:\\Data\\"}, false},
      {"", {"S:\\Data\\"}, true}};
  for (const auto& [destination, sources, illegal] : configs)
    EXPECT_EQ(IsIllegalConfiguration(destination, sources, FakeVolumes), illegal)
        << destination << " <- " << sources.back();
}

TEST(Rules, LogLinesFailureMessagesAndNumbers) {
  // At midnight the date may be the new day's and the time the old day's.
  EXPECT_EQ(LogLine({2027, 1, 5, 1, 0, 0, 0, 0}, {2026, 12, 4, 31, 23, 59, 59, 999}, "x"),
            "01-01-2027   23:59:59   x\r\n");
  EXPECT_EQ(LogLine({987, 1, 0, 2, 0, 0, 0, 0}, {}, ""), "01-02-0987   00:00:00   \r\n");
  std::string messages = FailureCodeFromWin32(0) ? "not 0" : "";
  for (DWORD error : {ERROR_NO_MORE_FILES, ERROR_WRITE_PROTECT, ERROR_NOT_READY,
                      ERROR_HANDLE_DISK_FULL, ERROR_DISK_FULL, ERROR_INVALID_NAME})
    messages += FailureMessage(FailureCodeFromWin32(error)) + std::string("|");
  EXPECT_EQ(
      messages,
      "File not found.|Permission Denied|Drive not ready.|Disk full.|Disk full.|Unknown error!|");
  SetThreadErrorMode(0, nullptr);
  {
    QuietErrors outer;
    { QuietErrors inner; }
    EXPECT_EQ(GetThreadErrorMode(), SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    EXPECT_EQ(GetFileAttributesA("C:\\no-such-folder-here\\x.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(LastFailureCode(), kPathNotFound) << "the guard keeps the call's own error";
  }
  EXPECT_EQ(GetThreadErrorMode(), 0u);
  // Blanks, tabs and line feeds skipped, the number at the start taken with its sign and
  // fraction, rounded half to even, saturating at 32 bits.
  std::string numbers;
  for (const char* text : {"2.5", "3.5", "-2.5", "1.4999", " \t\n42abc", "+7", ".75", "x12", "-",
                           "", "99999999999", "-99999999999"})
    numbers += NumberText(ParseNumber(text)) + " ";
  EXPECT_EQ(numbers, "2 4 -2 1 42 7 1 0 0 0 2147483647 -2147483648 ");
  EXPECT_EQ(RoundToInt32(ParseNumberValue("1.5MB") * 1048576), 1572864);
}

}  // namespace
