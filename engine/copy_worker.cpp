#include "engine/copy_worker.h"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "engine/failure.h"
#include "engine/file_list.h"
#include "engine/fs.h"
#include "engine/job_rules.h"
#include "engine/link_safety.h"
#include "engine/safe_copy.h"
#include "engine/versions.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

constexpr int kPauseMs = 5;

// The pause after each file. Sleep rounds up to the system timer tick (15.6 ms by
// default), so a high-resolution waitable timer gives the real 5 ms where there is one.
// A timer may still wake a fraction of a millisecond late, so it sleeps all but the last
// millisecond and the rest is yielded away against the clock.
class Pause {
 public:
  Pause()
      : timer_(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                      TIMER_ALL_ACCESS)) {
    QueryPerformanceFrequency(&frequency_);
  }
  void Wait(int milliseconds) {
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    const LONGLONG end = start.QuadPart + frequency_.QuadPart * milliseconds / 1000;
    SleepOnTimer(milliseconds - 1);
    do {
      SwitchToThread();
      QueryPerformanceCounter(&now);
    } while (now.QuadPart < end);
  }

 private:
  void SleepOnTimer(int milliseconds) {
    if (milliseconds <= 0) return;
    LARGE_INTEGER due;
    due.QuadPart = -10000LL * milliseconds;
    if (timer_ && SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE) &&
        WaitForSingleObject(timer_.get(), 1000) == WAIT_OBJECT_0)
      return;
    Sleep(static_cast<DWORD>(milliseconds));
  }

  ScopedHandle timer_;
  LARGE_INTEGER frequency_ = {};
};

void ReportFailure(CopyPhase& c, int n, const std::string& source, int code) {
  ++c.state.failed;
  int count = c.progress.SkippedAdd(source);
  c.progress.SetSkippedLabel(std::to_string(count) + " Skipped files - See log for details");
  c.log.Write("  " + std::to_string(n) + "   " + ErrorLine(code, source));
}

// The destination files of one run, by the name Windows gives them (letter case and
// trailing dots and blanks do not count), each with the source copied there.
class CopiedNames {
 public:
  // False when another source file went to this name already in this run.
  bool Claim(const std::string& destination, const std::string& source) {
    auto [at, added] = names_.emplace(Key(destination), source);
    return added || at->second == source;
  }
  // Whether a copy may go into folder: never through a link in the destination, which would
  // write outside the backup. Looked at once per folder and run, when its leftover
  // temporaries are swept too.
  bool MayCopyInto(const std::string& destinationFolder, const std::string& folder,
                   const std::string& sourceFolder) {
    auto [at, added] = folders_.emplace(folder, true);
    if (!added) return at->second;
    at->second = !PathGoesThroughLink(destinationFolder, folder + "?");
    if (at->second) RemovePartialCopiesIn(folder, sourceFolder);
    return at->second;
  }

 private:
  static std::string Key(const std::string& path) {
    std::string key;
    for (size_t start = 0; start <= path.size();) {
      size_t end = std::min(path.find('\\', start), path.size());
      std::string part = path.substr(start, end - start);
      while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
      key += part + (end < path.size() ? "\\" : "");
      start = end + 1;
    }
    return Upper(key);
  }
  std::unordered_map<std::string, std::string> names_;
  std::unordered_map<std::string, bool> folders_;
};

void CopyEntry(CopyPhase& c, int n, int total, const std::string& destinationFolder,
               CopiedNames& copied) {
  std::string source;
  if (n - 1 < static_cast<int>(c.state.masterList.size()))
    source = c.state.masterList[static_cast<size_t>(n - 1)];
  const std::string destination = DestinationPath(destinationFolder, source);

  c.progress.CopyProgress("Copying file " + std::to_string(n) + " of " + std::to_string(total),
                          n - 1, total);
  c.log.Write("  " + std::to_string(n) + "   Copying " + source + " -> " + destination);

  // With no destination folder the bare relative path would land in the process's current
  // folder, so nothing is touched.
  int code = kPathNotFound;
  if (!destinationFolder.empty() && !copied.Claim(destination, source)) {
    code = kSameDestination;
  } else if (!destinationFolder.empty()) {
    std::string folder = destination.substr(0, destination.rfind('\\') + 1);
    code = !copied.MayCopyInto(destinationFolder, folder, source.substr(0, source.rfind('\\') + 1))
               ? kThroughLink
               : CopyFileOver(source, destination, c.state.clearArchive, true, c.versions);
    // Kept versions never cost a backup its room: the oldest go until the copy fits.
    while (code == kDiskFull && c.versions && c.versions->MakeRoom())
      code = CopyFileOver(source, destination, c.state.clearArchive, true, c.versions);
  }
  // What is in the way is the destination's to clear, so it is named there.
  bool inTheWay = code == kFolderInTheWay || code == kFileInTheWay;
  if (code != 0) ReportFailure(c, n, inTheWay ? destination : source, code);
}

}  // namespace

void CopyListedFiles(CopyPhase& c) {
  Pause pause;
  const std::string destinationFolder = c.state.destination;
  CopiedNames copied;
  c.state.fileIndex = 0;
  c.state.failed = 0;
  for (;;) {
    if (c.progress.CancelRequested() != CancelLevel::kNone) return;
    int n = ++c.state.fileIndex;
    int total = c.state.foundCount;
    if (n > total) return;
    CopyEntry(c, n, total, destinationFolder, copied);
    pause.Wait(kPauseMs);
  }
}
