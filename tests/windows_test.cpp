// The real main, options and help windows with the framework under them, and the
// taskbar progress, under Wine's headless display driver.
#include <gtest/gtest.h>

#include <sstream>

#include "engine/path_identity.h"
#include "engine/settings.h"
#include "tests/support.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/options_window.h"
#include "ui/taskbar_progress.h"

namespace {

using Step = std::function<void(HWND form)>;

// A modal loop runs until its window is gone; a thread timer feeds it one step per tick,
// so what a step posts (keys, characters) is handled by the real loop before the next.
LRESULT Scripted(std::function<HWND()> find, std::vector<Step> steps,
                 const std::function<LRESULT()>& run) {
  static std::function<HWND()> s_find;
  static std::vector<Step> s_steps;
  static size_t s_next, s_idle;
  s_find = find, s_steps = std::move(steps), s_next = s_idle = 0;
  UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    if (HWND form = s_find(); form && s_next < s_steps.size())
      s_steps[s_next++](form);
    else if (form && ++s_idle > 250)
      DestroyWindow(form), ADD_FAILURE() << "the script left the window open";
  });
  LRESULT result = run();
  KillTimer(nullptr, timer);
  EXPECT_EQ(s_next, s_steps.size()) << "not every step ran";
  return result;
}

void PostKey(WPARAM key) { PostMessageA(GetFocus(), WM_KEYDOWN, key, 1); }
HWND Item(HWND form, int id) { return GetDlgItem(form, id); }
void Click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }
void Click(HWND form, int id) { Click(Item(form, id)); }
void Click(MainControl control) { Click(Main().Control(control)); }

// --- The main window ---

class Windows : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(main_ = OpenMainWindow(ini_)); }
  void TearDown() override { CloseMainWindow(); }
  std::string Ini() const { return ReadFileText(ini_); }
  ScratchDir dir_;
  std::string ini_ = dir_ / "Stowly.ini";
  HWND main_ = nullptr;
};

// Jobs through the window: a whole one's lines (the progress line rewritten in place, the
// newest in view in a list longer than its window); then Cancel while copying, and a close
// (Esc, the title bar) that waits for the job and then closes with its exit code.
TEST_F(Windows, MainShowsItsJobsAndCancelsOrClosesOnlyOnceTheJobHasEnded) {
  const std::string dst = dir_ / "dst\\";
  std::vector<std::string> sources = {dir_ / "src\\"};
  MakeFiles(sources[0] + "1big\\", {{"big.bin", std::string(32u << 20, 'b')}});
  MakeFiles(sources[0] + "2many\\", ManyFiles(20));
  for (const char* name : {"a\\", "b\\", "c\\", "d\\", "e\\"}) {
    sources.push_back(dir_ / name);
    MakeFiles(sources.back(), ManyFiles(6));
    MakeFiles(DestinationPath(dst, sources.back()), {{"old", "x"}});
  }
  ASSERT_TRUE(WriteFileText(ini_, IniText({dst, sources})) && (main_ = OpenMainWindow(ini_)));
  HWND status = Main().Control(kStatusList), button = Main().Control(kBackupButton);
  MessageRecorder recorder(IDOK);
  Click(kBackupButton);
  ASSERT_TRUE(PumpUntil([&] { return ListGetText(status, 10) == kFinished; }));
  ASSERT_EQ(ListCount(status), 11) << "the progress line is rewritten in place, never added";
  EXPECT_EQ((Lines{ListGetText(status, 8), ListGetText(status, 9)}),
            (Lines{"Getting list of files from source...51 Files Found",
                   "51 of 51 Files copied - 0 Files skipped"}));
  RECT inside = {};
  GetClientRect(status, &inside);
  LRESULT rows = inside.bottom / SendMessageA(status, LB_GETITEMHEIGHT, 0, 0);
  EXPECT_EQ(SendMessageA(status, LB_GETTOPINDEX, 0, 0), 11 - rows) << "the last line is not whole";
  for (bool close : {false, true}) {
    RemoveTree(dst);
    MakeFiles(dst, {});
    Click(kBackupButton);
    ASSERT_TRUE(PumpUntil([&] { return GetText(button) == "Cancel" && IsWindowEnabled(button); }));
    if (close)
      SendMessageA(main_, WM_CLOSE, 0, 0);
    else
      Click(kBackupButton);
    EXPECT_TRUE(IsWindow(main_)) << "the window waits for the job";
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(main_) || GetText(button) == "Backup"; }));
    Lines log = LogTexts(dst + "Stowly.log");
    EXPECT_EQ(log.back().rfind("CANCELED!  (", 0), 0u) << log.back();
    EXPECT_EQ(IsWindow(main_), !close);
  }
  EXPECT_EQ(Main().Result(), 2) << "the program's exit code is the cancelled job's";
}

// Add and Del keep the INI in step with the list; a destination in any script goes to the
// INI as UTF-8 at once, as the log switch does, and comes back from it on the next start.
TEST_F(Windows, MainStoresSourcesDestinationAndLogSwitchAtOnce) {
  if (GetACP() != CP_UTF8) GTEST_SKIP() << "the UTF-8 code page is not in effect";
  HWND list = Main().Control(kSourceList);
  MessageRecorder messages;
  FolderAnswer answer("C:\\Data");
  Click(kAddButton);
  EXPECT_TRUE(answer.lastTitle == "Select Source Folder" && answer.lastStart == "")
      << "an empty list gives the dialog no start folder";
  for (const char* path : {"c:\\data\\", "E:\\", "", "C:\\Data\\"})  // "" cancels
    answer.path = path, Click(kAddButton);
  EXPECT_EQ(answer.lastStart, "E:\\") << "the dialog starts at the last folder of the list";
  EXPECT_EQ(Ini(),
            "[Main Settings]\r\nNumDirs=3\r\nSourceFolder1=C:\\Data\\\r\n"
            "SourceFolder2=c:\\data\\\r\nSourceFolder3=E:\\\r\n");
  ListSelect(list, -1);
  Click(kDelButton);
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].text + messages.shown[1].text,
            "This folder is already in the list.Please select source folder from list first.");
  EXPECT_TRUE(messages.shown[0].caption == "Stowly Message" &&
              messages.shown[0].flags == static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  ListSelect(list, 1);
  Click(kDelButton);
  EXPECT_TRUE(ListCount(list) == 2 && ListCurrent(list) == -1);
  const std::string folder = "E:\\Caf\u00e9 \u6771\u4eac \U0001F392\\";
  answer.path = folder.substr(0, folder.size() - 1);
  Click(kDestinationButton);
  answer.path = "";
  Click(kDestinationButton);  // cancelled
  EXPECT_TRUE(answer.lastTitle == "Select Destination Folder" && answer.lastStart == folder);
  EXPECT_EQ(LogFilePath(), folder + "Stowly.log");
  Click(kLogCheckBox);
  EXPECT_EQ(Ini(),
            "[Main Settings]\r\nNumDirs=2\r\nSourceFolder1=C:\\Data\\\r\nSourceFolder2=E:\\\r\n"
            "DestinationFolder=" +
                folder + "\r\nLogFile=0\r\n");
  ASSERT_TRUE(OpenMainWindow(ini_));
  EXPECT_EQ(GetText(Main().Control(kDestinationBox)), folder);
  EXPECT_FALSE(IsChecked(Main().Control(kLogCheckBox)));
}

// Existing folders only; a path that begins with two backslashes, as a share's does, only
// for the destination. Wine serves no shares: the local device form of a folder stands in.
TEST_F(Windows, FolderDialogOffersExistingFoldersAndSharesOnlyForTheDestination) {
  ASSERT_TRUE(WriteFileText(dir_ / "file.txt", "x"));
  const std::string share = "\\\\.\\" + dir_.path();
  for (FolderPlace place : {FolderPlace::kDriveLetter, FolderPlace::kDriveLetterOrShare}) {
    EXPECT_TRUE(FolderChoosable(dir_.path().c_str(), place));
    EXPECT_EQ(FolderChoosable(share.c_str(), place), place == FolderPlace::kDriveLetterOrShare);
    for (std::string path : {dir_ / "missing", dir_ / "file.txt", std::string("\\\\server")})
      EXPECT_FALSE(FolderChoosable(path.c_str(), place)) << path;
  }
}

// A silent run needs no paint: started hidden (a script, a scheduled task) it never shows
// the window, shown it minimises it. Wine shows a window started hidden, so it is hidden here.
TEST_F(Windows, ASilentRunMinimisesAShownWindowAndLeavesAHiddenOneHidden) {
  ASSERT_TRUE(WriteFileText(ini_, IniText({dir_ / "dst\\", {dir_ / "src\\"}})) &&
              MakeFiles(dir_ / "src\\", ManyFiles(20)) && MakeFiles(dir_ / "dst\\", {}));
  for (bool hidden : {true, false}) {
    HWND form = ShowMainWindow({true, false, ini_}).Window();
    if (hidden) ShowWindow(form, SW_HIDE);
    bool shown = false, iconic = false;
    EXPECT_TRUE(PumpUntil([&] {
      shown = shown || IsWindowVisible(Main().Window());
      iconic = iconic || IsIconic(Main().Window());
      return Main().Window() == nullptr;
    })) << "the run never ended";
    EXPECT_TRUE(shown == !hidden && iconic == !hidden) << hidden;
  }
}

// --- The options window, opened modally on the main window ---

constexpr int kFullMirror = 1000, kFastMirror = 1001, kDeleteFiles = 1003, kArchiveBit = 1004,
              kSizeBox = 1006, kSizeLabel = 1007, kKeepBox = 1008, kDaysBox = 1009;
HWND OptionsForm() { return FindWindowA("FORM_STOWLY_OPTIONS_CLASS", nullptr); }

// Delete files, archive bit, mode (1 Full, 0 Fast Mirror), log size and kept days ("-" before
// them when unchecked), as shown and stored.
std::string Shown(HWND form) {
  bool full = IsChecked(Item(form, kFullMirror)), fast = IsChecked(Item(form, kFastMirror));
  return NumberText(IsChecked(Item(form, kDeleteFiles))) +
         NumberText(IsChecked(Item(form, kArchiveBit))) + NumberText(full) +
         (full == fast ? "?:" : ":") + GetText(Item(form, kSizeBox)) + ":" +
         (IsChecked(Item(form, kKeepBox)) ? "" : "-") + GetText(Item(form, kDaysBox));
}
std::string Stored() {
  return NumberText(g_settings.DeleteFiles) + NumberText(g_settings.UseArchiveBit) +
         NumberText(g_settings.FullMirror) + ":" + NumberText(g_settings.MaxLogSize) + ":" +
         NumberText(g_settings.KeepVersions);
}
void Set(const char* flags, int maxLogSize, int keepDays) {
  g_settings.DeleteFiles = flags[0] - '0', g_settings.UseArchiveBit = flags[1] - '0';
  g_settings.FullMirror = flags[2] - '0', g_settings.MaxLogSize = maxLogSize;
  g_settings.KeepVersions = keepDays;
}

// One step per word: c o x Cancel, Ok, the close box; a d f F v a click on the archive bit,
// delete files, Fast or Full Mirror, the kept days' box; k the focus on Ok; t Tab; e Enter;
// b<text> pasted into the size box, '<text> typed into it, y<text> pasted into the days box;
// =<shown> what the window shows (its days left out unless given); ^ Cancel has the focus.
int RunOptions(const std::string& words, bool copying = false) {
  std::vector<Step> steps;
  std::istringstream in(words);
  for (std::string w; in >> w;)
    steps.push_back([w](HWND form) {
      HWND box = Item(form, kSizeBox);
      const int clicks[] = {IDCANCEL,    IDOK,        kArchiveBit, kDeleteFiles,
                            kFastMirror, kFullMirror, kKeepBox};
      if (const char* click = strchr("coadfFv", w[0])) Click(form, clicks[click - "coadfFv"]);
      if (w == "x") SendMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0);
      if (w == "k") SetFocus(Item(form, IDOK));
      if (w == "t" || w == "e") PostKey(w == "t" ? VK_TAB : VK_RETURN);
      if (w[0] == 'y') SetFocus(Item(form, kDaysBox)), SetText(Item(form, kDaysBox), w.substr(1));
      if (w[0] == 'b' || w[0] == '\'') SetFocus(box), SetText(box, w[0] == 'b' ? w.substr(1) : "");
      if (w[0] == '\'')
        for (char c : w.substr(1)) PostMessageA(box, WM_CHAR, static_cast<WPARAM>(c), 1);
      EXPECT_TRUE(w[0] != '=' || (Shown(form) + ":").starts_with(w.substr(1) + ":"))
          << Shown(form) << " shown, not " << w;
      EXPECT_TRUE(w != "^" || GetFocus() == Item(form, IDCANCEL)) << "Tab from Ok skips Cancel";
    });
  auto run = [&]() -> LRESULT { return ShowOptionsWindow(Main().Window(), copying); };
  return static_cast<int>(Scripted(OptionsForm, std::move(steps), run));
}

TEST_F(Windows, OptionsOpenOnTheMainWindowInTheirColours) {
  Step colours = [&](HWND form) {  // opened the user's way, the main window waits
    EXPECT_TRUE(!IsWindowEnabled(main_) && GetWindow(form, GW_OWNER) == main_);
    // Labels on the face, boxes on the window, a disabled box on the face.
    const std::tuple<UINT, int, bool, int, int> rows[] = {
        {WM_CTLCOLORSTATIC, kSizeLabel, true, COLOR_BTNFACE, TRANSPARENT},
        {WM_CTLCOLOREDIT, kSizeBox, true, COLOR_WINDOW, OPAQUE},
        {WM_CTLCOLOREDIT, kSizeBox, false, COLOR_BTNFACE, OPAQUE}};
    HDC dc = CreateCompatibleDC(nullptr);
    for (const auto& [message, id, enabled, colour, mode] : rows) {
      EnableWindow(Item(form, id), enabled);
      LRESULT brush = SendMessageA(form, message, reinterpret_cast<WPARAM>(dc),
                                   reinterpret_cast<LPARAM>(Item(form, id)));
      EXPECT_TRUE(brush == reinterpret_cast<LRESULT>(GetSysColorBrush(colour)) &&
                  GetBkColor(dc) == GetSysColor(colour) && GetBkMode(dc) == mode &&
                  GetTextColor(dc) == GetSysColor(COLOR_WINDOWTEXT))
          << message << " " << enabled;
    }
    DeleteDC(dc);
    Click(form, IDCANCEL);
  };
  Scripted(OptionsForm, {colours}, [] { return Click(kOptionsButton), LRESULT(0); });
  EXPECT_TRUE(IsWindowEnabled(main_) && GetFocus() == Main().Control(kOptionsButton))
      << "the focus goes back to the button that opened them";
}

// Each way of closing: the window shows the stored settings (only exactly 1 counts as on,
// the size in MiB, 30 days while none are kept), Ok and Enter in a box store all five, any
// other way and anything while a copy runs stores nothing. Giving up the archive bit in Fast
// Mirror falls back to Full Mirror, and Fast Mirror takes the archive bit back. A checked
// box keeps 1 to 3650 days.
TEST_F(Windows, OptionsShowAndStoreTheSettingsOnlyOnOk) {
  const std::string before = "[Main Settings]\r\nDestinationFolder=E:\\Backup\\\r\n";
  const std::tuple<bool, const char*, int, int, const char*, const char*> cases[] = {
      {false, "010", 5242880, 0, "=010:5 a =001:5 f =010:5 F =011:5 d =111:5 a =101:5 c", ""},
      {false, "111", 1047527424, 0, "=111:999 d x", ""},
      {false, "110", 1, 0, "=110:0.00000095367431640625 d k t ^ e", ""},
      {true, "010", 5242880, 9, "F b9 v e o c", ""},  // Enter in the box reaches an Ok that is off
      {false, "222", 0, 0, "=000:0 o", "000:1048576:0"},
      {false, "010", 104857601, 0, "=010:100.000000953674 o", "010:104857601:0"},
      {false, "010", 5242880, 0, "b0.4 e", "010:419430:0"},
      {false, "010", 5242880, 0, "b0.4 t =010:1 b6 t =010:6 o", "010:6291456:0"},  // 1 for <= 0
      {false, "101", 5242880, 0, "f '2a5x-01 =110:250 o", "110:262144000:0"},  // 3 digits at most
      {false, "010", 5242880, 0, "=010:5:-30 v y7 o", "010:5242880:7"},
      {false, "010", 5242880, 45, "=010:5:45 v o", "010:5242880:0"},
      {false, "010", 5242880, 12, "y0 t =010:5:1 y9999 e", "010:5242880:3650"},
  };
  for (const auto& [copying, flags, size, days, words, stored] : cases) {
    ASSERT_TRUE(WriteFileText(ini_, before));
    Set(flags, size, days);
    const std::string s = *stored ? stored : Stored();  // the five keys appended in this order
    const size_t cut = s.rfind(':');
    EXPECT_EQ(RunOptions(words, copying), *stored != 0) << words;
    EXPECT_EQ(Stored(), s);
    EXPECT_EQ(Ini(), !*stored
                         ? before
                         : before + "DeleteFiles=" + s[0] + "\r\nUseArchiveBit=" + s[1] +
                               "\r\nFullMirror=" + s[2] + "\r\nMaxLogSize=" + s.substr(4, cut - 4) +
                               "\r\nKeepVersions=" + s.substr(cut + 1) + "\r\n");
    EXPECT_TRUE(IsWindowEnabled(main_) && GetActiveWindow() == main_ && !OptionsForm());
  }
}

// --- The help window, modeless beside the main window ---

// Opened on the Backup button in the start-up loop. Each help window keeps its own topic,
// shown under its title with lines ending in CR LF; Esc leaves a help window open, in its
// tree as in its topic text (a multi-line edit would close it), and in a box of the main
// window ends the loop and the program.
TEST_F(Windows, HelpWindowsKeepTheirTopicsAndEscapeQuitsOnlyTheMainWindow) {
  constexpr int kTree = 1000, kTopicText = 1003;
  CloseMainWindow();
  MainWindow main({false, true, ""});
  HWND first = nullptr;
  auto topic = [](HWND form) { return GetText(Item(form, kTopicText)); };
  auto escapeIn = [&first](int id) -> Step {
    return [&first, id](HWND) {
      EXPECT_TRUE(IsWindow(first)) << "Esc closed a help window";
      SetFocus(Item(first, id)), PostKey(VK_ESCAPE);
    };
  };
  Step help = [&](HWND form) {
    EXPECT_EQ(GetFocus(), main.Control(kBackupButton));
    Click(main.Control(kHelpButton)), Click(main.Control(kHelpButton));
    HWND second = FindWindowExA(nullptr, nullptr, "FORM_STOWLY_HELP_CLASS", nullptr);
    first = FindWindowExA(nullptr, second, "FORM_STOWLY_HELP_CLASS", nullptr);
    ASSERT_TRUE(first && second && first != second);
    HWND tree = Item(first, kTree);
    EXPECT_TRUE(IsWindowEnabled(form) && GetWindow(first, GW_OWNER) == form);
    EXPECT_EQ(GetFocus(), Item(second, kTree)) << "the tree, the only tab stop, has the focus";
    HTREEITEM root = TreeView_GetRoot(tree), instructions = TreeView_GetNextSibling(tree, root);
    EXPECT_EQ(TreeView_GetSelection(tree), root);
    EXPECT_EQ(topic(first).rfind("Stowly is a simple, dependable backup utility", 0), 0u);
    EXPECT_TRUE(TreeView_GetItemState(tree, instructions, TVIS_EXPANDED) & TVIS_EXPANDED);
    SendMessageA(Item(second, kTree), WM_KEYDOWN, VK_DOWN, 1);
    for (HTREEITEM item = TreeView_GetChild(tree, instructions); item;
         item = TreeView_GetNextSibling(tree, item)) {  // each topic under its own title
      char title[128] = {};
      TVITEMA row = {TVIF_TEXT, item, 0, 0, title, sizeof title, 0, 0, 0, 0};
      TreeView_GetItem(tree, &row);
      TreeView_SelectItem(tree, item);
      const std::string text = topic(first);
      EXPECT_TRUE(text.rfind(title + std::string("\r\n\r\n"), 0) == 0 && text.size() > 200 &&
                  std::count(text.begin(), text.end(), '\n') ==
                      std::count(text.begin(), text.end(), '\r'))
          << text;
    }
    EXPECT_EQ(topic(second), "Expand and click on an item for instructions.") << "its own topic";
  };
  Step quit = [&](HWND) {
    EXPECT_TRUE(IsWindow(first)) << "Esc closed a help window";
    SendMessageA(first, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindow(first));
    SetFocus(main.Control(kDestinationBox)), PostKey(VK_ESCAPE);  // a single-line box
  };
  auto run = [&] { return LRESULT(main.ShowModal(nullptr)); };
  auto find = [&] { return main.Window(); };
  EXPECT_EQ(Scripted(find, {help, escapeIn(kTopicText), escapeIn(kTree), quit}, run), 0);
  EXPECT_EQ(main.Window(), nullptr);
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// --- The taskbar button's progress ---

struct Recorder : TaskbarButton {
  void SetState(TBPFLAG state) override { told += "s" + std::to_string(state) + " "; }
  void SetValue(ULONGLONG done, ULONGLONG total) override {
    told += std::to_string(done) + "/" + std::to_string(total) + " ";
  }
  static inline std::string told;
};

// Steps: A the button arrives, L listing, S a file skipped, X cleared, d/t copying d of
// t. States: s0 none, s1 indeterminate, s2 normal, s4 error. Without A the button is there
// from the start; before it arrives nothing is told, and on arrival it is shown the state.
// A skipped file keeps the bar red for the rest of the job, the next job starts clean, and
// nothing found to copy shows no bar.
TEST(TaskbarProgress, FollowsTheJobsPhases) {
  const std::pair<const char*, const char*> cases[] = {
      {"L 0/4 2/4 S 3/4 S 4/4 X L 1/3", "s1 s2 0/4 2/4 s4 3/4 4/4 s0 s1 s2 1/3 "},
      {"12/10 -1/10", "s2 10/10 0/10 "},
      {"0/0 X", ""},
      {"L 1/4 S A 3/4", "s4 1/4 3/4 "},
      {"L A X", "s1 s0 "},
      {"L 1/4 X A L", "s1 "}};
  for (const auto& [steps, expected] : cases) {
    std::string step;
    Recorder::told.clear();
    TaskbarProgress progress(strchr(steps, 'A') ? nullptr : std::make_unique<Recorder>());
    for (std::istringstream in(steps); in >> step;) {
      if (step == "A") progress.Attach(std::make_unique<Recorder>());
      if (step == "L") progress.Listing();
      if (step == "S") progress.FileSkipped();
      if (step == "X") progress.Clear();
      if (isdigit(step.back())) progress.Copying(atoi(&step[0]), atoi(&step[step.find('/') + 1]));
    }
    EXPECT_EQ(Recorder::told, expected) << steps;
  }
}

}  // namespace
