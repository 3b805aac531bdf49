// The modal loop every modal form runs.
#pragma once
#include <windows.h>

// Runs until the form is gone or a quit request comes, which every enclosing loop then
// sees too.
void RunModalLoop(HWND form);
