// The copy worker thread, the worker-end check the main window's timer runs, and the one
// place a worker is started and waited for.
#pragma once
#include "engine/host.h"
#include "engine/job_state.h"
#include "engine/log_file.h"

class KeptVersions;

// What one worker run works on; it must outlive the worker thread.
struct WorkerContext {
  JobState& state;
  JobHost& host;
  LogWriter& log;
  KeptVersions* versions = nullptr;  // where older copies go, when they are kept
};

// Sets the file index to 0 and, unless a worker still runs, starts one over master-list
// entries 1..found count. A thread that cannot be made sets the cancel flag instead.
void StartCopyWorker(WorkerContext& context);
// Marks the worker idle once it is past the last entry or cancelled.
void WorkerEndCheck(JobState& state);
// Pumps through the host until the worker thread itself has ended (its last lines written).
void WaitForWorkerToEnd(JobState& state, JobHost& host);
// A whole worker run for callers without a timer: start, run the end check while
// waiting, wait for the thread.
void RunCopyWorker(WorkerContext& context);
