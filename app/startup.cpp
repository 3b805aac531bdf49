#include "app/startup.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/command_line.h"
#include "engine/fs.h"
#include "ui/form.h"
#include "ui/help_window.h"
#include "ui/main_window.h"
#include "ui/options_window.h"

namespace {

constexpr DWORD kWindowRetryMs = 1000;
constexpr int kNoWindowExitCode = 3;  // as a job stopped before copying

}  // namespace

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
  // For the whole process, so no thread (the folder dialog's own included) puts up a "no
  // disk" box for an empty drive: the call that met it gets an error code instead.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  CoInitialize(nullptr);
  PrepareWindowing();
  std::string switches = BuildSwitchText(CommandTail(Utf8FromWide(GetCommandLineW()).c_str()));
  StartOptions options;
  options.silent = HasSwitch(switches, 'S');
  options.local = HasSwitch(switches, 'L');
  LRESULT result = ShowForm(MainFormDef(), nullptr, 1, reinterpret_cast<LPARAM>(&options));
  if (result == -1) {
    // Seen once under Wine while its desktop process was ending: a moment later it works.
    Sleep(kWindowRetryMs);
    result = ShowForm(MainFormDef(), nullptr, 1, reinterpret_cast<LPARAM>(&options));
  }
  // Without a window no backup ran: a scheduled task must not read that as success.
  int code = result == -1 ? kNoWindowExitCode : static_cast<int>(result);
  CoUninitialize();
  return code;
}
