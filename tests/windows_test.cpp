// The real main, options and help windows with the framework under them, and the
// taskbar progress, under Wine's headless display driver.
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
} * g_script;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  HWND form = g_script->find();
  if (form && g_script->next < g_script->steps.size()) {
    g_script->steps[g_script->next++](form);
  } else if (form && ++g_script->idleTicks > 250) {
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
  EXPECT_EQ(script.next, script.steps.size()) << "not every step ran";
  return result;
}

void PostKey(WPARAM key) {
  PostMessageA(GetFocus(), WM_KEYDOWN, key, 1);
  PostMessageA(GetFocus(), WM_KEYUP, key, 0xC0000001);
}
void Click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }
void Click(HWND form, int id) { Click(GetDlgItem(form, id)); }
void Click(MainControl control) { Click(MainControlHandle(control)); }

// --- The framework ---

// Table heights are 96-DPI pixels, rounded half away from zero; points follow the DPI.
TEST(Framework, FontsAreMadeOncePerSpecAndDpi) {
  const char* arial = "Arial,-12,0,0,0,400,0,0,0,0,3,2,1,34";
  EXPECT_EQ(FontFromSpec(arial), FontFromSpec(arial));
  EXPECT_NE(FontFromSpec(arial), FontFromSpec("Arial,-12,0,0,0,400,0,0,0,1,3,2,1,34"));
  EXPECT_EQ(FontFromSpec(",-12,0,0,0,400,0,0,0,0,3,2,1,34"), nullptr);
  for (const auto& [spec, dpi, height] : {std::tuple{"Tahoma,8,0,0,0,700,1,1,0", 144, -16},
                                          std::tuple{"Tahoma,-11,0,0,0,700,1,1,0", 120, -14}}) {
    LOGFONTA lf = {};
    ASSERT_TRUE(GetObjectA(FontFromSpec(spec, dpi), sizeof lf, &lf));
    EXPECT_TRUE(lf.lfHeight == height && lf.lfWeight == 700 && lf.lfItalic && lf.lfUnderline &&
                std::string(lf.lfFaceName) == "Tahoma")
        << spec << " at " << dpi << ": " << lf.lfHeight;
  }
}

// A form of its own: every command row runs in table order and the first non-zero result
// is the message's; Esc in a multi-line edit becomes the edit's Cancel command instead of
// closing the form; the modal loop returns the closing result and resets it.
enum { kCancelButton, kMemo, kTestCount };
HWND g_testHandles[kTestCount];
int g_testIds[kTestCount];
FormVars g_testVars = {nullptr, g_testHandles, g_testIds};
std::vector<UINT> g_memoCommands;
int First(int, HWND, HWND, int) { return 0; }
int Second(int, HWND form, HWND, int) { return CloseForm(form, 7), 42; }
const ControlRow kTestControls[] = {
    {"Button", "Cancel", WS_TABSTOP, 0, 10, 10, 60, 24, kTahomaFont, kNoColors, IDCANCEL},
    {"Edit", "", WS_TABSTOP | ES_MULTILINE, 0, 10, 40, 100, 40, kTahomaFont, kWindowColors}};
const CommandRow kTestCommands[] = {{kCancelButton, BN_CLICKED, First},
                                    {kCancelButton, BN_CLICKED, Second}};
LRESULT CALLBACK TestFormProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK TestControlProc(HWND, UINT, WPARAM, LPARAM);
const FormDef kTestDef = {"FORM_STOWLY_TEST_CLASS",
                          "Test",
                          200,
                          120,
                          0,
                          kTestControls,
                          kTestCount,
                          kTestCommands,
                          2,
                          nullptr,
                          0,
                          nullptr,
                          0,
                          nullptr,
                          kMemo,
                          &g_testVars,
                          TestFormProc,
                          TestControlProc};
LRESULT CALLBACK TestFormProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  return FormProcedure(kTestDef, h, m, w, l);
}
LRESULT CALLBACK TestControlProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_COMMAND && h == g_testHandles[kMemo]) g_memoCommands.push_back(LOWORD(w));
  return ControlProcedure(kTestDef, h, m, w, l);
}

TEST(Framework, CommandRowsEscapeAndTheModalResult) {
  AssignControlIds(kTestDef);
  LRESULT result =
      Scripted([] { return g_testVars.form; },
               {[](HWND) { SetFocus(g_testHandles[kMemo]), PostKey(VK_ESCAPE); },
                [](HWND form) {
                  EXPECT_TRUE(IsWindow(form)) << "Esc in the edit closed the form";
                  EXPECT_EQ(SendMessageA(form, WM_COMMAND, IDCANCEL,
                                         reinterpret_cast<LPARAM>(g_testHandles[kCancelButton])),
                            42);
                }},
               [] { return ShowForm(kTestDef, nullptr, 1, 0); });
  EXPECT_EQ(result, 7);
  EXPECT_EQ(g_formResult, 0) << "the loop resets the result it returned";
  EXPECT_EQ(g_memoCommands, std::vector<UINT>{IDCANCEL});
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
  RECT before = {}, after = {};
  for (RECT* r : {&before, &after}) {
    GetWindowRect(MainControlHandle(kViewLogButton), r);
    MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(r), 2);
    ShowWindow(main_, SW_MAXIMIZE);
  }
  EXPECT_TRUE(EqualRect(&before, &after));
}

// A whole job through the window: the worker's progress line lands before the summary.
TEST_F(Windows, MainRunsAJobAndShowsItsLines) {
  MakeFiles(dir_ / "src\\", ManyFiles(30));
  Config config = {dir_ / "dst\\", {dir_ / "src\\"}};
  ASSERT_TRUE(WriteFileText(ini_, IniText(config)) && MakeFiles(dir_ / "dst\\", {}));
  ASSERT_TRUE(main_ = OpenMainWindow(ini_));
  MessageRecorder recorder(IDOK);
  Click(kBackupButton);
  HWND status = MainControlHandle(kStatusList);
  Lines lines;
  for (int i = 0; i < ListCount(status); ++i) lines.push_back(ListGetText(status, i));
  ASSERT_EQ(lines.size(), 6u) << "the progress line is rewritten in place, never added";
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
            (Lines{"Getting list of files from source...30 Files Found",
                   "30 of 30 Files copied - 0 Files skipped", "FINISHED!  Backup is complete."}));
  EXPECT_EQ(GetText(MainControlHandle(kBackupButton)), "Backup");
  EXPECT_EQ(ReadTree(CopyOf(dir_ / "dst\\", dir_ / "src\\")).size(), 30u);
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

// A name in any script goes to the INI as UTF-8 and comes back from it on the next start.
TEST_F(Windows, MainStoresDestinationAndLogSwitchAtOnce) {
  if (GetACP() != CP_UTF8) GTEST_SKIP() << "the UTF-8 code page is not in effect";
  const std::string folder = "E:\\Caf\u00e9 \u6771\u4eac \U0001F392\\";
  {
    FolderAnswer answer(folder.substr(0, folder.size() - 1));
    Click(kDestinationButton);
    EXPECT_EQ(answer.lastTitle, "Select Destination Folder");
    answer.path = "";
    Click(kDestinationButton);  // cancelled
    EXPECT_EQ(answer.lastStart, folder);
  }
  EXPECT_EQ(LogFilePath(), folder + "Stowly.log");
  EXPECT_TRUE(IniHas("DestinationFolder=" + folder + "\r\n")) << Ini();
  Click(kLogCheckBox);
  EXPECT_TRUE(IniHas("LogFile=0"));
  ASSERT_TRUE(OpenMainWindow(ini_));
  EXPECT_EQ(GetText(MainControlHandle(kDestinationBox)), folder);
  EXPECT_FALSE(IsChecked(MainControlHandle(kLogCheckBox)));
}

TEST_F(Windows, FolderDialogOffersOnlyExistingDriveLetterFolders) {
  ASSERT_TRUE(WriteFileText(dir_ / "file.txt", "x"));
  EXPECT_TRUE(FolderChoosable(dir_.path().c_str()));
  for (std::string path : {dir_ / "missing", dir_ / "file.txt", std::string("\\\\server\\share")})
    EXPECT_FALSE(FolderChoosable(path.c_str())) << path;
}

TEST_F(Windows, MainEscapeEndsTheStartUpLoopAndPostsQuit) {
  CloseMainWindow();
  StartOptions options;
  options.local = true;
  EXPECT_EQ(
      Scripted(
          MainWindow, {[](HWND) { PostKey(VK_ESCAPE); }},
          [&] { return ShowForm(MainFormDef(), nullptr, 1, reinterpret_cast<LPARAM>(&options)); }),
      0);
  EXPECT_EQ(MainWindow(), nullptr);
  g_quitRequested = false;
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// --- The options window, opened modally on the main window ---

constexpr int kFullMirror = 1000, kFastMirror = 1001, kDeleteFiles = 1003, kArchiveBit = 1004,
              kSizeBox = 1006, kSizeLabel = 1007;
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

class Options : public Windows {
 protected:
  // parent 0: opened the user's way, with the main window's Options button.
  int Run(std::vector<Step> steps, HWND parent = nullptr, bool copying = false) {
    return static_cast<int>(Scripted(OptionsForm, std::move(steps), [&]() -> LRESULT {
      return parent ? ShowOptionsWindow(parent, copying)
                    : SendMessageA(MainControlHandle(kOptionsButton), BM_CLICK, 0, 0);
    }));
  }
  // Delete files, archive bit, full mirror and log size, as set and as stored.
  void Set(int deleteFiles, int archiveBit, int fullMirror, int maxLogSize) {
    g_settings.DeleteFiles = deleteFiles;
    g_settings.UseArchiveBit = archiveBit;
    g_settings.FullMirror = fullMirror;
    g_settings.MaxLogSize = maxLogSize;
  }
  std::string Stored() {
    return NumberText(g_settings.DeleteFiles) + NumberText(g_settings.UseArchiveBit) +
           NumberText(g_settings.FullMirror) + " " + NumberText(g_settings.MaxLogSize);
  }
};

TEST_F(Options, OpensOnTheStoredSettingsWhileTheMainWindowWaits) {
  const std::tuple<int, int, int, int, const char*> cases[] = {
      {1, 1, 1, 1047527424, "999"},
      {0, 0, 0, 1572864, "1.5"},
      {0, 1, 0, 104857601, "100.000000953674"},
      {1, 1, 0, 1, "0.00000095367431640625"},
      {2, 2, 2, 0, "0"},  // only exactly 1 counts as on
  };
  for (const auto& [del, archive, full, size, sizeText] : cases) {
    Set(del, archive, full, size);
    Run({[&](HWND form) {
          EXPECT_EQ(Shown(form) + " " + GetText(Item(form, kSizeBox)),
                    NumberText(del == 1) + NumberText(archive == 1) + NumberText(full == 1) + " " +
                        sizeText);
          EXPECT_TRUE(IsWindowEnabled(Item(form, IDOK)));
          Click(form, IDCANCEL);
        }},
        main_);
  }
  Run({[&](HWND form) {  // opened the user's way, the main window waits
    EXPECT_TRUE(!IsWindowEnabled(main_) && GetWindow(form, GW_OWNER) == main_);
    Click(form, IDCANCEL);
  }});
  EXPECT_TRUE(IsWindowEnabled(main_));
}

TEST_F(Options, ClicksCoupleTheModeAndTheArchiveBit) {
  Set(1, 0, 1, 104857600);
  Run({[&](HWND form) {
        const std::pair<int, const char*> clicks[] = {
            {kFastMirror, "110"},  // Fast Mirror needs the archive bit
            {kArchiveBit, "101"},  // giving it up in Fast Mirror falls back to Full Mirror
            {kArchiveBit, "111"}, {kFullMirror, "111"}, {kArchiveBit, "101"},
        };
        for (const auto& [id, shown] : clicks) {
          Click(form, id);
          EXPECT_EQ(Shown(form), shown) << id;
        }
        SendMessageA(Item(form, kFastMirror), BM_SETCHECK, BST_CHECKED, 0);
        EXPECT_EQ(IsChecked(Item(form, kArchiveBit)), 0) << "only clicks couple";
        // The colours of the rows: labels on the face, boxes on the window, buttons their own.
        HDC dc = CreateCompatibleDC(nullptr);
        auto brush = [&](UINT message, int id) {
          return reinterpret_cast<HBRUSH>(SendMessageA(form, message, reinterpret_cast<WPARAM>(dc),
                                                       reinterpret_cast<LPARAM>(Item(form, id))));
        };
        EXPECT_EQ(brush(WM_CTLCOLORSTATIC, kSizeLabel), GetSysColorBrush(COLOR_BTNFACE));
        EXPECT_TRUE(GetTextColor(dc) == GetSysColor(COLOR_WINDOWTEXT) &&
                    GetBkMode(dc) == TRANSPARENT);
        EXPECT_EQ(brush(WM_CTLCOLOREDIT, kSizeBox), GetSysColorBrush(COLOR_WINDOW));
        EXPECT_EQ(GetBkMode(dc), OPAQUE);
        DisableControl(Item(form, kSizeBox));
        EXPECT_EQ(brush(WM_CTLCOLOREDIT, kSizeBox), GetSysColorBrush(COLOR_BTNFACE));
        EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_BTNFACE));
        EXPECT_NE(brush(WM_CTLCOLORBTN, IDOK), GetSysColorBrush(COLOR_WINDOW));
        DeleteDC(dc);
        Click(form, IDCANCEL);
      }},
      main_);
}

TEST_F(Options, OkStoresTheFourKeysInOrderAndTheSizeBoxInMiB) {
  ASSERT_TRUE(WriteFileText(ini_, "[Main Settings]\r\nDestinationFolder=E:\\Backup\\\r\n"));
  Set(1, 0, 1, 104857600);
  std::string typed;
  int result = Run({[&](HWND form) {
                      Click(form, kDeleteFiles), Click(form, kFastMirror);
                      SetFocus(Item(form, kSizeBox));
                      for (char c : std::string("a2x5-01"))  // digits only, three at most
                        PostMessageA(GetFocus(), WM_CHAR, static_cast<WPARAM>(c), 1);
                    },
                    [&](HWND form) {
                      typed = GetText(Item(form, kSizeBox));
                      SetText(Item(form, kSizeBox), "12");
                      Click(form, IDOK);
                    }},
                   main_);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(typed, "250");
  EXPECT_EQ(GetActiveWindow(), main_);
  EXPECT_EQ(Stored(), "010 12582912");
  EXPECT_EQ(Ini(),
            "[Main Settings]\r\nDestinationFolder=E:\\Backup\\\r\nDeleteFiles=0\r\n"
            "UseArchiveBit=1\r\nFullMirror=0\r\nMaxLogSize=12582912\r\n");
  g_settings.MaxLogSize = 104857601;  // not whole MiB: an Ok keeps it untouched
  Run({[&](HWND form) { Click(form, IDOK); }}, main_);
  EXPECT_EQ(ReadSetting("MaxLogSize", ""), "104857601");
  // Pasted text: tabbing away shows "1" for zero or below; Enter in the box stores it.
  const std::tuple<const char*, const char*, int> pasted[] = {
      {"", "1", 1048576}, {"0.4", "1", 419430}, {"7mb", "7mb", 7340032}};
  for (const auto& [text, afterTab, stored] : pasted) {
    auto paste = [text](WPARAM key) {
      return [text, key](HWND form) {
        SetFocus(Item(form, kSizeBox)), SetText(GetFocus(), text), PostKey(key);
      };
    };
    std::string shown;
    Run({paste(VK_TAB), [&](HWND form) { shown = GetText(Item(form, kSizeBox)); },
         paste(VK_ESCAPE)},
        main_);
    Run({paste(VK_RETURN)}, main_);
    EXPECT_EQ(shown, afterTab) << text;
    EXPECT_EQ(g_settings.MaxLogSize, stored) << text;
  }
}

TEST_F(Options, CancelCloseBoxAndACopyInProgressStoreNothing) {
  const std::string before = "[Main Settings]\r\nFullMirror=0\r\nUseArchiveBit=1\r\n";
  ASSERT_TRUE(WriteFileText(ini_, before));
  const Step changeAll = [](HWND form) {
    for (int id : {kFullMirror, kDeleteFiles, kArchiveBit}) Click(form, id);
    SetText(Item(form, kSizeBox), "7");
  };
  const std::pair<std::vector<Step>, bool> cases[] = {
      {{changeAll, [](HWND form) { Click(form, IDCANCEL); }}, false},
      {{changeAll, [](HWND form) { SendMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0); }}, false},
      {{changeAll, [](HWND form) { SetFocus(Item(form, IDOK)), PostKey(VK_TAB); },
        [](HWND form) {
          EXPECT_EQ(GetFocus(), Item(form, IDCANCEL));
          PostKey(VK_RETURN);
        }},
       false},
      {{[&](HWND form) {  // Ok is off while copying
          EXPECT_FALSE(IsWindowEnabled(Item(form, IDOK)));
          changeAll(form);
          SetFocus(Item(form, kSizeBox)), PostKey(VK_RETURN);
        },
        [](HWND form) { Click(form, IDOK), Click(form, IDCANCEL); }},
       true},
  };
  for (const auto& [steps, copying] : cases) {
    Set(0, 1, 0, 5242880);
    EXPECT_EQ(Run(steps, main_, copying), 0);
    EXPECT_EQ(ReadFileText(ini_), before);
    EXPECT_EQ(Stored(), "010 5242880");
    EXPECT_TRUE(IsWindowEnabled(main_) && !OptionsForm());
  }
}

// --- The help window, modeless beside the main window ---

constexpr int kTree = 1000, kTopicText = 1003, kWebCaption = 1004, kWebLabel = 1005,
              kPicture = 1007;
const char* kInstructions = "Expand and click on an item for instructions.";
std::string Topic(HWND form) { return GetText(Item(form, kTopicText)); }

HTREEITEM NextItem(HWND tree, HTREEITEM item, UINT how) {
  return reinterpret_cast<HTREEITEM>(
      SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

TEST_F(Windows, HelpOpensOnTheOverviewAndEveryTopicShowsUnderItsTitle) {
  HWND form = ShowHelpWindow(main_), tree = Item(form, kTree);
  ASSERT_TRUE(form);
  EXPECT_EQ(GetWindow(form, GW_OWNER), main_);
  EXPECT_EQ(GetFocus(), tree) << "the tree, the only tab stop, has the focus";
  EXPECT_TRUE(SendMessageA(Item(form, kPicture), STM_GETIMAGE, IMAGE_ICON, 0));
  HTREEITEM first = NextItem(tree, nullptr, TVGN_ROOT);
  EXPECT_EQ(NextItem(tree, nullptr, TVGN_CARET), first);
  EXPECT_EQ(Topic(form).rfind("Stowly is a simple, dependable backup utility", 0), 0u);

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
    std::string text = Topic(form);
    EXPECT_EQ(text.rfind(std::string(title) + "\r\n\r\n", 0), 0u) << "under its title";
    EXPECT_GT(text.size(), strlen(title) + 100) << title;
    for (size_t at = 0; (at = text.find('\n', at + 1)) != std::string::npos;)
      EXPECT_EQ(text[at - 1], '\r') << title << ": only CR LF";
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

// --- The taskbar button's progress ---

struct Recorder : TaskbarButton {
  explicit Recorder(std::string* out) : told(out) {}
  void SetState(TBPFLAG state) override { *told += "s" + NumberText(state) + " "; }
  void SetValue(ULONGLONG done, ULONGLONG total) override {
    *told += NumberText(static_cast<long long>(done)) + "/" +
             NumberText(static_cast<long long>(total)) + " ";
  }
  std::string* told;
};

// Steps: A the button arrives, L listing, S a file skipped, X cleared, d/t copying d of
// t. States: s0 none, s1 indeterminate, s2 normal, s4 error. Without A the button is there
// from the start; before it arrives nothing is told, and on arrival it is shown the state.
TEST(TaskbarProgress, FollowsTheJobsPhases) {
  const std::pair<const char*, const char*> cases[] = {
      {"L 0/10 5/10 10/10 X", "s1 s2 0/10 5/10 10/10 s0 "},
      {"L 1/4 S 2/4 S 4/4 X", "s1 s2 1/4 s4 2/4 4/4 s0 "},  // red for the rest of the job
      {"1/2 S X L 1/3", "s2 1/2 s4 s0 s1 s2 1/3 "},         // the next job starts clean
      {"12/10 -1/10", "s2 10/10 0/10 "},
      {"0/0 X", ""},  // nothing found to copy shows no bar
      {"L 1/4 S A 3/4", "s4 1/4 3/4 "},
      {"L A X", "s1 s0 "},
      {"L 1/4 X A L", "s1 "},
  };
  for (const auto& [steps, expected] : cases) {
    std::string told;
    bool arrives = strchr(steps, 'A') != nullptr;
    TaskbarProgress progress(arrives ? nullptr : std::make_unique<Recorder>(&told));
    std::istringstream in(steps);
    for (std::string step; in >> step;) {
      if (step == "A") progress.Attach(std::make_unique<Recorder>(&told));
      if (step == "L") progress.Listing();
      if (step == "S") progress.FileSkipped();
      if (step == "X") progress.Clear();
      if (isdigit(step.back()))
        progress.Copying(atoi(step.c_str()), atoi(step.c_str() + step.find('/') + 1));
    }
    EXPECT_EQ(told, expected) << steps;
  }
}

}  // namespace
