// The copy worker thread and the worker-end check the main window's timer runs.
#pragma once
#include <windows.h>

DWORD WINAPI CopyWorker(LPVOID unused);
void WorkerEndCheck();
