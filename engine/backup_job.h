#pragma once
#include <windows.h>

// One whole backup, run on the user-interface thread from the Backup button or the
// silent first paint; while the button reads "Cancel" it only requests a cancel.
int RunBackupJob(HWND owner);
