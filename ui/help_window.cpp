#include "ui/help_window.h"

#include <shellapi.h>

#include <iterator>
#include <string>

#include "app/command_line.h"
#include "res/maker.h"
#include "ui/controls.h"

namespace {

// The help window's controls, in creation order.
enum HelpControl {
  kTopicTree,
  kProductLabel,
  kVersionLabel,
  kTopicText,
  kWebCaption,
  kWebLabel,
  kNoticeLabel,
  kPicture,
  kHelpControlCount
};

HWND g_handles[kHelpControlCount];
int g_ids[kHelpControlCount];
FormVars g_vars = {nullptr, g_handles, g_ids};

constexpr const char* kTahoma12 = kTahomaFont;
constexpr const char* kTahoma12Underlined = "Tahoma,-12,0,0,0,400,0,1,0,0,3,2,1,34";
constexpr const char* kTahoma11 = "Tahoma,-11,0,0,0,400,0,0,0,0,3,2,1,34";
constexpr const char* kTahoma11Italic = "Tahoma,-11,0,0,0,400,1,0,0,0,3,2,1,34";
constexpr const char* kTahoma24 = "Tahoma,-24,0,0,0,400,0,0,0,0,3,2,1,34";
constexpr const char* kArial12 = "Arial,-12,0,0,0,400,0,0,0,0,3,2,1,34";
constexpr DWORD kStatic = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | SS_NOTIFY;
constexpr COLORREF kBlue = 0xFF0000;
constexpr COLORREF kDarkRed = 0x0000C4;
constexpr ColorSpec kBlueOnFace = {1, 0, 1, kBlue, COLOR_BTNFACE};
constexpr ColorSpec kDarkRedOnFace = {1, 0, 1, kDarkRed, COLOR_BTNFACE};
constexpr ColorSpec kInfoColors = {1, 1, 1, COLOR_WINDOWTEXT, COLOR_INFOBK};
constexpr COLORREF kTreeText = 0x000000;
constexpr COLORREF kTreeBack = 0xE1FFFF;

const ControlRow kControls[kHelpControlCount] = {
    {"SysTreeView32", "",
     WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
     WS_EX_CLIENTEDGE, 4, 64, 204, 292, kTahoma12, kNoColors},
    {"Static", "Stowly", kStatic | SS_LEFT, 0, 68, 4, 137, 32, kTahoma24, kBlueOnFace},
    {"Static", "Version 1.0", kStatic | SS_LEFT, 0, 68, 36, 140, 16, kTahoma11, kDarkRedOnFace},
    {"Edit", "", WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE, WS_EX_CLIENTEDGE, 212,
     64, 324, 292, kArial12, kInfoColors, 0, 0, 0},
    {"Static", "Web:", kStatic | SS_LEFT, 0, 336, 24, 31, 16, kTahoma12, kSystemColors},
    {"Static", STOWLY_MAKER_WEB_TEXT, kStatic | SS_LEFT, 0, 376, 24, 156, 16, kTahoma12Underlined,
     kBlueOnFace},
    {"Static", STOWLY_MAKER_NOTICE, kStatic | SS_RIGHT, 0, 382, 8, 138, 16, kTahoma11Italic,
     kSystemColors},
    {"Static", "", kStatic | SS_ICON, 0, 4, 4, 58, 42, nullptr, kNoColors},
};

constexpr const char* kOverviewText =
    "Stowly is a simple, dependable backup utility for copying your important folders, for "
    "example from a laptop to a server or to a USB drive. It makes an exact, file-for-file copy "
    "with no compression and no archive format, and it keeps the folder structure, so every "
    "backed-up file can be opened and copied back like any other file.\r\n"
    "\r\n"
    "Features:\r\n"
    " * Portable: it needs no installation and is small enough to run from a hard disk or a USB "
    "flash drive.\r\n"
    " * Runs on 64-bit Windows 10 and Windows 11.\r\n"
    " * Two backup modes: Full Mirror and Fast Mirror.\r\n"
    " * Backs up several source folders into one destination folder.\r\n"
    " * All settings are kept in an .ini file, so a backup takes three steps: (1) start Stowly, "
    "(2) check the folders, (3) click Backup.\r\n"
    " * A status list explains every step, and a separate list names the files that were "
    "skipped.\r\n"
    " * A detailed log file, which you can view from the program.\r\n"
    " * A silent mode started from the command line, for example by a scheduled task.";

constexpr const char* kInstructionsText = "Expand and click on an item for instructions.";

constexpr const char* kSourceFoldersText =
    "Selecting Source Folders\r\n"
    "\r\n"
    "Source folders are the folders you want to back up. To add one, click the Add button "
    "beside the Source Folders list, choose the folder in the window that opens and click OK. "
    "The folder then appears in the list.\r\n"
    "\r\n"
    "You can add as many source folders as you like; at least one is needed to start a backup. "
    "Only folders on a drive letter can be chosen, for example on C:\\ or on a network share "
    "mapped to a drive letter. A folder that is already in the list cannot be added again.\r\n"
    "\r\n"
    "To remove a source folder, click it in the list and then click the Del button. This only "
    "takes the folder off the list: nothing is deleted, neither the folder itself nor its copy "
    "in the destination folder.";

constexpr const char* kDestinationText =
    "Selecting a Destination Folder\r\n"
    "\r\n"
    "The destination folder is where the copies go, for example a folder on a USB drive or on a "
    "server share mapped to a drive letter. Click the \"...\" button beside the Destination "
    "Folder box, select a folder (or make a new one) and click OK. The folder then shows in the "
    "box under Destination Folder.\r\n"
    "\r\n"
    "Stowly keeps the path of each source folder below its drive root. For example, with the "
    "destination folder E:\\Backup\\ the source folder C:\\Data\\Projects\\ is copied to "
    "E:\\Backup\\Data\\Projects\\, and the file C:\\Data\\Projects\\plan.txt becomes "
    "E:\\Backup\\Data\\Projects\\plan.txt.\r\n"
    "\r\n"
    "The drive letter is not part of the copy, so C:\\Data\\ and D:\\Data\\ would both be "
    "copied to E:\\Backup\\Data\\. The destination folder cannot be the root of a source "
    "folder's drive (such as C:\\ for the source folder C:\\Data\\), because that would copy "
    "the source onto itself.";

constexpr const char* kLogFileText =
    "Creating a Log File\r\n"
    "\r\n"
    "The status list in the main window shows each step of a backup, and the Skipped Files list "
    "names every file that could not be copied. The log file gives the details: every file "
    "copied and, for each skipped file, the reason it was skipped, such as \"File not found.\" "
    "or \"Permission Denied\".\r\n"
    "\r\n"
    "To write a log, check the \"Create Log File\" box in the main window. The log is a plain "
    "text file named Stowly.log in the destination folder. The setting is saved at once and "
    "takes effect from the next line, even during a backup.\r\n"
    "\r\n"
    "The log keeps earlier backups too: each backup adds its lines at the end, separated from "
    "the one before by a dashed line. Once the log has grown past the size limit set in the "
    "Options window (100 MB unless you change it), it is deleted when the next backup starts, "
    "and a new log begins.";

constexpr const char* kOptionsText =
    "Options\r\n"
    "\r\n"
    "Click the Options button in the main window to open the Options window. Click Ok to save "
    "your changes, or Cancel to leave everything as it was. While a backup is copying files, "
    "the Options window can be looked at but not saved.\r\n"
    "\r\n"
    "Full Mirror deletes the copies of your source folders in the destination folder and then "
    "copies every file again. It takes the longest, and the copy matches the source "
    "exactly.\r\n"
    "\r\n"
    "Fast Mirror copies only the files whose Windows archive bit is set, which means they are "
    "new or have changed since the last backup, plus every file that is missing from the "
    "destination. Choosing Fast Mirror also checks the archive bit option, which Fast Mirror "
    "needs.\r\n"
    "\r\n"
    "Delete files from destination folder: after a Fast Mirror backup, Stowly deletes the files "
    "in the destination whose source file no longer exists. Folders are left in place, and the "
    "log file is never deleted. This option only matters in Fast Mirror; Full Mirror rebuilds "
    "the copies anyway.\r\n"
    "\r\n"
    "Use Windows Archive Bit: in either mode, Stowly clears the archive bit of each source file "
    "it has copied, so the next Fast Mirror backup finds only the files changed since. Leave "
    "this option unchecked if another backup program on this computer relies on the archive "
    "bit; unchecking it switches the mode to Full Mirror.\r\n"
    "\r\n"
    "Log File Size Limit: the largest size of the log file, from 1 to 999 MB (100 MB unless you "
    "change it). If the log is over the limit when a backup starts, it is deleted and a new log "
    "is started.";

constexpr const char* kBackupText =
    "Backup\r\n"
    "\r\n"
    "Click the Backup button to start a backup. Stowly then works through these steps and shows "
    "each of them in the status list:\r\n"
    "1. The settings are checked: at least one source folder and a destination folder are "
    "needed. Then you are asked to confirm the backup (not in silent mode).\r\n"
    "2. The log is started, when Create Log File is checked.\r\n"
    "3. The destination folder is checked by writing a small test file to it. In Full Mirror the "
    "copies of the source folders are then deleted from the destination.\r\n"
    "4. The master file list is built: every file to copy, or in Fast Mirror only the changed "
    "and missing ones.\r\n"
    "5. The files are copied. Meanwhile the Backup button reads Cancel: click it to stop once "
    "the file in hand is copied. Files that cannot be copied are listed under Skipped Files, "
    "and the log says why.\r\n"
    "6. In Fast Mirror, with the option to delete files checked, files whose source no longer "
    "exists are deleted from the destination. Only the files really deleted are counted.\r\n"
    "\r\n"
    "A backup can be cancelled only while files are being copied. At the end the button reads "
    "Backup again, and the status list shows how many files were copied and skipped, followed "
    "by \"FINISHED!  Backup is complete.\"\r\n"
    "\r\n"
    "A source folder that cannot be found, for example because its drive is not connected, is "
    "never wiped from the destination: its earlier copy stays as it was.";

constexpr const char* kRestoreText =
    "Restore\r\n"
    "\r\n"
    "Stowly has no restore function, and it needs none: the backup is a plain copy of your "
    "files and folders, with no compression and no archive format.\r\n"
    "\r\n"
    "To get files back, open the destination folder in File Explorer, find them under the path "
    "they had below their drive (E:\\Backup\\Data\\Projects\\ for C:\\Data\\Projects\\, for "
    "example) and copy them back to where you want them.";

constexpr const char* kViewLogText =
    "View Log\r\n"
    "\r\n"
    "Click the View Log button to open the log file in Notepad. The log is easier to read with "
    "word wrap turned off in Notepad. If there is no log file yet, Stowly says so.\r\n"
    "\r\n"
    "Each line of the log has these columns:\r\n"
    " * the date, as month-day-year;\r\n"
    " * the time, in 24-hour format;\r\n"
    " * the number of the file in the master file list, or a description of the step;\r\n"
    " * what happened to the file: Copying, with its source and destination paths, or Error, "
    "with the reason it was skipped.\r\n"
    "\r\n"
    "A dashed line separates each backup from the one before.";

constexpr const char* kSilentModeText =
    "Silent Mode\r\n"
    "\r\n"
    "With the S switch, Stowly starts minimised, runs a backup with the current settings, waits "
    "for it to end and closes. No confirmation is asked. This is how to run Stowly from a "
    "scheduled task.\r\n"
    "\r\n"
    "Run one normal backup first to check that everything works, and keep Create Log File "
    "checked, so you can see later what a silent backup did. If a source folder or the "
    "destination folder is missing from the settings, a message still appears and waits for "
    "you; when a backup cannot start, Stowly stays open.\r\n"
    "\r\n"
    "Example command line for a scheduled task:\r\n"
    "\"C:\\Tools\\Stowly\\Stowly.exe\" -S\r\n"
    "\r\n"
    "The switch comes after the closing double quote, separated from it by a blank. It can also "
    "be written /S.";

constexpr const char* kLocalModeText =
    "Local Mode\r\n"
    "\r\n"
    "Normally Stowly keeps its settings in the file Stowly.ini in your application data folder "
    "(%APPDATA%\\Quenvar\\Stowly\\). With the L switch it uses Stowly.ini in the folder of "
    "Stowly.exe instead, so the program and its settings travel together on a USB drive or "
    "another portable device.\r\n"
    "\r\n"
    "To use it, add the switch to a shortcut: right-click the shortcut, choose Properties and, "
    "in the Target box, add a blank and -L after the closing double quote, for example:\r\n"
    "\"E:\\Stowly\\Stowly.exe\" -L\r\n"
    "\r\n"
    "Without the switch, every Windows user of the computer has settings of their own. Leave "
    "the switch off unless you run Stowly from a portable device. The switches can be "
    "combined, for example -S -L.";

struct Topic {
  const char* item;
  int number;
  bool child;  // of "Backup Instructions"
  const char* text;
};

const Topic kTopics[] = {
    {"Stowly Overview", 100, false, kOverviewText},
    {"Backup Instructions", 200, false, kInstructionsText},
    {"Selecting Source Folders", 210, true, kSourceFoldersText},
    {"Selecting a Destination Folder", 220, true, kDestinationText},
    {"Creating a Log File", 230, true, kLogFileText},
    {"Options", 235, true, kOptionsText},
    {"Backup", 240, true, kBackupText},
    {"Restore", 245, true, kRestoreText},
    {"View Log", 250, true, kViewLogText},
    {"Silent Mode", 260, true, kSilentModeText},
    {"Local Mode", 270, true, kLocalModeText},
};

std::string TopicText(LPARAM number) {
  for (const Topic& topic : kTopics)
    if (topic.number == number) return topic.text;
  return {};
}

// Two help windows can be open at once; each handler works on the window it was called for.
HWND Item(HWND form, HelpControl control) { return GetDlgItem(form, g_ids[control]); }

int OnCreate(HWND form, LPARAM) {
  HWND tree = Item(form, kTopicTree);
  TreeSetTextColor(tree, kTreeText);
  TreeSetBackColor(tree, kTreeBack);
  SetText(Item(form, kVersionLabel), g_versionText);

  HWND picture = Item(form, kPicture);
  RECT client = {};
  GetClientRect(picture, &client);
  HANDLE icon = LoadImageA(GetModuleHandleA(nullptr), "IMAGE_EXTERNALHD", IMAGE_ICON,
                           client.right - client.left, client.bottom - client.top, LR_SHARED);
  SendMessageA(picture, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));

  HTREEITEM overview = nullptr, instructions = nullptr;
  for (const Topic& topic : kTopics) {
    HTREEITEM item = TreeInsert(tree, topic.child ? instructions : TVI_ROOT, topic.item, 0, 0, 0);
    TreeSetData(tree, item, topic.number);
    if (topic.number == 100) overview = item;
    if (topic.number == 200) instructions = item;
  }
  TreeExpand(tree, instructions, 1);
  TreeSelect(tree, overview);
  return 0;
}

int OnTopicChanged(int, HWND form, NMHDR* header, LPARAM) {
  auto* change = reinterpret_cast<NMTREEVIEWA*>(header);
  LPARAM topic = TreeGetData(header->hwndFrom, change->itemNew.hItem);
  SetText(Item(form, kTopicText), TopicText(topic));
  return 0;
}

int OnWebClicked(int, HWND, HWND, int) {
  ShellExecuteA(nullptr, "", STOWLY_MAKER_WEB_URL, "", "", SW_SHOWNORMAL);
  return 0;
}

int OnWebMouseMove(int, HWND, HWND, WPARAM, int, int) {
  SetCursor(LoadCursorA(nullptr, IDC_HAND));
  return 0;
}

const CommandRow kCommands[] = {{kWebLabel, STN_CLICKED, OnWebClicked}};
const NotifyRow kNotifies[] = {{kTopicTree, TVN_SELCHANGEDA, OnTopicChanged}};
const MouseMoveRow kMouseMoves[] = {{kWebLabel, OnWebMouseMove}};

LRESULT CALLBACK HelpFormProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK HelpControlProc(HWND, UINT, WPARAM, LPARAM);

const FormDef kDef = {"FORM_STOWLY_HELP_CLASS",
                      "Stowly Help",
                      545,
                      391,
                      WS_MINIMIZEBOX,
                      kControls,
                      kHelpControlCount,
                      kCommands,
                      static_cast<int>(std::size(kCommands)),
                      kNotifies,
                      static_cast<int>(std::size(kNotifies)),
                      kMouseMoves,
                      static_cast<int>(std::size(kMouseMoves)),
                      OnCreate,
                      kTopicTree,
                      &g_vars,
                      HelpFormProc,
                      HelpControlProc};

LRESULT CALLBACK HelpFormProc(HWND form, UINT message, WPARAM wParam, LPARAM lParam) {
  return FormProcedure(kDef, form, message, wParam, lParam);
}

LRESULT CALLBACK HelpControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  return ControlProcedure(kDef, control, message, wParam, lParam);
}

}  // namespace

const FormDef& HelpFormDef() { return kDef; }

HWND ShowHelpWindow(HWND parent) {
  LRESULT made = ShowForm(kDef, parent, 0, 0);
  return made == -1 ? nullptr : reinterpret_cast<HWND>(made);
}
