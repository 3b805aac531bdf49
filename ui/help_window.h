// The help window: topics in a tree beside the chosen topic's text. Modeless; several may
// be open at once, each with a topic of its own.
#pragma once
#include <windows.h>

#include "ui/form.h"

class HelpWindow : public BaseWindow<HelpWindow> {
 public:
  // The new help window, which lives as long as its window does; null when none was made.
  static HelpWindow* Open(HWND parent);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  HelpWindow();
  void ShowIcon();
  void FillTopics();
};
