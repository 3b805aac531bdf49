#include "ui/form.h"

#include <algorithm>
#include <cstring>

#include "ui/message_loop.h"

namespace {

constexpr DWORD kFormStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VISIBLE;

constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT | WS_EX_WINDOWEDGE;
constexpr int kTableDpi = 96;
constexpr const char* kIconName = "IMAGE_EXTERNALHD";

}  // namespace

// Rounded to the nearest pixel, halves away from zero, as MulDiv does.
int TablePx(int pixels, int dpi) { return MulDiv(pixels, dpi, kTableDpi); }

namespace {

// Edges, not sizes, are scaled, so controls that touch in the table touch at every scale.
RECT TableRect(const ControlRow& row, int dpi) {
  return {TablePx(row.x, dpi), TablePx(row.y, dpi), TablePx(row.x + row.width, dpi),
          TablePx(row.y + row.height, dpi)};
}

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

void RegisterFormClass(const char* className, WNDPROC procedure, HINSTANCE instance) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExA(instance, className, &wc)) return;
  wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(LoadImageA(instance, kIconName, IMAGE_ICON, 32, 32, LR_SHARED));
  wc.hIconSm = static_cast<HICON>(LoadImageA(instance, kIconName, IMAGE_ICON, 16, 16, LR_SHARED));
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = className;
  RegisterClassExA(&wc);
}

bool IsEdit(const ControlRow& row) { return _stricmp(row.className, "Edit") == 0; }

// An edit box takes its row's limit (0: the most) and draws its text without margins.
void InitControl(HWND control, const ControlRow& row) {
  if (!IsEdit(row)) return;
  SendMessageA(control, EM_LIMITTEXT, static_cast<WPARAM>(row.editLimit), 0);
  SendMessageA(control, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
}

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

bool Form::Create(HWND parent) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterFormClass(spec_.className, Procedure, instance);
  SIZE size = FormOuterSize(spec_, WindowDpi(nullptr));
  int x = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
  HWND made =
      CreateWindowExA(kFormExStyle, spec_.className, spec_.caption, kFormStyle | spec_.style, x, y,
                      size.cx, size.cy, parent, nullptr, instance, this);
  return IsWindow(made);
}

bool Form::Show(HWND parent) {
  if (!Create(parent)) return false;
  ShowWindow(window_, SW_SHOWNORMAL);
  return true;
}

int Form::ShowModal(HWND parent) {
  result_ = 0;
  if (!Create(parent)) return -1;
  HWND owner = parent;
  while (owner && (GetWindowLongA(owner, GWL_STYLE) & WS_CHILD)) owner = GetParent(owner);
  modal_ = true;
  if (owner) EnableWindow(owner, FALSE);
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  RunModalLoop(window_);
  return result_;
}

void Form::Close(int result) {
  if (!IsWindow(window_)) return;
  if (modal_) {
    HWND owner = reinterpret_cast<HWND>(GetWindowLongPtrA(window_, GWLP_HWNDPARENT));
    if (IsWindow(owner)) {
      EnableWindow(owner, TRUE);
      SetActiveWindow(owner);
    }
  }
  result_ = result;
  DestroyWindow(window_);
}

void Form::CreateControls(HINSTANCE instance, int dpi) {
  for (size_t i = 0; i < controls_.size(); ++i) {
    const ControlRow& row = spec_.controls[i];
    RECT r = TableRect(row, dpi);
    int id = ControlId(spec_, static_cast<int>(i));
    HWND control =
        CreateWindowExA(row.exStyle, row.className, row.text, row.style | WS_CHILD | WS_VISIBLE,
                        r.left, r.top, r.right - r.left, r.bottom - r.top, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    controls_[i] = control;
    if (HFONT font = row.font ? FontFromSpec(row.font, dpi) : nullptr)
      SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    InitControl(control, row);
  }
  if (spec_.focusControl >= 0 && static_cast<size_t>(spec_.focusControl) < controls_.size())
    SetFocus(Control(spec_.focusControl));
}

void Form::LayOutControls(int dpi) {
  for (size_t i = 0; i < controls_.size(); ++i) {
    const ControlRow& row = spec_.controls[i];
    HWND control = controls_[i];
    if (!control) continue;
    RECT r = TableRect(row, dpi);
    SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    if (row.font)
      SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontFromSpec(row.font, dpi)),
                   TRUE);
  }
}

int Form::IndexOf(HWND control) const {
  auto at = std::find(controls_.begin(), controls_.end(), control);
  return control && at != controls_.end() ? static_cast<int>(at - controls_.begin()) : -1;
}

LRESULT Form::OnCreate(WPARAM wParam, LPARAM lParam) {
  // Created on a monitor of another DPI than the one its size was made for, or cut to the
  // screen by the size query that comes before the form is attached: resize.
  auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
  int dpi = WindowDpi(window_);
  SIZE outer = FormOuterSize(spec_, dpi);
  RECT now = {};
  GetWindowRect(window_, &now);
  if (outer.cx != now.right - now.left || outer.cy != now.bottom - now.top)
    SetWindowPos(window_, nullptr, 0, 0, outer.cx, outer.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetFormIcons(window_, dpi);
  CreateControls(create->hInstance, dpi);
  return DefWindowProcA(window_, WM_CREATE, wParam, lParam);
}

// Moved to a monitor of another DPI: take the system's rectangle and lay out again.
// The controls stay the same windows, so their contents, selection and focus stay too.
LRESULT Form::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  SetWindowPos(window_, nullptr, suggested->left, suggested->top,
               suggested->right - suggested->left, suggested->bottom - suggested->top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  int dpi = HIWORD(wParam);
  SetFormIcons(window_, dpi);
  LayOutControls(dpi);
  return 0;
}

// A form keeps its table size even where the screen is smaller (it is then centred at
// negative coordinates); the system would otherwise cut a resizable form to the screen.
LRESULT Form::OnGetMinMaxInfo(WPARAM wParam, LPARAM lParam) {
  LRESULT result = DefWindowProcA(window_, WM_GETMINMAXINFO, wParam, lParam);
  auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
  SIZE outer = FormOuterSize(spec_, WindowDpi(window_));
  if (info->ptMaxTrackSize.x < outer.cx) info->ptMaxTrackSize.x = outer.cx;
  if (info->ptMaxTrackSize.y < outer.cy) info->ptMaxTrackSize.y = outer.cy;
  return result;
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
      return OnCreate(wParam, lParam);
    case WM_SETFOCUS:
      if (IsWindow(lastFocus_)) SetFocus(lastFocus_);
      break;
    case WM_DPICHANGED:
      return OnDpiChanged(wParam, lParam);
    case WM_GETMINMAXINFO:
      return OnGetMinMaxInfo(wParam, lParam);
    case WM_CLOSE:
      Close(0);
      return 0;
    case WM_DESTROY:
      // A modal loop notices its form is gone only at its next message: make sure one comes.
      if (modal_) PostMessageA(nullptr, WM_NULL, 0, 0);
      return 0;
    case WM_COMMAND:
      OnNotice(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
      break;
    case WM_NOTIFY:
      OnNotice(reinterpret_cast<NMHDR*>(lParam)->hwndFrom, 0);
      break;
    case WM_NCDESTROY:
      SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
      window_ = nullptr, lastFocus_ = nullptr, modal_ = false;
      break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      return ControlColors(message, wParam, lParam);
    default:
      break;
  }
  return DefWindowProcA(window_, message, wParam, lParam);
}
