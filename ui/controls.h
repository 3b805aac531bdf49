// Thin control operations: each is one window message, guarded by IsWindow so a stale
// handle gives a fixed result instead of touching some other window.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

void EnableControl(HWND h);
void DisableControl(HWND h);
int IsChecked(HWND h);
void SetChecked(HWND h, int on);
std::string GetText(HWND h);
void SetText(HWND h, const std::string& text);

int ListAdd(HWND h, const std::string& text);
int ListDelete(HWND h, int index);
int ListCount(HWND h);
int ListCurrent(HWND h);
std::string ListGetText(HWND h, int index);
void ListReplace(HWND h, int index, const std::string& text, LPARAM data);
void ListClear(HWND h);
int ListSelect(HWND h, int index);
// Scrolls so that the last line is fully in view; the selection stays as it is.
void ListShowLast(HWND h);

HTREEITEM TreeInsert(HWND h, HTREEITEM parent, const std::string& text, LPARAM data, int image,
                     int selectedImage);
void TreeSetData(HWND h, HTREEITEM item, LPARAM data);
LPARAM TreeGetData(HWND h, HTREEITEM item);
int TreeExpand(HWND h, HTREEITEM item, int expand);
int TreeSelect(HWND h, HTREEITEM item);
void TreeSetTextColor(HWND h, COLORREF c);
void TreeSetBackColor(HWND h, COLORREF c);
