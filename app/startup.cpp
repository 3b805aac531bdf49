#include "app/startup.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/command_line.h"
#include "ui/form.h"
#include "ui/help_window.h"
#include "ui/main_window.h"
#include "ui/options_window.h"

void AssignAllControlIds() {
  AssignControlIds(MainFormDef());
  AssignControlIds(OptionsFormDef());
  AssignControlIds(HelpFormDef());
}

void PrepareWindowing() {
  INITCOMMONCONTROLSEX icc = {8, 0x7FFF};
  InitCommonControlsEx(&icc);
  AssignAllControlIds();
}

int MainRoutine(HINSTANCE) {
  CoInitialize(nullptr);
  PrepareWindowing();
  std::string switches = BuildSwitchText(CommandTail(GetCommandLineA()));
  StartOptions options;
  options.silent = HasSwitch(switches, 'S');
  options.local = HasSwitch(switches, 'L');
  LRESULT result = ShowForm(MainFormDef(), nullptr, 1, reinterpret_cast<LPARAM>(&options));
  // A main window that could not be created is not an error the caller can act on.
  int code = result == -1 ? 0 : static_cast<int>(result);
  CoUninitialize();
  return code;
}
