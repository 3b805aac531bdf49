// The form framework on a form of its own, then the real main, options and help windows
// and the taskbar progress, under Wine's headless display driver.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/settings.h"
#include "tests/support.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/form.h"
#include "ui/help_window.h"
#include "ui/main_window.h"
#include "ui/message_loop.h"
#include "ui/options_window.h"
#include "ui/taskbar_progress.h"

namespace {

using Step = std::function<void(HWND form)>;

// A modal loop runs until its window is gone; a thread timer feeds it one step per tick,
// so what a step posts (keys, characters) is handled by the real loop before the next.
struct Script {
  HWND (*find)();
  std::vector<Step> steps;
  size_t next = 0;
  int idleTicks = 0;
};
Script* g_script = nullptr;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  HWND form = g_script->find();
  if (!form) return;
  if (g_script->next < g_script->steps.size()) {
    g_script->steps[g_script->next++](form);
  } else if (++g_script->idleTicks > 250) {
    ADD_FAILURE() << "the script left the window open";
    DestroyWindow(form);
  }
}

LRESULT Scripted(HWND (*find)(), std::vector<Step> steps, const std::function<LRESULT()>& run) {
  Script script{find, std::move(steps)};
  g_script = &script;
  UINT_PTR timer = SetTimer(nullptr, 0, 20, Tick);
  LRESULT result = run();
  KillTimer(nullptr, timer);
  g_script = nullptr;
  EXPECT_EQ(script.next, script.steps.size()) << "not every step ran";
  return result;
}

void PostKey(WPARAM key) {
  PostMessageA(GetFocus(), WM_KEYDOWN, key, 1);
  PostMessageA(GetFocus(), WM_KEYUP, key, 0xC0000001);
}
void Type(const std::string& text) {
  for (char c : text) PostMessageA(GetFocus(), WM_CHAR, static_cast<WPARAM>(c), 1);
}
void Click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }
void Click(HWND form, int id) { Click(GetDlgItem(form, id)); }
void Click(MainControl control) { Click(MainControlHandle(control)); }

// --- The framework, on a form of its own ---

enum { kOk, kEdit, kList, kCheck, kLabel, kCancel, kCount };
HWND g_handles[kCount];
int g_ids[kCount];
FormVars g_vars = {nullptr, g_handles, g_ids};
int g_okCalls = 0, g_cancelResult = 0;
std::vector<UINT> g_editCommands;  // WM_COMMAND ids the edit box received

int OnOk(int index, HWND form, HWND control, int id) {
  ++g_okCalls;
  EXPECT_EQ(index, kOk);
  EXPECT_EQ(form, g_vars.form);
  EXPECT_EQ(control, g_handles[kOk]);
  EXPECT_EQ(id, IDOK);
  return 0;
}
int OnOkSecond(int, HWND, HWND, int) { return 42; }
int OnCancel(int, HWND form, HWND, int) { return CloseForm(form, g_cancelResult), 0; }

const ControlRow kControls[kCount] = {
    {"Button", "Ok", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 10, 10, 60, 24, kTahomaFont, kNoColors,
     IDOK},
    {"Edit", "", WS_TABSTOP | ES_MULTILINE, 0, 10, 40, 100, 40, kTahomaFont, kWindowColors},
    {"ListBox", "", WS_VSCROLL, 0, 10, 90, 100, 40, kTahomaFont, kWindowColors},
    {"Button", "Check", BS_AUTOCHECKBOX, 0, 120, 10, 60, 16, kTahomaFont, kSystemColors},
    {"Static", "Label", SS_LEFT, 0, 120, 30, 60, 16, nullptr, kSystemColors},
    {"Button", "Cancel", WS_TABSTOP, 0, 80, 10, 60, 24, kTahomaFont, kNoColors, IDCANCEL},
};
const CommandRow kCommands[] = {
    {kOk, BN_CLICKED, OnOk}, {kOk, BN_CLICKED, OnOkSecond}, {kCancel, BN_CLICKED, OnCancel}};
LRESULT CALLBACK TestFormProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK TestControlProc(HWND, UINT, WPARAM, LPARAM);
const FormDef kDef = {"FORM_STOWLY_TEST_CLASS",
                      "Test",
                      300,
                      200,
                      0,
                      kControls,
                      kCount,
                      kCommands,
                      3,
                      nullptr,
                      0,
                      nullptr,
                      0,
                      nullptr,
                      kEdit,
                      &g_vars,
                      TestFormProc,
                      TestControlProc};
LRESULT CALLBACK TestFormProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  return FormProcedure(kDef, h, m, w, l);
}
LRESULT CALLBACK TestControlProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_COMMAND && h == g_handles[kEdit]) g_editCommands.push_back(LOWORD(w));
  return ControlProcedure(kDef, h, m, w, l);
}
HWND TestForm() { return g_vars.form; }

TEST(Framework, NumbersControlsDispatchesInTableOrderAndColours) {
  AssignControlIds(kDef);
  HWND form = reinterpret_cast<HWND>(ShowForm(kDef, nullptr, 0, 0));
  ASSERT_TRUE(IsWindow(form));
  EXPECT_EQ(g_vars.form, form);
  const int ids[kCount] = {IDOK, 1001, 1002, 1003, 1004, IDCANCEL};
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(GetDlgCtrlID(g_handles[i]), ids[i]) << i;
  EXPECT_EQ(g_ids[kEdit], 1001);
  EXPECT_EQ(SendMessageA(form, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(g_handles[kOk])),
            42)
      << "every row runs; the first non-zero result is the message's";
  SendMessageA(form, WM_COMMAND, MAKEWPARAM(IDOK, BN_SETFOCUS), 0);
  EXPECT_EQ(g_okCalls, 1) << "another notification code does not match the row";
  EXPECT_EQ(RecordOf(g_handles[kCheck])->Window, g_handles[kCheck]);
  EXPECT_EQ(RecordOf(g_handles[kCheck])->IsForm, 0);
  EXPECT_EQ(RecordOf(form)->IsForm, 1);
  EXPECT_STREQ(static_cast<const char*>(GetPropA(g_handles[kLabel], "STOWLY_TAG")), "");
  EXPECT_EQ(SendMessageA(g_handles[kOk], WM_GETFONT, 0, 0),
            SendMessageA(g_handles[kEdit], WM_GETFONT, 0, 0))
      << "one font per spec";

  HWND list = g_handles[kList];
  EXPECT_EQ(ListCurrent(list), -1);
  ListAdd(list, "a");
  ListReplace(list, 0, "b", 5);
  EXPECT_EQ(ListGetText(list, 0), "b");
  EXPECT_EQ(SendMessageA(list, LB_GETITEMDATA, 0, 0), 5);
  EXPECT_EQ(ListCurrent(list), 0);

  HDC dc = CreateCompatibleDC(nullptr);
  auto brush = [&](UINT message, int control) {
    return reinterpret_cast<HBRUSH>(SendMessageA(form, message, reinterpret_cast<WPARAM>(dc),
                                                 reinterpret_cast<LPARAM>(g_handles[control])));
  };
  EXPECT_EQ(brush(WM_CTLCOLORSTATIC, kLabel), GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT));
  EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
  EXPECT_EQ(brush(WM_CTLCOLOREDIT, kEdit), GetSysColorBrush(COLOR_WINDOW));
  EXPECT_EQ(GetBkMode(dc), OPAQUE);
  DisableControl(g_handles[kEdit]);
  EXPECT_EQ(brush(WM_CTLCOLOREDIT, kEdit), GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_BTNFACE));
  EXPECT_NE(brush(WM_CTLCOLORBTN, kOk), GetSysColorBrush(COLOR_WINDOW)) << "no colours of its own";
  DeleteDC(dc);
  DestroyWindow(form);
  EXPECT_EQ(g_vars.form, nullptr);
}

// Table heights are 96-DPI pixels, rounded half away from zero; points follow the DPI.
TEST(Framework, FontsAreMadeOncePerSpecAndDpi) {
  const char* arial = "Arial,-12,0,0,0,400,0,0,0,0,3,2,1,34";
  EXPECT_EQ(FontFromSpec(arial), FontFromSpec(arial));
  EXPECT_NE(FontFromSpec(arial), FontFromSpec("Arial,-12,0,0,0,400,0,0,0,1,3,2,1,34"));
  EXPECT_EQ(FontFromSpec(",-12,0,0,0,400,0,0,0,0,3,2,1,34"), nullptr);
  const std::tuple<const char*, int, LONG> cases[] = {{"Tahoma,8,0,0,0,700,1,1,0", 144, -16},
                                                      {"Tahoma,-11,0,0,0,700,1,1,0", 120, -14}};
  for (const auto& [spec, dpi, height] : cases) {
    LOGFONTA lf = {};
    ASSERT_TRUE(GetObjectA(FontFromSpec(spec, dpi), sizeof lf, &lf));
    EXPECT_TRUE(lf.lfHeight == height && lf.lfWeight == 700 && lf.lfItalic && lf.lfUnderline &&
                std::string(lf.lfFaceName) == "Tahoma")
        << spec << " at " << dpi << ": " << lf.lfHeight;
  }
}

TEST(Framework, ModalFormsReturnTheirResultAndFreeTheirOwner) {
  HWND owner = CreateWindowExA(0, "Static", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                               nullptr, nullptr, nullptr);
  g_cancelResult = 7;
  struct Case {
    const char* name;
    Step close;
    LRESULT result;
  };
  const Case cases[] = {
      {"CloseForm", [](HWND form) { CloseForm(form, 1); }, 1},
      {"title-bar close", [](HWND form) { PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0); }, 0},
      {"Esc is the Cancel button's command",
       [](HWND) { SetFocus(g_handles[kOk]), PostKey(VK_ESCAPE); }, 7},
      {"Esc in a multi-line edit stays there",
       [](HWND form) {
         SetFocus(g_handles[kEdit]), PostKey(VK_ESCAPE);
         PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0);
       },
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_editCommands.clear();
    bool ownerOff = false;
    LRESULT result =
        Scripted(TestForm, {[&](HWND form) { ownerOff = !IsWindowEnabled(owner), c.close(form); }},
                 [&] { return AssignControlIds(kDef), ShowForm(kDef, owner, 1, 0); });
    EXPECT_EQ(result, c.result);
    EXPECT_TRUE(ownerOff);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(g_formResult, 0) << "the loop resets the result it returned";
    EXPECT_EQ(g_vars.form, nullptr);
  }
  EXPECT_EQ(g_editCommands, std::vector<UINT>{IDCANCEL});
  DestroyWindow(owner);
}

// --- The main window ---

class Windows : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(main_ = OpenMainWindow(ini_)); }
  void TearDown() override { CloseMainWindow(); }
  std::string Ini() const { return ReadFileText(ini_); }
  bool IniHas(const std::string& line) const { return Ini().find(line) != std::string::npos; }
  ScratchDir dir_;
  std::string ini_ = dir_ / "Stowly.ini";
  HWND main_ = nullptr;
};

TEST_F(Windows, MainOpensOnTheBackupButtonAndKeepsItsControlsWhenMaximised) {
  EXPECT_EQ(GetFocus(), MainControlHandle(kBackupButton));
  EXPECT_EQ(GetDlgItem(main_, 1002), nullptr) << "the identifier 1002 is not used";
  auto place = [&] {
    RECT r = {};
    GetWindowRect(MainControlHandle(kViewLogButton), &r);
    MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  RECT before = place();
  ShowWindow(main_, SW_MAXIMIZE);
  RECT after = place();
  EXPECT_TRUE(EqualRect(&before, &after));
}

TEST_F(Windows, MainAddAndDelKeepTheIniInStepWithTheList) {
  HWND list = MainControlHandle(kSourceList);
  {
    FolderAnswer answer("C:\\Data");
    Click(kAddButton);
    EXPECT_EQ(answer.lastTitle, "Select Source Folder");
    EXPECT_EQ(answer.lastStart, "") << "an empty list gives the dialog no start folder";
    answer.path = "c:\\data\\";
    Click(kAddButton);
    EXPECT_EQ(answer.lastStart, "C:\\Data\\");
    answer.path = "E:\\";
    Click(kAddButton);
    answer.path = "";
    Click(kAddButton);  // cancelled
  }
  EXPECT_EQ(ListCount(list), 3);
  EXPECT_EQ(ListGetText(list, 0), "C:\\Data\\");
  EXPECT_TRUE(IniHas("NumDirs=3") && IniHas("SourceFolder2=c:\\data\\")) << Ini();
  {
    MessageRecorder messages;
    FolderAnswer answer("C:\\Data\\");
    Click(kAddButton);
    ListSelect(list, -1);
    Click(kDelButton);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[0].text, "This folder is already in the list.");
    EXPECT_EQ(messages.shown[0].caption, "Stowly Message");
    EXPECT_EQ(messages.shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(messages.shown[1].text, "Please select source folder from list first.");
  }
  ListSelect(list, 1);
  Click(kDelButton);
  EXPECT_EQ(ListCount(list), 2);
  EXPECT_EQ(ListCurrent(list), -1);
  EXPECT_TRUE(IniHas("NumDirs=2") && IniHas("SourceFolder1=C:\\Data\\") &&
              IniHas("SourceFolder2=E:\\") && !IniHas("SourceFolder3"))
      << Ini();
  for (int i = 0; i < 2; ++i) ListSelect(list, 0), Click(kDelButton);
  EXPECT_TRUE(IniHas("NumDirs=0") && !IniHas("SourceFolder")) << Ini();
}

TEST_F(Windows, MainStoresDestinationAndLogSwitchAtOnce) {
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
  EXPECT_TRUE(IniHas("DestinationFolder=E:\\Backup\\"));
  Click(kLogCheckBox);
  EXPECT_TRUE(IniHas("LogFile=0") && !IsChecked(MainControlHandle(kLogCheckBox)));
  Click(kLogCheckBox);
  EXPECT_TRUE(IniHas("LogFile=1"));
}

TEST_F(Windows, MainShowsNamesInAnyScriptFromTheIniAgain) {
  if (GetACP() != CP_UTF8) GTEST_SKIP() << "the UTF-8 code page is not in effect";
  std::string folder = dir_ / "Caf\xC3\xA9 \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x8E\x92";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  {
    FolderAnswer answer(folder);
    Click(kAddButton);
    Click(kDestinationButton);
  }
  Click(kLogCheckBox);
  ASSERT_TRUE(OpenMainWindow(ini_));
  EXPECT_EQ(ListGetText(MainControlHandle(kSourceList), 0), folder + "\\");
  EXPECT_EQ(GetText(MainControlHandle(kDestinationBox)), folder + "\\");
  EXPECT_FALSE(IsChecked(MainControlHandle(kLogCheckBox)));
  EXPECT_TRUE(IniHas(folder)) << "stored as UTF-8 text";
}

TEST_F(Windows, FolderDialogOffersOnlyExistingDriveLetterFolders) {
  ASSERT_TRUE(WriteFileText(dir_ / "file.txt", "x"));
  EXPECT_TRUE(FolderChoosable(dir_.path().c_str()));
  for (std::string path :
       {dir_ / "missing", dir_ / "file.txt", std::string("\\\\server\\share"), std::string()})
    EXPECT_FALSE(FolderChoosable(path.c_str())) << path;
}

TEST_F(Windows, MainEscapeEndsTheStartUpLoopAndPostsQuit) {
  CloseMainWindow();
  StartOptions options;
  options.local = true;
  LRESULT result = Scripted(
      MainWindow, {[](HWND) { SetFocus(MainControlHandle(kBackupButton)), PostKey(VK_ESCAPE); }},
      [&] { return ShowForm(MainFormDef(), nullptr, 1, reinterpret_cast<LPARAM>(&options)); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(MainWindow(), nullptr);
  g_quitRequested = false;
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// --- The options window, opened modally on the main window ---

constexpr int kFullMirror = 1000, kFastMirror = 1001, kDeleteFiles = 1003, kArchiveBit = 1004,
              kSizeBox = 1006;
HWND OptionsForm() { return FindWindowA("FORM_STOWLY_OPTIONS_CLASS", nullptr); }
HWND Item(HWND form, int id) { return GetDlgItem(form, id); }

// The window as the user sees it: delete files, archive bit, full (1) or fast (0) mirror.
std::string Shown(HWND form) {
  return NumberText(IsChecked(Item(form, kDeleteFiles))) +
         NumberText(IsChecked(Item(form, kArchiveBit))) +
         (IsChecked(Item(form, kFullMirror)) == IsChecked(Item(form, kFastMirror))
              ? "?"
              : NumberText(IsChecked(Item(form, kFullMirror))));
}

// In memory: delete files, archive bit, full mirror, log size.
std::string Stored() {
  return NumberText(g_settings.DeleteFiles) + " " + NumberText(g_settings.UseArchiveBit) + " " +
         NumberText(g_settings.FullMirror) + " " + NumberText(g_settings.MaxLogSize);
}

void ChangeAll(HWND form) {
  for (int id : {kFullMirror, kDeleteFiles, kArchiveBit}) Click(form, id);
  SetText(Item(form, kSizeBox), "7");
}

class Options : public Windows {
 protected:
  // parent 0: opened the user's way, with the main window's Options button.
  int Run(std::vector<Step> steps, HWND parent = nullptr, bool copying = false) {
    return static_cast<int>(Scripted(OptionsForm, std::move(steps), [&]() -> LRESULT {
      return parent ? ShowOptionsWindow(parent, copying)
                    : SendMessageA(MainControlHandle(kOptionsButton), BM_CLICK, 0, 0);
    }));
  }
  void Set(int fullMirror, int archiveBit, int deleteFiles, int maxLogSize) {
    g_settings.FullMirror = fullMirror;
    g_settings.UseArchiveBit = archiveBit;
    g_settings.DeleteFiles = deleteFiles;
    g_settings.MaxLogSize = maxLogSize;
  }
};

TEST_F(Options, OpensOnTheStoredSettingsAndTabWalksWhileTheMainWindowWaits) {
  const std::tuple<int, int, int, int, const char*, const char*> cases[] = {
      {1, 0, 0, 104857600, "001", "100"},
      {1, 1, 1, 1047527424, "111", "999"},
      {0, 0, 0, 1572864, "000", "1.5"},
      {0, 0, 1, 0, "100", "0"},
      {0, 1, 0, 104857601, "010", "100.000000953674"},
      {0, 1, 1, 1, "110", "0.00000095367431640625"},
      {2, 2, 2, 104857600, "000", "100"},  // only exactly 1 counts as on
  };
  for (const auto& [full, archive, del, size, shown, sizeText] : cases) {
    SCOPED_TRACE(sizeText);
    Set(full, archive, del, size);
    Run({[&](HWND form) {
          EXPECT_EQ(Shown(form), shown);
          EXPECT_EQ(GetText(Item(form, kSizeBox)), sizeText);
          EXPECT_TRUE(IsWindowEnabled(Item(form, IDOK)));
          Click(form, IDCANCEL);
        }},
        main_);
  }
  Set(1, 0, 1, 104857600);
  std::vector<int> tabOrder;
  std::vector<Step> steps = {[&](HWND form) {
    EXPECT_FALSE(IsWindowEnabled(main_));
    EXPECT_EQ(GetWindow(form, GW_OWNER), main_);
  }};
  steps.insert(steps.end(), 7,
               [&](HWND) { tabOrder.push_back(GetDlgCtrlID(GetFocus())), PostKey(VK_TAB); });
  steps.push_back([](HWND form) { Click(form, IDCANCEL); });
  Run(steps);
  EXPECT_TRUE(IsWindowEnabled(main_));
  EXPECT_EQ(tabOrder, (std::vector<int>{kFullMirror, kDeleteFiles, kArchiveBit, kSizeBox, IDOK,
                                        IDCANCEL, kFullMirror}));
}

TEST_F(Options, ClicksCoupleTheModeAndTheArchiveBit) {
  Set(1, 0, 1, 104857600);
  Run({[&](HWND form) {
        const std::pair<int, const char*> clicks[] = {
            {kFastMirror, "110"},  // Fast Mirror needs the archive bit
            {kArchiveBit, "101"},  // giving it up in Fast Mirror falls back to Full Mirror
            {kArchiveBit, "111"}, {kArchiveBit, "101"}, {kFullMirror, "101"},
            {kFastMirror, "110"}, {kFullMirror, "111"}, {kArchiveBit, "101"},
        };
        for (const auto& [id, shown] : clicks) {
          Click(form, id);
          EXPECT_EQ(Shown(form), shown) << id;
        }
        SendMessageA(Item(form, kFastMirror), BM_SETCHECK, BST_CHECKED, 0);
        EXPECT_EQ(IsChecked(Item(form, kArchiveBit)), 0) << "only clicks couple";
        Click(form, IDCANCEL);
      }},
      main_);
}

TEST_F(Options, OkStoresTheFourKeysInOrderAndTheSizeBoxInMiB) {
  ASSERT_TRUE(WriteFileText(ini_, "[Main Settings]\r\nDestinationFolder=E:\\Backup\\\r\n"));
  Set(1, 0, 1, 104857600);
  std::string typed;
  int result = Run({[&](HWND form) {
                      Click(form, kDeleteFiles);
                      Click(form, kFastMirror);
                      SetFocus(Item(form, kSizeBox));
                      Type("a2x5-01");  // digits only, three at most
                    },
                    [&](HWND form) {
                      typed = GetText(Item(form, kSizeBox));
                      SetText(Item(form, kSizeBox), "12");
                      Click(form, IDOK);
                    }},
                   main_);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(typed, "250");
  EXPECT_TRUE(IsWindowEnabled(main_));
  EXPECT_EQ(GetActiveWindow(), main_);
  EXPECT_EQ(Stored(), "0 1 0 12582912");
  size_t at = Ini().find("DestinationFolder=");
  for (const char* line :
       {"DeleteFiles=0", "UseArchiveBit=1", "FullMirror=0", "MaxLogSize=12582912"}) {
    size_t next = Ini().find(line);
    EXPECT_TRUE(next != std::string::npos && next > at) << line << " out of order in " << Ini();
    at = next;
  }
  // Sizes that are not whole MiB survive an Ok untouched.
  for (int bytes : {1572864, 104857601, 1, 1047527424}) {
    g_settings.MaxLogSize = bytes;
    Run({[&](HWND form) { Click(form, IDOK); }}, main_);
    EXPECT_EQ(ReadSetting("MaxLogSize", ""), NumberText(bytes));
  }
  // Pasted text: tabbing away shows "1" for zero or below; Enter in the box stores it.
  const std::tuple<const char*, const char*, int> pasted[] = {
      {"", "1", 1048576},   {"-5", "1", 1048576},    {"000", "1", 1048576}, {"abc", "1", 1048576},
      {"0.4", "1", 419430}, {"7mb", "7mb", 7340032}, {".5", "1", 524288},   {"1.5", "1.5", 1572864},
  };
  for (const auto& [text, afterTab, stored] : pasted) {
    SCOPED_TRACE(text);
    std::string shown;
    Run({[&](HWND form) {
           SetFocus(Item(form, kSizeBox)), SetText(Item(form, kSizeBox), text), PostKey(VK_TAB);
         },
         [&](HWND form) { shown = GetText(Item(form, kSizeBox)), Click(form, IDCANCEL); }},
        main_);
    EXPECT_EQ(shown, afterTab);
    Run({[&](HWND form) {
          SetFocus(Item(form, kSizeBox)), SetText(Item(form, kSizeBox), text), PostKey(VK_RETURN);
        }},
        main_);
    EXPECT_EQ(g_settings.MaxLogSize, stored);
  }
}

TEST_F(Options, CancelEscCloseBoxAndACopyInProgressStoreNothing) {
  const std::string before = "[Main Settings]\r\nFullMirror=0\r\nUseArchiveBit=1\r\n";
  ASSERT_TRUE(WriteFileText(ini_, before));
  struct Case {
    const char* name;
    std::vector<Step> steps;
    bool copying;
  };
  const Case cases[] = {
      {"Cancel", {ChangeAll, [](HWND form) { Click(form, IDCANCEL); }}, false},
      {"Esc",
       {ChangeAll, [](HWND form) { SetFocus(Item(form, kSizeBox)), PostKey(VK_ESCAPE); }},
       false},
      {"close box",
       {ChangeAll, [](HWND form) { SendMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0); }},
       false},
      {"Enter on Cancel",
       {ChangeAll, [](HWND form) { SetFocus(Item(form, IDOK)), PostKey(VK_TAB); },
        [](HWND form) {
          EXPECT_EQ(GetFocus(), Item(form, IDCANCEL));
          PostKey(VK_RETURN);
        }},
       false},
      {"Ok off while copying",
       {[](HWND form) {
          EXPECT_FALSE(IsWindowEnabled(Item(form, IDOK)));
          ChangeAll(form);
          SetFocus(Item(form, kSizeBox)), PostKey(VK_RETURN);
        },
        [](HWND form) { Click(form, IDOK), Click(form, IDCANCEL); }},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Set(0, 1, 0, 5242880);
    EXPECT_EQ(Run(c.steps, main_, c.copying), 0);
    EXPECT_EQ(ReadFileText(ini_), before);
    EXPECT_EQ(Stored(), "0 1 0 5242880");
    EXPECT_TRUE(IsWindowEnabled(main_));
    EXPECT_FALSE(OptionsForm());
  }
}

// --- The help window, modeless beside the main window ---

constexpr int kTree = 1000, kVersion = 1002, kTopicText = 1003, kWebCaption = 1004,
              kWebLabel = 1005, kPicture = 1007;
const char* kInstructions = "Expand and click on an item for instructions.";
std::string Topic(HWND form) { return GetText(Item(form, kTopicText)); }

HTREEITEM NextItem(HWND tree, HTREEITEM item, UINT how) {
  return reinterpret_cast<HTREEITEM>(
      SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

TEST_F(Windows, HelpOpensOnTheOverviewAndEveryTopicShowsUnderItsTitle) {
  HWND form = ShowHelpWindow(main_);
  ASSERT_TRUE(form);
  EXPECT_EQ(GetWindow(form, GW_OWNER), main_);
  HWND tree = Item(form, kTree);
  EXPECT_EQ(GetFocus(), tree) << "the tree, the only tab stop, has the focus";
  EXPECT_EQ(SendMessageA(tree, TVM_GETBKCOLOR, 0, 0), 0xE1FFFF);
  EXPECT_TRUE(SendMessageA(Item(form, kPicture), STM_GETIMAGE, IMAGE_ICON, 0));
  HTREEITEM first = NextItem(tree, nullptr, TVGN_ROOT);
  EXPECT_EQ(NextItem(tree, nullptr, TVGN_CARET), first);
  EXPECT_EQ(Topic(form).rfind("Stowly is a simple, dependable backup utility", 0), 0u);
  std::string before = Topic(form);
  SendMessageA(Item(form, kTopicText), WM_CHAR, 'Q', 1);
  EXPECT_EQ(Topic(form), before) << "the topic text cannot be typed into";

  HTREEITEM instructions = NextItem(tree, first, TVGN_NEXT);
  EXPECT_TRUE(
      SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(instructions), TVIS_EXPANDED) &
      TVIS_EXPANDED);
  TreeSelect(tree, instructions);
  EXPECT_EQ(Topic(form), kInstructions);
  int children = 0;
  for (HTREEITEM c = NextItem(tree, instructions, TVGN_CHILD); c;
       c = NextItem(tree, c, TVGN_NEXT), ++children) {
    char title[128] = {};
    TVITEMA item = {};
    item.mask = TVIF_HANDLE | TVIF_TEXT, item.hItem = c, item.pszText = title;
    item.cchTextMax = sizeof title;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    TreeSelect(tree, c);
    std::string text = Topic(form), unbroken = text;
    SCOPED_TRACE(title);
    EXPECT_EQ(text.rfind(std::string(title) + "\r\n\r\n", 0), 0u)
        << "its own text, under its title";
    EXPECT_GT(text.size(), strlen(title) + 100);
    for (size_t at; (at = unbroken.find("\r\n")) != std::string::npos;) unbroken.erase(at, 2);
    EXPECT_EQ(unbroken.find_first_of("\r\n"), std::string::npos) << "only CR LF breaks lines";
    EXPECT_EQ(text.find("\r\n\r\n\r\n"), std::string::npos);
    EXPECT_TRUE(text.back() != '\n' && text.back() != ' ');
  }
  EXPECT_EQ(children, 9);
}

TEST_F(Windows, HelpWindowsKeepTheirOwnTopicsTheHandAndStayOnEsc) {
  Click(kHelpButton);
  Click(kHelpButton);
  HWND second = FindWindowExA(nullptr, nullptr, "FORM_STOWLY_HELP_CLASS", nullptr);
  HWND first = FindWindowExA(nullptr, second, "FORM_STOWLY_HELP_CLASS", nullptr);
  ASSERT_TRUE(first && second && first != second);
  EXPECT_TRUE(IsWindowEnabled(main_)) << "the help window is modeless";
  std::string overview = Topic(first);
  SendMessageA(Item(second, kTree), WM_KEYDOWN, VK_DOWN, 1);
  EXPECT_EQ(Topic(second), kInstructions);
  SendMessageA(Item(first, kTree), WM_KEYDOWN, VK_END, 1);
  EXPECT_EQ(Topic(first).rfind("Local Mode\r\n\r\n", 0), 0u);
  EXPECT_EQ(Topic(second), kInstructions);

  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  SetCursor(arrow);
  SendMessageA(Item(first, kWebCaption), WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(GetCursor(), arrow) << "only the web label shows the hand";
  SendMessageA(Item(first, kWebLabel), WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_HAND));
  SetCursor(arrow);

  MSG esc = {Item(first, kTree), WM_KEYDOWN, VK_ESCAPE, 1, 0, {}};
  EXPECT_TRUE(IsDialogMessageA(first, &esc));
  PumpFor(20);
  EXPECT_TRUE(IsWindow(first)) << "Esc does not close a help window";
  SendMessageA(first, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_FALSE(IsWindow(first));
  SendMessageA(Item(second, kTree), WM_KEYDOWN, VK_HOME, 1);
  EXPECT_EQ(Topic(second), overview);
}

// The number written once shows the same in the label, the version block and the manifest.
TEST_F(Windows, HelpShowsTheVersionOfTheVersionBlockAndTheManifest) {
  HWND form = ShowHelpWindow(main_);
  auto resource = [](LPCSTR name, LPCSTR type) {
    HRSRC found = FindResourceA(nullptr, name, type);
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return data ? std::string(data, SizeofResource(nullptr, found)) : std::string();
  };
  std::string block = resource(MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION);
  const DWORD signature = 0xFEEF04BD;
  size_t at = block.find(std::string(reinterpret_cast<const char*>(&signature), 4));
  ASSERT_NE(at, std::string::npos);
  VS_FIXEDFILEINFO info = {};
  block.copy(reinterpret_cast<char*>(&info), sizeof info, at);
  std::string numbers = NumberText(HIWORD(info.dwFileVersionMS)) + "." +
                        NumberText(LOWORD(info.dwFileVersionMS)) + "." +
                        NumberText(HIWORD(info.dwFileVersionLS));
  EXPECT_EQ(GetText(Item(form, kVersion)), "Version " + numbers + " ");
  EXPECT_EQ(info.dwProductVersionMS, info.dwFileVersionMS);
  EXPECT_EQ(info.dwProductVersionLS, info.dwFileVersionLS);
  EXPECT_NE(resource(MAKEINTRESOURCEA(1), RT_MANIFEST)
                .find("name=\"Quenvar.Stowly\" version=\"" + numbers + ".0\""),
            std::string::npos);
}

// --- The taskbar button's progress ---

class Recorder : public TaskbarButton {
 public:
  explicit Recorder(std::string* told) : told_(told) {}
  void SetState(TBPFLAG state) override { *told_ += "s" + NumberText(state) + " "; }
  void SetValue(ULONGLONG done, ULONGLONG total) override {
    *told_ += NumberText(static_cast<long long>(done)) + "/" +
              NumberText(static_cast<long long>(total)) + " ";
  }

 private:
  std::string* told_;
};

// Steps: L listing, S a file skipped, X cleared, d/t copying d of t. States: s0 none,
// s1 indeterminate, s2 normal, s4 error.
TEST(TaskbarProgress, FollowsTheJobsPhases) {
  const std::pair<const char*, const char*> cases[] = {
      {"L 0/10 5/10 10/10 X", "s1 s2 0/10 5/10 10/10 s0 "},
      {"L 1/4 S 2/4 S 4/4 X", "s1 s2 1/4 s4 2/4 4/4 s0 "},  // red for the rest of the job
      {"L S 1/2", "s1 s4 1/2 "},
      {"1/2 S X L 1/3", "s2 1/2 s4 s0 s1 s2 1/3 "},  // the next job starts clean
      {"L L 3/9 3/9", "s1 s2 3/9 "},                 // repeats are not told again
      {"12/10 -1/10", "s2 10/10 0/10 "},
      {"0/0 X", ""},  // nothing found to copy shows no bar
  };
  for (const auto& [steps, expected] : cases) {
    std::string told;
    TaskbarProgress progress(std::make_unique<Recorder>(&told));
    std::istringstream in(steps);
    for (std::string step; in >> step;) {
      if (step == "L")
        progress.Listing();
      else if (step == "S")
        progress.FileSkipped();
      else if (step == "X")
        progress.Clear();
      else
        progress.Copying(atoi(step.c_str()), atoi(step.c_str() + step.find('/') + 1));
    }
    EXPECT_EQ(told, expected) << steps;
  }
  // Without the shell's taskbar list (as under Wine) every call does nothing.
  TaskbarProgress none(std::unique_ptr<TaskbarButton>{});
  none.Listing(), none.Copying(1, 2), none.FileSkipped(), none.Clear();
}

}  // namespace
