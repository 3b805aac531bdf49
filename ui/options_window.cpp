#include "ui/options_window.h"

namespace {
FormVars g_vars = {};
const FormDef kDef = {"FORM_STOWLY_OPTIONS_CLASS",
                      "Stowly Options",
                      365,
                      280,
                      0,
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

const FormDef& OptionsFormDef() { return kDef; }

int ShowOptionsWindow(HWND) { return 0; }
