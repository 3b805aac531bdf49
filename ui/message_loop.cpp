#include "ui/message_loop.h"

#include <cstring>

namespace {

// The window whose dialog keyboard handling applies: the active window when it is a form.
HWND DialogRoot() {
  HWND root = GetActiveWindow();
  char name[30] = {};
  if (root) GetClassNameA(root, name, sizeof name);
  return strncmp(name, "FORM_", 5) == 0 ? root : nullptr;
}

// Esc in a multi-line edit would be swallowed by the edit; hand it to the control as
// a Cancel command instead.
void TranslateEscapeInMultilineEdit(MSG& msg) {
  if (msg.message != WM_KEYDOWN || msg.wParam != VK_ESCAPE) return;
  HWND focus = GetFocus();
  if (!focus || !(GetWindowLongA(focus, GWL_STYLE) & ES_MULTILINE)) return;
  char name[16] = {};
  GetClassNameA(focus, name, sizeof name);
  if (_stricmp(name, "Edit") != 0) return;
  msg.message = WM_COMMAND;
  msg.wParam = MAKEWPARAM(IDCANCEL, 0);
  msg.lParam = 0;
}

}  // namespace

void RunModalLoop(HWND form) {
  MSG msg;
  BOOL got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) {
    if (!IsWindow(form)) break;
    TranslateEscapeInMultilineEdit(msg);
    HWND root = DialogRoot();
    if (root && IsDialogMessageA(root, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
}
