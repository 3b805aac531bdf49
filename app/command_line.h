// Command-line switches.
#pragma once
#include <string>

// The command line after the program name.
std::string CommandTail(const char* commandLine);
// The tail upper-cased, "-" turned into "/".
std::string BuildSwitchText(const std::string& tail);
// A plain substring test: /LOG turns on local mode, -silent silent mode.
bool HasSwitch(const std::string& switchText, char letter);
