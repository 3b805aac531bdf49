#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "res/maker.h"
#include "tests/support.h"
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/help_window.h"
#include "ui/main_window.h"

namespace {

constexpr int kTree = 1000, kProduct = 1001, kVersion = 1002, kTopicText = 1003, kWebCaption = 1004,
              kWebLabel = 1005, kNotice = 1006, kPicture = 1007;

HWND Item(HWND form, int id) { return GetDlgItem(form, id); }

std::string ItemText(HWND tree, HTREEITEM item) {
  char text[256] = {};
  TVITEMA tv = {};
  tv.mask = TVIF_HANDLE | TVIF_TEXT;
  tv.hItem = item;
  tv.pszText = text;
  tv.cchTextMax = sizeof text;
  SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
  return text;
}

HTREEITEM NextItem(HWND tree, HTREEITEM item, UINT how) {
  return reinterpret_cast<HTREEITEM>(
      SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

struct Node {
  std::string text;
  LPARAM number;
  bool child;
  HTREEITEM item;
};

// Every item in tree order, children right after their parent.
std::vector<Node> Walk(HWND tree) {
  std::vector<Node> nodes;
  for (HTREEITEM top = NextItem(tree, nullptr, TVGN_ROOT); top;
       top = NextItem(tree, top, TVGN_NEXT)) {
    nodes.push_back({ItemText(tree, top), TreeGetData(tree, top), false, top});
    for (HTREEITEM c = NextItem(tree, top, TVGN_CHILD); c; c = NextItem(tree, c, TVGN_NEXT))
      nodes.push_back({ItemText(tree, c), TreeGetData(tree, c), true, c});
  }
  return nodes;
}

std::string Topic(HWND form) { return GetText(Item(form, kTopicText)); }

class HelpWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    main_ = OpenMainWindow(dir_ / "Stowly.ini");
    ASSERT_TRUE(main_);
  }
  // Help windows are owned by the main window and go with it.
  void TearDown() override { CloseMainWindow(); }
  HWND Open() {
    HWND form = ShowHelpWindow(main_);
    PumpFor(20);
    return form;
  }

  ScratchDir dir_;
  HWND main_ = nullptr;
};

TEST_F(HelpWindow, BuildsItsControlsFromTheTable) {
  struct Row {
    int id;
    const char* cls;
    const char* text;
    DWORD style, exStyle;
    int x, y, w, h;
    const char* font;
    ColorSpec colors;
  };
  const DWORD label = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | SS_NOTIFY;
  const ColorSpec system = {1, 1, 1, COLOR_WINDOWTEXT, COLOR_BTNFACE};
  const ColorSpec blue = {1, 0, 1, 0xFF0000, COLOR_BTNFACE};
  // clang-format off
  const Row rows[] = {
      {kTree, "SysTreeView32", "", WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
       TVS_SHOWSELALWAYS, WS_EX_CLIENTEDGE, 4, 64, 204, 292,
       "Tahoma,-12,0,0,0,400,0,0,0,0,3,2,1,34", kNoColors},
      {kProduct, "Static", "Stowly", label | SS_LEFT, 0, 68, 4, 137, 32,
       "Tahoma,-24,0,0,0,400,0,0,0,0,3,2,1,34", blue},
      {kVersion, "Static", "Version 1.5.0 ", label | SS_LEFT, 0, 68, 36, 140, 16,
       "Tahoma,-11,0,0,0,400,0,0,0,0,3,2,1,34", {1, 0, 1, 0x0000C4, COLOR_BTNFACE}},
      {kTopicText, "Edit", nullptr, WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE,
       WS_EX_CLIENTEDGE, 212, 64, 324, 292, "Arial,-12,0,0,0,400,0,0,0,0,3,2,1,34",
       {1, 1, 1, COLOR_WINDOWTEXT, COLOR_INFOBK}},
      {kWebCaption, "Static", "Web:", label | SS_LEFT, 0, 336, 24, 31, 16,
       "Tahoma,-12,0,0,0,400,0,0,0,0,3,2,1,34", system},
      {kWebLabel, "Static", STOWLY_MAKER_WEB_TEXT, label | SS_LEFT, 0, 376, 24, 156, 16,
       "Tahoma,-12,0,0,0,400,0,1,0,0,3,2,1,34", blue},
      {kNotice, "Static", STOWLY_MAKER_NOTICE, label | SS_RIGHT, 0, 382, 8, 138, 16,
       "Tahoma,-11,0,0,0,400,1,0,0,0,3,2,1,34", system},
      {kPicture, "Static", "", label | SS_ICON, 0, 4, 4, 58, 42, nullptr, kNoColors},
  };
  // clang-format on
  HWND form = Open();
  ASSERT_TRUE(form);
  char name[64] = {};
  GetClassNameA(form, name, sizeof name);
  EXPECT_STREQ(name, "FORM_STOWLY_HELP_CLASS");
  EXPECT_EQ(GetText(form), "Stowly Help");
  RECT outer = {};
  GetWindowRect(form, &outer);
  EXPECT_EQ(outer.right - outer.left, 545);
  EXPECT_EQ(outer.bottom - outer.top, 391);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(form, GWL_STYLE)),
            static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                               WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VISIBLE));
  EXPECT_EQ(GetWindow(form, GW_OWNER), main_);
  EXPECT_TRUE(IsWindowEnabled(main_)) << "the help window is modeless";

  HWND child = GetWindow(form, GW_CHILD);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.id);
    HWND control = Item(form, row.id);
    ASSERT_TRUE(control);
    EXPECT_EQ(control, child) << "creation order";
    child = GetWindow(child, GW_HWNDNEXT);
    GetClassNameA(control, name, sizeof name);
    EXPECT_STREQ(name, row.cls);
    if (row.text) {
      EXPECT_EQ(GetText(control), row.text);
    }
    // The tree adds and drops its scroll bars as its items need them.
    DWORD dynamic = row.id == kTree ? WS_HSCROLL | WS_VSCROLL : 0;
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE)) & ~dynamic,
              row.style | WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(control, GWL_EXSTYLE)), row.exStyle);
    RECT r = {};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, row.x);
    EXPECT_EQ(r.top, row.y);
    EXPECT_EQ(r.right - r.left, row.w);
    EXPECT_EQ(r.bottom - r.top, row.h);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)),
              row.font ? FontFromSpec(row.font) : nullptr);
    InstanceRecord* record = RecordOf(control);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->ControlIndex, 0);
    EXPECT_EQ(record->UseColors, row.colors.useColors);
    if (row.colors.useColors) {
      EXPECT_EQ(record->ForeIsSystem, row.colors.foreIsSystem);
      EXPECT_EQ(record->BackIsSystem, row.colors.backIsSystem);
      EXPECT_EQ(record->ForeColor, row.colors.fore);
      EXPECT_EQ(record->BackColor, row.colors.back);
    }
  }
  EXPECT_EQ(child, nullptr) << "no controls beyond the table";

  HWND tree = Item(form, kTree);
  EXPECT_EQ(SendMessageA(tree, TVM_GETTEXTCOLOR, 0, 0), 0x000000);
  EXPECT_EQ(SendMessageA(tree, TVM_GETBKCOLOR, 0, 0), 0xE1FFFF);
  EXPECT_EQ(GetFocus(), tree) << "the tree, the only tab stop, has the focus";
  EXPECT_EQ(GetNextDlgTabItem(form, tree, FALSE), tree);
  EXPECT_EQ(RecordOf(Item(form, kTopicText))->SelectAllOnFocus, 0);
  EXPECT_TRUE(SendMessageA(Item(form, kPicture), STM_GETIMAGE, IMAGE_ICON, 0));

  // The topic text cannot be typed into.
  std::string before = Topic(form);
  SendMessageA(Item(form, kTopicText), WM_CHAR, 'Q', 1);
  EXPECT_EQ(Topic(form), before);
}

TEST_F(HelpWindow, OpensOnTheOverviewWithEveryTopicInTheTree) {
  HWND form = Open();
  ASSERT_TRUE(form);
  HWND tree = Item(form, kTree);
  struct Expected {
    const char* text;
    LPARAM number;
    bool child;
  };
  const Expected expected[] = {
      {"Stowly Overview", 100, false},
      {"Backup Instructions", 200, false},
      {"Selecting Source Folders", 210, true},
      {"Selecting a Destination Folder", 220, true},
      {"Creating a Log File", 230, true},
      {"Options", 235, true},
      {"Backup", 240, true},
      {"Restore", 245, true},
      {"View Log", 250, true},
      {"Silent Mode", 260, true},
      {"Local Mode", 270, true},
  };
  std::vector<Node> nodes = Walk(tree);
  ASSERT_EQ(nodes.size(), std::size(expected));
  for (size_t i = 0; i < nodes.size(); ++i) {
    SCOPED_TRACE(expected[i].text);
    EXPECT_EQ(nodes[i].text, expected[i].text);
    EXPECT_EQ(nodes[i].number, expected[i].number);
    EXPECT_EQ(nodes[i].child, expected[i].child);
  }
  UINT state = static_cast<UINT>(
      SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(nodes[1].item), TVIS_EXPANDED));
  EXPECT_TRUE(state & TVIS_EXPANDED) << "Backup Instructions opens expanded";
  EXPECT_EQ(NextItem(tree, nullptr, TVGN_CARET), nodes[0].item) << "the overview is selected";
  // The overview starts straight with its first paragraph, no title line.
  EXPECT_EQ(Topic(form).rfind("Stowly is a simple, dependable backup utility", 0), 0u);
}

TEST_F(HelpWindow, EveryTopicOpensWithItsTitleLine) {
  HWND form = Open();
  ASSERT_TRUE(form);
  HWND tree = Item(form, kTree);
  for (const Node& node : Walk(tree)) {
    SCOPED_TRACE(node.text);
    TreeSelect(tree, node.item);
    std::string text = Topic(form);
    if (node.number == 200) {
      EXPECT_EQ(text, "Expand and click on an item for instructions.");
      continue;
    }
    if (node.child) {
      EXPECT_EQ(text.rfind(node.text + "\r\n\r\n", 0), 0u) << text;
    }
    EXPECT_GT(text.size(), node.text.size() + 100) << "a topic says something";
    // The edit box shows only CR LF as a line break; bare CR or LF would show as junk.
    std::string unbroken = text;
    for (size_t at; (at = unbroken.find("\r\n")) != std::string::npos;) unbroken.erase(at, 2);
    EXPECT_EQ(unbroken.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(text.find("\r\n\r\n\r\n"), std::string::npos) << "one empty line between paragraphs";
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), ' ');
  }

  // What the program really is and does, not what older releases claimed.
  TreeSelect(tree, Walk(tree)[0].item);
  std::string overview = Topic(form);
  EXPECT_NE(overview.find("64-bit Windows 10 and Windows 11"), std::string::npos);
  EXPECT_EQ(overview.find("98"), std::string::npos);
  EXPECT_EQ(overview.find("Windows 7"), std::string::npos);
  TreeSelect(tree, Walk(tree)[4].item);
  EXPECT_EQ(Topic(form).find("only"), std::string::npos) << "the log keeps earlier backups";
  EXPECT_NE(Topic(form).find("dashed line"), std::string::npos);
}

TEST_F(HelpWindow, EachWindowKeepsItsOwnTopic) {
  // Two presses of the main window's Help button give two windows.
  SendMessageA(MainControlHandle(kHelpButton), BM_CLICK, 0, 0);
  SendMessageA(MainControlHandle(kHelpButton), BM_CLICK, 0, 0);
  PumpFor(20);
  HWND second = FindWindowExA(nullptr, nullptr, "FORM_STOWLY_HELP_CLASS", nullptr);
  HWND first = FindWindowExA(nullptr, second, "FORM_STOWLY_HELP_CLASS", nullptr);
  EXPECT_FALSE(FindWindowExA(nullptr, first, "FORM_STOWLY_HELP_CLASS", nullptr));
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  ASSERT_NE(first, second);
  std::string overview = Topic(first);
  EXPECT_EQ(Topic(second), overview);

  // Down in the second window's tree moves it to "Backup Instructions" only.
  SendMessageA(Item(second, kTree), WM_KEYDOWN, VK_DOWN, 1);
  EXPECT_EQ(Topic(second), "Expand and click on an item for instructions.");
  EXPECT_EQ(Topic(first), overview);

  // End in the first window's tree goes to its last topic; the second stays put.
  SendMessageA(Item(first, kTree), WM_KEYDOWN, VK_END, 1);
  EXPECT_EQ(Topic(first).rfind("Local Mode\r\n\r\n", 0), 0u);
  EXPECT_EQ(Topic(second), "Expand and click on an item for instructions.");

  // Closing one leaves the other working.
  SendMessageA(first, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_FALSE(IsWindow(first));
  SendMessageA(Item(second, kTree), WM_KEYDOWN, VK_HOME, 1);
  EXPECT_EQ(Topic(second), overview);
  EXPECT_TRUE(IsWindowEnabled(main_));
}

TEST_F(HelpWindow, WebLabelShowsTheHandAndEscapeDoesNotClose) {
  HWND form = Open();
  ASSERT_TRUE(form);
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW), hand = LoadCursorA(nullptr, IDC_HAND);
  SetCursor(arrow);
  SendMessageA(Item(form, kWebCaption), WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(GetCursor(), arrow) << "only the web label shows the hand";
  SendMessageA(Item(form, kWebLabel), WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(GetCursor(), hand);
  SetCursor(arrow);

  // Esc reaches the form as IDCANCEL, which no control of the help window answers.
  MSG esc = {Item(form, kTree), WM_KEYDOWN, VK_ESCAPE, 1, 0, {}};
  EXPECT_TRUE(IsDialogMessageA(form, &esc));
  PumpFor(20);
  EXPECT_TRUE(IsWindow(form));

  EXPECT_EQ(GetText(Item(form, kVersion)), g_versionText);
  EXPECT_EQ(g_versionText, "Version 1.5.0 ");
}

}  // namespace
