// The program's two kinds of dialog: message boxes and the folder chooser. Tests swap
// the hooks to answer them, since a modal dialog cannot be driven from the same thread.
#pragma once
#include <windows.h>

#include <string>

inline constexpr const char* kMessageCaption = "Stowly Message";

int ShowMessage(HWND owner, const std::string& text, const char* caption = kMessageCaption,
                UINT flags = MB_OK | MB_ICONINFORMATION);
// Where a chosen folder may lie: on a drive letter (a source, whose copy is named by its
// path below the drive root), or also on a network share named \\server\share (a
// destination, as a task run while nobody is logged on has no mapped letters).
enum class FolderPlace { kDriveLetter, kDriveLetterOrShare };

std::string ChooseFolder(HWND owner, const char* title, const std::string& startFolder,
                         FolderPlace place);

// True when the folder dialog may offer the path: an existing folder where place allows.
bool FolderChoosable(const char* path, FolderPlace place);

extern int (*g_messageBoxHook)(HWND owner, const char* text, const char* caption, UINT flags);
extern std::string (*g_chooseFolderHook)(HWND owner, const char* title, const std::string& start);
