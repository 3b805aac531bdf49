// The settings file's text. It is UTF-8; a line an editor saved in the system's ANSI code
// page is read in that code page, and the next write stores the whole file as UTF-8.
#pragma once
#include <string>
#include <vector>

bool IsUtf8(const std::string& bytes);
// The ANSI code page of the system locale (the process's own is UTF-8 by its manifest).
unsigned SystemAnsiCodePage();
// The file's bytes as UTF-8 text; a UTF-16 file or one with a UTF-8 mark is taken too.
std::string IniTextAsUtf8(const std::string& bytes);
// The value of key in section (names ignore case); false when it is not there.
bool FindIniValue(const std::string& text, const std::string& section, const std::string& key,
                  std::string& value);
// The names of the keys in section, in file order.
std::vector<std::string> IniKeys(const std::string& text, const std::string& section);
// The text with key set to value in section, CR LF lines; an empty value removes the key.
// A new key goes after the section's last line, a new section at the end.
std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value);
