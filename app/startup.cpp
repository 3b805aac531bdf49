#include "app/startup.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/command_line.h"
#include "engine/fs.h"
#include "ui/main_window.h"

namespace {

constexpr DWORD kWindowRetryMs = 1000;
constexpr int kNoWindowExitCode = 3;  // as a job stopped before copying

}  // namespace

void PrepareWindowing() {
  INITCOMMONCONTROLSEX icc = {8, 0x7FFF};
  InitCommonControlsEx(&icc);
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
  MainWindow window(options);
  int result = window.ShowModal(nullptr);
  if (result == -1) {
    // Seen once under Wine while its desktop process was ending: a moment later it works.
    Sleep(kWindowRetryMs);
    result = window.ShowModal(nullptr);
  }
  // Without a window no backup ran: a scheduled task must not read that as success.
  int code = result == -1 ? kNoWindowExitCode : result;
  CoUninitialize();
  return code;
}
