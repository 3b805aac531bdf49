// One layout check over every form at the DPI of the prefix the tests run in: every control
// inside the client area in its table font, no overlaps, tab order, every text within its
// control in a crisp font; and the main window at another DPI.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/support.h"
#include "ui/controls.h"
#include "ui/help_window.h"
#include "ui/main_window.h"
#include "ui/options_window.h"

namespace {

// The button kind (BS_...); -1 for a label, -2 for any other control.
int ButtonKind(HWND h) {
  char name[64] = {};
  GetClassNameA(h, name, sizeof name);
  if (std::string(name) != "Button") return std::string(name) == "Static" ? -1 : -2;
  return static_cast<int>(GetWindowLongA(h, GWL_STYLE) & BS_TYPEMASK);
}
RECT RectIn(HWND form, HWND control) {
  RECT r = {};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
  return r;
}
bool Contains(const RECT& outer, const RECT& inner) {
  RECT both = {};
  return IntersectRect(&both, &outer, &inner) && EqualRect(&both, &inner);
}

// Whether the text fits the room its control leaves: push buttons keep their edges, check
// boxes and options their box and the gap after it, group boxes the corners of their frame.
// Texts that run over only because Wine draws another face than the table's (or its
// TrueType twin) are collected in `substituted`.
void ExpectTextFits(HWND control, const ControlRow& row, int dpi, std::string& substituted) {
  std::string text = GetText(control), table = row.font ? row.font : "";
  int kind = ButtonKind(control);
  if (kind == -2 || text.empty()) return;
  auto font = reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0));
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
  RECT room = {};
  SIZE zero = {};
  GetClientRect(control, &room);
  GetTextExtentPoint32A(dc, "0", 1, &zero);
  bool pushOrFrame = kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON || kind == BS_GROUPBOX;
  int edge = pushOrFrame ? MulDiv(kind == BS_GROUPBOX ? 8 : 3, dpi, 96) : 0;
  room.left += edge + (kind >= 0 && !pushOrFrame ? MulDiv(13, dpi, 96) + zero.cx / 2 : 0);
  room.right -= edge;
  bool wraps = kind < 0 || (GetWindowLongA(control, GWL_STYLE) & BS_MULTILINE);
  RECT need = {0, 0, room.right - room.left, 0};
  DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
  char face[LF_FACESIZE] = {};
  TEXTMETRICA tm = {};
  GetTextFaceA(dc, sizeof face, face);
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old), ReleaseDC(control, dc);
  bool fits = need.right <= room.right - room.left && need.bottom <= room.bottom - room.top;
  table = table.substr(0, table.find(','));
  bool tableDrawn = _stricmp(face, table.c_str()) == 0 ||
                    (table == "MS Sans Serif" && std::string(face) == "Microsoft Sans Serif");
  if (!fits && !tableDrawn) substituted += " \"" + text + "\" (" + face + " for " + table + ")";
  EXPECT_TRUE(fits || !tableDrawn) << "\"" << text << "\" runs over its control in " << face;
  EXPECT_TRUE(dpi == 96 || (tm.tmPitchAndFamily & (TMPF_VECTOR | TMPF_TRUETYPE)))
      << face << " is a bitmap face at " << dpi;
}

// Every control inside the client area at its table size (and place, at 96 DPI) in its
// table font (heights in 96-DPI pixels), overlapping nothing but a frame around it; Tab
// walks the tab stops in table order. Texts are measured when `substituted` is given.
void ExpectLaidOut(HWND form, const FormSpec& def, int dpi, std::string* substituted) {
  RECT client = {};
  GetClientRect(form, &client);
  std::vector<int> tabStops, walked;
  for (int i = 0, count = static_cast<int>(def.controls.size()); i < count; ++i) {
    const ControlRow& row = def.controls[static_cast<size_t>(i)];
    HWND a = GetDlgItem(form, ControlId(def, i));
    RECT ra = RectIn(form, a);
    SCOPED_TRACE(std::string(row.className) + " \"" + row.text + "\"");
    EXPECT_TRUE(Contains(client, ra) &&
                std::abs((ra.right - ra.left) - row.width * dpi / 96.0) <= 1 &&
                std::abs((ra.bottom - ra.top) - row.height * dpi / 96.0) <= 1 &&
                (dpi != 96 || (ra.left == row.x && ra.top == row.y)));
    // An edit's text starts at its edges at every scale.
    EXPECT_TRUE(_stricmp(row.className, "Edit") || !SendMessageA(a, EM_GETMARGINS, 0, 0));
    LOGFONTA lf = {};
    int height = 0, weight = 0, italic = 0, underline = 0;
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(a, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    // Away from 96 DPI a bitmap face gives way to a scalable one.
    EXPECT_TRUE(!row.font || (sscanf(row.font, "%*[^,],%d,%*d,%*d,%*d,%d,%d,%d", &height, &weight,
                                     &italic, &underline) == 4 &&
                              (dpi != 96 || std::string(row.font).rfind(
                                                lf.lfFaceName + std::string(","), 0) == 0) &&
                              lf.lfHeight == -MulDiv(-height, dpi, 96) && lf.lfWeight == weight &&
                              lf.lfItalic == italic && lf.lfUnderline == underline))
        << "drawn in " << lf.lfFaceName << " " << lf.lfHeight;
    for (int j = i + 1; j < count; ++j) {
      HWND b = GetDlgItem(form, ControlId(def, j));
      RECT rb = RectIn(form, b), both = {};
      bool framed = (ButtonKind(a) == BS_GROUPBOX && Contains(ra, rb)) ||
                    (ButtonKind(b) == BS_GROUPBOX && Contains(rb, ra));
      EXPECT_TRUE(!IntersectRect(&both, &ra, &rb) || framed)
          << "overlaps " << def.controls[static_cast<size_t>(j)].text;
    }
    // Of an option group only the checked option is a tab stop.
    if ((row.style & WS_TABSTOP) && (ButtonKind(a) != BS_AUTORADIOBUTTON || IsChecked(a)))
      tabStops.push_back(ControlId(def, i));
    if (substituted) ExpectTextFits(a, row, dpi, *substituted);
  }
  HWND first = GetNextDlgTabItem(form, nullptr, FALSE), at = first;
  for (size_t n = 0; n < tabStops.size(); ++n, at = GetNextDlgTabItem(form, at, FALSE))
    walked.push_back(GetDlgCtrlID(at));
  EXPECT_TRUE(walked == tabStops && at == first) << "Tab walks the tab stops in table order";
}

// A window moved to another DPI lays itself out again and keeps what it held.
TEST(Layout, EveryFormHoldsItsControlsAtTheSystemDpiAndTheMainOneAtAnother) {
  ScratchDir dir;
  HWND main = OpenMainWindow(dir / "Stowly.ini");
  const int dpi = WindowDpi(main);
  EXPECT_EQ(dpi, GetDeviceCaps(GetDC(nullptr), LOGPIXELSY)) << "the program is DPI aware";
  // The options window is modal for the user; opened modeless here, from the same table.
  OptionsWindow options(false);
  options.Show(main);
  HelpWindow* help = HelpWindow::Open(main);
  ASSERT_TRUE(options.Window() && help);
  const std::pair<const FormSpec*, HWND> forms[] = {
      {&Main().Spec(), main}, {&options.Spec(), options.Window()}, {&help->Spec(), help->Window()}};
  std::string substituted;
  PumpFor(20);
  for (const auto& [def, form] : forms) {
    SCOPED_TRACE(def->className);
    ExpectLaidOut(form, *def, dpi, &substituted);
    RECT outer = {};
    GetWindowRect(form, &outer);
    EXPECT_TRUE(dpi != 96 || (outer.right - outer.left == def->width &&
                              outer.bottom - outer.top == def->height));
    if (form != main) DestroyWindow(form);
  }
  HWND list = Main().Control(kSourceList), box = Main().Control(kDestinationBox);
  ListAdd(list, "C:\\Data\\"), ListAdd(list, "D:\\Photos\\"), ListSelect(list, 1);
  SetText(box, "E:\\Backup\\");
  SetFocus(Main().Control(kDelButton));
  const RECT before = RectIn(main, Main().Control(kViewLogButton));
  // Up from 100 %, down to it from any other scale: the screen holds either.
  for (int from = dpi; int to : {dpi == 96 ? 144 : 96, dpi}) {
    SCOPED_TRACE(to);
    // The system's suggestion: the client area scaled, the frame as it is.
    RECT suggested = {}, client = {}, taken = {};
    GetWindowRect(main, &suggested);
    GetClientRect(main, &client);
    suggested.right += MulDiv(client.right, to, from) - client.right;
    suggested.bottom += MulDiv(client.bottom, to, from) - client.bottom;
    SendMessageA(main, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(main, &taken);
    EXPECT_TRUE(EqualRect(&taken, &suggested)) << "the suggested rectangle is taken";
    // Texts are measured at the system DPI only: Wine picks bitmap strikes by it.
    ExpectLaidOut(main, Main().Spec(), to, nullptr);
    EXPECT_TRUE(ListCount(list) == 2 && ListCurrent(list) == 1 && GetText(box) == "E:\\Backup\\" &&
                GetFocus() == Main().Control(kDelButton));
    from = to;
  }
  RECT after = RectIn(main, Main().Control(kViewLogButton));
  EXPECT_TRUE(EqualRect(&before, &after)) << "back at the first DPI, back at the first place";
  CloseMainWindow();
  if (!substituted.empty())
    GTEST_SKIP() << "at " << dpi << " DPI these texts run over only under Wine, which lacks the "
                 << "scalable face Windows draws them with:" << substituted;
}

}  // namespace
