// Pure rules as tables: path mapping, folder spellings and containment, the log line, the
// failure codes whose messages a user reads, numbers and command-line switches; and the
// settings store on real files.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <tuple>

#include "app/command_line.h"
#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/fs.h"
#include "engine/ini_text.h"
#include "engine/log_file.h"
#include "engine/numbers.h"
#include "engine/path_identity.h"
#include "engine/settings.h"
#include "tests/support.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(Rules, PathsMapBetweenSourceAndDestinationBelowTheDriveRoot) {
  const Pairs cases = {
      {DestinationPath("E:\\B\\", "c:\\MiXed\\A.TXT"), "E:\\B\\MiXed\\A.TXT"},
      {DestinationPath("E:\\B\\", "C:\\"), "E:\\B\\"},
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
  identity = {m ? 7u : 1u, 0, m ? 0u : 1u + static_cast<ULONGLONG>(at - existing.begin())};
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
      {"D:\\Backup\\", {"D:\\Backup\\Data\\"}, true},  // a source inside the destination
      {"D:\\Backup\\", {"U:\\Backup\\Data\\Notes\\"}, true},
      {"D:\\Backup\\", {"", "S:\\Data\\"}, false},
      {"M:\\A\\", {"S:\\Data\\"}, false},
      {"", {"S:\\Data\\"}, true}};
  for (const auto& [destination, sources, illegal] : configs)
    EXPECT_EQ(IsIllegalConfiguration(destination, sources, FakeVolumes), illegal)
        << destination << " <- " << sources.back();
  // Each folder is opened once per check, however many pairs of sources meet it.
  std::map<std::string, int> reads;
  auto counting = [&](const std::string& folder, FolderIdentity& identity) {
    return ++reads[folder], FakeVolumes(folder, identity);
  };
  IsIllegalConfiguration("D:\\Backup\\New\\", {"S:\\Data\\", "T:\\Notes\\", "S:\\X\\", "M:\\A\\"},
                         counting);
  for (const auto& [folder, count] : reads) EXPECT_EQ(count, 1) << folder;
  // ReFS's 128-bit IDs may share their low half; a volume without them (all zero) gives its
  // 64-bit index. Wine gives no such IDs, so they come as the system would hand them.
  BY_HANDLE_FILE_INFORMATION info = {};
  info.dwVolumeSerialNumber = 9, info.nFileIndexHigh = 1, info.nFileIndexLow = 4;
  FILE_ID_INFO a = {5, {}}, b = {5, {}}, none = {5, {}};
  a.FileId.Identifier[0] = b.FileId.Identifier[0] = 4, b.FileId.Identifier[15] = 1;
  EXPECT_NE(IdentityFrom(&a, info), IdentityFrom(&b, info));
  EXPECT_EQ(IdentityFrom(&none, info), (FolderIdentity{9, 0, (1ull << 32) | 4}));
}

// Wine shows no cloud placeholder, deduplicated file, online-only file or junction that
// refuses its listing, and its host links carry no tag: the listing's decisions, fed what
// Windows reports for each.
TEST(Rules, OnlyNameSurrogatesAreLinksOnlineOnlyFilesStayAndRefusedLinksAreNotFollowed) {
  const DWORD folder = FILE_ATTRIBUTE_DIRECTORY, reparse = FILE_ATTRIBUTE_REPARSE_POINT;
  const std::tuple<DWORD, DWORD, bool, bool> cases[] = {
      {folder | reparse, IO_REPARSE_TAG_SYMLINK, true, false},
      {folder | reparse, IO_REPARSE_TAG_MOUNT_POINT, true, false},  // junctions too
      {folder | reparse, 0, true, false},                           // Wine's host links
      {folder | reparse, IO_REPARSE_TAG_CLOUD_7, false, false},     // a synced folder
      {folder | reparse | kOnlineOnlyAttribute, IO_REPARSE_TAG_CLOUD, false, false},
      {reparse | kOnlineOnlyAttribute, IO_REPARSE_TAG_CLOUD_3, false, true},
      {reparse, IO_REPARSE_TAG_DEDUP, false, false},
      {folder, IO_REPARSE_TAG_SYMLINK, false, false}};  // a tag without the attribute is none
  for (const auto& [attributes, tag, link, onlineOnly] : cases)
    EXPECT_EQ(std::pair(IsLinkEntry(attributes, tag), IsOnlineOnly(attributes)),
              std::pair(link, onlineOnly))
        << std::hex << attributes << " " << tag;
  using F = ListingFailure;
  const std::tuple<DWORD, bool, bool, ListingFailure> failures[] = {
      {ERROR_ACCESS_DENIED, false, true, F::kLinkRefused},  // the profile's "My Music"
      {ERROR_ACCESS_DENIED, false, false, F::kUnreadable},
      {ERROR_PATH_NOT_FOUND, true, false, F::kNothing},
      {ERROR_PATH_NOT_FOUND, false, false, F::kUnreadable}};  // gone since its parent's listing
  for (const auto& [error, root, link, failure] : failures)
    EXPECT_EQ(ClassifyListingFailure(error, root, link), failure) << error << root << link;
}

TEST(Rules, LogLinesFailureMessagesNumbersAndSwitches) {
  EXPECT_EQ(LogLine({2026, 12, 4, 31, 23, 59, 58, 999}, "x"), "12-31-2026   23:59:58   x\r\n");
  EXPECT_EQ(LogLine({987, 1, 0, 2, 0, 0, 0, 0}, ""), "01-02-0987   00:00:00   \r\n");
  std::string messages = FailureCodeFromWin32(0) ? "not 0" : "";
  for (DWORD error : {ERROR_NO_MORE_FILES, ERROR_WRITE_PROTECT, ERROR_NOT_READY,
                      ERROR_HANDLE_DISK_FULL, ERROR_DISK_FULL})
    messages += FailureMessage(FailureCodeFromWin32(error)) + std::string("|");
  EXPECT_EQ(messages, "File not found.|Permission Denied|Drive not ready.|Disk full.|Disk full.|");
  // Any other error gives the system's message (on one line, in UTF-8) and its code; Wine
  // has no message for most of them, so they come as Windows gives them.
  const std::string invalid = FailureMessage(FailureCodeFromWin32(ERROR_INVALID_NAME));
  EXPECT_TRUE(invalid.starts_with("Unknown error! (") && invalid.ends_with("Code 123)")) << invalid;
  const std::tuple<DWORD, std::wstring, std::string> unknown[] = {
      {223, L"The file size exceeds the limit allowed and cannot be saved.\r\n",
       "Unknown error! (The file size exceeds the limit allowed and cannot be saved. Code 223)"},
      {1920, L"Das System kann nicht auf die Datei zugreifen.\r\nPrüfen Sie den Pfad.\r\n",
       "Unknown error! (Das System kann nicht auf die Datei zugreifen. Prüfen Sie den Pfad. Code "
       "1920)"},
      {6000, L"", "Unknown error! (Code 6000)"}};
  for (const auto& [error, system, text] : unknown)
    EXPECT_EQ(UnknownErrorText(error, system), text);
  SetThreadErrorMode(0, nullptr);
  {
    QuietErrors outer;
    { QuietErrors inner; }
    EXPECT_EQ(GetThreadErrorMode(), SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    GetFileAttributesA("C:\\no-such-folder-here\\x.txt");
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
  // Switches are found in the tail in any case, after a slash or a dash.
  const std::tuple<const char*, char, bool> cases[] = {
      {"x.exe -s", 'S', true},           {"x.exe s", 'S', false},
      {"x.exe /LOG", 'L', true},         {"x.exe /L/S", 'S', true},
      {"x.exe  -silent", 'S', true},     {"\"C:\\my -s dir\\x.exe\" /L", 'S', false},
      {"\"C:\\a -l\\x.exe", 'L', false}, {"C:\\my-s\\x.exe /L", 'S', false},
  };
  for (const auto& [line, letter, on] : cases)
    EXPECT_EQ(HasSwitch(BuildSwitchText(CommandTail(line)), letter), on) << line;
}

// --- The settings store ---
// Loads the file at path and sums up what the program took from it.
std::string Loaded(const std::string& path) {
  g_settings.settingsPath = path;
  StoredSettings stored = LoadSettings();
  std::string text = stored.destination + ";";
  for (const std::string& source : stored.sources) text += source + "|";
  for (int n : {int{stored.logFile}, g_settings.NumDirs.load(), g_settings.FullMirror.load(),
                g_settings.UseArchiveBit.load(), g_settings.DeleteFiles.load(),
                g_settings.MaxLogSize.load(), g_settings.KeepVersions.load()})
    text.append(" ").append(NumberText(n));
  return text + " " + LogFilePath();
}

TEST(Settings, LoadingAppliesDefaultsGapsCouplingAndLimits) {
  const std::string h = "[Main Settings]\r\n", defaults = "; 1 0 1 0 1 104857600 0 Stowly.log";
  const std::pair<std::string, std::string> cases[] = {
      {"", defaults},
      {std::string(5000, '\xff') + "\r\n[Main Settings\r\n=\r\nNumDirs\r\n\0\0garbage", defaults},
      {h + "DestinationFolder=E:\\Backup\r\nLogFile=yes\r\nNumDirs=3\r\nSourceFolder1=C:\\One\\\r\n"
           "SourceFolder3=C:\\Three\\\r\nFullMirror=0\r\nUseArchiveBit=0\r\nDeleteFiles=0\r\n"
           "MaxLogSize=2000000000\r\nKeepVersions=3650\r\n",
       "E:\\Backup;C:\\One\\|*|C:\\Three\\| 0 3 1 0 0 1047527424 3650 E:\\Backup\\Stowly.log"},
      {h + "FullMirror=0\r\nUseArchiveBit=1\r\nMaxLogSize=abc\r\nLogFile=1\r\nSourceFolder1=C:\\A\\"
           "\r\nNumDirs=-99999999999999999999\r\nKeepVersions=abc\r\n",
       "; 1 0 0 1 1 104857600 0 Stowly.log"},
      // Hand-edited switches outside 0 and 1 read as their defaults, as a negative size does;
      // kept days outside 1 to 3650 keep nothing.
      {h + "FullMirror=2\r\nUseArchiveBit=1\r\nDeleteFiles=2\r\n"
           "MaxLogSize=-5\r\nKeepVersions=1\r\n",
       "; 1 0 1 1 1 104857600 1 Stowly.log"},
      {h + "FullMirror=0\r\nUseArchiveBit=3\r\nDeleteFiles=-1\r\nKeepVersions=3651\r\n", defaults},
      {h + "NumDirs=2147483647\r\nSourceFolder1=C:\\A\\\r\nSourceFolder2=C:\\B\\\r\n"
           "SourceFolder02=C:\\Zero\\\r\nKeepVersions=-30\r\n",
       ";C:\\A\\|C:\\B\\| 1 2 1 0 1 104857600 0 Stowly.log"},
  };
  for (const auto& [file, expected] : cases) {
    ScratchDir dir;
    ASSERT_TRUE(file.empty() || WriteFileText(dir / "Stowly.ini", file));
    EXPECT_EQ(Loaded(dir / "Stowly.ini"), expected) << file;
    EXPECT_EQ(Exists(dir / "Stowly.ini"), !file.empty()) << "loading writes nothing";
  }
}

// Lines an editor saved in UTF-8, UTF-16 or the ANSI code page all load; the next write
// stores the whole file as UTF-8.
TEST(Settings, EitherEncodingLoadsAndTheNextWriteStoresUtf8) {
  if (SystemAnsiCodePage() != 1252)
    GTEST_SKIP() << "the system's ANSI code page is " << SystemAnsiCodePage() << ", not 1252";
  const std::string dest = "C:\\Donn\303\251es\\", source = "D:\\\303\234ber\\";
  auto file = [](const std::string& d, const std::string& s, std::string eol) {
    return "[Main Settings]" + eol + "NumDirs=1" + eol + "DestinationFolder=" + d + eol +
           "SourceFolder1=" + s + eol;
  };
  std::string utf16;
  for (char c : file("C:\\Donn\351es\\", "D:\\\334ber\\", "\r\n")) utf16 += {c, '\0'};
  for (const std::string& bytes :
       {file(dest, source, "\r\n"), file("C:\\Donn\351es\\", source, "\r\n"),
        "\xEF\xBB\xBF" + file(dest, source, "\n"), "\xFF\xFE" + utf16}) {
    ScratchDir dir;
    ASSERT_TRUE(WriteFileText(dir / "Stowly.ini", bytes));
    EXPECT_EQ(Loaded(dir / "Stowly.ini"),
              dest + ";" + source + "| 1 1 1 0 1 104857600 0 " + dest + "Stowly.log")
        << bytes;
    WriteSetting("MaxLogSize", "1048576");
    EXPECT_EQ(ReadFileText(dir / "Stowly.ini"),
              file(dest, source, "\r\n") + "MaxLogSize=1048576\r\n");
  }
}

TEST(Settings, WritesChangeOneKeyAndKeepTheRestOfTheFileInEitherPlace) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      // before, value, after
      {"", "1", "[Main Settings]\r\nNumDirs=1\r\n"},
      {"", "", ""},
      {"[Other]\r\nNumDirs=7\r\n", "1",
       "[Other]\r\nNumDirs=7\r\n\r\n[Main Settings]\r\nNumDirs=1\r\n"},
      {"[main settings]\r\nA=1\r\n\r\n[Other]\r\nB=2\r\n", "3",
       "[main settings]\r\nA=1\r\nNumDirs=3\r\n\r\n[Other]\r\nB=2\r\n"},
      {"[Main Settings]\r\nnumdirs = 2\r\nX=y\r\n", "5", "[Main Settings]\r\nnumdirs=5\r\nX=y\r\n"},
      {"[Main Settings]\r\nNumDirs=2\r\nX=y\r\n", "", "[Main Settings]\r\nX=y\r\n"},
  };
  ScratchDir dir;
  for (const auto& [before, value, after] : cases) {
    g_settings.settingsPath = dir / (NumberText(strlen(before)) + value + ".ini");
    ASSERT_TRUE(!*before || WriteFileText(g_settings.settingsPath, before));
    WriteSetting("NumDirs", value);
    EXPECT_EQ(Exists(g_settings.settingsPath) ? ReadFileText(g_settings.settingsPath) : "", after)
        << before;
  }
  EXPECT_EQ(ReadSetting("x", ""), "y") << "key names ignore case";
  // Local mode creates no user folder.
  char appData[MAX_PATH] = {};
  SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE);
  const std::string company = std::string(appData) + "\\Quenvar";
  RemoveTree(company);
  EXPECT_TRUE(ResolveSettingsPath(true) == ExeFolder() + "Stowly.ini" && !Exists(company));
  EXPECT_TRUE(ResolveSettingsPath(false) == company + "\\Stowly\\Stowly.ini" &&
              Exists(company + "\\Stowly"));
}

}  // namespace
