#include "ui/help_window.h"

#include <shellapi.h>

#include <string>

#include "res/maker.h"
#include "stowly_version.h"
#include "ui/controls.h"

namespace {

// The help window's controls, in creation order.
enum HelpControl {
  kTopicTree,
  kProductLabel,
  kVersionLabel,
  kTopicText,
  kWebCaption,
  kWebLabel,
  kNoticeLabel,
  kPicture,
  kHelpControlCount
};

constexpr const char* kTahoma12 = kTahomaFont;
constexpr const char* kTahoma12Underlined = "Tahoma,-12,0,0,0,400,0,1,0,0,3,2,1,34";
constexpr const char* kTahoma11 = "Tahoma,-11,0,0,0,400,0,0,0,0,3,2,1,34";
constexpr const char* kTahoma11Italic = "Tahoma,-11,0,0,0,400,1,0,0,0,3,2,1,34";
constexpr const char* kTahoma24 = "Tahoma,-24,0,0,0,400,0,0,0,0,3,2,1,34";
constexpr const char* kArial12 = "Arial,-12,0,0,0,400,0,0,0,0,3,2,1,34";
constexpr DWORD kStatic = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | SS_NOTIFY;
constexpr COLORREF kBlue = 0xFF0000;
constexpr COLORREF kDarkRed = 0x0000C4;
constexpr ColorSpec kBlueOnFace = {kBlue, SystemColor(COLOR_BTNFACE)};
constexpr ColorSpec kDarkRedOnFace = {kDarkRed, SystemColor(COLOR_BTNFACE)};
constexpr ColorSpec kInfoColors = {SystemColor(COLOR_WINDOWTEXT), SystemColor(COLOR_INFOBK)};
constexpr COLORREF kTreeText = 0x000000;
constexpr COLORREF kTreeBack = 0xE1FFFF;

const ControlRow kControls[kHelpControlCount] = {
    {"SysTreeView32", "",
     WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
     WS_EX_CLIENTEDGE, 4, 64, 204, 292, kTahoma12, kNoColors},
    {"Static", "Stowly", kStatic | SS_LEFT, 0, 68, 4, 137, 32, kTahoma24, kBlueOnFace},
    {"Static", "Version 1.0", kStatic | SS_LEFT, 0, 68, 36, 140, 16, kTahoma11, kDarkRedOnFace},
    {"Edit", "", WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE, WS_EX_CLIENTEDGE, 212,
     64, 324, 292, kArial12, kInfoColors, 0, 0, 0},
    {"Static", "Web:", kStatic | SS_LEFT, 0, 336, 24, 31, 16, kTahoma12, kSystemColors},
    {"Static", STOWLY_MAKER_WEB_TEXT, kStatic | SS_LEFT, 0, 376, 24, 156, 16, kTahoma12Underlined,
     kBlueOnFace},
    {"Static", STOWLY_MAKER_NOTICE, kStatic | SS_RIGHT, 0, 382, 8, 138, 16, kTahoma11Italic,
     kSystemColors},
    {"Static", "", kStatic | SS_ICON, 0, 4, 4, 58, 42, nullptr, kNoColors},
};

// The topics' texts are resources named by their topic numbers.
struct Topic {
  const char* item;
  int number;
  bool child;  // of "Backup Instructions"
};

const Topic kTopics[] = {
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

// The text files keep one paragraph per line, whatever line ends they were saved with;
// the edit box breaks lines only at CR LF.
std::string TopicText(LPARAM number) {
  if (number <= 0 || number > 0xFFFF) return {};
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(number), RT_RCDATA);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (!data) return {};
  std::string text;
  for (DWORD i = 0, size = SizeofResource(module, found); i < size; ++i) {
    if (data[i] == '\r') continue;
    if (data[i] == '\n') text += '\r';
    text += data[i];
  }
  while (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
    text.resize(text.size() - 2);
  return text;
}

const FormSpec kSpec = {.className = "FORM_STOWLY_HELP_CLASS",
                        .caption = "Stowly Help",
                        .width = 545,
                        .height = 391,
                        .style = WS_MINIMIZEBOX,
                        .controls = kControls,
                        .focusControl = kTopicTree};

}  // namespace

HelpWindow::HelpWindow() : BaseWindow(kSpec) {}

HelpWindow* HelpWindow::Open(HWND parent) {
  auto* help = new HelpWindow;
  if (help->Show(parent)) return help;
  delete help;
  return nullptr;
}

// The picture shows the icon at the size its control has at the window's DPI.
void HelpWindow::ShowIcon() {
  HWND picture = Control(kPicture);
  RECT client = {};
  GetClientRect(picture, &client);
  HICON icon =
      IconOfSize("IMAGE_EXTERNALHD", client.right - client.left, client.bottom - client.top);
  SendMessageA(picture, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
}

void HelpWindow::FillTopics() {
  HWND tree = Control(kTopicTree);
  TreeSetTextColor(tree, kTreeText);
  TreeSetBackColor(tree, kTreeBack);
  SetText(Control(kVersionLabel), STOWLY_VERSION_TEXT);

  HTREEITEM overview = nullptr, instructions = nullptr;
  for (const Topic& topic : kTopics) {
    HTREEITEM item = TreeInsert(tree, topic.child ? instructions : TVI_ROOT, topic.item, 0, 0, 0);
    TreeSetData(tree, item, topic.number);
    if (topic.number == 100) overview = item;
    if (topic.number == 200) instructions = item;
  }
  TreeExpand(tree, instructions, 1);
  TreeSelect(tree, overview);
}

LRESULT HelpWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
    case WM_DPICHANGED: {
      LRESULT result = Form::HandleMessage(message, wParam, lParam);
      ShowIcon();
      if (message == WM_CREATE) FillTopics();
      return result;
    }
    case WM_NOTIFY: {
      auto* change = reinterpret_cast<NMTREEVIEWA*>(lParam);
      if (change->hdr.hwndFrom != Control(kTopicTree) || change->hdr.code != TVN_SELCHANGEDA) break;
      SetText(Control(kTopicText),
              TopicText(TreeGetData(Control(kTopicTree), change->itemNew.hItem)));
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == ControlId(kSpec, kWebLabel) && HIWORD(wParam) == STN_CLICKED)
        ShellExecuteA(nullptr, "", STOWLY_MAKER_WEB_URL, "", "", SW_SHOWNORMAL);
      break;
    case WM_SETCURSOR:  // the web address is a link
      if (reinterpret_cast<HWND>(wParam) != Control(kWebLabel)) break;
      SetCursor(LoadCursorA(nullptr, IDC_HAND));
      return TRUE;
    case WM_NCDESTROY:
      Form::HandleMessage(message, wParam, lParam);
      delete this;
      return 0;
    default:
      break;
  }
  return Form::HandleMessage(message, wParam, lParam);
}
