// The settings store on real files, and the parsing of numbers and command-line switches.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <climits>
#include <string>

#include "app/command_line.h"
#include "engine/ini_text.h"
#include "engine/numbers.h"
#include "engine/settings.h"
#include "tests/support.h"

namespace {

std::string Lines(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += line + "|";
  return joined;
}

TEST(Settings, LoadingAppliesDefaultsGapsCouplingAndLimits) {
  struct Case {
    const char* name;
    std::string file;  // "" = no file
    const char *sources, *logPath;
    bool logFile;
    int numDirs, fullMirror, archiveBit, deleteFiles, maxLogSize;
  };
  const std::string h = "[Main Settings]\r\n";
  const Case cases[] = {
      {"no file", "", "", "Stowly.log", true, 0, 1, 0, 1, 104857600},
      {"gaps, coupling, clamp, inexact log flag",
       h + "DestinationFolder=E:\\Backup\r\nLogFile=yes\r\nNumDirs=3\r\nSourceFolder1=C:\\One\\\r\n"
           "SourceFolder3=C:\\Three\\\r\nFullMirror=0\r\nUseArchiveBit=0\r\nDeleteFiles=0\r\n"
           "MaxLogSize=2000000000\r\n",
       "C:\\One\\|*|C:\\Three\\|", "E:\\Backup\\Stowly.log", false, 3, 1, 0, 0, 1047527424},
      {"fast mirror, no lower size bound",
       h + "FullMirror=0\r\nUseArchiveBit=1\r\nMaxLogSize=abc\r\nLogFile=1\r\n", "", "Stowly.log",
       true, 0, 0, 1, 1, 0},
      {"count beyond the keys",
       h + "NumDirs=2147483647\r\nSourceFolder1=C:\\A\\\r\n"
           "SourceFolder2=C:\\B\\\r\nSourceFolder02=C:\\Zero\\\r\n",
       "C:\\A\\|C:\\B\\|", "Stowly.log", true, 2, 1, 0, 1, 104857600},
      {"negative count", h + "NumDirs=-4\r\nSourceFolder1=C:\\A\\\r\n", "", "Stowly.log", true, 0,
       1, 0, 1, 104857600},
      {"junk", std::string(5000, '\xff') + "\r\n[Main Settings\r\n=\r\nNumDirs\r\n\0\0garbage", "",
       "Stowly.log", true, 0, 1, 0, 1, 104857600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    g_settings.settingsPath = dir / "Stowly.ini";
    ASSERT_TRUE(c.file.empty() || WriteFileText(g_settings.settingsPath, c.file));
    StoredSettings stored = LoadSettings();
    EXPECT_EQ(Lines(stored.sources), c.sources);
    EXPECT_EQ(LogFilePath(), c.logPath);
    EXPECT_EQ(stored.logFile, c.logFile);
    EXPECT_EQ(g_settings.NumDirs, c.numDirs);
    EXPECT_EQ(g_settings.FullMirror, c.fullMirror);
    EXPECT_EQ(g_settings.UseArchiveBit, c.archiveBit);
    EXPECT_EQ(g_settings.DeleteFiles, c.deleteFiles);
    EXPECT_EQ(g_settings.MaxLogSize, c.maxLogSize);
    EXPECT_EQ(Exists(g_settings.settingsPath), !c.file.empty()) << "loading writes nothing";
  }
}

std::string Utf16(const std::string& latin1) {
  std::string bytes;
  for (char c : latin1) bytes += std::string{c, '\0'};
  return bytes;
}

// Files saved by an editor in UTF-8, UTF-16 or the ANSI code page all load; the next write
// stores UTF-8.
TEST(Settings, EitherEncodingLoadsAndTheNextWriteStoresUtf8) {
  DWORD codePage = 0;
  GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                 reinterpret_cast<LPWSTR>(&codePage), 2);
  if (codePage != 1252)
    GTEST_SKIP() << "the system's ANSI code page is " << codePage << ", not 1252";
  const std::string donnees =
                        "C:\\Donn\xC3\xA9"
                        "es\\",
                    uber =
                        "D:\\\xC3\x9C"
                        "ber\\";
  const std::string key1 = "\r\nSourceFolder1=",
                    dest = "[Main Settings]\r\nNumDirs=1\r\nDestinationFolder=";
  const std::string files[] = {
      dest + donnees + key1 + uber + "\r\n",
      dest +
          "C:\\Donn\xE9"
          "es\\" +
          key1 +
          "D:\\\xDC"
          "ber\\\r\n",
      dest +
          "C:\\Donn\xE9"
          "es\\" +
          key1 + uber + "\r\n",
      "\xEF\xBB\xBF[Main Settings]\nNumDirs=1\nDestinationFolder=" + donnees +
          "\nSourceFolder1=" + uber + "\n",
      "\xFF\xFE" + Utf16("[main settings]\r\nNumDirs=1\r\nDestinationFolder=C:\\Donn\xE9"
                         "es\\" +
                         key1 +
                         "D:\\\xDC"
                         "ber\\\r\n"),
  };
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    ScratchDir dir;
    g_settings.settingsPath = dir / "Stowly.ini";
    ASSERT_TRUE(WriteFileText(g_settings.settingsPath, file));
    StoredSettings stored = LoadSettings();
    EXPECT_EQ(stored.destination, donnees);
    EXPECT_EQ(Lines(stored.sources), uber + "|");
    EXPECT_EQ(LogFilePath(), donnees + "Stowly.log");
    WriteSetting("MaxLogSize", "1048576");
    std::string written = ReadFileText(g_settings.settingsPath);
    EXPECT_TRUE(IsUtf8(written));
    EXPECT_NE(written.find("DestinationFolder=" + donnees + "\r\n"), std::string::npos);
    EXPECT_NE(written.find("SourceFolder1=" + uber + "\r\n"), std::string::npos);
    EXPECT_EQ(ReadSetting("MaxLogSize", ""), "1048576");
  }
}

TEST(Settings, WritesChangeOneKeyAndKeepTheRestOfTheFile) {
  struct Case {
    std::string before, key, value, after;
  };
  const Case cases[] = {
      {"", "NumDirs", "1", "[Main Settings]\r\nNumDirs=1\r\n"},
      {"", "NumDirs", "", ""},
      {"[Other]\r\nNumDirs=7\r\n", "NumDirs", "1",
       "[Other]\r\nNumDirs=7\r\n\r\n[Main Settings]\r\nNumDirs=1\r\n"},
      {"[main settings]\r\nA=1\r\n\r\n[Other]\r\nB=2\r\n", "NumDirs", "3",
       "[main settings]\r\nA=1\r\nNumDirs=3\r\n\r\n[Other]\r\nB=2\r\n"},
      {"[Main Settings]\r\nnumdirs = 2\r\nX=y\r\n", "NumDirs", "5",
       "[Main Settings]\r\nnumdirs=5\r\nX=y\r\n"},
      {"[Main Settings]\r\nSourceFolder2=C:\\\r\nX=y\r\n", "SourceFolder2", "",
       "[Main Settings]\r\nX=y\r\n"},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before + c.key + "=" + c.value);
    g_settings.settingsPath = dir / (c.key + c.value + NumberText(c.before.size()) + ".ini");
    ASSERT_TRUE(c.before.empty() || WriteFileText(g_settings.settingsPath, c.before));
    WriteSetting(c.key.c_str(), c.value);
    EXPECT_EQ(Exists(g_settings.settingsPath) ? ReadFileText(g_settings.settingsPath) : "",
              c.after);
  }
  EXPECT_EQ(ReadSetting("sourcefolder2", "gone"), "gone");
  EXPECT_EQ(ReadSetting("x", ""), "y") << "key names ignore case";
  WriteSetting("DestinationFolder", std::string(600, 'x'));
  EXPECT_EQ(ReadSetting("DestinationFolder", "").size(), 511u);
}

TEST(Settings, LocalModeSitsBesideTheExeAndCreatesNoUserFolder) {
  char appData[MAX_PATH] = {};
  SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE);
  const std::string company = std::string(appData) + "\\Quenvar";
  RemoveTree(company);
  EXPECT_EQ(ResolveSettingsPath(true), ExeFolder() + "Stowly.ini");
  EXPECT_FALSE(Exists(company));
  EXPECT_EQ(ResolveSettingsPath(false), company + "\\Stowly\\Stowly.ini");
  EXPECT_TRUE(Exists(company + "\\Stowly"));
}

TEST(Parsing, NumbersRoundTiesToEvenAndSaturate) {
  const std::pair<const char*, int> cases[] = {
      {"2.5", 2},
      {"3.5", 4},
      {"-2.5", -2},
      {"0.5", 0},
      {"1.4999", 1},
      {" \t\n42abc", 42},
      {"+7", 7},
      {"-13", -13},
      {".75", 1},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"x12", 0},
      {"2147483647", INT_MAX},
      {"99999999999999999999", INT_MAX},
      {"-99999999999999999999", INT_MIN},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseNumber(text), value) << text;
  EXPECT_DOUBLE_EQ(ParseNumberValue("1.5MB"), 1.5);
  EXPECT_EQ(RoundToInt32(1.5 * 1048576), 1572864);
}

TEST(Parsing, SwitchesAreSubstringsOfTheTailInAnyCaseWithSlashOrDash) {
  const std::pair<const char*, const char*> tails[] = {
      {"\"C:\\Program Files\\Stowly -S\\Stowly.exe\"   /L -s", "/L -s"},
      {"C:\\Tools\\Stowly.exe  -S", "-S"},
      {"Stowly.exe", ""},
      {"\"unterminated", ""},
      {"", ""}};
  for (const auto& [line, tail] : tails) EXPECT_EQ(CommandTail(line), tail) << line;
  struct Case {
    const char* line;
    char letter;
    bool on;
  };
  const Case cases[] = {
      {"x.exe -s", 'S', true},      {"x.exe /s", 'S', true},
      {"x.exe s", 'S', false},      {"x.exe /LOG", 'L', true},
      {"x.exe -S -L", 'L', true},   {"x.exe /L/S", 'S', true},
      {"x.exe -silent", 'S', true}, {"\"C:\\my -s dir\\x.exe\" /L", 'S', false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(HasSwitch(BuildSwitchText(CommandTail(c.line)), c.letter), c.on) << c.line;
  EXPECT_EQ(BuildSwitchText("-a/b-c"), "/A/B/C");
}

}  // namespace
