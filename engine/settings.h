// The settings store: one INI file, section "Main Settings", read once when the main
// window is created and written key by key the moment the user changes something.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/numbers.h"

// Process-wide settings, read and written on the window's thread; a job takes what it
// needs as it starts (atomic, so no reader ever sees half a value).
struct Settings {
  std::string settingsPath;
  std::atomic<int> NumDirs{0};
  std::atomic<int> FullMirror{1};
  std::atomic<int> UseArchiveBit{0};
  std::atomic<int> DeleteFiles{1};
  std::atomic<int> MaxLogSize{104857600};
  std::atomic<int> KeepVersions{0};  // days the replaced and deleted copies are kept; 0 = off
};
extern Settings g_settings;

inline constexpr int kMaxLogSizeLimit = 1047527424;  // 999 MiB
inline constexpr int kMiB = 1048576;
inline constexpr int kMostKeptDays = 3650;

std::string ExeFolder();  // the executable's folder, ending with a backslash
std::string ResolveSettingsPath(bool localMode);
std::string ReadSetting(const char* key, const char* defaultValue);
void WriteSetting(const char* key, const std::string& value);
std::string SourceKey(int position);

// The log file path is read by the job's thread too, so it lives behind a lock.
std::string LogFilePath();
void SetLogFilePath(const std::string& path);
// "Stowly.log" in the destination folder; a folder written without its trailing
// backslash (a hand-edited file) still gets the log inside it, not beside it.
void SetLogFolder(const std::string& destination);

// What the main window shows of the stored settings; the rest lands in g_settings.
struct StoredSettings {
  std::string destination;
  bool logFile = true;
  std::vector<std::string> sources;
};
StoredSettings LoadSettings();
// Rewrite NumDirs and SourceFolder1..NumDirs from the source list's lines after one was
// added or deleted.
void SaveSourcesAfterAdd(const std::vector<std::string>& lines);
void SaveSourcesAfterDel(const std::vector<std::string>& lines);
