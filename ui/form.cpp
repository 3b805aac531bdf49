#include "ui/form.h"

#include <cstring>
#include <utility>

#include "ui/message_loop.h"
#include "engine/numbers.h"

namespace {

constexpr DWORD kFormStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VISIBLE;

constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT | WS_EX_WINDOWEDGE;
constexpr int kTableDpi = 96;
constexpr const char* kIconName = "IMAGE_EXTERNALHD";

bool IsCheckStyleButton(DWORD style) {
  switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_AUTORADIOBUTTON:
      return true;
    default:
      return false;
  }
}

struct FaceInfo {
  BYTE charSet = ANSI_CHARSET;
  bool found = false;
  bool scalable = false;
};

// The last member enumerated decides the character set.
int CALLBACK StoreFaceInfo(const LOGFONTA* font, const TEXTMETRICA*, DWORD type, LPARAM info) {
  auto* face = reinterpret_cast<FaceInfo*>(info);
  face->charSet = font->lfCharSet;
  face->found = true;
  if (!(type & RASTER_FONTTYPE)) face->scalable = true;
  return 1;
}

FaceInfo FaceInfoOf(HDC dc, const std::string& face) {
  FaceInfo info;
  EnumFontFamiliesA(dc, face.c_str(), StoreFaceInfo, reinterpret_cast<LPARAM>(&info));
  return info;
}

// A bitmap face is drawn for 96 DPI and blurs or jumps sizes at any other scale; its
// TrueType twin of the same design stays crisp there.
std::string ScalableFace(HDC dc, const std::string& face, int dpi) {
  if (dpi == kTableDpi || _stricmp(face.c_str(), "MS Sans Serif") != 0) return face;
  if (FaceInfoOf(dc, face).scalable) return face;
  // Every Windows has both; Tahoma is the face Windows itself took over the dialogs with.
  if (FaceInfoOf(dc, "Microsoft Sans Serif").found) return "Microsoft Sans Serif";
  return "Tahoma";
}

std::vector<std::string> SplitSpec(const std::string& spec) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t comma = spec.find(',', start);
    fields.push_back(spec.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  fields.resize(14);
  return fields;
}

// Negative heights are character heights in table pixels, positive ones points.
HFONT MakeFont(const std::string& spec, int dpi) {
  std::vector<std::string> f = SplitSpec(spec);
  if (f[0].empty()) return nullptr;
  int height = ParseNumber(f[1]);
  height = height > 0 ? -((height * dpi) / 72) : -TablePx(-height, dpi);
  HDC dc = GetDC(nullptr);
  std::string face = ScalableFace(dc, f[0], dpi);
  BYTE charSet = FaceInfoOf(dc, face).charSet;
  ReleaseDC(nullptr, dc);
  return CreateFontA(height, 0, 0, 0, ParseNumber(f[5]), static_cast<DWORD>(ParseNumber(f[6])),
                     static_cast<DWORD>(ParseNumber(f[7])), static_cast<DWORD>(ParseNumber(f[8])),
                     charSet, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face.c_str());
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

// What each kind of control starts with besides its table row.
void InitControl(HWND control, const ControlRow& row) {
  if (_stricmp(row.className, "Button") == 0 && IsCheckStyleButton(row.style)) {
    SendMessageA(control, BM_SETCHECK, BST_UNCHECKED, 0);
  } else if (_stricmp(row.className, "ListBox") == 0) {
    SendMessageA(control, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  } else if (_stricmp(row.className, "Edit") == 0) {
    SendMessageA(control, EM_LIMITTEXT, static_cast<WPARAM>(row.editLimit), 0);
    SendMessageA(control, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
  }
}

COLORREF ColorOf(bool system, COLORREF color) {
  return system ? GetSysColor(static_cast<int>(color)) : color;
}

}  // namespace

// Rounded to the nearest pixel, halves away from zero, as MulDiv does.
int TablePx(int pixels, int dpi) { return MulDiv(pixels, dpi, kTableDpi); }

RECT TableRect(const ControlRow& row, int dpi) {
  return {TablePx(row.x, dpi), TablePx(row.y, dpi), TablePx(row.x + row.width, dpi),
          TablePx(row.y + row.height, dpi)};
}

int WindowDpi(HWND window) {
  UINT dpi = window ? GetDpiForWindow(window) : GetDpiForSystem();
  return dpi ? static_cast<int>(dpi) : kTableDpi;
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

int ControlId(const FormSpec& spec, int index) {
  int fixed = spec.controls[static_cast<size_t>(index)].fixedId;
  return fixed ? fixed : 1000 + index;
}

// Fonts live for the whole process, one per distinct spec text and DPI.
HFONT FontFromSpec(const std::string& spec, int dpi) {
  static std::vector<std::pair<std::pair<std::string, int>, HFONT>> cache;
  for (const auto& [key, font] : cache)
    if (key.first == spec && key.second == dpi && font) return font;
  HFONT font = MakeFont(spec, dpi);
  cache.push_back({{spec, dpi}, font});
  return font;
}

// Not LR_SHARED: the shared cache hands back the size loaded first, whatever size is asked.
HICON IconOfSize(const char* name, int width, int height) {
  struct Cached {
    std::string name;
    int width, height;
    HICON icon;
  };
  static std::vector<Cached> cache;
  for (const Cached& c : cache)
    if (c.name == name && c.width == width && c.height == height && c.icon) return c.icon;
  auto icon =
      static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_ICON, width, height, 0));
  cache.push_back({name, width, height, icon});
  return icon;
}

Form::Form(const FormSpec& spec, WNDPROC procedure)
    : spec_(spec), procedure_(procedure), controls_(spec.controls.size()) {}

// Messages that come while the window goes find only the base, as the derived part is gone.
Form::~Form() {
  tearingDown_ = true;
  if (IsWindow(window_)) DestroyWindow(window_);
}

Form* Form::Attached(HWND window, UINT message, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    form->window_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    return form;
  }
  return reinterpret_cast<Form*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

bool Form::Create(HWND parent) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterFormClass(spec_.className, procedure_, instance);
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
    ControlState& state = controls_[i];
    state.handle = control;
    state.oldProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Form::ControlProcedure)));
    if (HFONT font = row.font ? FontFromSpec(row.font, dpi) : nullptr)
      SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (row.colors.useColors && !row.colors.backIsSystem)
      state.ownBrush = CreateSolidBrush(row.colors.back);
    InitControl(control, row);
  }
  if (spec_.focusControl >= 0 && static_cast<size_t>(spec_.focusControl) < controls_.size())
    SetFocus(Control(spec_.focusControl));
}

void Form::LayOutControls(int dpi) {
  for (size_t i = 0; i < controls_.size(); ++i) {
    const ControlRow& row = spec_.controls[i];
    HWND control = controls_[i].handle;
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
  for (size_t i = 0; control && i < controls_.size(); ++i)
    if (controls_[i].handle == control) return static_cast<int>(i);
  return -1;
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

LRESULT Form::OnClose(WPARAM wParam, LPARAM lParam) {
  if (modal_) {
    HWND owner = GetWindow(window_, GW_OWNER);
    EnableWindow(owner, TRUE);
    SetActiveWindow(owner);
    ShowWindow(window_, SW_HIDE);
  }
  return DefWindowProcA(window_, WM_CLOSE, wParam, lParam);
}

LRESULT Form::ControlColors(UINT message, WPARAM wParam, LPARAM lParam) {
  HDC dc = reinterpret_cast<HDC>(wParam);
  HWND child = reinterpret_cast<HWND>(lParam);
  int index = IndexOf(child);
  if (index < 0) index = IndexOf(GetFocus());
  const ColorSpec* c = index < 0 ? nullptr : &spec_.controls[static_cast<size_t>(index)].colors;
  if (!c || !c->useColors) return DefWindowProcA(window_, message, wParam, lParam);
  SetTextColor(dc, ColorOf(c->foreIsSystem, c->fore));
  SetBkColor(dc, ColorOf(c->backIsSystem, c->back));
  HBRUSH result = c->backIsSystem ? GetSysColorBrush(static_cast<int>(c->back))
                                  : controls_[static_cast<size_t>(index)].ownBrush;
  bool edit = _stricmp(spec_.controls[static_cast<size_t>(index)].className, "Edit") == 0;
  SetBkMode(dc, edit ? OPAQUE : TRANSPARENT);
  if (edit && !IsWindowEnabled(child)) {
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    result = GetSysColorBrush(COLOR_BTNFACE);
  }
  return reinterpret_cast<LRESULT>(result);
}

LRESULT Form::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(wParam, lParam);
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) return SendMessageA(window_, WM_CLOSE, wParam, lParam);
      break;
    case WM_SETFOCUS:
      if (IsWindow(lastFocus_)) SetFocus(lastFocus_);
      break;
    case WM_DPICHANGED:
      return OnDpiChanged(wParam, lParam);
    case WM_GETMINMAXINFO:
      return OnGetMinMaxInfo(wParam, lParam);
    case WM_CLOSE:
      return OnClose(wParam, lParam);
    case WM_DESTROY:
      // A modal loop notices its form is gone only at its next message: make sure one comes.
      if (modal_) PostMessageA(nullptr, WM_NULL, 0, 0);
      return 0;
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

// Every control's own procedure runs after this: the selection an edit gets with the focus,
// the control the form gives the focus back to, and the control's brush when it goes.
LRESULT CALLBACK Form::ControlProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<Form*>(GetWindowLongPtrA(GetParent(control), GWLP_USERDATA));
  int index = form ? form->IndexOf(control) : -1;
  if (index < 0) return DefWindowProcA(control, message, wParam, lParam);
  ControlState& state = form->controls_[static_cast<size_t>(index)];
  WNDPROC old = state.oldProcedure;
  if (message == WM_SETFOCUS) {
    bool all = form->spec_.controls[static_cast<size_t>(index)].selectAllOnFocus == 1;
    SendMessageA(control, EM_SETSEL, all ? 0 : static_cast<WPARAM>(-1), all ? -1 : 0);
    form->lastFocus_ = control;
  } else if (message == WM_DESTROY) {
    SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    if (state.ownBrush) DeleteObject(state.ownBrush);
    state = {};
  }
  return CallWindowProcA(old, control, message, wParam, lParam);
}
