#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "ui/message_loop.h"
#include "engine/settings.h"
#include "tests/support.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace {

struct Expected {
  MainControl control;
  const char* cls;
  const char* text;
  int id, x, y, w, h;
  DWORD style;
  bool bold;
};

constexpr DWORD kPush = WS_TABSTOP | BS_NOTIFY | BS_CENTER | BS_VCENTER;
constexpr DWORD kLabel = SS_NOTIFY;
constexpr DWORD kReport =
    WS_VSCROLL | LBS_NOTIFY | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT | LBS_NOSEL;

const Expected kTable[] = {
    {kBackupButton, "Button", "Backup", 1000, 302, 402, 78, 30, kPush, false},
    {kSourceList, "ListBox", "", 1001, 8, 32, 416, 72,
     WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, false},
    {kCloseButton, "Button", "Close", 2, 386, 402, 78, 30, kPush, false},
    {kAddButton, "Button", "Add", 1003, 433, 32, 30, 20, kPush, false},
    {kDelButton, "Button", "Del", 1004, 433, 55, 30, 20, kPush, false},
    {kDestinationButton, "Button", "...", 1005, 433, 134, 30, 20, kPush, true},
    {kSourceLabel, "Static", "Source Folders:", 1006, 9, 16, 120, 16, kLabel, false},
    {kDestinationLabel, "Static", "Destination Folder:", 1007, 9, 118, 120, 16, kLabel, false},
    {kStatusLabel, "Static", "Status", 1008, 8, 172, 96, 16, kLabel, false},
    {kLogCheckBox, "Button", "Create Log File", 1009, 336, 160, 93, 16,
     WS_TABSTOP | BS_AUTOCHECKBOX, false},
    {kDestinationBox, "Edit", "", 1010, 9, 134, 416, 20, ES_AUTOHSCROLL | ES_READONLY, false},
    {kHelpButton, "Button", "Help", 1011, 8, 402, 78, 30, kPush, false},
    {kSkippedLabel, "Static", "Skipped Files - See log for details", 1012, 8, 303, 244, 16, kLabel,
     false},
    {kOptionsButton, "Button", "Options", 1013, 92, 402, 78, 30, kPush, false},
    {kSkippedList, "ListBox", "", 1014, 8, 319, 455, 62, kReport, false},
    {kStatusList, "ListBox", "", 1015, 8, 188, 455, 98, kReport, false},
    {kViewLogButton, "Button", "View Log", 1016, 218, 402, 78, 30, kPush, false},
};

std::string ClassOf(HWND h) {
  char name[64] = {};
  GetClassNameA(h, name, sizeof name);
  return name;
}

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

TEST_F(MainWindowTest, ControlsFollowTheTable) {
  ASSERT_TRUE(form_);
  char caption[32] = {};
  GetWindowTextA(form_, caption, sizeof caption);
  EXPECT_STREQ(caption, "Stowly");
  RECT outer;
  GetWindowRect(form_, &outer);
  EXPECT_EQ(outer.right - outer.left, 483);
  EXPECT_EQ(outer.bottom - outer.top, 476);
  EXPECT_TRUE(GetWindowLongA(form_, GWL_STYLE) & WS_THICKFRAME);
  EXPECT_TRUE(GetWindowLongA(form_, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);

  LOGFONTA standard = {};
  ASSERT_TRUE(GetObjectA(FontFromSpec("MS Sans Serif,-11,0,0,0,400,0,0,0,0,1,2,1,34"),
                         sizeof standard, &standard));
  HWND previous = nullptr;
  for (const Expected& e : kTable) {
    SCOPED_TRACE(e.text[0] ? e.text : e.cls);
    HWND h = MainControlHandle(e.control);
    ASSERT_TRUE(IsWindow(h));
    // Creation order is the z-order, which is also the tab order.
    EXPECT_EQ(GetWindow(h, GW_HWNDPREV), previous);
    previous = h;
    EXPECT_EQ(ClassOf(h), e.cls);
    EXPECT_EQ(GetText(h), e.text);
    EXPECT_EQ(GetDlgCtrlID(h), e.id);
    RECT r;
    GetWindowRect(h, &r);
    MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, e.x);
    EXPECT_EQ(r.top, e.y);
    EXPECT_EQ(r.right - r.left, e.w);
    EXPECT_EQ(r.bottom - r.top, e.h);
    DWORD style = static_cast<DWORD>(GetWindowLongA(h, GWL_STYLE));
    // A list box drops WS_VSCROLL while it has nothing to scroll.
    DWORD wanted = e.style & ~static_cast<DWORD>(WS_VSCROLL);
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_EQ((style & WS_TABSTOP) != 0, (e.style & WS_TABSTOP) != 0);
    LOGFONTA lf = {};
    ASSERT_TRUE(
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(h, WM_GETFONT, 0, 0)), sizeof lf, &lf));
    EXPECT_EQ(lf.lfWeight, e.bold ? 700 : 400);
    EXPECT_EQ(lf.lfHeight, e.bold ? -13 : -11);
    EXPECT_EQ(std::string(lf.lfFaceName), std::string(standard.lfFaceName));
  }
  EXPECT_EQ(GetWindow(previous, GW_HWNDNEXT), nullptr) << "no control beyond the table";
  EXPECT_EQ(GetDlgItem(form_, 1002), nullptr);
  EXPECT_EQ(GetFocus(), MainControlHandle(kBackupButton));
  EXPECT_EQ(ListCurrent(MainControlHandle(kStatusList)), -1);

  // Labels and lists paint with their table colours, the buttons with the system's.
  HDC dc = CreateCompatibleDC(nullptr);
  auto brush = [&](UINT message, MainControl c) {
    return SendMessageA(form_, message, reinterpret_cast<WPARAM>(dc),
                        reinterpret_cast<LPARAM>(MainControlHandle(c)));
  };
  EXPECT_EQ(brush(WM_CTLCOLORSTATIC, kStatusLabel),
            reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE)));
  EXPECT_EQ(brush(WM_CTLCOLORLISTBOX, kStatusList),
            reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW)));
  EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT));
  DeleteDC(dc);

  // Maximising leaves every control where it was.
  RECT before;
  GetWindowRect(MainControlHandle(kViewLogButton), &before);
  MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&before), 2);
  ShowWindow(form_, SW_MAXIMIZE);
  RECT after;
  GetWindowRect(MainControlHandle(kViewLogButton), &after);
  MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&after), 2);
  EXPECT_EQ(before.left, after.left);
  EXPECT_EQ(before.top, after.top);
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
