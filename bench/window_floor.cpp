// The least a windowed program does under Wine: one themed window with one button, shown
// minimised, painted and closed. Its run time is what every program with a window pays
// before it does any work of its own; scripts/bench.sh sets it beside Stowly's empty run.
#include <windows.h>
#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "WindowFloor";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowA("WindowFloor", "Floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 480, 480, nullptr, nullptr, instance, nullptr);
  CreateWindowA("Button", "Backup", WS_CHILD | WS_VISIBLE, 10, 10, 80, 24, window, nullptr,
                instance, nullptr);
  ShowWindow(window, SW_SHOWMINNOACTIVE);
  UpdateWindow(window);
  DestroyWindow(window);
  return 0;
}
