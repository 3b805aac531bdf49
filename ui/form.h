// Forms: one object per window, whose controls come from a table of rows. The object owns
// its window and gets its messages in HandleMessage; what every form does (controls,
// colours, DPI, focus, closing) is left to Form::HandleMessage.
#pragma once
#include <windows.h>

#include <span>
#include <vector>

#include "ui/fonts.h"

// A colour of a control row: an RGB value, or a system colour index marked as one.
inline constexpr COLORREF kSystemColorBit = 0x80000000;
constexpr COLORREF SystemColor(int index) { return kSystemColorBit | static_cast<COLORREF>(index); }

struct ColorSpec {
  COLORREF fore, back;  // CLR_INVALID for both leaves the control's colours to the system
};
inline constexpr ColorSpec kNoColors = {CLR_INVALID, CLR_INVALID};
inline constexpr ColorSpec kSystemColors = {SystemColor(COLOR_WINDOWTEXT),
                                            SystemColor(COLOR_BTNFACE)};
inline constexpr ColorSpec kWindowColors = {SystemColor(COLOR_WINDOWTEXT),
                                            SystemColor(COLOR_WINDOW)};

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
  int selectAllOnFocus = 0;  // edit boxes: the whole text selected on focus, else none
};

struct FormSpec {
  const char* className;
  const char* caption;
  int width, height;  // the outer size at 96 DPI
  DWORD style;        // besides WS_POPUP, WS_CAPTION, WS_SYSMENU, WS_CLIPSIBLINGS, WS_CLIPCHILDREN,
                      // WS_VISIBLE
  std::span<const ControlRow> controls;
  int focusControl;  // position of the control that gets the focus after creation
};

// Table pixels are 96-DPI pixels.
int TablePx(int pixels, int dpi);
// The DPI a window is laid out for (96 where the system cannot tell).
int WindowDpi(HWND window);
// The row's fixed identifier, or 1000 plus its position.
int ControlId(const FormSpec& spec, int index);

class Form {
 public:
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const FormSpec& Spec() const { return spec_; }
  HWND Window() const { return window_; }
  HWND Control(int index) const { return controls_[static_cast<size_t>(index)]; }
  int Result() const { return result_; }  // what Close was given last
  // Modeless; false when no window could be made.
  bool Show(HWND parent);
  // Over its owner, which is disabled meanwhile; what Close was given, or -1 without a window.
  int ShowModal(HWND parent);
  // Destroys the window, giving a modal form's owner back its input first.
  void Close(int result);

 protected:
  explicit Form(const FormSpec& spec) : spec_(spec), controls_(spec.controls.size()) {}
  // A window still there goes now, its messages answered by this class alone.
  virtual ~Form();
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  int IndexOf(HWND control) const;
  void OnCreate();
  void LayOut(int dpi, const RECT& form);
  LRESULT ControlColors(UINT message, WPARAM wParam, LPARAM lParam);
  void OnNotice(HWND control, WORD code);

  const FormSpec& spec_;
  HWND window_ = nullptr;
  std::vector<HWND> controls_;
  HWND lastFocus_ = nullptr;
  bool modal_ = false;
  int result_ = 0;
};

// A form with command rows: each names a control by its position in the table, the
// notification code and the member of T that handles it.
template <class T>
class BaseWindow : public Form {
 public:
  struct CommandRow {
    int control;
    WORD code;
    void (T::*handler)();
  };

 protected:
  using Form::Form;

  // Runs the row a WM_COMMAND names; false when no row does.
  bool RunCommand(std::span<const CommandRow> rows, WPARAM wParam) {
    for (const CommandRow& row : rows) {
      if (ControlId(Spec(), row.control) != LOWORD(wParam) || row.code != HIWORD(wParam)) continue;
      (static_cast<T*>(this)->*row.handler)();
      return true;
    }
    return false;
  }
};
