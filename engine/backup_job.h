#pragma once
#include <windows.h>

// One whole backup, run on the user-interface thread from the Backup button or the
// silent first paint; while the button reads "Cancel" it only requests a cancel.
int RunBackupJob(HWND owner);

// True from the end of a job's checks and confirmation until the job has ended.
bool BackupJobRunning();

// A request to close the main window while a job runs: the copy phase is cancelled (now,
// or as soon as it begins) and the job closes the window once it and its worker have ended.
void RequestCloseAfterJob();

// The main window is being destroyed: a running copy worker stops after the file in hand,
// before it can read a control that is gone; the job's wait then waits for it to end.
void StopCopyingBeforeWindowsGo();
