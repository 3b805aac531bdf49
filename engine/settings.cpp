#include "engine/settings.h"

#include <shlobj.h>

#include <climits>
#include <mutex>
#include <vector>

Settings g_settings;

namespace {

constexpr const char* kSection = "Main Settings";

std::mutex g_logPathLock;
std::string g_logFilePath = "Stowly.log";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Highest n for which a key "SourceFolder<n>" is stored, or 0. Lets a corrupt NumDirs
// load promptly instead of appending placeholders by the billion.
int HighestStoredSourceKey() {
  std::vector<char> names(4096);
  for (;;) {
    DWORD got =
        GetPrivateProfileStringA(kSection, nullptr, "", names.data(),
                                 static_cast<DWORD>(names.size()), g_settings.settingsPath.c_str());
    if (got < names.size() - 2) break;
    if (names.size() >= (64u << 20)) break;  // a key list this large is garbage; use what we have
    names.resize(names.size() * 4);
  }
  int highest = 0;
  for (const char* p = names.data(); *p; p += strlen(p) + 1) {
    if (_strnicmp(p, "SourceFolder", 12) != 0) continue;
    const char* digits = p + 12;
    if (!IsDigit(digits[0]) || digits[0] == '0') continue;
    long long n = 0;
    const char* q = digits;
    while (IsDigit(*q) && n <= INT_MAX) n = n * 10 + (*q++ - '0');
    if (*q == 0 && n <= INT_MAX && n > highest) highest = static_cast<int>(n);
  }
  return highest;
}

void CreateFolderIfMissing(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(path.c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    FindClose(find);
    return;
  }
  CreateDirectoryA(path.c_str(), nullptr);
}

// Rewrites SourceFolder1..NumDirs from the list, in list order.
void WriteSourceKeys(const std::vector<std::string>& lines) {
  WriteSetting("NumDirs", NumberText(g_settings.NumDirs));
  for (int i = 1; i <= g_settings.NumDirs; ++i)
    WriteSetting(SourceKey(i).c_str(), static_cast<size_t>(i) <= lines.size() ? lines[i - 1] : "");
}

}  // namespace

std::string SourceKey(int position) { return "SourceFolder" + NumberText(position); }

std::string ExeFolder() {
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path);
  size_t cut = s.find_last_of('\\');
  return cut == std::string::npos ? std::string() : s.substr(0, cut + 1);
}

std::string ResolveSettingsPath(bool localMode) {
  if (localMode) {
    g_settings.settingsPath = ExeFolder() + "Stowly.ini";
    return g_settings.settingsPath;
  }
  std::string folder;
  if (HMODULE shell = LoadLibraryA("SHELL32.DLL")) {
    using GetFolderFn = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);
    auto get = reinterpret_cast<GetFolderFn>(
        reinterpret_cast<void*>(GetProcAddress(shell, "SHGetSpecialFolderPathA")));
    char buffer[MAX_PATH + 1] = {};
    if (get && get(nullptr, buffer, CSIDL_APPDATA, TRUE)) folder = buffer;
    FreeLibrary(shell);
  }
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  if (!folder.empty()) {
    folder += "\\Quenvar";
    CreateFolderIfMissing(folder);
    folder += "\\Stowly";
    CreateFolderIfMissing(folder);
  } else {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    folder = path;
    size_t cut = folder.find_last_of("\\/");
    folder = cut == std::string::npos ? std::string() : folder.substr(0, cut);
  }
  g_settings.settingsPath = folder + "\\Stowly.ini";
  return g_settings.settingsPath;
}

std::string ReadSetting(const char* key, const char* defaultValue) {
  char buffer[512] = {};
  GetPrivateProfileStringA(kSection, key, defaultValue, buffer, sizeof buffer,
                           g_settings.settingsPath.c_str());
  return buffer;
}

void WriteSetting(const char* key, const std::string& value) {
  WritePrivateProfileStringA(kSection, key, value.empty() ? nullptr : value.c_str(),
                             g_settings.settingsPath.c_str());
}

std::string LogFilePath() {
  std::lock_guard<std::mutex> hold(g_logPathLock);
  return g_logFilePath;
}

void SetLogFilePath(const std::string& path) {
  std::lock_guard<std::mutex> hold(g_logPathLock);
  g_logFilePath = path;
}

StoredSettings LoadSettings() {
  StoredSettings stored;
  stored.destination = ReadSetting("DestinationFolder", "");
  SetLogFilePath(stored.destination + "Stowly.log");
  stored.logFile = ReadSetting("LogFile", "1") == "1";

  // Missing keys inside the stored range show as "*"; a count beyond the last stored key
  // or below zero is corrected, so NumDirs always equals the number of list lines.
  int wanted = ParseNumber(ReadSetting("NumDirs", "0"));
  int count = wanted <= 0 ? 0 : std::min(wanted, HighestStoredSourceKey());
  for (int i = 1; i <= count; ++i) stored.sources.push_back(ReadSetting(SourceKey(i).c_str(), "*"));
  g_settings.NumDirs = count;

  g_settings.FullMirror = ParseNumber(ReadSetting("FullMirror", "1"));
  g_settings.UseArchiveBit = ParseNumber(ReadSetting("UseArchiveBit", "0"));
  if (g_settings.UseArchiveBit == 0) g_settings.FullMirror = 1;
  g_settings.DeleteFiles = ParseNumber(ReadSetting("DeleteFiles", "1"));
  g_settings.MaxLogSize =
      std::min(ParseNumber(ReadSetting("MaxLogSize", "104857600")), kMaxLogSizeLimit);
  return stored;
}

void SaveSourcesAfterAdd(const std::vector<std::string>& lines) {
  g_settings.NumDirs = g_settings.NumDirs + 1;
  WriteSourceKeys(lines);
}

void SaveSourcesAfterDel(const std::vector<std::string>& lines) {
  g_settings.NumDirs = g_settings.NumDirs - 1;
  WriteSourceKeys(lines);
  WriteSetting(SourceKey(g_settings.NumDirs + 1).c_str(), "");
}
