#include "ui/dialogs.h"

#include <shlobj.h>

#include "engine/fs.h"

int (*g_messageBoxHook)(HWND, const char*, const char*, UINT) = nullptr;
std::string (*g_chooseFolderHook)(HWND, const char*, const std::string&) = nullptr;

namespace {

struct FolderRequest {
  const wchar_t* startFolder;
  FolderPlace place;
};

// The item's file-system path, read wide so that no name passes through the ANSI code page.
std::string PathOfItem(PCIDLIST_ABSOLUTE item) {
  wchar_t path[MAX_PATH] = {};
  return item && SHGetPathFromIDListW(item, path) ? Utf8FromWide(path) : std::string();
}

int CALLBACK FolderDialogCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM data) {
  const auto* request = reinterpret_cast<const FolderRequest*>(data);
  if (message == BFFM_INITIALIZED) {
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(request->startFolder));
  } else if (message == BFFM_SELCHANGED) {
    // A server (\\server) has no path of its own, so it is never offered.
    std::string path = PathOfItem(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam));
    if (!FolderChoosable(path.c_str(), request->place)) SendMessageA(dialog, BFFM_ENABLEOK, 0, 0);
  }
  return 0;
}

}  // namespace

int ShowMessage(HWND owner, const std::string& text, const char* caption, UINT flags) {
  if (g_messageBoxHook) return g_messageBoxHook(owner, text.c_str(), caption, flags);
  return MessageBoxW(owner, WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(), flags);
}

bool FolderChoosable(const char* path, FolderPlace place) {
  if (!path || !path[0]) return false;
  bool share = path[0] == '\\' && path[1] == '\\' && place == FolderPlace::kDriveLetterOrShare;
  return (path[1] == ':' || share) && IsFolder(path);
}

// The tree reaches the network's servers and shares (no flag keeps it above the domain or
// to file-system ancestors); the callback decides which folders may be chosen.
std::string ChooseFolder(HWND owner, const char* title, const std::string& startFolder,
                         FolderPlace place) {
  if (g_chooseFolderHook) return g_chooseFolderHook(owner, title, startFolder);
  const std::wstring start = WideFromUtf8(startFolder);
  FolderRequest request = {start.c_str(), place};
  BROWSEINFOA info = {};
  info.hwndOwner = owner;
  info.lpszTitle = title;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
  info.lpfn = FolderDialogCallback;
  info.lParam = reinterpret_cast<LPARAM>(&request);
  PIDLIST_ABSOLUTE item = SHBrowseForFolderA(&info);
  if (!item) return {};
  std::string path = PathOfItem(item);
  CoTaskMemFree(item);
  return path;
}
