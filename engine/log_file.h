// The log writer, the log size rule and View Log.
#pragma once
#include <windows.h>

#include <string>

// "MM-DD-YYYY   HH:MM:SS   text" followed by CR LF.
std::string LogLine(const SYSTEMTIME& date, const SYSTEMTIME& time, const std::string& text);
// Appends one dated line while "Create Log File" is checked; safe from both threads.
void WriteLog(const std::string& text);
// At a job's start: separator line appended to an existing log, which is deleted when
// its size before that + 140 exceeds MaxLogSize.
void ApplyLogSizeRule();
// The View Log button.
int ViewLog();
