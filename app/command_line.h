// Command-line switches, the version text and the main window's start state.
#pragma once
#include <string>

extern std::string g_commandTail;  // the command line after the program name
extern std::string g_switchText;   // the tail upper-cased, "-" turned into "/"
extern std::string g_versionText;  // "Version 1.5.0 " (trailing blank included)
extern int g_versionMajor, g_versionMinor, g_versionRevision;

// 0 before the main window's first paint, 1 after it, 2 when it started a silent backup.
extern int g_startState;

std::string CommandTail(const char* commandLine);
std::string BuildSwitchText(const std::string& tail);
bool HasSwitch(char letter);
std::string BuildVersionText();
