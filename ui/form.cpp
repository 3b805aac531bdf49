#include "ui/form.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/fs.h"
#include "ui/message_loop.h"

namespace {

constexpr DWORD kFormStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VISIBLE;
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT | WS_EX_WINDOWEDGE;
constexpr int kTableDpi = 96;
constexpr const char* kIconName = "IMAGE_EXTERNALHD";

// The table's outer sizes hold the 96-DPI frame; the client area is what scales.
SIZE FormOuterSize(const FormSpec& spec, int dpi) {
  DWORD style = kFormStyle | spec.style;
  RECT frame = {};
  AdjustWindowRectExForDpi(&frame, style, FALSE, kFormExStyle, kTableDpi);
  RECT outer = {0, 0, TablePx(spec.width - (frame.right - frame.left), dpi),
                TablePx(spec.height - (frame.bottom - frame.top), dpi)};
  AdjustWindowRectExForDpi(&outer, style, FALSE, kFormExStyle, static_cast<UINT>(dpi));
  return {outer.right - outer.left, outer.bottom - outer.top};
}

void SetFormIcons(HWND form, int dpi) {
  auto metric = [dpi](int index) { return GetSystemMetricsForDpi(index, static_cast<UINT>(dpi)); };
  HICON big = IconOfSize(kIconName, metric(SM_CXICON), metric(SM_CYICON));
  HICON small = IconOfSize(kIconName, metric(SM_CXSMICON), metric(SM_CYSMICON));
  SendMessageA(form, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  SendMessageA(form, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

// The icons are the window's own, set for its DPI at creation.
void RegisterFormClass(const char* className, WNDPROC procedure) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = className;
  RegisterClassExA(&wc);  // fails harmlessly for a class registered before
}

bool IsEdit(const ControlRow& row) { return _stricmp(row.className, "Edit") == 0; }

COLORREF ColorValue(COLORREF color) {
  return color & kSystemColorBit ? GetSysColor(static_cast<int>(color & ~kSystemColorBit)) : color;
}

// A colour that is no system colour paints with the DC's own brush, set to it.
HBRUSH BrushOf(HDC dc, COLORREF color) {
  if (color & kSystemColorBit) return GetSysColorBrush(static_cast<int>(color & ~kSystemColorBit));
  SetDCBrushColor(dc, color);
  return static_cast<HBRUSH>(GetStockObject(DC_BRUSH));
}

}  // namespace

// Rounded to the nearest pixel, halves away from zero, as MulDiv does.
int TablePx(int pixels, int dpi) { return MulDiv(pixels, dpi, kTableDpi); }

int WindowDpi(HWND window) {
  UINT dpi = window ? GetDpiForWindow(window) : GetDpiForSystem();
  return dpi ? static_cast<int>(dpi) : kTableDpi;
}

int ControlId(const FormSpec& spec, int index) {
  int fixed = spec.controls[static_cast<size_t>(index)].fixedId;
  return fixed ? fixed : 1000 + index;
}

Form::~Form() {
  if (IsWindow(window_)) DestroyWindow(window_);
}

// The form is attached at WM_NCCREATE; the system answers what comes before.
LRESULT CALLBACK Form::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<Form*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    form->window_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  return form ? form->HandleMessage(message, wParam, lParam)
              : DefWindowProcA(window, message, wParam, lParam);
}

bool Form::Show(HWND parent) {
  RegisterFormClass(spec_.className, Procedure);
  SIZE size = FormOuterSize(spec_, WindowDpi(nullptr));
  HWND made = CreateWindowExA(
      kFormExStyle, spec_.className, spec_.caption, kFormStyle | spec_.style,
      (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2, (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2,
      size.cx, size.cy, parent, nullptr, GetModuleHandleA(nullptr), this);
  if (!IsWindow(made)) return false;
  ShowWindow(made, SW_SHOWNORMAL);
  return true;
}

int Form::ShowModal(HWND parent) {
  result_ = 0;
  if (!Show(parent)) return -1;
  modal_ = true;
  if (HWND owner = GetWindow(window_, GW_OWNER)) EnableWindow(owner, FALSE);
  UpdateWindow(window_);
  RunModalLoop(window_);
  return result_;
}

void Form::Close(int result) {
  if (!IsWindow(window_)) return;
  HWND owner = GetWindow(window_, GW_OWNER);
  if (modal_ && owner) EnableWindow(owner, TRUE), SetActiveWindow(owner);
  result_ = result;
  DestroyWindow(window_);
}

int Form::IndexOf(HWND control) const {
  auto at = std::find(controls_.begin(), controls_.end(), control);
  return control && at != controls_.end() ? static_cast<int>(at - controls_.begin()) : -1;
}

// The form is sized again: it may have been made on a monitor of another DPI than its size
// was made for, or cut to the screen by the size query that comes before it is attached.
void Form::OnCreate() {
  for (size_t i = 0; i < controls_.size(); ++i) {
    const ControlRow& row = spec_.controls[i];
    auto id = static_cast<INT_PTR>(ControlId(spec_, static_cast<int>(i)));
    // Unicode controls: the A calls would pass their texts (paths) through the ANSI code page.
    controls_[i] = CreateWindowExW(row.exStyle, WideFromUtf8(row.className).c_str(),
                                   WideFromUtf8(row.text).c_str(),
                                   row.style | WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window_,
                                   reinterpret_cast<HMENU>(id), GetModuleHandleA(nullptr), nullptr);
  }
  int dpi = WindowDpi(window_);
  SIZE outer = FormOuterSize(spec_, dpi);
  RECT r = {};
  GetWindowRect(window_, &r);
  LayOut(dpi, {r.left, r.top, r.left + outer.cx, r.top + outer.cy});
  for (size_t i = 0; i < controls_.size(); ++i)
    if (IsEdit(spec_.controls[i]))
      SendMessageA(controls_[i], EM_LIMITTEXT, static_cast<WPARAM>(spec_.controls[i].editLimit), 0);
  SetFocus(Control(spec_.focusControl));
}

// The form in its rectangle, its icons and controls for the DPI. Edges, not sizes, are
// scaled, so controls that touch in the table touch at every scale. The controls stay the
// same windows, so their contents, selection and focus stay too.
void Form::LayOut(int dpi, const RECT& form) {
  SetWindowPos(window_, nullptr, form.left, form.top, form.right - form.left,
               form.bottom - form.top, SWP_NOZORDER | SWP_NOACTIVATE);
  SetFormIcons(window_, dpi);
  for (size_t i = 0; i < controls_.size(); ++i) {
    const ControlRow& row = spec_.controls[i];
    int left = TablePx(row.x, dpi), top = TablePx(row.y, dpi);
    SetWindowPos(controls_[i], nullptr, left, top, TablePx(row.x + row.width, dpi) - left,
                 TablePx(row.y + row.height, dpi) - top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (row.font)
      SendMessageA(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(FontFromSpec(row.font, dpi)),
                   TRUE);
    // After the font, which gives an edit the font's own margins.
    if (IsEdit(row)) SendMessageA(controls_[i], EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
  }
}

// Edits are opaque and keep the face colour while disabled; other texts lie on the back.
LRESULT Form::ControlColors(UINT message, WPARAM wParam, LPARAM lParam) {
  auto dc = reinterpret_cast<HDC>(wParam);
  auto child = reinterpret_cast<HWND>(lParam);
  int index = IndexOf(child);
  const ControlRow* row = index < 0 ? nullptr : &spec_.controls[static_cast<size_t>(index)];
  if (!row || row->colors.fore == CLR_INVALID)
    return DefWindowProcA(window_, message, wParam, lParam);
  bool edit = IsEdit(*row);
  COLORREF back = edit && !IsWindowEnabled(child) ? SystemColor(COLOR_BTNFACE) : row->colors.back;
  SetTextColor(dc, ColorValue(row->colors.fore));
  SetBkColor(dc, ColorValue(back));
  SetBkMode(dc, edit ? OPAQUE : TRANSPARENT);
  return reinterpret_cast<LRESULT>(BrushOf(dc, back));
}

// A control that tells the form something while it has the focus gets the focus back when
// the form does; an edit taking the focus shows all its text selected or none, as its row says.
void Form::OnNotice(HWND control, WORD code) {
  int index = IndexOf(control);
  if (index < 0 || control != GetFocus()) return;
  lastFocus_ = control;
  const ControlRow& row = spec_.controls[static_cast<size_t>(index)];
  if (code != EN_SETFOCUS || !IsEdit(row)) return;
  bool all = row.selectAllOnFocus == 1;
  SendMessageA(control, EM_SETSEL, all ? 0 : static_cast<WPARAM>(-1), all ? -1 : 0);
}

LRESULT Form::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate();
      break;
    case WM_SETFOCUS:
      if (IsWindow(lastFocus_)) SetFocus(lastFocus_);
      break;
    case WM_DPICHANGED:  // moved to a monitor of another DPI: the system's rectangle
      LayOut(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_GETMINMAXINFO: {  // the table size, even where the screen is smaller
      SIZE outer = FormOuterSize(spec_, WindowDpi(window_));
      POINT& most = reinterpret_cast<MINMAXINFO*>(lParam)->ptMaxTrackSize;
      most = {std::max(most.x, outer.cx), std::max(most.y, outer.cy)};
      return 0;
    }
    case WM_CLOSE:
      Close(0);
      return 0;
    case WM_DESTROY:  // a modal loop sees its form is gone only at its next message
      if (modal_) PostMessageA(nullptr, WM_NULL, 0, 0);
      return 0;
    case WM_COMMAND:
      OnNotice(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
      break;
    case WM_NOTIFY:
      OnNotice(reinterpret_cast<NMHDR*>(lParam)->hwndFrom, 0);
      break;
    case WM_NCDESTROY:
      lastFocus_ = nullptr, modal_ = false;
      return DefWindowProcA(std::exchange(window_, nullptr), message, wParam, lParam);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      return ControlColors(message, wParam, lParam);
  }
  return DefWindowProcA(window_, message, wParam, lParam);
}
