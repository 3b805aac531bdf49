// The modal loop every modal form runs.
#pragma once
#include <windows.h>

extern HWND g_activeForm;  // the form activated last; 0 once it is deactivated
extern int g_formResult;   // set by CloseForm, read and reset by the modal loop

// Runs until the form is gone or a quit request comes, which every enclosing loop then
// sees too.
int RunModalLoop(HWND form);
