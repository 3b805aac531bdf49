#include "ui/dialogs.h"

#include <shlobj.h>

#include "engine/fs.h"

int (*g_messageBoxHook)(HWND, const char*, const char*, UINT) = nullptr;
std::string (*g_chooseFolderHook)(HWND, const char*, const std::string&) = nullptr;

namespace {

// The item's file-system path, read wide so that no name passes through the ANSI code page.
std::string PathOfItem(PCIDLIST_ABSOLUTE item) {
  wchar_t path[MAX_PATH] = {};
  return item && SHGetPathFromIDListW(item, path) ? Utf8FromWide(path) : std::string();
}

int CALLBACK FolderDialogCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM startFolder) {
  if (message == BFFM_INITIALIZED) {
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, startFolder);
  } else if (message == BFFM_SELCHANGED) {
    std::string path = PathOfItem(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam));
    if (path.empty() || !FolderChoosable(path.c_str())) SendMessageA(dialog, BFFM_ENABLEOK, 0, 0);
  }
  return 0;
}

}  // namespace

int ShowMessage(HWND owner, const std::string& text, const char* caption, UINT flags) {
  if (g_messageBoxHook) return g_messageBoxHook(owner, text.c_str(), caption, flags);
  return MessageBoxA(owner, text.c_str(), caption, flags);
}

bool FolderChoosable(const char* path) {
  return path && path[0] && path[1] == ':' && IsFolder(path);
}

std::string ChooseFolder(HWND owner, const char* title, const std::string& startFolder) {
  if (g_chooseFolderHook) return g_chooseFolderHook(owner, title, startFolder);
  BROWSEINFOA info = {};
  info.hwndOwner = owner;
  info.lpszTitle = title;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_RETURNFSANCESTORS |
                 BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
  info.lpfn = FolderDialogCallback;
  const std::wstring start = WideFromUtf8(startFolder);
  info.lParam = reinterpret_cast<LPARAM>(start.c_str());
  PIDLIST_ABSOLUTE item = SHBrowseForFolderA(&info);
  if (!item) return {};
  std::string path = PathOfItem(item);
  CoTaskMemFree(item);
  return path;
}
