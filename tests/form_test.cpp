#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ui/message_loop.h"
#include "tests/support.h"
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/help_window.h"
#include "ui/main_window.h"
#include "ui/options_window.h"

namespace {

enum { kOk, kEdit, kList, kCheck, kLabel, kCancel, kCount };

HWND g_handles[kCount];
int g_ids[kCount];
FormVars g_vars = {nullptr, g_handles, g_ids};

struct Call {
  int index;
  HWND form;
  HWND control;
  int id;
};
std::vector<Call> g_calls;
std::vector<UINT> g_editCommands;  // WM_COMMAND ids the edit box received
int g_cancelResult = 0;

int OnOk(int index, HWND form, HWND control, int id) {
  g_calls.push_back({index, form, control, id});
  return 0;
}

int OnOkSecond(int, HWND, HWND, int) { return 42; }

int OnCancel(int, HWND form, HWND, int) {
  CloseForm(form, g_cancelResult);
  return 0;
}

const char* kSpec = "Tahoma,-12,0,0,0,400,0,0,0,0,3,2,1,34";

const ControlRow kControls[kCount] = {
    {"Button", "Ok", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 10, 10, 60, 24, kSpec, kNoColors, IDOK},
    {"Edit", "", WS_TABSTOP | ES_MULTILINE, WS_EX_CLIENTEDGE, 10, 40, 100, 40, kSpec,
     kWindowColors},
    {"ListBox", "", WS_VSCROLL, 0, 10, 90, 100, 40, kSpec, kWindowColors},
    {"Button", "Check", WS_TABSTOP | BS_AUTOCHECKBOX, 0, 120, 10, 60, 16, kSpec, kSystemColors},
    {"Static", "Label", SS_LEFT, 0, 120, 30, 60, 16, nullptr, kSystemColors},
    {"Button", "Cancel", WS_TABSTOP, 0, 80, 10, 60, 24, kSpec, kNoColors, IDCANCEL},
};

const CommandRow kCommands[] = {
    {kOk, BN_CLICKED, OnOk},
    {kOk, BN_CLICKED, OnOkSecond},
    {kCancel, BN_CLICKED, OnCancel},
};

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

HWND OpenModeless(HWND parent = nullptr) {
  AssignControlIds(kDef);
  return reinterpret_cast<HWND>(ShowForm(kDef, parent, 0, 0));
}

// Runs the form modally; `during` is posted work done from inside its loop.
struct ModalRun {
  HWND owner = nullptr;
  LRESULT result = -5;
  bool ownerDisabledInside = false;
};

void CALLBACK ModalStep(HWND, UINT, UINT_PTR id, DWORD);
UINT g_modalAction = 0;
ModalRun* g_run = nullptr;

void CALLBACK ModalStep(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  HWND form = g_vars.form;
  if (!form) return;
  if (g_run->owner) g_run->ownerDisabledInside = !IsWindowEnabled(g_run->owner);
  switch (g_modalAction) {
    case 0:  // CloseForm with a result
      CloseForm(form, 1);
      break;
    case 1:  // title-bar close
      PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    case 2:  // Esc on a push button
      SetFocus(g_handles[kOk]);
      PostMessageA(g_handles[kOk], WM_KEYDOWN, VK_ESCAPE, 0);
      break;
    case 3:  // Esc in the multi-line edit, then close
      SetFocus(g_handles[kEdit]);
      PostMessageA(g_handles[kEdit], WM_KEYDOWN, VK_ESCAPE, 0);
      PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    default:
      break;
  }
}

ModalRun RunModal(UINT action, HWND owner = nullptr) {
  ModalRun run;
  run.owner = owner;
  g_run = &run;
  g_modalAction = action;
  AssignControlIds(kDef);
  SetTimer(nullptr, 0, 50, ModalStep);
  run.result = ShowForm(kDef, owner, 1, 0);
  g_run = nullptr;
  return run;
}

HWND MakeOwner() {
  return CreateWindowExA(0, "Static", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                         nullptr, nullptr, nullptr);
}

}  // namespace

TEST(Framework, AssignsIdentifiersAndDispatchesCommandsInTableOrder) {
  HWND form = OpenModeless();
  ASSERT_TRUE(IsWindow(form));
  EXPECT_EQ(g_vars.form, form);
  EXPECT_EQ(g_ids[kOk], IDOK);
  EXPECT_EQ(g_ids[kEdit], 1001);
  EXPECT_EQ(g_ids[kLabel], 1004);
  EXPECT_EQ(g_ids[kCancel], IDCANCEL);
  EXPECT_EQ(GetDlgCtrlID(g_handles[kList]), 1002);

  g_calls.clear();
  LRESULT result = SendMessageA(form, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                                reinterpret_cast<LPARAM>(g_handles[kOk]));
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].index, 0);
  EXPECT_EQ(g_calls[0].form, form);
  EXPECT_EQ(g_calls[0].control, g_handles[kOk]);
  EXPECT_EQ(g_calls[0].id, IDOK);
  EXPECT_EQ(result, 42) << "the first non-zero handler result is the message result";

  g_calls.clear();
  SendMessageA(form, WM_COMMAND, MAKEWPARAM(IDOK, BN_SETFOCUS), 0);
  EXPECT_TRUE(g_calls.empty()) << "other notification codes do not match the row";

  // Every window carries its record and both (empty) tags.
  InstanceRecord* record = RecordOf(g_handles[kCheck]);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->Window, g_handles[kCheck]);
  EXPECT_EQ(record->IsForm, 0);
  EXPECT_EQ(RecordOf(form)->IsForm, 1);
  EXPECT_STREQ(static_cast<const char*>(GetPropA(g_handles[kLabel], "STOWLY_TAG")), "");
  EXPECT_EQ(IsChecked(g_handles[kCheck]), 0);
  EXPECT_EQ(ListCurrent(g_handles[kList]), -1);

  DestroyWindow(form);
  EXPECT_EQ(g_vars.form, nullptr);
}

TEST(Framework, FontsAreCachedPerSpecAndPointsBecomePixels) {
  HFONT a = FontFromSpec("Arial,-12,0,0,0,400,0,0,0,0,3,2,1,34");
  EXPECT_EQ(a, FontFromSpec("Arial,-12,0,0,0,400,0,0,0,0,3,2,1,34"));
  HFONT b = FontFromSpec("Arial,-12,0,0,0,400,0,0,0,1,3,2,1,34");
  EXPECT_NE(a, b) << "specs differing only in an ignored field still get their own font";
  EXPECT_EQ(FontFromSpec(",-12,0,0,0,400,0,0,0,0,3,2,1,34"), nullptr);

  // Pixel heights are 96-DPI pixels, rounded half away from zero; points follow the DPI.
  struct Case {
    const char* spec;
    int dpi;
    LONG height;
  };
  const Case cases[] = {
      {"Tahoma,8,0,0,0,700,1,1,0", 96, -10},    {"Tahoma,8,0,0,0,700,1,1,0", 144, -16},
      {"Tahoma,-11,0,0,0,700,1,1,0", 96, -11},  {"Tahoma,-11,0,0,0,700,1,1,0", 120, -14},
      {"Tahoma,-11,0,0,0,700,1,1,0", 144, -17}, {"Tahoma,-11,0,0,0,700,1,1,0", 192, -22},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.spec << " at " << c.dpi);
    LOGFONTA lf = {};
    ASSERT_TRUE(GetObjectA(FontFromSpec(c.spec, c.dpi), sizeof lf, &lf));
    EXPECT_EQ(lf.lfHeight, c.height);
    EXPECT_EQ(lf.lfWeight, 700);
    EXPECT_EQ(lf.lfItalic, 1);
    EXPECT_EQ(lf.lfUnderline, 1);
    EXPECT_STREQ(lf.lfFaceName, "Tahoma");
  }
  EXPECT_NE(FontFromSpec("Tahoma,-11,0,0,0,400", 96), FontFromSpec("Tahoma,-11,0,0,0,400", 144));

  // The bitmap face stays at 100 %; elsewhere a scalable face of its design draws.
  LOGFONTA lf = {};
  const char* bitmapFace = "MS Sans Serif,-11,0,0,0,400,0,0,0,0,1,2,1,34";
  ASSERT_TRUE(GetObjectA(FontFromSpec(bitmapFace, 96), sizeof lf, &lf));
  EXPECT_STREQ(lf.lfFaceName, "MS Sans Serif");
  HDC dc = GetDC(nullptr);
  for (int dpi : {120, 144, 192}) {
    HGDIOBJ old = SelectObject(dc, FontFromSpec(bitmapFace, dpi));
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    EXPECT_TRUE(tm.tmPitchAndFamily & (TMPF_VECTOR | TMPF_TRUETYPE)) << dpi;
  }
  ReleaseDC(nullptr, dc);

  HWND form = OpenModeless();
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(g_handles[kOk], WM_GETFONT, 0, 0)),
            FontFromSpec(kSpec));
  EXPECT_EQ(SendMessageA(g_handles[kOk], WM_GETFONT, 0, 0),
            SendMessageA(g_handles[kEdit], WM_GETFONT, 0, 0));
  DestroyWindow(form);
}

// Edges that meet or stay apart in a table do so at every scale.
TEST(Framework, ScaledTablesNeitherOverlapNorOpenGaps) {
  const FormDef* forms[] = {&kDef, &MainFormDef(), &OptionsFormDef(), &HelpFormDef()};
  for (const FormDef* def : forms) {
    SCOPED_TRACE(def->className);
    for (int dpi = 96; dpi <= 288; ++dpi) {
      for (int i = 0; i < def->controlCount; ++i) {
        const ControlRow& a = def->controls[i];
        RECT ra = TableRect(a, dpi);
        EXPECT_LE(std::abs((ra.right - ra.left) - a.width * dpi / 96.0), 1.0);
        for (int j = 0; j < def->controlCount; ++j) {
          const ControlRow& b = def->controls[j];
          RECT rb = TableRect(b, dpi);
          if (a.x + a.width == b.x) {
            EXPECT_EQ(ra.right, rb.left) << i << " meets " << j;
          }
          if (a.y + a.height == b.y) {
            EXPECT_EQ(ra.bottom, rb.top) << i << " meets " << j;
          }
          if (a.x + a.width < b.x) {
            EXPECT_LT(ra.right, rb.left) << i << " apart from " << j;
          }
          if (a.y + a.height < b.y) {
            EXPECT_LT(ra.bottom, rb.top) << i << " apart from " << j;
          }
        }
      }
      if (HasFailure()) return;
    }
  }
}

TEST(Framework, ModalFormsReturnTheirResultAndFreeTheirOwner) {
  HWND owner = MakeOwner();
  ModalRun closed = RunModal(0, owner);
  EXPECT_EQ(closed.result, 1);
  EXPECT_TRUE(closed.ownerDisabledInside);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(g_formResult, 0) << "the loop resets the result it returned";

  ModalRun titleBar = RunModal(1, owner);
  EXPECT_EQ(titleBar.result, 0);
  EXPECT_TRUE(IsWindowEnabled(owner));

  g_cancelResult = 7;
  ModalRun escape = RunModal(2, owner);
  EXPECT_EQ(escape.result, 7) << "Esc becomes the Cancel button's command";
  EXPECT_EQ(g_vars.form, nullptr);

  g_editCommands.clear();
  ModalRun multiline = RunModal(3, owner);
  EXPECT_EQ(multiline.result, 0) << "Esc in a multi-line edit must not close the form";
  EXPECT_EQ(g_editCommands, std::vector<UINT>{IDCANCEL});
  DestroyWindow(owner);
}

TEST(Framework, ListReplaceKeepsThePlaceTheDataAndSelectsTheLine) {
  HWND form = OpenModeless();
  HWND list = g_handles[kList];
  EXPECT_EQ(ListAdd(list, "a"), 0);
  EXPECT_EQ(ListAdd(list, ""), 1);
  EXPECT_EQ(ListGetText(list, 1), "");
  ListReplace(list, 0, "b", 5);
  EXPECT_EQ(ListGetText(list, 0), "b");
  EXPECT_EQ(SendMessageA(list, LB_GETITEMDATA, 0, 0), 5);
  EXPECT_EQ(ListCurrent(list), 0);
  DestroyWindow(form);
}

TEST(Framework, ColoursComeFromTheRecordAndDisabledEditsPaintAsButtonFace) {
  HWND form = OpenModeless();
  HDC dc = CreateCompatibleDC(nullptr);
  auto colour = [&](UINT message, HWND child) {
    return reinterpret_cast<HBRUSH>(
        SendMessageA(form, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(child)));
  };
  EXPECT_EQ(colour(WM_CTLCOLORSTATIC, g_handles[kLabel]), GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT));
  EXPECT_EQ(GetBkMode(dc), TRANSPARENT);

  EXPECT_EQ(colour(WM_CTLCOLOREDIT, g_handles[kEdit]), GetSysColorBrush(COLOR_WINDOW));
  EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(GetBkMode(dc), OPAQUE);
  DisableControl(g_handles[kEdit]);
  EXPECT_EQ(colour(WM_CTLCOLOREDIT, g_handles[kEdit]), GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_BTNFACE));

  // A control without colours of its own is left to the default painting.
  EXPECT_NE(colour(WM_CTLCOLORBTN, g_handles[kOk]), GetSysColorBrush(COLOR_WINDOW));
  DeleteDC(dc);
  DestroyWindow(form);
}
