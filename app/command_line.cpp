#include "app/command_line.h"

#include <windows.h>

// Skips the program path (quoted, or up to the first blank) and the blanks after it.
std::string CommandTail(const char* commandLine) {
  const char* p = commandLine ? commandLine : "";
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (static_cast<unsigned char>(*p) > ' ') ++p;
  }
  while (*p == ' ') ++p;
  return p;
}

std::string BuildSwitchText(const std::string& tail) {
  std::string text = tail;
  if (!text.empty()) CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  for (char& c : text)
    if (c == '-') c = '/';
  return text;
}

bool HasSwitch(const std::string& switchText, char letter) {
  const char pattern[3] = {'/', letter, 0};
  return switchText.find(pattern) != std::string::npos;
}
