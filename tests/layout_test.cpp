// One layout check over every form at the DPI of the prefix the tests run in: identifiers,
// tab order, every control inside the client area, no overlaps, every text within its
// control in a crisp font; and a window moved to another DPI keeps all it held.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support.h"
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/help_window.h"
#include "ui/main_window.h"
#include "ui/options_window.h"

namespace {

std::string ClassOf(HWND h) {
  char name[64] = {};
  GetClassNameA(h, name, sizeof name);
  return name;
}

// The button kind (BS_...), or -1 for controls that are no buttons.
int ButtonKind(HWND h) {
  return ClassOf(h) == "Button" ? static_cast<int>(GetWindowLongA(h, GWL_STYLE) & BS_TYPEMASK) : -1;
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

HWND Control(HWND form, const FormDef& def, int i) { return GetDlgItem(form, def.vars->ids[i]); }

void ExpectPlacedInside(HWND form, const FormDef& def, int dpi) {
  RECT client = {};
  GetClientRect(form, &client);
  for (int i = 0; i < def.controlCount; ++i) {
    const ControlRow& row = def.controls[i];
    RECT ra = RectIn(form, Control(form, def, i));
    SCOPED_TRACE(std::string(row.className) + " \"" + row.text + "\"");
    EXPECT_TRUE(Contains(client, ra)) << "outside the client area";
    EXPECT_LE(std::abs((ra.right - ra.left) - row.width * dpi / 96.0), 1.0);
    EXPECT_LE(std::abs((ra.bottom - ra.top) - row.height * dpi / 96.0), 1.0);
    EXPECT_TRUE(dpi != 96 || (ra.left == row.x && ra.top == row.y));
    for (int j = i + 1; j < def.controlCount; ++j) {
      RECT rb = RectIn(form, Control(form, def, j)), both = {};
      bool framed = (ButtonKind(Control(form, def, i)) == BS_GROUPBOX && Contains(ra, rb)) ||
                    (ButtonKind(Control(form, def, j)) == BS_GROUPBOX && Contains(rb, ra));
      EXPECT_TRUE(!IntersectRect(&both, &ra, &rb) || framed) << "overlaps " << def.controls[j].text;
    }
  }
}

// Whether the text fits the room its control leaves: push buttons keep their edges, check
// boxes and options their box and the gap after it, group boxes the corners of their frame.
bool TextFits(HWND control, int dpi, std::string& drawnFace, bool& crisp) {
  auto font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
  RECT room = {};
  GetClientRect(control, &room);
  int kind = ButtonKind(control);
  bool pushOrFrame = kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON || kind == BS_GROUPBOX;
  if (kind >= 0 && !pushOrFrame) {
    SIZE zero = {};
    GetTextExtentPoint32A(dc, "0", 1, &zero);
    room.left += MulDiv(13, dpi, 96) + zero.cx / 2;
  } else if (kind >= 0) {
    InflateRect(&room, -MulDiv(kind == BS_GROUPBOX ? 8 : 3, dpi, 96), 0);
  }
  bool wraps = kind < 0 || (GetWindowLongA(control, GWL_STYLE) & BS_MULTILINE);
  RECT need = {0, 0, room.right - room.left, 0};
  DrawTextA(dc, GetText(control).c_str(), -1, &need,
            DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
  char face[LF_FACESIZE] = {};
  GetTextFaceA(dc, sizeof face, face);
  TEXTMETRICA tm = {};
  GetTextMetricsA(dc, &tm);
  crisp = dpi == 96 || (tm.tmPitchAndFamily & (TMPF_VECTOR | TMPF_TRUETYPE));
  drawnFace = face;
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return need.right <= room.right - room.left && need.bottom <= room.bottom - room.top;
}

// Texts that run over only because Wine draws another face than the table's (or its
// TrueType twin) are collected in `substituted`.
void CheckLayout(HWND form, const FormDef& def, int dpi, std::string& substituted) {
  std::vector<int> tabStops, walked;
  HWND child = GetWindow(form, GW_CHILD);
  for (int i = 0; i < def.controlCount; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
    int fixed = def.controls[i].fixedId;
    EXPECT_EQ(GetDlgCtrlID(child), fixed ? fixed : 1000 + i) << "control " << i;
    // Of an option group only the checked option is a tab stop.
    if ((def.controls[i].style & WS_TABSTOP) &&
        (ButtonKind(child) != BS_AUTORADIOBUTTON || IsChecked(child)))
      tabStops.push_back(GetDlgCtrlID(child));
  }
  HWND first = GetNextDlgTabItem(form, nullptr, FALSE);
  for (HWND at = first; at && walked.size() < 64; at = GetNextDlgTabItem(form, at, FALSE)) {
    walked.push_back(GetDlgCtrlID(at));
    if (GetNextDlgTabItem(form, at, FALSE) == first) break;
  }
  EXPECT_EQ(walked, tabStops);
  ExpectPlacedInside(form, def, dpi);
  for (int i = 0; i < def.controlCount; ++i) {
    HWND control = Control(form, def, i);
    std::string text = GetText(control), face,
                tableFace = def.controls[i].font ? def.controls[i].font : "";
    if ((ClassOf(control) != "Button" && ClassOf(control) != "Static") || text.empty()) continue;
    tableFace = tableFace.substr(0, tableFace.find(','));
    bool crisp = true, fits = TextFits(control, dpi, face, crisp);
    bool tableDrawn = _stricmp(face.c_str(), tableFace.c_str()) == 0 ||
                      (tableFace == "MS Sans Serif" && face == "Microsoft Sans Serif");
    if (!fits && !tableDrawn)
      substituted += " \"" + text + "\" (" + face + " for " + tableFace + ")";
    EXPECT_TRUE(fits || !tableDrawn) << "\"" << text << "\" runs over its control in " << face;
    EXPECT_TRUE(crisp) << face << " is a bitmap face at " << dpi;
  }
  RECT outer = {};
  GetWindowRect(form, &outer);
  EXPECT_TRUE(dpi != 96 ||
              (outer.right - outer.left == def.width && outer.bottom - outer.top == def.height));
}

struct Layout : ::testing::Test {
  ScratchDir dir_;
  HWND main_ = OpenMainWindow(dir_ / "Stowly.ini");
  int dpi_ = WindowDpi(main_);
  ~Layout() override { CloseMainWindow(); }
};

TEST_F(Layout, EveryFormHoldsItsControlsAtTheSystemDpi) {
  EXPECT_EQ(dpi_, GetDeviceCaps(GetDC(nullptr), LOGPIXELSY)) << "the program is DPI aware";
  // The options window is modal for the user; opened modeless here, from the same table.
  const std::pair<const FormDef*, HWND> forms[] = {
      {&MainFormDef(), main_},
      {&OptionsFormDef(), reinterpret_cast<HWND>(ShowForm(OptionsFormDef(), main_, 0, 0))},
      {&HelpFormDef(), ShowHelpWindow(main_)}};
  std::string substituted;
  PumpFor(20);
  for (const auto& [def, form] : forms) {
    SCOPED_TRACE(def->className);
    CheckLayout(form, *def, dpi_, substituted);
    if (form != main_) DestroyWindow(form);
  }
  if (!substituted.empty())
    GTEST_SKIP() << "at " << dpi_ << " DPI these texts run over only under Wine, which lacks the "
                 << "scalable face Windows draws them with:" << substituted;
}

TEST_F(Layout, AWindowMovedToAnotherDpiLaysItselfOutAgainAndKeepsWhatItHeld) {
  HWND list = MainControlHandle(kSourceList);
  ListAdd(list, "C:\\Data\\");
  ListAdd(list, "D:\\Photos\\");
  ListSelect(list, 1);
  SetText(MainControlHandle(kDestinationBox), "E:\\Backup\\");
  SetFocus(MainControlHandle(kDelButton));
  const RECT before = RectIn(main_, MainControlHandle(kViewLogButton));
  // Up from 100 %, down to it from any other scale: the screen holds either.
  int from = dpi_;
  for (int dpi : {dpi_ == 96 ? 144 : 96, dpi_}) {
    SCOPED_TRACE(dpi);
    // The system's suggestion: the client area scaled, the frame as it is.
    RECT suggested = {}, client = {}, taken = {};
    GetWindowRect(main_, &suggested);
    GetClientRect(main_, &client);
    suggested.right += MulDiv(client.right, dpi, from) - client.right;
    suggested.bottom += MulDiv(client.bottom, dpi, from) - client.bottom;
    SendMessageA(main_, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(main_, &taken);
    EXPECT_TRUE(EqualRect(&taken, &suggested)) << "the suggested rectangle is taken";
    // Texts are measured at the system DPI only: Wine picks bitmap strikes by it.
    ExpectPlacedInside(main_, MainFormDef(), dpi);
    LOGFONTA lf = {};
    GetObjectA(
        reinterpret_cast<HFONT>(SendMessageA(MainControlHandle(kBackupButton), WM_GETFONT, 0, 0)),
        sizeof lf, &lf);
    EXPECT_EQ(lf.lfHeight, -MulDiv(11, dpi, 96));
    EXPECT_TRUE(ListCount(list) == 2 && ListCurrent(list) == 1 &&
                GetText(MainControlHandle(kDestinationBox)) == "E:\\Backup\\" &&
                GetFocus() == MainControlHandle(kDelButton));
    from = dpi;
  }
  RECT after = RectIn(main_, MainControlHandle(kViewLogButton));
  EXPECT_TRUE(EqualRect(&before, &after)) << "back at the first DPI, back at the first place";
}

}  // namespace
