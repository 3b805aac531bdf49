#pragma once
#include <windows.h>

// The process's main routine: prepares the platform, shows the main window modally and
// returns the exit code once it is gone.
int MainRoutine(HINSTANCE instance);
// Common controls: everything before the first form.
void PrepareWindowing();
