#include "engine/backup_job.h"

#include "engine/job_state.h"

JobState g_job;

int RunBackupJob(HWND) { return 0; }
