// The modal loop every modal form runs, and the pump step long operations call so the
// windows stay responsive while the user-interface thread is busy.
#pragma once
#include <windows.h>

extern HWND g_activeForm;  // the form activated last; 0 once it is deactivated
extern int g_formResult;   // set by CloseForm, read and reset by the modal loop

// Set when a pump step takes the quit request out of the queue; every modal loop then
// stops, so closing the main window during a long operation still ends the program.
extern bool g_quitRequested;

int RunModalLoop(HWND form);
void MessagePumpStep();
