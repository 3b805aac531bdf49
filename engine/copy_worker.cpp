#include "engine/copy_worker.h"

#include <objbase.h>

#include <string>

#include "app/settings.h"
#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/job_state.h"
#include "engine/log_file.h"
#include "engine/safe_copy.h"
#include "ui/controls.h"
#include "ui/main_window.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

constexpr int kPauseMs = 5;

// The pause after each file. Sleep rounds up to the system timer tick (15.6 ms by
// default), so a high-resolution waitable timer gives the real 5 ms where there is one.
class Pause {
 public:
  Pause()
      : timer_(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                      TIMER_ALL_ACCESS)) {}
  void Wait(int milliseconds) {
    LARGE_INTEGER due;
    due.QuadPart = -10000LL * milliseconds;
    if (timer_ && SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE) &&
        WaitForSingleObject(timer_.get(), 1000) == WAIT_OBJECT_0)
      return;
    Sleep(static_cast<DWORD>(milliseconds));
  }

 private:
  ScopedHandle timer_;
};

void ReportFailure(int n, const std::string& source, int code) {
  HWND skipped = MainControlHandle(kSkippedList);
  ListSelect(skipped, ListAdd(skipped, source));
  SetText(MainControlHandle(kSkippedLabel),
          std::to_string(ListCount(skipped)) + " Skipped files - See log for details");
  WriteLog("  " + std::to_string(n) + "   Error - " + FailureMessage(code) + "  " + source);
}

// Each message to the window costs a round trip to the user-interface thread, so the
// destination is read once per run and the progress line's index is remembered.
void CopyEntry(int n, int total, const std::string& destinationFolder, int& progressLine) {
  std::string source;
  if (n - 1 < static_cast<int>(g_job.masterList.size()))
    source = g_job.masterList[static_cast<size_t>(n - 1)];
  const std::string destination = DestinationPath(destinationFolder, source);

  HWND status = MainControlHandle(kStatusList);
  if (n > 1) ListDelete(status, progressLine >= 0 ? progressLine : ListCount(status) - 1);
  progressLine =
      ListAdd(status, "Copying file " + std::to_string(n) + " of " + std::to_string(total));
  ListSelect(status, progressLine);
  WriteLog("  " + std::to_string(n) + "   Copying " + source + " -> " + destination);

  // With no destination text (the main window is gone) the bare relative path would
  // land in the process's current folder, so nothing is touched.
  int code = destinationFolder.empty()
                 ? kPathNotFound
                 : CopyFileOver(source, destination, g_settings.UseArchiveBit == 1);
  if (code != 0) ReportFailure(n, source, code);
}

void CopyLoop() {
  Pause pause;
  const std::string destinationFolder = GetText(MainControlHandle(kDestinationBox));
  int progressLine = -1;
  for (;;) {
    if (g_job.workerIdle != 0 || g_job.cancel != 0) return;
    int n = ++g_job.fileIndex;
    int total = g_job.foundCount;
    if (n > total) return;
    CopyEntry(n, total, destinationFolder, progressLine);
    pause.Wait(kPauseMs);
  }
}

}  // namespace

DWORD WINAPI CopyWorker(LPVOID) {
  HRESULT com = CoInitialize(nullptr);
  CopyLoop();
  if (SUCCEEDED(com)) CoUninitialize();
  g_job.workerAlive = 0;
  return 0;
}

void WorkerEndCheck() {
  if (g_job.workerIdle != 0) return;
  if (g_job.fileIndex <= g_job.foundCount && g_job.cancel <= 0) return;
  g_job.workerIdle = 1;
  // Closing a valid handle does not fail; one that fails is not valid, and trying it
  // again would only hang the user-interface thread.
  if (HANDLE thread = g_job.workerThread.exchange(nullptr)) CloseHandle(thread);
}
