// Command-line switches and the version text.
#pragma once
#include <string>

extern std::string g_versionText;  // "Version 1.5.0 " (trailing blank included)
extern int g_versionMajor, g_versionMinor, g_versionRevision;

// The command line after the program name.
std::string CommandTail(const char* commandLine);
// The tail upper-cased, "-" turned into "/".
std::string BuildSwitchText(const std::string& tail);
// A plain substring test: /LOG turns on local mode, -silent silent mode.
bool HasSwitch(const std::string& switchText, char letter);
std::string BuildVersionText();
