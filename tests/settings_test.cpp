// The settings store on real files, and the parsing of command-line switches.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "app/command_line.h"
#include "engine/ini_text.h"
#include "engine/settings.h"
#include "tests/support.h"

namespace {

// Loads the file at path and sums up what the program took from it.
std::string Loaded(const std::string& path) {
  g_settings.settingsPath = path;
  StoredSettings stored = LoadSettings();
  std::string text = stored.destination + ";";
  for (const std::string& source : stored.sources) text += source + "|";
  for (int n : {int{stored.logFile}, g_settings.NumDirs.load(), g_settings.FullMirror.load(),
                g_settings.UseArchiveBit.load(), g_settings.DeleteFiles.load(),
                g_settings.MaxLogSize.load()})
    text.append(" ").append(NumberText(n));
  return text + " " + LogFilePath();
}

TEST(Settings, LoadingAppliesDefaultsGapsCouplingAndLimits) {
  const std::string h = "[Main Settings]\r\n", defaults = "; 1 0 1 0 1 104857600 Stowly.log";
  const std::pair<std::string, std::string> cases[] = {
      {"", defaults},
      {std::string(5000, '\xff') + "\r\n[Main Settings\r\n=\r\nNumDirs\r\n\0\0garbage", defaults},
      {h + "DestinationFolder=E:\\Backup\r\nLogFile=yes\r\nNumDirs=3\r\nSourceFolder1=C:\\One\\\r\n"
           "SourceFolder3=C:\\Three\\\r\nFullMirror=0\r\nUseArchiveBit=0\r\nDeleteFiles=0\r\n"
           "MaxLogSize=2000000000\r\n",
       "E:\\Backup;C:\\One\\|*|C:\\Three\\| 0 3 1 0 0 1047527424 E:\\Backup\\Stowly.log"},
      {h + "FullMirror=0\r\nUseArchiveBit=1\r\nMaxLogSize=abc\r\nLogFile=1\r\nSourceFolder1=C:\\A\\"
           "\r\nNumDirs=-99999999999999999999\r\n",
       "; 1 0 0 1 1 0 Stowly.log"},
      {h + "NumDirs=2147483647\r\nSourceFolder1=C:\\A\\\r\nSourceFolder2=C:\\B\\\r\n"
           "SourceFolder02=C:\\Zero\\\r\n",
       ";C:\\A\\|C:\\B\\| 1 2 1 0 1 104857600 Stowly.log"},
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
              dest + ";" + source + "| 1 1 1 0 1 104857600 " + dest + "Stowly.log")
        << bytes;
    WriteSetting("MaxLogSize", "1048576");
    EXPECT_EQ(ReadFileText(dir / "Stowly.ini"),
              file(dest, source, "\r\n") + "MaxLogSize=1048576\r\n");
  }
}

TEST(Settings, WritesChangeOneKeyAndKeepTheRestOfTheFile) {
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
}

TEST(Settings, LocalModeCreatesNoUserFolder) {
  char appData[MAX_PATH] = {};
  SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE);
  const std::string company = std::string(appData) + "\\Quenvar";
  RemoveTree(company);
  EXPECT_TRUE(ResolveSettingsPath(true) == ExeFolder() + "Stowly.ini" && !Exists(company));
  EXPECT_TRUE(ResolveSettingsPath(false) == company + "\\Stowly\\Stowly.ini" &&
              Exists(company + "\\Stowly"));
}

TEST(Parsing, SwitchesAreSubstringsOfTheTailInAnyCaseWithSlashOrDash) {
  const std::tuple<const char*, char, bool> cases[] = {
      {"x.exe -s", 'S', true},           {"x.exe s", 'S', false},
      {"x.exe /LOG", 'L', true},         {"x.exe /L/S", 'S', true},
      {"x.exe  -silent", 'S', true},     {"\"C:\\my -s dir\\x.exe\" /L", 'S', false},
      {"\"C:\\a -l\\x.exe", 'L', false}, {"C:\\my-s\\x.exe /L", 'S', false},
  };
  for (const auto& [line, letter, on] : cases)
    EXPECT_EQ(HasSwitch(BuildSwitchText(CommandTail(line)), letter), on) << line;
}

}  // namespace
