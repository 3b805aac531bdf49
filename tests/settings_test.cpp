#include <gtest/gtest.h>
#include <shlobj.h>

#include <climits>

#include "engine/settings.h"
#include "tests/support.h"
#include "ui/controls.h"
#include "ui/main_window.h"

namespace {

std::string SourceLines() {
  std::string lines;
  HWND list = MainControlHandle(kSourceList);
  for (int i = 0; i < ListCount(list); ++i) lines += ListGetText(list, i) + "|";
  return lines;
}

std::string AppDataFolder() {
  char path[MAX_PATH] = {};
  SHGetSpecialFolderPathA(nullptr, path, CSIDL_APPDATA, TRUE);
  return path;
}

}  // namespace

TEST(Settings, NoFileGivesEveryDefault) {
  ScratchDir dir;
  ASSERT_TRUE(OpenMainWindow(dir / "missing.ini"));
  EXPECT_EQ(GetText(MainControlHandle(kDestinationBox)), "");
  EXPECT_EQ(LogFilePath(), "Stowly.log");
  EXPECT_EQ(IsChecked(MainControlHandle(kLogCheckBox)), 1);
  EXPECT_EQ(ListCount(MainControlHandle(kSourceList)), 0);
  EXPECT_EQ(g_settings.NumDirs, 0);
  EXPECT_EQ(g_settings.FullMirror, 1);
  EXPECT_EQ(g_settings.UseArchiveBit, 0);
  EXPECT_EQ(g_settings.DeleteFiles, 1);
  EXPECT_EQ(g_settings.MaxLogSize, 104857600);
  EXPECT_FALSE(Exists(dir / "missing.ini")) << "loading must not write anything";
  CloseMainWindow();
}

TEST(Settings, LoadingAppliesGapsCouplingClampAndExactLogFlag) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileText(dir / "a.ini",
                            "[Main Settings]\r\nDestinationFolder=E:\\Backup\r\nLogFile=yes\r\n"
                            "NumDirs=3\r\nSourceFolder1=C:\\One\\\r\nSourceFolder3=C:\\Three\\\r\n"
                            "FullMirror=0\r\nUseArchiveBit=0\r\nDeleteFiles=0\r\n"
                            "MaxLogSize=2000000000\r\n"));
  ASSERT_TRUE(OpenMainWindow(dir / "a.ini"));
  EXPECT_EQ(SourceLines(), "C:\\One\\|*|C:\\Three\\|");
  EXPECT_EQ(g_settings.NumDirs, 3);
  EXPECT_EQ(g_settings.FullMirror, 1) << "UseArchiveBit 0 forces Full Mirror";
  EXPECT_EQ(g_settings.DeleteFiles, 0);
  EXPECT_EQ(g_settings.MaxLogSize, 1047527424);
  EXPECT_EQ(IsChecked(MainControlHandle(kLogCheckBox)), 0) << "only \"1\" checks the box";
  EXPECT_EQ(LogFilePath(), "E:\\Backup\\Stowly.log") << "the log goes inside the folder";

  ASSERT_TRUE(WriteFileText(dir / "b.ini",
                            "[Main Settings]\r\nFullMirror=0\r\nUseArchiveBit=1\r\n"
                            "MaxLogSize=abc\r\nLogFile=1\r\n"));
  ASSERT_TRUE(OpenMainWindow(dir / "b.ini"));
  EXPECT_EQ(g_settings.FullMirror, 0);
  EXPECT_EQ(g_settings.UseArchiveBit, 1);
  EXPECT_EQ(g_settings.MaxLogSize, 0) << "no lower bound at load time";
  EXPECT_EQ(IsChecked(MainControlHandle(kLogCheckBox)), 1);
  CloseMainWindow();
}

TEST(Settings, CorruptCountsLoadPromptlyAndKeepTheListInStep) {
  ScratchDir dir;
  // Would append two billion placeholder lines if the count were trusted.
  ASSERT_TRUE(WriteFileText(dir / "huge.ini",
                            "[Main Settings]\r\nNumDirs=2147483647\r\nSourceFolder1=C:\\A\\\r\n"
                            "SourceFolder2=C:\\B\\\r\nSourceFolder02=C:\\Zero\\\r\n"));
  ASSERT_TRUE(OpenMainWindow(dir / "huge.ini"));
  EXPECT_EQ(SourceLines(), "C:\\A\\|C:\\B\\|");
  EXPECT_EQ(g_settings.NumDirs, 2);

  ASSERT_TRUE(WriteFileText(dir / "negative.ini",
                            "[Main Settings]\r\nNumDirs=-4\r\nSourceFolder1=C:\\A\\\r\n"));
  ASSERT_TRUE(OpenMainWindow(dir / "negative.ini"));
  EXPECT_EQ(ListCount(MainControlHandle(kSourceList)), 0);
  EXPECT_EQ(g_settings.NumDirs, 0) << "a later Add must store its folder as SourceFolder1";

  std::string junk(5000, '\xff');
  junk += "\r\n[Main Settings\r\n=\r\nNumDirs\r\n\0\0garbage";
  ASSERT_TRUE(WriteFileText(dir / "junk.ini", junk));
  ASSERT_TRUE(OpenMainWindow(dir / "junk.ini"));
  EXPECT_EQ(g_settings.NumDirs, 0);
  CloseMainWindow();
}

TEST(Settings, WritesRemoveKeysForEmptyValuesAndReadsCutAt511) {
  ScratchDir dir;
  g_settings.settingsPath = dir / "w.ini";
  WriteSetting("DestinationFolder", "E:\\B\\");
  WriteSetting("NumDirs", "1");
  EXPECT_EQ(ReadSetting("destinationfolder", "x"), "E:\\B\\") << "key names ignore case";
  WriteSetting("DestinationFolder", "");
  EXPECT_EQ(ReadSetting("DestinationFolder", "gone"), "gone");
  EXPECT_EQ(ReadFileText(dir / "w.ini").find("DestinationFolder"), std::string::npos);

  WriteSetting("DestinationFolder", std::string(600, 'x'));
  EXPECT_EQ(ReadSetting("DestinationFolder", "").size(), 511u);
}

TEST(Settings, LocalModeSitsBesideTheExeAndCreatesNoUserFolder) {
  std::string company = AppDataFolder() + "\\Quenvar";
  RemoveTree(company);
  EXPECT_EQ(ResolveSettingsPath(true), ExeFolder() + "Stowly.ini");
  EXPECT_FALSE(Exists(company));

  EXPECT_EQ(ResolveSettingsPath(false), company + "\\Stowly\\Stowly.ini");
  EXPECT_TRUE(Exists(company + "\\Stowly"));
}

TEST(NumberParsing, RoundsTiesToEvenAndSaturates) {
  EXPECT_EQ(ParseNumber("2.5"), 2);
  EXPECT_EQ(ParseNumber("3.5"), 4);
  EXPECT_EQ(ParseNumber("-2.5"), -2);
  EXPECT_EQ(ParseNumber("0.5"), 0);
  EXPECT_EQ(ParseNumber("1.4999"), 1);
  EXPECT_EQ(ParseNumber(" \t\n42abc"), 42);
  EXPECT_EQ(ParseNumber("+7"), 7);
  EXPECT_EQ(ParseNumber("-13"), -13);
  EXPECT_EQ(ParseNumber(".75"), 1);
  EXPECT_EQ(ParseNumber("abc"), 0);
  EXPECT_EQ(ParseNumber(""), 0);
  EXPECT_EQ(ParseNumber("-"), 0);
  EXPECT_EQ(ParseNumber("x12"), 0);
  EXPECT_EQ(ParseNumber("2147483647"), INT_MAX);
  EXPECT_EQ(ParseNumber("99999999999999999999"), INT_MAX);
  EXPECT_EQ(ParseNumber("-99999999999999999999"), INT_MIN);
  EXPECT_DOUBLE_EQ(ParseNumberValue("1.5MB"), 1.5);
  EXPECT_EQ(RoundToInt32(1.5 * 1048576), 1572864);
}
