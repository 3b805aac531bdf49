#include "ui/options_window.h"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>

#include "engine/settings.h"
#include "ui/controls.h"

namespace {

// The options window's controls, in creation order (which is also the tab order).
enum OptionsControl {
  kFullMirror,
  kFastMirror,
  kSeparator,
  kDeleteFilesBox,
  kArchiveBitBox,
  kModeFrame,
  kLogSizeBox,
  kLogSizeLabel,
  kKeepVersionsBox,
  kKeepDaysBox,
  kKeepDaysLabel,
  kOkButton,
  kCancelButton,
  kOptionsControlCount
};

constexpr const char* kStandard = kStandardFont;
constexpr const char* kButtonFont = kTahomaFont;
constexpr const char* kSeparatorFont = "Tahoma,-11,0,0,0,400,0,0,0,1,0,0,0,0";
constexpr DWORD kOption = BS_NOTIFY | BS_VCENTER | BS_LEFT | BS_AUTORADIOBUTTON;
constexpr DWORD kCheckBox =
    WS_TABSTOP | BS_NOTIFY | BS_MULTILINE | BS_VCENTER | BS_LEFT | BS_AUTOCHECKBOX;
constexpr DWORD kLabel = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | SS_NOTIFY;
constexpr DWORD kButton = WS_TABSTOP | BS_NOTIFY | BS_CENTER | BS_VCENTER;
// Text in the system's colour on a grey brush of the separator's own.
constexpr ColorSpec kSeparatorColors = {SystemColor(COLOR_WINDOWTEXT), RGB(0x80, 0x80, 0x80)};

const ControlRow kControls[kOptionsControlCount] = {
    {"Button", "Full Mirror - Backup up all files from selected folders",
     WS_GROUP | WS_TABSTOP | kOption, 0, 8, 28, 270, 16, kStandard, kSystemColors},
    {"Button", "Fast Mirror - Backup only files that have changed since last backup",
     WS_TABSTOP | kOption, 0, 8, 46, 340, 16, kStandard, kSystemColors},
    {"Static", "", kLabel | SS_SUNKEN, 0, 8, 232, 340, 2, kSeparatorFont, kSeparatorColors},
    {"Button",
     "Delete files from destination folder that are no longer in source folder (Only "
     "effective in Fast Mirror Mode)",
     kCheckBox, 0, 8, 82, 340, 34, kStandard, kSystemColors},
    {"Button",
     "Use Windows Archive Bit (Must be checked if in Fast Mirror Mode) Only uncheck this if "
     "you have other backup software that uses this.",
     kCheckBox, 0, 8, 128, 333, 28, kStandard, kSystemColors},
    {"Button", "Backup Mode", BS_NOTIFY | BS_LEFT | BS_GROUPBOX, WS_EX_TRANSPARENT, 4, 11, 345, 56,
     kStandard, kSystemColors},
    {"Edit", "", WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 8, 168, 25, 18,
     kStandard, kWindowColors, 0, 3, 1},
    {"Static", "Log File Size Limit when starting backup (1-999 MB)", kLabel, 0, 38, 170, 253, 15,
     kStandard, kSystemColors},
    {"Button", "Keep replaced and deleted files for", kCheckBox, 0, 8, 192, 186, 18, kStandard,
     kSystemColors},
    {"Edit", "", WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 196, 192, 31, 18,
     kStandard, kWindowColors, 0, 4, 1},
    {"Static", "days", kLabel, 0, 232, 194, 40, 15, kStandard, kSystemColors},
    {"Button", "Ok", kButton | BS_DEFPUSHBUTTON, 0, 188, 240, 68, 28, kButtonFont, kNoColors, IDOK},
    {"Button", "Cancel", kButton | BS_PUSHBUTTON, 0, 268, 240, 68, 28, kButtonFont, kNoColors,
     IDCANCEL},
};

// The size in MiB with up to 15 significant digits, never with an exponent: the number
// parsing stops at the "e", so "9.5367431640625e-07" (one byte) would come back from an
// untouched box as ten million bytes on Ok.
std::string MiBText(int bytes) {
  double mib = bytes / static_cast<double>(kMiB);
  if (mib == 0) return "0";
  int decimals = 14 - static_cast<int>(std::floor(std::log10(std::fabs(mib))));
  if (decimals < 0) decimals = 0;
  char text[64] = {};
  std::snprintf(text, sizeof text, "%.*f", decimals, mib);
  std::string result = text;
  if (result.find('.') != std::string::npos) {
    while (result.back() == '0') result.pop_back();
    if (result.back() == '.') result.pop_back();
  }
  return result;
}

// Bytes for the box's MiB text. The box cannot hold more than 999 by typing, but a
// pasted "-5" can reach it; a limit of zero or below would wipe the log at every
// backup, so those become the smallest whole size, 1 MiB.
int LogSizeFromText(const std::string& text) {
  int bytes = RoundToInt32(ParseNumberValue(text) * kMiB);
  if (bytes <= 0) return kMiB;
  return bytes > kMaxLogSizeLimit ? kMaxLogSizeLimit : bytes;
}

// Days for the box's text: what the box shows while keeping is off, and the range a
// checked box stores (an empty box or 0 keeps one day, more than the most keeps the most).
constexpr int kShownDaysWhenOff = 30;
int KeptDaysFromText(const std::string& text) {
  int days = ParseNumber(text);
  return days < 1 ? 1 : days > kMostKeptDays ? kMostKeptDays : days;
}

const FormSpec kSpec = {.className = "FORM_STOWLY_OPTIONS_CLASS",
                        .caption = "Stowly Options",
                        .width = 365,
                        .height = 304,
                        .style = 0,
                        .controls = kControls,
                        .focusControl = kFullMirror};

}  // namespace

OptionsWindow::OptionsWindow(bool copying) : BaseWindow(kSpec), copying_(copying) {}

void OptionsWindow::ShowSettings() {
  SetChecked(Control(kDeleteFilesBox), g_settings.DeleteFiles == 1);
  SetChecked(Control(kArchiveBitBox), g_settings.UseArchiveBit == 1);
  SetChecked(Control(g_settings.FullMirror == 1 ? kFullMirror : kFastMirror), 1);
  SetText(Control(kLogSizeBox), MiBText(g_settings.MaxLogSize));
  const int days = g_settings.KeepVersions;
  SetChecked(Control(kKeepVersionsBox), days > 0);
  SetText(Control(kKeepDaysBox), NumberText(days > 0 ? days : kShownDaysWhenOff));
  if (copying_) DisableControl(Control(kOkButton));
}

void OptionsWindow::OnCancel() { Close(0); }

// Enter reaches here as IDOK even while the Ok button is disabled, so the button's state
// is what decides whether anything is stored.
void OptionsWindow::OnOk() {
  if (!IsWindowEnabled(Control(kOkButton))) return;
  g_settings.DeleteFiles = IsChecked(Control(kDeleteFilesBox));
  WriteSetting("DeleteFiles", NumberText(g_settings.DeleteFiles));
  g_settings.UseArchiveBit = IsChecked(Control(kArchiveBitBox));
  WriteSetting("UseArchiveBit", NumberText(g_settings.UseArchiveBit));
  if (IsChecked(Control(kFullMirror))) g_settings.FullMirror = 1;
  if (IsChecked(Control(kFastMirror))) g_settings.FullMirror = 0;
  WriteSetting("FullMirror", NumberText(g_settings.FullMirror));
  g_settings.MaxLogSize = LogSizeFromText(GetText(Control(kLogSizeBox)));
  WriteSetting("MaxLogSize", NumberText(g_settings.MaxLogSize));
  g_settings.KeepVersions =
      IsChecked(Control(kKeepVersionsBox)) ? KeptDaysFromText(GetText(Control(kKeepDaysBox))) : 0;
  WriteSetting("KeepVersions", NumberText(g_settings.KeepVersions));
  Close(1);
}

// Without the archive bit, Fast Mirror cannot tell changed files apart.
void OptionsWindow::OnArchiveBitClicked() {
  if (IsChecked(Control(kArchiveBitBox))) return;
  SetChecked(Control(kFullMirror), 1);
  SetChecked(Control(kFastMirror), 0);
}

void OptionsWindow::OnFastMirrorClicked() {
  if (IsChecked(Control(kFastMirror))) SetChecked(Control(kArchiveBitBox), 1);
}

void OptionsWindow::OnLogSizeKillFocus() {
  HWND box = Control(kLogSizeBox);
  if (ParseNumber(GetText(box)) <= 0) SetText(box, "1");
}

void OptionsWindow::OnKeepDaysKillFocus() {
  HWND box = Control(kKeepDaysBox);
  SetText(box, NumberText(KeptDaysFromText(GetText(box))));
}

const OptionsWindow::CommandRow OptionsWindow::kCommands[] = {
    {kCancelButton, BN_CLICKED, &OptionsWindow::OnCancel},
    {kOkButton, BN_CLICKED, &OptionsWindow::OnOk},
    {kArchiveBitBox, BN_CLICKED, &OptionsWindow::OnArchiveBitClicked},
    {kFastMirror, BN_CLICKED, &OptionsWindow::OnFastMirrorClicked},
    {kLogSizeBox, EN_KILLFOCUS, &OptionsWindow::OnLogSizeKillFocus},
    {kKeepDaysBox, EN_KILLFOCUS, &OptionsWindow::OnKeepDaysKillFocus},
};

LRESULT OptionsWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && RunCommand(kCommands, wParam)) return 0;
  LRESULT result = Form::HandleMessage(message, wParam, lParam);
  if (message == WM_CREATE) ShowSettings();
  return result;
}

int ShowOptionsWindow(HWND parent, bool copying) {
  OptionsWindow options(copying);
  return options.ShowModal(parent);
}
