#pragma once
#include <windows.h>

// One whole backup, run on the user-interface thread from the Backup button or the
// silent first paint; while the button reads "Cancel" it only requests a cancel.
int RunBackupJob(HWND owner);

// Run by the main window's 500 ms timer: notices the end of the copy worker.
void WorkerEndCheck();

// The View Log button: opens the log in Notepad, or says there is none.
int ViewLog();
