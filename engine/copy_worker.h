// The copy phase: master-list entries 1..found count, one at a time, each followed by a
// short pause.
#pragma once
#include "engine/job_progress.h"
#include "engine/job_state.h"
#include "engine/log_file.h"

class KeptVersions;

// What one copy phase works on and reports to.
struct CopyPhase {
  JobState& state;
  JobProgress& progress;
  LogWriter& log;
  KeptVersions* versions = nullptr;  // where older copies go, when they are kept
};

// Copies from the first entry until past the last or until a cancel is seen, which the
// file in hand is finished before; the file index tells how far it got.
void CopyListedFiles(CopyPhase& context);
