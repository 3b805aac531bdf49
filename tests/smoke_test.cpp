#include <gtest/gtest.h>

#include "tests/support.h"
#include "ui/controls.h"
#include "ui/main_window.h"

TEST(Smoke, MainWindowOpensOnAScratchIni) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileText(dir / "Stowly.ini", "[Main Settings]\r\nNumDirs=1\r\nSourceFolder1=C:\\Data\\\r\n"));
  HWND form = OpenMainWindow(dir / "Stowly.ini");
  ASSERT_TRUE(form);
  EXPECT_EQ(ListGetText(MainControlHandle(kSourceList), 0), "C:\\Data\\");
  CloseMainWindow();
}
