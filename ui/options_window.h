#pragma once
#include <windows.h>

#include "ui/form.h"

const FormDef& OptionsFormDef();
// Modal; returns 1 after Ok, 0 otherwise. While a job copies its Ok is off.
int ShowOptionsWindow(HWND parent, bool copying);
