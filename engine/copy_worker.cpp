#include "engine/copy_worker.h"

#include <objbase.h>

#include <string>

#include "app/settings.h"
#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/job_state.h"
#include "engine/log_file.h"
#include "ui/controls.h"
#include "ui/main_window.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

constexpr DWORD kSettableAttributes = 0x27;  // read-only, hidden, system, archive
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

// Size and time of a destination file, to tell afterwards whether a failed copy got as
// far as creating or overwriting it.
struct FileState {
  bool exists = false;
  DWORD sizeHigh = 0, sizeLow = 0;
  FILETIME written = {};
  bool operator==(const FileState& o) const {
    return exists == o.exists && sizeHigh == o.sizeHigh && sizeLow == o.sizeLow &&
           CompareFileTime(&written, &o.written) == 0;
  }
};

FileState ReadFileState(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  FileState state;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return state;
  state.exists = true;
  state.sizeHigh = data.nFileSizeHigh;
  state.sizeLow = data.nFileSizeLow;
  state.written = data.ftLastWriteTime;
  return state;
}

// One entry's file calls. Each failing call leaves its failure code in `code`; a
// successful one leaves it as it was.
struct EntryCalls {
  int code = 0;

  DWORD Attributes(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return attributes;
    code = LastFailureCode();
    return 0;
  }
  void SetAttributes(const std::wstring& path, DWORD attributes) {
    if (!SetFileAttributesW(path.c_str(), attributes & kSettableAttributes))
      code = LastFailureCode();
  }
  void Copy(const std::wstring& source, const std::wstring& destination) {
    if (!CopyFileW(source.c_str(), destination.c_str(), FALSE)) code = LastFailureCode();
  }
};

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A folder path for the attribute calls: without its trailing backslash, unless that
// would leave a bare drive designator.
std::string FolderForAttributes(std::string folder) {
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

// A copy that failed after it had created or overwritten the destination (a full disk
// part-way through) leaves a truncated file; it goes, so no damaged copy looks like a
// backup. A destination the failed copy never touched (source missing or locked,
// destination in use) is left as it was.
void RemoveDamagedCopy(const std::wstring& destination, const FileState& before) {
  FileState after = ReadFileState(destination);
  if (!after.exists || after == before) return;
  SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(destination.c_str());
}

void ReportFailure(int n, const std::string& source, int code) {
  HWND skipped = MainControlHandle(kSkippedList);
  ListSelect(skipped, ListAdd(skipped, source));
  SetText(MainControlHandle(kSkippedLabel),
          std::to_string(ListCount(skipped)) + " Skipped files - See log for details");
  WriteLog("  " + std::to_string(n) + "   Error - " + FailureMessage(code) + "  " + source);
}

// Copies one file over any older copy, making missing destination folders and trying
// once more when the path was missing; returns the failure code, 0 on success.
int CopyFileOver(const std::string& source, const std::string& destination) {
  const std::wstring sourceW = FilePathW(source);
  const std::wstring destinationW = FilePathW(destination);
  QuietErrors quiet;
  EntryCalls calls;
  if (calls.Attributes(destinationW) != 0) calls.SetAttributes(destinationW, 0);
  calls.code = 0;
  const FileState before = ReadFileState(destinationW);
  calls.Copy(sourceW, destinationW);
  if (calls.code == kPathNotFound) {
    calls.code = 0;
    std::string folder = FolderOf(destination);
    MakeFolderPath(folder);
    DWORD folderAttributes = calls.Attributes(FilePathW(FolderForAttributes(FolderOf(source))));
    calls.SetAttributes(FilePathW(FolderForAttributes(folder)), folderAttributes);
    calls.code = 0;
    calls.Copy(sourceW, destinationW);
  }
  if (calls.code != 0) {
    RemoveDamagedCopy(destinationW, before);
  } else if (g_settings.UseArchiveBit == 1) {
    // A source whose attributes cannot be read is left alone rather than stripped.
    DWORD attributes = GetFileAttributesW(sourceW.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
      SetFileAttributesW(sourceW.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE) &
                                              kSettableAttributes);
  }
  return calls.code;
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
  int code = destinationFolder.empty() ? kPathNotFound : CopyFileOver(source, destination);
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
