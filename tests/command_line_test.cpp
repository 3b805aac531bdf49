#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

bool SwitchOn(const char* commandLine, char letter) {
  return HasSwitch(BuildSwitchText(CommandTail(commandLine)), letter);
}

}  // namespace

TEST(CommandLine, TailSkipsTheProgramPathQuotedOrNot) {
  EXPECT_EQ(CommandTail("\"C:\\Program Files\\Stowly -S\\Stowly.exe\"   /L -s"), "/L -s");
  EXPECT_EQ(CommandTail("C:\\Tools\\Stowly.exe  -S"), "-S");
  EXPECT_EQ(CommandTail("Stowly.exe"), "");
  EXPECT_EQ(CommandTail("\"unterminated"), "");
  EXPECT_EQ(CommandTail(""), "");
}

TEST(CommandLine, SwitchesAreSubstringsInAnyCaseWithSlashOrDash) {
  EXPECT_TRUE(SwitchOn("x.exe -s", 'S'));
  EXPECT_TRUE(SwitchOn("x.exe /s", 'S'));
  EXPECT_FALSE(SwitchOn("x.exe s", 'S'));
  EXPECT_TRUE(SwitchOn("x.exe /LOG", 'L'));
  EXPECT_TRUE(SwitchOn("x.exe -S -L", 'S'));
  EXPECT_TRUE(SwitchOn("x.exe -S -L", 'L'));
  EXPECT_TRUE(SwitchOn("x.exe /L/S", 'S'));
  EXPECT_TRUE(SwitchOn("x.exe -silent", 'S'));
  EXPECT_FALSE(SwitchOn("\"C:\\my -s dir\\x.exe\"", 'S'))
      << "a switch inside the quoted program path is not seen";
  EXPECT_FALSE(SwitchOn("\"C:\\my -s dir\\x.exe\" /L", 'S'));
  EXPECT_EQ(BuildSwitchText("-a/b-c"), "/A/B/C");
}
