// The program's two kinds of dialog: message boxes and the folder chooser. Tests swap
// the hooks to answer them, since a modal dialog cannot be driven from the same thread.
#pragma once
#include <windows.h>

#include <string>

inline constexpr const char* kMessageCaption = "Stowly Message";

int ShowMessage(HWND owner, const std::string& text, const char* caption = kMessageCaption,
                UINT flags = MB_OK | MB_ICONINFORMATION);
std::string ChooseFolder(HWND owner, const char* title, const std::string& startFolder);

// True when the folder dialog may offer the path: an existing folder on a drive letter.
bool FolderChoosable(const char* path);

extern int (*g_messageBoxHook)(HWND owner, const char* text, const char* caption, UINT flags);
extern std::string (*g_chooseFolderHook)(HWND owner, const char* title, const std::string& start);
