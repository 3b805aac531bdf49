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

HWND g_handles[kOptionsControlCount];
int g_ids[kOptionsControlCount];
FormVars g_vars = {nullptr, g_handles, g_ids};

constexpr const char* kStandard = kStandardFont;
constexpr const char* kButtonFont = kTahomaFont;
constexpr const char* kSeparatorFont = "Tahoma,-11,0,0,0,400,0,0,0,1,0,0,0,0";
constexpr DWORD kOption = BS_NOTIFY | BS_VCENTER | BS_LEFT | BS_AUTORADIOBUTTON;
constexpr DWORD kCheckBox =
    WS_TABSTOP | BS_NOTIFY | BS_MULTILINE | BS_VCENTER | BS_LEFT | BS_AUTOCHECKBOX;
constexpr DWORD kLabel = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | SS_NOTIFY;
constexpr DWORD kButton = WS_TABSTOP | BS_NOTIFY | BS_CENTER | BS_VCENTER;
// Text in the system's colour on a grey brush of the separator's own.
constexpr ColorSpec kSeparatorColors = {1, 1, 0, COLOR_WINDOWTEXT, RGB(0x80, 0x80, 0x80)};

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

// Handlers find the controls of the window they were called for.
HWND Item(HWND form, OptionsControl control) { return GetDlgItem(form, g_ids[control]); }

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

int OnCreate(HWND form, LPARAM copying) {
  SetChecked(Item(form, kDeleteFilesBox), g_settings.DeleteFiles == 1);
  SetChecked(Item(form, kArchiveBitBox), g_settings.UseArchiveBit == 1);
  SetChecked(Item(form, g_settings.FullMirror == 1 ? kFullMirror : kFastMirror), 1);
  SetText(Item(form, kLogSizeBox), MiBText(g_settings.MaxLogSize));
  const int days = g_settings.KeepVersions;
  SetChecked(Item(form, kKeepVersionsBox), days > 0);
  SetText(Item(form, kKeepDaysBox), NumberText(days > 0 ? days : kShownDaysWhenOff));
  if (copying) DisableControl(Item(form, kOkButton));
  return 0;
}

int OnCancel(int, HWND form, HWND, int) {
  CloseForm(form, 0);
  return 0;
}

// Enter reaches here as IDOK even while the Ok button is disabled, so the button's state
// is what decides whether anything is stored.
int OnOk(int, HWND form, HWND, int) {
  if (!IsWindowEnabled(Item(form, kOkButton))) return 0;
  g_settings.DeleteFiles = IsChecked(Item(form, kDeleteFilesBox));
  WriteSetting("DeleteFiles", NumberText(g_settings.DeleteFiles));
  g_settings.UseArchiveBit = IsChecked(Item(form, kArchiveBitBox));
  WriteSetting("UseArchiveBit", NumberText(g_settings.UseArchiveBit));
  if (IsChecked(Item(form, kFullMirror))) g_settings.FullMirror = 1;
  if (IsChecked(Item(form, kFastMirror))) g_settings.FullMirror = 0;
  WriteSetting("FullMirror", NumberText(g_settings.FullMirror));
  g_settings.MaxLogSize = LogSizeFromText(GetText(Item(form, kLogSizeBox)));
  WriteSetting("MaxLogSize", NumberText(g_settings.MaxLogSize));
  g_settings.KeepVersions = IsChecked(Item(form, kKeepVersionsBox))
                                ? KeptDaysFromText(GetText(Item(form, kKeepDaysBox)))
                                : 0;
  WriteSetting("KeepVersions", NumberText(g_settings.KeepVersions));
  CloseForm(form, 1);
  return 0;
}

// Without the archive bit, Fast Mirror cannot tell changed files apart.
int OnArchiveBitClicked(int, HWND form, HWND, int) {
  if (IsChecked(Item(form, kArchiveBitBox))) return 0;
  SetChecked(Item(form, kFullMirror), 1);
  SetChecked(Item(form, kFastMirror), 0);
  return 0;
}

int OnFastMirrorClicked(int, HWND form, HWND, int) {
  if (IsChecked(Item(form, kFastMirror))) SetChecked(Item(form, kArchiveBitBox), 1);
  return 0;
}

int OnLogSizeKillFocus(int, HWND form, HWND, int) {
  HWND box = Item(form, kLogSizeBox);
  if (ParseNumber(GetText(box)) <= 0) SetText(box, "1");
  return 0;
}

int OnKeepDaysKillFocus(int, HWND form, HWND, int) {
  HWND box = Item(form, kKeepDaysBox);
  SetText(box, NumberText(KeptDaysFromText(GetText(box))));
  return 0;
}

const CommandRow kCommands[] = {
    {kCancelButton, BN_CLICKED, OnCancel},
    {kOkButton, BN_CLICKED, OnOk},
    {kArchiveBitBox, BN_CLICKED, OnArchiveBitClicked},
    {kFastMirror, BN_CLICKED, OnFastMirrorClicked},
    {kLogSizeBox, EN_KILLFOCUS, OnLogSizeKillFocus},
    {kKeepDaysBox, EN_KILLFOCUS, OnKeepDaysKillFocus},
};

LRESULT CALLBACK OptionsFormProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK OptionsControlProc(HWND, UINT, WPARAM, LPARAM);

const FormDef kDef = {"FORM_STOWLY_OPTIONS_CLASS",
                      "Stowly Options",
                      365,
                      304,
                      0,
                      kControls,
                      kOptionsControlCount,
                      kCommands,
                      static_cast<int>(std::size(kCommands)),
                      nullptr,
                      0,
                      nullptr,
                      0,
                      OnCreate,
                      kFullMirror,
                      &g_vars,
                      OptionsFormProc,
                      OptionsControlProc};

LRESULT CALLBACK OptionsFormProc(HWND form, UINT message, WPARAM wParam, LPARAM lParam) {
  return FormProcedure(kDef, form, message, wParam, lParam);
}

LRESULT CALLBACK OptionsControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  return ControlProcedure(kDef, control, message, wParam, lParam);
}

}  // namespace

const FormDef& OptionsFormDef() { return kDef; }

int ShowOptionsWindow(HWND parent, bool copying) {
  return static_cast<int>(ShowForm(kDef, parent, 1, copying ? 1 : 0));
}
