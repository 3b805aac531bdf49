#pragma once
#include <windows.h>

#include "ui/form.h"

const FormDef& OptionsFormDef();
// Modal; returns 1 after Ok, 0 otherwise.
int ShowOptionsWindow(HWND parent);
