// The form framework. A form is data plus handlers: a FormDef names its class, caption,
// size and style, its table of controls in creation order, its command and notify handler
// tables and its create handler. The framework registers the class, creates the window
// and its controls, dispatches messages to the handlers and runs the modal loop.
//
// Each form supplies its own window procedure and control subclass procedure, one line
// each, that forward to FormProcedure and ControlProcedure with the form's FormDef.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

// Per-window record, stored under the window property "STOWLY_PTR".
struct InstanceRecord {
  WNDPROC OldWindowProc;
  HWND Window;
  HWND Owner;
  int IsForm;
  int IsModal;
  HFONT Font;
  int ControlIndex;
  HWND LastFocus;
  int SelectAllOnFocus;
  int UseColors;
  int ForeIsSystem;
  int BackIsSystem;
  HBRUSH BackBrush;
  COLORREF ForeColor;
  COLORREF BackColor;
};

using CreateHandler = int (*)(HWND form, LPARAM userData);
using EventHandler = int (*)(int controlIndex, HWND form, HWND control, int controlId);
using NotifyHandler = int (*)(int controlIndex, HWND form, NMHDR* header, LPARAM lParam);
using MouseMoveHandler = int (*)(int controlIndex, HWND form, HWND control, WPARAM keyFlags, int x,
                                 int y);
using LayoutHandler = void (*)(HWND form, int dpi);

// Colour arguments of a control row.
struct ColorSpec {
  int useColors;
  int foreIsSystem;
  int backIsSystem;
  COLORREF fore;
  COLORREF back;
};
inline constexpr ColorSpec kNoColors = {0, 0, 0, 0, 0};
inline constexpr ColorSpec kSystemColors = {1, 1, 1, COLOR_WINDOWTEXT, COLOR_BTNFACE};
inline constexpr ColorSpec kWindowColors = {1, 1, 1, COLOR_WINDOWTEXT, COLOR_WINDOW};

// One control of a form's table, in creation order. WS_CHILD | WS_VISIBLE are added.
struct ControlRow {
  const char* className;
  const char* text;
  DWORD style;
  DWORD exStyle;
  int x, y, width, height;
  const char* font;  // font spec, or nullptr to keep the system font
  ColorSpec colors;
  int fixedId = 0;           // IDOK or IDCANCEL for the form's OK and Cancel buttons
  int editLimit = 0;         // EM_LIMITTEXT for edit boxes (0 = the system maximum)
  int selectAllOnFocus = 0;  // edit boxes: select the whole text on focus
};

// Handler rows name their control by its position in the control table.
struct CommandRow {
  int control;
  WORD code;
  EventHandler handler;
};
struct NotifyRow {
  int control;
  UINT code;
  NotifyHandler handler;
};
struct MouseMoveRow {
  int control;
  MouseMoveHandler handler;
};

// The form-level variables: the form's handle and, per control, identifier and handle.
struct FormVars {
  HWND form;
  HWND* handles;
  int* ids;
};

struct FormDef {
  const char* className;
  const char* caption;
  int width, height;
  DWORD style;  // besides WS_POPUP, WS_CAPTION, WS_SYSMENU, WS_CLIPSIBLINGS, WS_CLIPCHILDREN,
                // WS_VISIBLE
  const ControlRow* controls;
  int controlCount;
  const CommandRow* commands;
  int commandCount;
  const NotifyRow* notifies;
  int notifyCount;
  const MouseMoveRow* mouseMoves;
  int mouseMoveCount;
  CreateHandler onCreate;
  int focusControl;  // position of the control that gets the focus after creation
  FormVars* vars;
  WNDPROC formProc;
  WNDPROC subclassProc;
  LayoutHandler onLayout = nullptr;  // after the controls were placed at a (new) DPI
};

// Table pixels are 96-DPI pixels. Edges, not sizes, are scaled, so controls that touch
// in the table touch at every scale and never overlap.
int TablePx(int pixels, int dpi);
RECT TableRect(const ControlRow& row, int dpi);
// The DPI a window is laid out for (96 where the system cannot tell).
int WindowDpi(HWND window);
// The outer size of a form whose table size is its outer size at 96 DPI.
SIZE FormOuterSize(const FormDef& def, int dpi);
// Places every control of the form and gives it its font for the DPI.
void LayOutControls(const FormDef& def, HWND form, int dpi);

void AssignControlIds(const FormDef& def);
LRESULT ShowForm(const FormDef& def, HWND parent, int modal, LPARAM userData);
void CloseForm(HWND form, int result);

LRESULT FormProcedure(const FormDef& def, HWND form, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ControlProcedure(const FormDef& def, HWND control, UINT message, WPARAM wParam,
                         LPARAM lParam);

InstanceRecord* RecordOf(HWND window);
InstanceRecord* SetupControl(HWND control, int subclass, int setFont, const char* fontSpec,
                             int controlIndex, int useColors, int foreIsSystem, int backIsSystem,
                             COLORREF foreColor, COLORREF backColor, HBRUSH brush,
                             WNDPROC subclassProc);
// One font for each font-spec text and DPI; table pixel heights are 96-DPI pixels.
HFONT FontFromSpec(const std::string& spec, int dpi = 96);
// An icon resource drawn at the given size, loaded once per size and kept for the life
// of the process, as fonts are.
HICON IconOfSize(const char* name, int width, int height);

// Font specs shared by more than one form.
inline constexpr const char* kStandardFont = "MS Sans Serif,-11,0,0,0,400,0,0,0,0,1,2,1,34";
inline constexpr const char* kTahomaFont = "Tahoma,-12,0,0,0,400,0,0,0,0,3,2,1,34";

inline const HBRUSH kMakeBrush = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(-1));
