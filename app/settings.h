// The settings store: one INI file, section "Main Settings", read once when the main
// window is created and written key by key the moment the user changes something.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>

// Process-wide settings. Atomic because the copy worker reads UseArchiveBit while the
// options window may store it; everything else runs on the user-interface thread.
struct Settings {
  std::string settingsPath;
  std::atomic<int> NumDirs{0};
  std::atomic<int> FullMirror{1};
  std::atomic<int> UseArchiveBit{0};
  std::atomic<int> DeleteFiles{1};
  std::atomic<int> MaxLogSize{104857600};
};
extern Settings g_settings;

inline constexpr int kMaxLogSizeLimit = 1047527424;  // 999 MiB
inline constexpr int kMiB = 1048576;

// Number parsing shared by the INI, the font specs and the options size box.
double ParseNumberValue(const std::string& text);
int RoundToInt32(double value);
int ParseNumber(const std::string& text);
std::string NumberText(long long value);

std::string ExeFolder();  // the executable's folder, ending with a backslash
std::string ResolveSettingsPath(bool localMode);
std::string ReadSetting(const char* key, const char* defaultValue);
void WriteSetting(const char* key, const std::string& value);
std::string SourceKey(int position);

// The log file path is read by the copy worker too, so it lives behind a lock.
std::string LogFilePath();
void SetLogFilePath(const std::string& path);

void LoadSettings(HWND destinationBox, HWND logCheckBox, HWND sourceList);
void SaveSourcesAfterAdd(HWND sourceList);
void SaveSourcesAfterDel(HWND sourceList);
