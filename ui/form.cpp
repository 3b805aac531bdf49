#include "ui/form.h"

#include <cstring>
#include <utility>
#include <vector>

#include "ui/message_loop.h"
#include "engine/numbers.h"

namespace {

constexpr const char* kRecordProp = "STOWLY_PTR";
constexpr DWORD kFormStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VISIBLE;

constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT | WS_EX_WINDOWEDGE;
constexpr int kTableDpi = 96;

// Fonts live for the whole process, one per distinct spec text and DPI.
struct CachedFont {
  std::string spec;
  int dpi;
  HFONT font;
};
std::vector<CachedFont> g_fontCache;

struct CachedIcon {
  std::string name;
  int width, height;
  HICON icon;
};
std::vector<CachedIcon> g_iconCache;

InstanceRecord* NewRecord() {
  return static_cast<InstanceRecord*>(
      HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(InstanceRecord)));
}

std::string ClassNameOf(HWND window) {
  char name[260] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

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
  HICON big = IconOfSize("IMAGE_EXTERNALHD", metric(SM_CXICON), metric(SM_CYICON));
  HICON small = IconOfSize("IMAGE_EXTERNALHD", metric(SM_CXSMICON), metric(SM_CYSMICON));
  SendMessageA(form, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  SendMessageA(form, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void CreateControls(const FormDef& def, HWND form, HINSTANCE instance) {
  int dpi = WindowDpi(form);
  for (int i = 0; i < def.controlCount; ++i) {
    const ControlRow& row = def.controls[i];
    RECT r = TableRect(row, dpi);
    HWND control = CreateWindowExA(
        row.exStyle, row.className, row.text, row.style | WS_CHILD | WS_VISIBLE, r.left, r.top,
        r.right - r.left, r.bottom - r.top, form,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(def.vars->ids[i])), instance, nullptr);
    InstanceRecord* record = SetupControl(
        control, 1, row.font ? 1 : 0, row.font, 0, row.colors.useColors, row.colors.foreIsSystem,
        row.colors.backIsSystem, row.colors.fore, row.colors.back, kMakeBrush, def.subclassProc);
    def.vars->handles[i] = control;

    std::string cls = ClassNameOf(control);
    if (_stricmp(cls.c_str(), "Button") == 0 && IsCheckStyleButton(row.style)) {
      SendMessageA(control, BM_SETCHECK, BST_UNCHECKED, 0);
    } else if (_stricmp(cls.c_str(), "ListBox") == 0) {
      SendMessageA(control, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    } else if (_stricmp(cls.c_str(), "Edit") == 0) {
      SendMessageA(control, EM_LIMITTEXT, static_cast<WPARAM>(row.editLimit), 0);
      SendMessageA(control, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
      if (record) record->SelectAllOnFocus = row.selectAllOnFocus;
    }
  }
  if (def.focusControl >= 0 && def.focusControl < def.controlCount)
    SetFocus(def.vars->handles[def.focusControl]);
}

BOOL CALLBACK RefreshSystemBrush(HWND window, LPARAM) {
  InstanceRecord* record = RecordOf(window);
  if (record && record->UseColors == 1 && record->BackIsSystem == 1) {
    if (record->BackBrush) DeleteObject(record->BackBrush);
    record->BackBrush = GetSysColorBrush(static_cast<int>(record->BackColor));
  }
  return TRUE;
}

LRESULT ControlColors(HWND form, UINT message, WPARAM wParam, LPARAM lParam) {
  HDC dc = reinterpret_cast<HDC>(wParam);
  HWND child = reinterpret_cast<HWND>(lParam);
  InstanceRecord* record = RecordOf(child);
  if (!record) record = RecordOf(GetFocus());
  if (!record || record->UseColors == 0) return DefWindowProcA(form, message, wParam, lParam);
  SetTextColor(dc, record->ForeIsSystem ? GetSysColor(static_cast<int>(record->ForeColor))
                                        : record->ForeColor);
  SetBkColor(dc, record->BackIsSystem ? GetSysColor(static_cast<int>(record->BackColor))
                                      : record->BackColor);
  HBRUSH result = record->BackBrush;
  if (_stricmp(ClassNameOf(record->Window).c_str(), "EDIT") == 0) {
    SetBkMode(dc, OPAQUE);
    if (!IsWindowEnabled(child)) {
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      result = GetSysColorBrush(COLOR_BTNFACE);
    }
  } else {
    SetBkMode(dc, TRANSPARENT);
  }
  return reinterpret_cast<LRESULT>(result);
}

// The control a WM_COMMAND / WM_NOTIFY / scroll message is about, and its control index.
int ControlIndexOf(UINT message, LPARAM lParam) {
  HWND control = nullptr;
  if (message == WM_COMMAND || message == WM_HSCROLL || message == WM_VSCROLL)
    control = reinterpret_cast<HWND>(lParam);
  else if (message == WM_NOTIFY)
    control = reinterpret_cast<NMHDR*>(lParam)->hwndFrom;
  InstanceRecord* record = control && IsWindow(control) ? RecordOf(control) : nullptr;
  return record ? record->ControlIndex : -1;
}

// One small function per form message; each returns what the form procedure returns.
LRESULT OnFormCreate(const FormDef& def, HWND form, WPARAM wParam, LPARAM lParam) {
  InstanceRecord* record = NewRecord();
  if (!record) return -1;
  SetPropA(form, kRecordProp, record);
  record->IsForm = 1;
  def.vars->form = form;
  // Created on a monitor of another DPI than the one its size was made for: resize.
  auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
  int dpi = WindowDpi(form);
  SIZE outer = FormOuterSize(def, dpi);
  if (outer.cx != create->cx || outer.cy != create->cy)
    SetWindowPos(form, nullptr, 0, 0, outer.cx, outer.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetFormIcons(form, dpi);
  CreateControls(def, form, create->hInstance);
  if (def.onLayout) def.onLayout(form, dpi);
  if (def.onCreate) {
    if (int result = def.onCreate(form, reinterpret_cast<LPARAM>(create->lpCreateParams)))
      return result;
  }
  return DefWindowProcA(form, WM_CREATE, wParam, lParam);
}

LRESULT OnFormCommand(const FormDef& def, HWND form, WPARAM wParam, LPARAM lParam) {
  int index = ControlIndexOf(WM_COMMAND, lParam);
  for (int i = 0; i < def.commandCount; ++i) {
    const CommandRow& row = def.commands[i];
    if (def.vars->ids[row.control] != LOWORD(wParam) || row.code != HIWORD(wParam)) continue;
    if (int result = row.handler(index, form, reinterpret_cast<HWND>(lParam), LOWORD(wParam)))
      return result;
  }
  return DefWindowProcA(form, WM_COMMAND, wParam, lParam);
}

LRESULT OnFormNotify(const FormDef& def, HWND form, WPARAM wParam, LPARAM lParam) {
  auto* header = reinterpret_cast<NMHDR*>(lParam);
  int index = ControlIndexOf(WM_NOTIFY, lParam);
  for (int i = 0; i < def.notifyCount; ++i) {
    const NotifyRow& row = def.notifies[i];
    if (static_cast<UINT_PTR>(def.vars->ids[row.control]) != header->idFrom ||
        row.code != header->code)
      continue;
    if (int result = row.handler(index, form, header, lParam)) return result;
  }
  return DefWindowProcA(form, WM_NOTIFY, wParam, lParam);
}

LRESULT OnFormActivate(HWND form, WPARAM wParam, LPARAM lParam) {
  g_activeForm = LOWORD(wParam) != WA_INACTIVE ? form : nullptr;
  return DefWindowProcA(form, WM_ACTIVATE, wParam, lParam);
}

LRESULT OnFormSysCommand(HWND form, WPARAM wParam, LPARAM lParam) {
  if ((wParam & 0xFFF0) == SC_CLOSE) return SendMessageA(form, WM_CLOSE, wParam, lParam);
  return DefWindowProcA(form, WM_SYSCOMMAND, wParam, lParam);
}

LRESULT OnFormSetFocus(HWND form, InstanceRecord* record, WPARAM wParam, LPARAM lParam) {
  if (record && IsWindow(record->LastFocus)) SetFocus(record->LastFocus);
  return DefWindowProcA(form, WM_SETFOCUS, wParam, lParam);
}

LRESULT OnFormColorChange(HWND form, UINT message, WPARAM wParam, LPARAM lParam) {
  EnumChildWindows(form, RefreshSystemBrush, 0);
  return DefWindowProcA(form, message, wParam, lParam);
}

// Moved to a monitor of another DPI: take the system's rectangle and lay out again.
// The controls stay the same windows, so their contents, selection and focus stay too.
LRESULT OnFormDpiChanged(const FormDef& def, HWND form, WPARAM wParam, LPARAM lParam) {
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  SetWindowPos(form, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  int dpi = HIWORD(wParam);
  SetFormIcons(form, dpi);
  LayOutControls(def, form, dpi);
  return 0;
}

// A form keeps its table size even where the screen is smaller (it is then centred at
// negative coordinates); the system would otherwise cut a resizable form to the screen.
LRESULT OnFormGetMinMaxInfo(const FormDef& def, HWND form, WPARAM wParam, LPARAM lParam) {
  LRESULT result = DefWindowProcA(form, WM_GETMINMAXINFO, wParam, lParam);
  auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
  SIZE outer = FormOuterSize(def, WindowDpi(form));
  if (info->ptMaxTrackSize.x < outer.cx) info->ptMaxTrackSize.x = outer.cx;
  if (info->ptMaxTrackSize.y < outer.cy) info->ptMaxTrackSize.y = outer.cy;
  return result;
}

LRESULT OnFormClose(HWND form, InstanceRecord* record, WPARAM wParam, LPARAM lParam) {
  if (record && record->IsModal == 1) {
    EnableWindow(record->Owner, TRUE);
    SetActiveWindow(record->Owner);
    ShowWindow(form, SW_HIDE);
  }
  return DefWindowProcA(form, WM_CLOSE, wParam, lParam);
}

LRESULT OnFormDestroy(const FormDef& def, HWND form, InstanceRecord* record) {
  def.vars->form = nullptr;
  // A modal loop notices its form is gone only at its next message: make sure one comes.
  if (record && record->IsModal) PostMessageA(nullptr, WM_NULL, 0, 0);
  if (record) {
    HeapFree(GetProcessHeap(), 0, record);
  }
  RemovePropA(form, kRecordProp);
  return 0;
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
SIZE FormOuterSize(const FormDef& def, int dpi) {
  DWORD style = kFormStyle | def.style;
  RECT frame = {};
  AdjustWindowRectExForDpi(&frame, style, FALSE, kFormExStyle, kTableDpi);
  RECT outer = {0, 0, TablePx(def.width - (frame.right - frame.left), dpi),
                TablePx(def.height - (frame.bottom - frame.top), dpi)};
  AdjustWindowRectExForDpi(&outer, style, FALSE, kFormExStyle, static_cast<UINT>(dpi));
  return {outer.right - outer.left, outer.bottom - outer.top};
}

void LayOutControls(const FormDef& def, HWND form, int dpi) {
  for (int i = 0; i < def.controlCount; ++i) {
    const ControlRow& row = def.controls[i];
    HWND control = GetDlgItem(form, def.vars->ids[i]);
    if (!control) continue;
    RECT r = TableRect(row, dpi);
    SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    InstanceRecord* record = RecordOf(control);
    if (!row.font || !record) continue;
    record->Font = FontFromSpec(row.font, dpi);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(record->Font), TRUE);
  }
  if (def.onLayout) def.onLayout(form, dpi);
}

void AssignControlIds(const FormDef& def) {
  for (int i = 0; i < def.controlCount; ++i)
    def.vars->ids[i] = def.controls[i].fixedId ? def.controls[i].fixedId : 1000 + i;
}

InstanceRecord* RecordOf(HWND window) {
  return window ? static_cast<InstanceRecord*>(GetPropA(window, kRecordProp)) : nullptr;
}

LRESULT ShowForm(const FormDef& def, HWND parent, int modal, LPARAM userData) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  char className[260] = {};
  lstrcpynA(className, def.className, sizeof className);
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExA(instance, className, &wc)) {
    wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = def.formProc;
    wc.hInstance = instance;
    wc.hIcon =
        static_cast<HICON>(LoadImageA(instance, "IMAGE_EXTERNALHD", IMAGE_ICON, 32, 32, LR_SHARED));
    wc.hIconSm =
        static_cast<HICON>(LoadImageA(instance, "IMAGE_EXTERNALHD", IMAGE_ICON, 16, 16, LR_SHARED));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = className;
    RegisterClassExA(&wc);
  }
  SIZE size = FormOuterSize(def, WindowDpi(nullptr));
  int x = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
  HWND form =
      CreateWindowExA(kFormExStyle, className, def.caption, kFormStyle | def.style, x, y, size.cx,
                      size.cy, parent, nullptr, instance, reinterpret_cast<LPVOID>(userData));
  if (!IsWindow(form)) return -1;
  if (modal != 1) {
    ShowWindow(form, SW_SHOWNORMAL);
    return reinterpret_cast<LRESULT>(form);
  }
  HWND owner = parent;
  while (owner && (GetWindowLongA(owner, GWL_STYLE) & WS_CHILD)) owner = GetParent(owner);
  if (InstanceRecord* record = RecordOf(form)) {
    record->IsModal = 1;
    record->Owner = owner;
  }
  if (owner) EnableWindow(owner, FALSE);
  ShowWindow(form, SW_SHOWNORMAL);
  UpdateWindow(form);
  return RunModalLoop(form);
}

void CloseForm(HWND form, int result) {
  if (!IsWindow(form)) return;
  InstanceRecord* record = RecordOf(form);
  if (record && record->IsModal == 1) {
    HWND owner = reinterpret_cast<HWND>(GetWindowLongPtrA(form, GWLP_HWNDPARENT));
    if (IsWindow(owner)) {
      EnableWindow(owner, TRUE);
      SetActiveWindow(owner);
    }
  }
  DestroyWindow(form);
  g_formResult = result;
}

LRESULT FormProcedure(const FormDef& def, HWND form, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) return OnFormCreate(def, form, wParam, lParam);
  InstanceRecord* record = RecordOf(form);
  switch (message) {
    case WM_ACTIVATE:
      return OnFormActivate(form, wParam, lParam);
    case WM_COMMAND:
      return OnFormCommand(def, form, wParam, lParam);
    case WM_NOTIFY:
      return OnFormNotify(def, form, wParam, lParam);
    case WM_SYSCOMMAND:
      return OnFormSysCommand(form, wParam, lParam);
    case WM_SETFOCUS:
      return OnFormSetFocus(form, record, wParam, lParam);
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
      return OnFormColorChange(form, message, wParam, lParam);
    case WM_DPICHANGED:
      return OnFormDpiChanged(def, form, wParam, lParam);
    case WM_GETMINMAXINFO:
      return OnFormGetMinMaxInfo(def, form, wParam, lParam);
    case WM_CLOSE:
      return OnFormClose(form, record, wParam, lParam);
    case WM_DESTROY:
      return OnFormDestroy(def, form, record);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      return ControlColors(form, message, wParam, lParam);
    default:
      return DefWindowProcA(form, message, wParam, lParam);
  }
}

LRESULT ControlProcedure(const FormDef& def, HWND control, UINT message, WPARAM wParam,
                         LPARAM lParam) {
  InstanceRecord* record = RecordOf(control);
  if (!record) return DefWindowProcA(control, message, wParam, lParam);
  int index = record->ControlIndex;
  switch (message) {
    case WM_DESTROY: {
      if (record->BackBrush) DeleteObject(record->BackBrush);
      WNDPROC old = record->OldWindowProc;
      HeapFree(GetProcessHeap(), 0, record);
      RemovePropA(control, kRecordProp);
      SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
      CallWindowProcA(old, control, WM_DESTROY, wParam, lParam);
      return 0;
    }
    case WM_SETFOCUS: {
      if (record->SelectAllOnFocus == 1)
        SendMessageA(control, EM_SETSEL, 0, -1);
      else
        SendMessageA(control, EM_SETSEL, static_cast<WPARAM>(-1), 0);
      HWND form = GetParent(control);
      if (form && (GetWindowLongA(form, GWL_STYLE) & WS_CHILD)) form = GetParent(form);
      if (InstanceRecord* formRecord = RecordOf(form)) formRecord->LastFocus = control;
      break;
    }
    case WM_MOUSEMOVE:
      for (int i = 0; i < def.mouseMoveCount; ++i) {
        const MouseMoveRow& row = def.mouseMoves[i];
        if (def.vars->ids[row.control] != GetDlgCtrlID(control)) continue;
        if (int result =
                row.handler(index, GetParent(control), control, wParam,
                            static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))))
          return result;
      }
      break;
    default:
      break;
  }
  return CallWindowProcA(record->OldWindowProc, control, message, wParam, lParam);
}

InstanceRecord* SetupControl(HWND control, int subclass, int setFont, const char* fontSpec,
                             int controlIndex, int useColors, int foreIsSystem, int backIsSystem,
                             COLORREF foreColor, COLORREF backColor, HBRUSH brush,
                             WNDPROC subclassProc) {
  InstanceRecord* record = NewRecord();
  if (!record) return nullptr;
  SetPropA(control, kRecordProp, record);
  if (subclass == 1)
    record->OldWindowProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(subclassProc)));
  if (setFont == 1) {
    record->Font = FontFromSpec(fontSpec ? fontSpec : "", WindowDpi(control));
    if (record->Font)
      SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(record->Font), TRUE);
  }
  record->ControlIndex = controlIndex;
  record->IsForm = 0;
  record->Window = control;
  record->UseColors = useColors;
  if (useColors != 0) {
    record->ForeIsSystem = foreIsSystem;
    record->BackIsSystem = backIsSystem;
    record->ForeColor = foreColor;
    record->BackColor = backColor;
    if (brush != kMakeBrush)
      record->BackBrush = brush;
    else if (backIsSystem == 1)
      record->BackBrush = GetSysColorBrush(static_cast<int>(backColor));
    else
      record->BackBrush = CreateSolidBrush(backColor);
  }
  return record;
}

HFONT FontFromSpec(const std::string& spec, int dpi) {
  for (const CachedFont& cached : g_fontCache)
    if (cached.spec == spec && cached.dpi == dpi && cached.font) return cached.font;
  HFONT font = MakeFont(spec, dpi);
  g_fontCache.push_back({spec, dpi, font});
  return font;
}

// Not LR_SHARED: the shared cache hands back the size loaded first, whatever size is asked.
HICON IconOfSize(const char* name, int width, int height) {
  for (const CachedIcon& cached : g_iconCache)
    if (cached.name == name && cached.width == width && cached.height == height && cached.icon)
      return cached.icon;
  auto icon =
      static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_ICON, width, height, 0));
  g_iconCache.push_back({name, width, height, icon});
  return icon;
}
