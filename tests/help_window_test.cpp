#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST_F(HelpWindow, OpensBesideTheMainWindowWithTheTreeFocused) {
  HWND form = Open();
  ASSERT_TRUE(form);
  EXPECT_EQ(GetWindow(form, GW_OWNER), main_);
  EXPECT_TRUE(IsWindowEnabled(main_)) << "the help window is modeless";
  HWND tree = Item(form, kTree);
  EXPECT_EQ(SendMessageA(tree, TVM_GETTEXTCOLOR, 0, 0), 0x000000);
  EXPECT_EQ(SendMessageA(tree, TVM_GETBKCOLOR, 0, 0), 0xE1FFFF);
  EXPECT_EQ(GetFocus(), tree) << "the tree, the only tab stop, has the focus";
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
}

// The number written once shows the same in the label, the version block and the manifest.
TEST_F(HelpWindow, ShowsTheVersionOfTheVersionBlockAndTheManifest) {
  HWND form = Open();
  ASSERT_TRUE(form);
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
  std::string numbers = std::to_string(HIWORD(info.dwFileVersionMS)) + "." +
                        std::to_string(LOWORD(info.dwFileVersionMS)) + "." +
                        std::to_string(HIWORD(info.dwFileVersionLS));
  EXPECT_EQ(GetText(Item(form, kVersion)), "Version " + numbers + " ");
  EXPECT_EQ(info.dwProductVersionMS, info.dwFileVersionMS);
  EXPECT_EQ(info.dwProductVersionLS, info.dwFileVersionLS);
  std::string manifest = resource(MAKEINTRESOURCEA(1), RT_MANIFEST);
  EXPECT_NE(manifest.find("name=\"Quenvar.Stowly\" version=\"" + numbers + ".0\""),
            std::string::npos);
}

}  // namespace
