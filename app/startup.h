#pragma once
#include <windows.h>

// The process's main routine: prepares the platform, shows the main window modally and
// returns the exit code once it is gone.
int MainRoutine(HINSTANCE instance);
void AssignAllControlIds();
// Common controls, control identifiers and version numbers: everything before the first form.
void PrepareWindowing();
