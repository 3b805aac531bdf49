#include "ui/controls.h"

#include "engine/fs.h"

void EnableControl(HWND h) {
  if (IsWindow(h)) EnableWindow(h, TRUE);
}

void DisableControl(HWND h) {
  if (IsWindow(h)) EnableWindow(h, FALSE);
}

int IsChecked(HWND h) {
  return IsWindow(h) && SendMessageA(h, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void SetChecked(HWND h, int on) {
  if (IsWindow(h)) SendMessageA(h, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

// Texts go in and out wide: before Windows 10 1903 the A calls would pass a path through
// the ANSI code page, and a name outside it would come back as "?".
std::string GetText(HWND h) {
  if (!IsWindow(h)) return {};
  int length = GetWindowTextLengthW(h);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(h, text.data(), length + 1)));
  return Utf8FromWide(text);
}

void SetText(HWND h, const std::string& text) {
  if (IsWindow(h)) SetWindowTextW(h, WideFromUtf8(text).c_str());
}

int ListAdd(HWND h, const std::string& text) {
  if (!IsWindow(h)) return -1;
  std::wstring wide = WideFromUtf8(text);
  return static_cast<int>(SendMessageW(h, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str())));
}

int ListDelete(HWND h, int index) {
  if (!IsWindow(h)) return -1;
  return static_cast<int>(SendMessageA(h, LB_DELETESTRING, static_cast<WPARAM>(index), 0));
}

int ListCount(HWND h) {
  return IsWindow(h) ? static_cast<int>(SendMessageA(h, LB_GETCOUNT, 0, 0)) : -1;
}

int ListCurrent(HWND h) {
  return IsWindow(h) ? static_cast<int>(SendMessageA(h, LB_GETCURSEL, 0, 0)) : -1;
}

std::string ListGetText(HWND h, int index) {
  if (!IsWindow(h)) return {};
  LRESULT length = SendMessageW(h, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == 0 || length == LB_ERR) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  LRESULT got = SendMessageW(h, LB_GETTEXT, static_cast<WPARAM>(index),
                             reinterpret_cast<LPARAM>(text.data()));
  if (got == LB_ERR) return {};
  text.resize(static_cast<size_t>(got));
  return Utf8FromWide(text);
}

void ListReplace(HWND h, int index, const std::string& text, LPARAM data) {
  if (!IsWindow(h)) return;
  SendMessageA(h, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
  std::wstring wide = WideFromUtf8(text);
  LRESULT at = SendMessageW(h, LB_INSERTSTRING, static_cast<WPARAM>(index),
                            reinterpret_cast<LPARAM>(wide.c_str()));
  SendMessageA(h, LB_SETITEMDATA, static_cast<WPARAM>(at), data);
  SendMessageA(h, LB_SETCURSEL, static_cast<WPARAM>(at), 0);
}

void ListClear(HWND h) {
  if (IsWindow(h)) SendMessageA(h, LB_RESETCONTENT, 0, 0);
}

int ListSelect(HWND h, int index) {
  if (!IsWindow(h)) return -1;
  return static_cast<int>(SendMessageA(h, LB_SETCURSEL, static_cast<WPARAM>(index), 0));
}

// A list with no integral height stops scrolling where its last line is whole.
void ListShowLast(HWND h) {
  int count = ListCount(h);
  if (count > 0) SendMessageA(h, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
}

HTREEITEM TreeInsert(HWND h, HTREEITEM parent, const std::string& text, LPARAM data, int image,
                     int selectedImage) {
  if (!IsWindow(h)) return nullptr;
  TVINSERTSTRUCTA insert = {};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
  insert.item.pszText = const_cast<char*>(text.c_str());
  insert.item.iImage = image;
  insert.item.iSelectedImage = selectedImage;
  insert.item.lParam = data;
  return reinterpret_cast<HTREEITEM>(
      SendMessageA(h, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void TreeSetData(HWND h, HTREEITEM item, LPARAM data) {
  if (!IsWindow(h)) return;
  TVITEMA tv = {};
  tv.mask = TVIF_HANDLE | TVIF_PARAM;
  tv.hItem = item;
  tv.lParam = data;
  SendMessageA(h, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
}

LPARAM TreeGetData(HWND h, HTREEITEM item) {
  if (!IsWindow(h)) return 0;
  TVITEMA tv = {};
  tv.mask = TVIF_HANDLE | TVIF_PARAM;
  tv.hItem = item;
  if (!SendMessageA(h, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv))) return 0;
  return tv.lParam;
}

int TreeExpand(HWND h, HTREEITEM item, int expand) {
  if (!IsWindow(h)) return 0;
  return static_cast<int>(SendMessageA(h, TVM_EXPAND, expand ? TVE_EXPAND : TVE_COLLAPSE,
                                       reinterpret_cast<LPARAM>(item)));
}

int TreeSelect(HWND h, HTREEITEM item) {
  if (!IsWindow(h)) return 0;
  return static_cast<int>(
      SendMessageA(h, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)));
}

void TreeSetTextColor(HWND h, COLORREF c) {
  SendMessageA(h, TVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(c));
}

void TreeSetBackColor(HWND h, COLORREF c) {
  SendMessageA(h, TVM_SETBKCOLOR, 0, static_cast<LPARAM>(c));
}
