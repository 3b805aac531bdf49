#include "engine/copy_worker.h"

DWORD WINAPI CopyWorker(LPVOID) { return 0; }

void WorkerEndCheck() {}
