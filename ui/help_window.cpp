#include "ui/help_window.h"

namespace {
FormVars g_vars = {};
const FormDef kDef = {"FORM_STOWLY_HELP_CLASS",
                      "Stowly Help",
                      545,
                      391,
                      WS_MINIMIZEBOX,
                      nullptr,
                      0,
                      nullptr,
                      0,
                      nullptr,
                      0,
                      nullptr,
                      0,
                      nullptr,
                      -1,
                      &g_vars,
                      nullptr,
                      nullptr};
}  // namespace

const FormDef& HelpFormDef() { return kDef; }

HWND ShowHelpWindow(HWND) { return nullptr; }
