// Settings files saved by an editor in UTF-8 or in the system's ANSI code page both load,
// and the next write stores UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "engine/ini_text.h"
#include "engine/settings.h"
#include "tests/support.h"
#include "ui/controls.h"
#include "ui/main_window.h"

namespace {

const std::string kDonnees =
    "C:\\Donn\xC3\xA9"
    "es\\";  // as the program holds it: UTF-8
const std::string kOther =
    "D:\\\xC3\x9C"
    "ber\\";  // "Über"

std::string Utf16(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) bytes += std::string{c, '\0'};
  return bytes;
}

DWORD SystemCodePage() {
  DWORD codePage = 0;
  GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                 reinterpret_cast<LPWSTR>(&codePage), sizeof codePage / sizeof(WCHAR));
  return codePage;
}

TEST(SettingsEncoding, EitherEncodingLoadsAndTheNextWriteStoresUtf8) {
  if (SystemCodePage() != 1252)
    GTEST_SKIP() << "the system locale's ANSI code page is " << SystemCodePage() << ", not 1252";
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"UTF-8",
       "[Main Settings]\r\nNumDirs=1\r\nDestinationFolder=C:\\Donn\xC3\xA9"
       "es\\\r\n"
       "SourceFolder1=D:\\\xC3\x9C"
       "ber\\\r\n"},
      {"code page 1252",
       "[Main Settings]\r\nNumDirs=1\r\nDestinationFolder=C:\\Donn\xE9"
       "es\\\r\n"
       "SourceFolder1=D:\\\xDC"
       "ber\\\r\n"},
      {"lines of both",
       "[Main Settings]\r\nNumDirs=1\r\nDestinationFolder=C:\\Donn\xE9"
       "es\\\r\n"
       "SourceFolder1=D:\\\xC3\x9C"
       "ber\\\r\n"},
      {"UTF-8 with its mark",
       "\xEF\xBB\xBF[Main Settings]\nNumDirs=1\nDestinationFolder=C:\\Donn\xC3\xA9"
       "es\\\n"
       "SourceFolder1=D:\\\xC3\x9C"
       "ber\\\n"},
      {"UTF-16", Utf16("[main settings]\r\nNumDirs=1\r\nDestinationFolder=C:\\Donn") +
                     std::string("\xE9\0", 2) + Utf16("es\\\r\nSourceFolder1=D:\\").substr(2) +
                     std::string("\xDC\0", 2) + Utf16("ber\\\r\n").substr(2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    ASSERT_TRUE(WriteFileText(dir / "Stowly.ini", c.bytes));
    ASSERT_TRUE(OpenMainWindow(dir / "Stowly.ini"));
    EXPECT_EQ(GetText(MainControlHandle(kDestinationBox)), kDonnees);
    EXPECT_EQ(ListGetText(MainControlHandle(kSourceList), 0), kOther);
    EXPECT_EQ(LogFilePath(), kDonnees + "Stowly.log");

    WriteSetting("MaxLogSize", "1048576");
    std::string stored = ReadFileText(dir / "Stowly.ini");
    EXPECT_TRUE(IsUtf8(stored)) << stored;
    EXPECT_NE(stored.find("DestinationFolder=" + kDonnees + "\r\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("SourceFolder1=" + kOther + "\r\n"), std::string::npos) << stored;
    EXPECT_EQ(ReadSetting("MaxLogSize", ""), "1048576");
    EXPECT_EQ(ReadSetting("DestinationFolder", ""), kDonnees);
  }
  CloseMainWindow();
}

TEST(SettingsEncoding, WritesKeepTheRestOfTheFile) {
  struct Case {
    const char* name;
    std::string before, key, value, after;
  };
  const Case cases[] = {
      {"no file", "", "NumDirs", "1", "[Main Settings]\r\nNumDirs=1\r\n"},
      {"another section first", "[Other]\r\nNumDirs=7\r\n", "NumDirs", "1",
       "[Other]\r\nNumDirs=7\r\n\r\n[Main Settings]\r\nNumDirs=1\r\n"},
      {"new key after the section's last", "[main settings]\r\nA=1\r\n\r\n[Other]\r\nB=2\r\n",
       "NumDirs", "3", "[main settings]\r\nA=1\r\nNumDirs=3\r\n\r\n[Other]\r\nB=2\r\n"},
      {"changed in place, its spelling kept", "[Main Settings]\r\nnumdirs = 2\r\nX=y\r\n",
       "NumDirs", "5", "[Main Settings]\r\nnumdirs=5\r\nX=y\r\n"},
      {"removed", "[Main Settings]\r\nSourceFolder2=C:\\\r\nX=y\r\n", "SourceFolder2", "",
       "[Main Settings]\r\nX=y\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    g_settings.settingsPath = dir / "w.ini";
    ASSERT_TRUE(c.before.empty() || WriteFileText(dir / "w.ini", c.before));
    WriteSetting(c.key.c_str(), c.value);
    EXPECT_EQ(ReadFileText(dir / "w.ini"), c.after);
  }
  ScratchDir dir;
  g_settings.settingsPath = dir / "none.ini";
  WriteSetting("NumDirs", "");
  EXPECT_FALSE(Exists(dir / "none.ini")) << "removing a key from no file makes no file";
}

}  // namespace
