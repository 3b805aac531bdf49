// The options window: the backup mode, the two switches, the log size limit and how long
// replaced and deleted files are kept. Ok stores them; while a job copies, Ok is off.
#pragma once
#include <windows.h>

#include "ui/form.h"

class OptionsWindow : public BaseWindow<OptionsWindow> {
 public:
  explicit OptionsWindow(bool copying);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void ShowSettings();
  void OnCancel();
  void OnOk();
  void OnArchiveBitClicked();
  void OnFastMirrorClicked();
  void OnLogSizeKillFocus();
  void OnKeepDaysKillFocus();
  static const CommandRow kCommands[];

  bool copying_;
};

// Modal over parent; 1 after Ok, 0 otherwise.
int ShowOptionsWindow(HWND parent, bool copying);
