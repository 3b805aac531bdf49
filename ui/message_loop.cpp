#include "ui/message_loop.h"

#include <cstring>

HWND g_activeForm = nullptr;
int g_formResult = 0;

namespace {

// The window whose dialog keyboard handling applies: the active form, or the form that
// holds it when a child window was activated.
HWND DialogRoot() {
  HWND root = g_activeForm;
  while (root) {
    LONG style = GetWindowLongA(root, GWL_STYLE);
    LONG exStyle = GetWindowLongA(root, GWL_EXSTYLE);
    if (!(style & WS_CHILD) || (exStyle & WS_EX_MDICHILD)) break;
    char name[30] = {};
    GetClassNameA(root, name, sizeof name);
    if (strncmp(name, "FORM_", 5) == 0) break;
    root = GetParent(root);
  }
  return root;
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

int RunModalLoop(HWND form) {
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
  int result = g_formResult;
  g_formResult = 0;
  return result;
}
