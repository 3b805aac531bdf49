#pragma once
#include <windows.h>

#include "ui/form.h"

const FormDef& HelpFormDef();
// Modeless; returns the new help window.
HWND ShowHelpWindow(HWND parent);
