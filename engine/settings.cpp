#include "engine/settings.h"

#include <shlobj.h>

#include <climits>
#include <mutex>
#include <vector>

#include "engine/fs.h"
#include "engine/ini_text.h"

Settings g_settings;

namespace {

constexpr const char* kSection = "Main Settings";
constexpr size_t kLongestValue = 511;
constexpr size_t kLargestSettingsFile = 64u << 20;

std::mutex g_logPathLock;
std::string g_logFilePath = "Stowly.log";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Highest n for which a key "SourceFolder<n>" is stored, or 0. Lets a corrupt NumDirs
// load promptly instead of appending placeholders by the billion.
std::string ReadSettingsBytes();

int HighestStoredSourceKey() {
  int highest = 0;
  for (const std::string& key : IniKeys(IniTextAsUtf8(ReadSettingsBytes()), kSection)) {
    if (_strnicmp(key.c_str(), "SourceFolder", 12) != 0) continue;
    const char* digits = key.c_str() + 12;
    if (!IsDigit(digits[0]) || digits[0] == '0') continue;
    long long n = 0;
    const char* q = digits;
    while (IsDigit(*q) && n <= INT_MAX) n = n * 10 + (*q++ - '0');
    if (*q == 0 && n <= INT_MAX && n > highest) highest = static_cast<int>(n);
  }
  return highest;
}

// The settings file's bytes; none when it is missing or unreadable (a card reader with no
// card gives no system box either).
std::string ReadSettingsBytes() {
  QuietErrors quiet;
  ScopedHandle file(CreateFileW(FilePathW(g_settings.settingsPath).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  char buffer[16384];
  DWORD got = 0;
  while (file && bytes.size() < kLargestSettingsFile &&
         ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    bytes.append(buffer, got);
  return bytes;
}

// Written beside the file and moved over it, so a failed write (a full card) leaves the
// older settings whole. Failures are not reported.
void WriteSettingsBytes(const std::string& text) {
  QuietErrors quiet;
  const std::wstring path = FilePathW(g_settings.settingsPath), fresh = path + L".new";
  ScopedHandle file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  bool whole =
      WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size();
  file.Reset();
  if (!whole || !MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
    DeleteFileW(fresh.c_str());
}

// At most 511 bytes, never ending inside a character.
std::string CutToValueLimit(std::string value) {
  if (value.size() <= kLongestValue) return value;
  size_t cut = kLongestValue;
  while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
  value.resize(cut);
  return value;
}

void CreateFolderIfMissing(const std::string& path) {
  if (FileExists(path)) return;
  QuietErrors quiet;
  CreateDirectoryW(FilePathW(path).c_str(), nullptr);
}

// Rewrites SourceFolder1..NumDirs from the list, in list order.
void WriteSourceKeys(const std::vector<std::string>& lines) {
  WriteSetting("NumDirs", NumberText(g_settings.NumDirs));
  for (int i = 1; i <= g_settings.NumDirs; ++i)
    WriteSetting(SourceKey(i).c_str(), static_cast<size_t>(i) <= lines.size() ? lines[i - 1] : "");
}

// The executable's own path, read into a buffer that grows: a UTF-8 path may be far longer
// in bytes than in characters.
std::string ExePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return Utf8FromWide(path.substr(0, length));
    path.resize(path.size() * 2);
  }
}

// The per-user application-data folder, without a trailing backslash; empty when there is none.
std::string AppDataFolder() {
  PWSTR path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, &path)))
    folder = Utf8FromWide(path);
  CoTaskMemFree(path);
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

}  // namespace

std::string SourceKey(int position) { return "SourceFolder" + NumberText(position); }

std::string ExeFolder() {
  std::string path = ExePath();
  size_t cut = path.find_last_of('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string ResolveSettingsPath(bool localMode) {
  if (localMode) {
    g_settings.settingsPath = ExeFolder() + "Stowly.ini";
    return g_settings.settingsPath;
  }
  std::string folder = AppDataFolder();
  if (!folder.empty()) {
    folder += "\\Quenvar";
    CreateFolderIfMissing(folder);
    folder += "\\Stowly";
    CreateFolderIfMissing(folder);
  } else {
    folder = ExeFolder();
    if (!folder.empty()) folder.pop_back();
  }
  g_settings.settingsPath = folder + "\\Stowly.ini";
  return g_settings.settingsPath;
}

std::string ReadSetting(const char* key, const char* defaultValue) {
  std::string value;
  if (!FindIniValue(IniTextAsUtf8(ReadSettingsBytes()), kSection, key, value)) value = defaultValue;
  return CutToValueLimit(value);
}

void WriteSetting(const char* key, const std::string& value) {
  const std::string bytes = ReadSettingsBytes();
  std::string text = SetIniValue(IniTextAsUtf8(bytes), kSection, key, value);
  if (text != bytes) WriteSettingsBytes(text);
}

void SetLogFolder(const std::string& destination) {
  bool bare = !destination.empty() && destination.back() != '\\' && destination.back() != '/';
  SetLogFilePath(destination + (bare ? "\\" : "") + "Stowly.log");
}

std::string LogFilePath() {
  std::lock_guard<std::mutex> hold(g_logPathLock);
  return g_logFilePath;
}

void SetLogFilePath(const std::string& path) {
  std::lock_guard<std::mutex> hold(g_logPathLock);
  g_logFilePath = path;
}

// A switch stored by hand as anything but 0 or 1 reads as its default, the same for every
// step of a job; the file keeps its text until the user changes a setting.
static int ReadFlag(const char* key, int defaultValue) {
  int value = ParseNumber(ReadSetting(key, defaultValue ? "1" : "0"));
  return value == 0 || value == 1 ? value : defaultValue;
}

StoredSettings LoadSettings() {
  StoredSettings stored;
  stored.destination = ReadSetting("DestinationFolder", "");
  SetLogFolder(stored.destination);
  stored.logFile = ReadSetting("LogFile", "1") == "1";

  // Missing keys inside the stored range show as "*"; a count beyond the last stored key
  // or below zero is corrected, so NumDirs always equals the number of list lines.
  int wanted = ParseNumber(ReadSetting("NumDirs", "0"));
  int count = wanted <= 0 ? 0 : std::min(wanted, HighestStoredSourceKey());
  for (int i = 1; i <= count; ++i) stored.sources.push_back(ReadSetting(SourceKey(i).c_str(), "*"));
  g_settings.NumDirs = count;

  g_settings.FullMirror = ReadFlag("FullMirror", 1);
  g_settings.UseArchiveBit = ReadFlag("UseArchiveBit", 0);
  if (g_settings.UseArchiveBit == 0) g_settings.FullMirror = 1;
  g_settings.DeleteFiles = ReadFlag("DeleteFiles", 1);
  // A size of 0 or less would delete the log at every run.
  int maxLogSize = ParseNumber(ReadSetting("MaxLogSize", "104857600"));
  g_settings.MaxLogSize = maxLogSize <= 0 ? 104857600 : std::min(maxLogSize, kMaxLogSizeLimit);
  // Any number of days outside the range turns keeping off rather than guessing one.
  int days = ParseNumber(ReadSetting("KeepVersions", "0"));
  g_settings.KeepVersions = days >= 1 && days <= kMostKeptDays ? days : 0;
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
