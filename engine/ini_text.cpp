#include "engine/ini_text.h"

#include <windows.h>

#include <vector>

namespace {

constexpr unsigned kFallbackCodePage = 1252;

std::string Recode(const std::string& bytes, unsigned from) {
  if (bytes.empty()) return {};
  int wide = MultiByteToWideChar(from, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (wide <= 0) return bytes;
  std::wstring text(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(from, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), wide);
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

std::string Utf8FromUtf16(const std::string& bytes) {
  std::wstring text(bytes.size() / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                      nullptr, nullptr);
  return utf8;
}

// Lines without their CR LF or LF.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                        b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool SectionName(const std::string& line, std::string& name) {
  std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] != '[') return false;
  name = Trim(trimmed.substr(
      1, trimmed.find(']') == std::string::npos ? std::string::npos : trimmed.find(']') - 1));
  return true;
}

bool KeyLine(const std::string& line, std::string& key, std::string& value) {
  size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  key = Trim(line.substr(0, equals));
  value = Trim(line.substr(equals + 1));
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    value = value.substr(1, value.size() - 2);
  return true;
}

// Index of the first line of section's first appearance, or npos; end is its last line + 1.
size_t FindSection(const std::vector<std::string>& lines, const std::string& section, size_t& end) {
  std::string name;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!SectionName(lines[i], name) || !SameName(name, section)) continue;
    for (end = i + 1; end < lines.size() && !SectionName(lines[end], name);) ++end;
    return i;
  }
  return std::string::npos;
}

}  // namespace

bool IsUtf8(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    unsigned c = *p++;
    if (c < 0x80) continue;
    int more = c >= 0xC2 && c <= 0xDF   ? 1
               : c >= 0xE0 && c <= 0xEF ? 2
               : c >= 0xF0 && c <= 0xF4 ? 3
                                        : -1;
    if (more < 0 || end - p < more) return false;
    unsigned lowest = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;   // no overlong forms
    unsigned highest = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;  // no surrogates, <= U+10FFFF
    if (p[0] < lowest || p[0] > highest) return false;
    for (int i = 1; i < more; ++i)
      if ((p[i] & 0xC0) != 0x80) return false;
    p += more;
  }
  return true;
}

unsigned SystemAnsiCodePage() {
  DWORD codePage = 0;
  const DWORD asNumber = LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER;
  const int size = sizeof codePage / sizeof(WCHAR);
  // Older systems (and Wine) know the system locale only by its number.
  if (GetLocaleInfoEx(LOCALE_NAME_SYSTEM_DEFAULT, asNumber, reinterpret_cast<LPWSTR>(&codePage),
                      size) == 0)
    GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, asNumber, reinterpret_cast<LPWSTR>(&codePage), size);
  return codePage == 0 || codePage == CP_UTF8 ? kFallbackCodePage : codePage;
}

std::string IniTextAsUtf8(const std::string& bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
    return Utf8FromUtf16(bytes.substr(2));
  std::string text = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? bytes.substr(3) : bytes;
  if (IsUtf8(text)) return text;
  std::string utf8;
  const unsigned ansi = SystemAnsiCodePage();
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(start, end - start);
    utf8 += IsUtf8(line) ? line : Recode(line, ansi);
    start = end;
  }
  return utf8;
}

std::vector<std::string> IniKeys(const std::string& text, const std::string& section) {
  std::vector<std::string> lines = SplitLines(text), keys;
  size_t end = 0;
  size_t at = FindSection(lines, section, end);
  std::string name, value;
  for (size_t i = at + 1; at != std::string::npos && i < end; ++i)
    if (KeyLine(lines[i], name, value)) keys.push_back(name);
  return keys;
}

bool FindIniValue(const std::string& text, const std::string& section, const std::string& key,
                  std::string& value) {
  std::vector<std::string> lines = SplitLines(text);
  size_t end = 0;
  size_t at = FindSection(lines, section, end);
  if (at == std::string::npos) return false;
  std::string name;
  for (size_t i = at + 1; i < end; ++i)
    if (KeyLine(lines[i], name, value) && SameName(name, key)) return true;
  return false;
}

std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value) {
  std::vector<std::string> lines = SplitLines(text);
  size_t end = 0;
  size_t at = FindSection(lines, section, end);
  std::string name, old;
  if (at == std::string::npos) {
    if (value.empty()) return text;
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + section + "]");
    lines.push_back(key + "=" + value);
  } else {
    size_t found = end, last = at;
    for (size_t i = at + 1; i < end && found == end; ++i) {
      if (KeyLine(lines[i], name, old) && SameName(name, key)) found = i;
      if (!Trim(lines[i]).empty()) last = i;
    }
    if (found != end && value.empty())
      lines.erase(lines.begin() + static_cast<long>(found));
    else if (found != end)
      lines[found] = name + "=" + value;
    else if (!value.empty())
      lines.insert(lines.begin() + static_cast<long>(last) + 1, key + "=" + value);
  }
  std::string joined;
  for (const std::string& line : lines) joined += line + "\r\n";
  return joined;
}
