// Numbers read from and written into texts: INI values, font specs, the log size box.
#pragma once
#include <string>

// The number at the start of the text, with its fraction: blanks, tabs and line feeds
// are skipped, a sign is taken, anything after the number is ignored; no number gives 0.
double ParseNumberValue(const std::string& text);
// Nearest integer, ties to even; values beyond the 32-bit range saturate.
int RoundToInt32(double value);
int ParseNumber(const std::string& text);
// Plain decimal digits: no padding, no separators.
std::string NumberText(long long value);
