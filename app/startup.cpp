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
  g_versionMajor = 1;
  g_versionMinor = 5;
  g_versionRevision = 0;
}

int MainRoutine(HINSTANCE) {
  CoInitialize(nullptr);
  g_commandTail = CommandTail(GetCommandLineA());
  PrepareWindowing();
  LRESULT result = ShowForm(MainFormDef(), nullptr, 1, 0);
  // A main window that could not be created is not an error the caller can act on.
  int code = result == -1 ? 0 : static_cast<int>(result);
  CoUninitialize();
  return code;
}
