#include "engine/failure.h"

int FailureCodeFromWin32(DWORD error) { return error ? 1 : 0; }

const char* FailureMessage(int) { return "Unknown error!"; }

QuietErrors::QuietErrors() : old_(SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}

QuietErrors::~QuietErrors() { SetErrorMode(old_); }
