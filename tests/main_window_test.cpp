#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/message_loop.h"
#include "engine/settings.h"
#include "tests/support.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace {

std::string Ini(const ScratchDir& dir) { return ReadFileText(dir / "Stowly.ini"); }

void Click(MainControl control) { SendMessageA(MainControlHandle(control), BM_CLICK, 0, 0); }

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { form_ = OpenMainWindow(dir_ / "Stowly.ini"); }
  void TearDown() override { CloseMainWindow(); }
  ScratchDir dir_;
  HWND form_ = nullptr;
};

}  // namespace

TEST_F(MainWindowTest, OpensWithTheBackupButtonFocusedAndKeepsItsControlsWhenMaximised) {
  ASSERT_TRUE(form_);
  EXPECT_EQ(GetFocus(), MainControlHandle(kBackupButton));
  EXPECT_EQ(GetDlgItem(form_, 1002), nullptr) << "the identifier 1002 is not used";
  auto place = [&] {
    RECT r = {};
    GetWindowRect(MainControlHandle(kViewLogButton), &r);
    MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  RECT before = place();
  ShowWindow(form_, SW_MAXIMIZE);
  RECT after = place();
  EXPECT_TRUE(EqualRect(&before, &after));
}

TEST_F(MainWindowTest, AddAndDelKeepTheIniInStepWithTheList) {
  ASSERT_TRUE(form_);
  HWND list = MainControlHandle(kSourceList);
  {
    FolderAnswer answer("C:\\Data");
    Click(kAddButton);
    EXPECT_EQ(answer.lastTitle, "Select Source Folder");
    EXPECT_EQ(answer.lastStart, "") << "an empty list opens the dialog without a start folder";
    answer.path = "c:\\data\\";
    Click(kAddButton);
    EXPECT_EQ(answer.lastStart, "C:\\Data\\");
    answer.path = "E:\\";
    Click(kAddButton);
    answer.path = "";
    Click(kAddButton);  // cancelled: nothing changes
  }
  EXPECT_EQ(ListCount(list), 3);
  EXPECT_EQ(ListGetText(list, 0), "C:\\Data\\");
  EXPECT_EQ(ListGetText(list, 2), "E:\\");
  EXPECT_EQ(g_settings.NumDirs, 3);
  EXPECT_NE(Ini(dir_).find("NumDirs=3"), std::string::npos);
  EXPECT_NE(Ini(dir_).find("SourceFolder2=c:\\data\\"), std::string::npos);

  {
    MessageRecorder messages;
    FolderAnswer answer("C:\\Data\\");
    Click(kAddButton);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "This folder is already in the list.");
    EXPECT_EQ(messages.shown[0].caption, "Stowly Message");
    EXPECT_EQ(messages.shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  }
  EXPECT_EQ(ListCount(list), 3);

  ListSelect(list, 1);
  Click(kDelButton);
  EXPECT_EQ(ListCount(list), 2);
  EXPECT_EQ(ListCurrent(list), -1);
  {
    MessageRecorder messages;
    Click(kDelButton);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Please select source folder from list first.");
  }
  std::string ini = Ini(dir_);
  EXPECT_NE(ini.find("NumDirs=2"), std::string::npos);
  EXPECT_NE(ini.find("SourceFolder1=C:\\Data\\"), std::string::npos);
  EXPECT_NE(ini.find("SourceFolder2=E:\\"), std::string::npos);
  EXPECT_EQ(ini.find("SourceFolder3"), std::string::npos) << "no key beyond NumDirs survives";

  ListSelect(list, 0);
  Click(kDelButton);
  ListSelect(list, 0);
  Click(kDelButton);
  ini = Ini(dir_);
  EXPECT_NE(ini.find("NumDirs=0"), std::string::npos);
  EXPECT_EQ(ini.find("SourceFolder"), std::string::npos);
}

TEST_F(MainWindowTest, DestinationAndLogSwitchAreStoredAtOnce) {
  ASSERT_TRUE(form_);
  {
    FolderAnswer answer("E:\\Backup");
    Click(kDestinationButton);
    EXPECT_EQ(answer.lastTitle, "Select Destination Folder");
    answer.path = "";
    Click(kDestinationButton);  // cancelled
    EXPECT_EQ(answer.lastStart, "E:\\Backup\\");
  }
  EXPECT_EQ(GetText(MainControlHandle(kDestinationBox)), "E:\\Backup\\");
  EXPECT_EQ(LogFilePath(), "E:\\Backup\\Stowly.log");
  EXPECT_NE(Ini(dir_).find("DestinationFolder=E:\\Backup\\"), std::string::npos);

  Click(kLogCheckBox);
  EXPECT_EQ(IsChecked(MainControlHandle(kLogCheckBox)), 0);
  EXPECT_NE(Ini(dir_).find("LogFile=0"), std::string::npos);
  Click(kLogCheckBox);
  EXPECT_NE(Ini(dir_).find("LogFile=1"), std::string::npos);
}

TEST_F(MainWindowTest, NamesInAnyScriptRoundTripThroughIniListAndBox) {
  ASSERT_TRUE(form_);
  if (GetACP() != CP_UTF8)
    GTEST_SKIP() << "the UTF-8 code page is not in effect (Windows before 1903)";
  std::string name = "Caf\xC3\xA9 \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x8E\x92";  // Café 東京 🎒
  std::string folder = dir_ / name;
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_TRUE(FolderChoosable(folder.c_str()));
  {
    FolderAnswer answer(folder);
    Click(kAddButton);
    Click(kDestinationButton);
  }
  CloseMainWindow();
  ASSERT_TRUE(OpenMainWindow(dir_ / "Stowly.ini"));
  EXPECT_EQ(ListGetText(MainControlHandle(kSourceList), 0), folder + "\\");
  EXPECT_EQ(GetText(MainControlHandle(kDestinationBox)), folder + "\\");
  EXPECT_NE(Ini(dir_).find(name), std::string::npos) << "stored as UTF-8 text";
}

TEST_F(MainWindowTest, FolderDialogOffersOnlyExistingDriveLetterFolders) {
  EXPECT_TRUE(FolderChoosable(dir_.path().c_str()));
  EXPECT_FALSE(FolderChoosable((dir_ / "missing").c_str()));
  ASSERT_TRUE(WriteFileText(dir_ / "file.txt", "x"));
  EXPECT_FALSE(FolderChoosable((dir_ / "file.txt").c_str()));
  EXPECT_FALSE(FolderChoosable("\\\\server\\share"));
  EXPECT_FALSE(FolderChoosable(""));
}

TEST_F(MainWindowTest, EscapeAndCloseEndTheModalLoopWithResultZero) {
  ASSERT_TRUE(form_);
  CloseMainWindow();
  // The real start-up path: the main window modal with no owner, closed by Esc.
  SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    SetFocus(MainControlHandle(kBackupButton));
    PostMessageA(MainControlHandle(kBackupButton), WM_KEYDOWN, VK_ESCAPE, 0);
  });
  StartOptions options;
  options.local = true;
  EXPECT_EQ(ShowForm(MainFormDef(), nullptr, 1, reinterpret_cast<LPARAM>(&options)), 0);
  EXPECT_EQ(MainWindow(), nullptr);
  g_quitRequested = false;
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
      << "destruction posts the quit request";
}
