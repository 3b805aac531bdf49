// The log writer and the log size rule.
#pragma once
#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <string>

#include "engine/fs.h"

// "MM-DD-YYYY   HH:MM:SS   text" followed by CR LF, date and time from one reading of the
// clock: two readings could straddle midnight and stamp a line a whole day off.
std::string LogLine(const SYSTEMTIME& now, const std::string& text);

// Appends dated lines to the log file while it is enabled ("Create Log File", which the
// window may switch while a job writes); one per job. The file stays
// open between lines (readers may open it meanwhile) until Close. A line that cannot be
// written (a full or absent destination) waits in memory and goes before the next line
// that can be written; the next line opens the file afresh.
class LogWriter {
 public:
  // Takes effect at the next line, from any thread.
  void Enable(bool on) { enabled_ = on; }
  void Write(const std::string& text);
  // At a job's start: separator line appended to an existing log, which is deleted when
  // its size before that + 140 exceeds maxLogSize.
  void ApplySizeRule(int maxLogSize);
  // Writes what still waits, where it can, and lets go of the file: at a job's end. What
  // still cannot be written is dropped, so no later job's log receives it.
  void Close();
  // The log a job writes to, fixed as it starts; empty: wherever the settings say now.
  void UsePath(const std::string& path);

 private:
  bool Append(const std::string& path, const std::string& line);
  void Keep(std::string line);
  void WriteWaiting();

  std::atomic<bool> enabled_{true};
  // Threads take turns here; nothing that waits for another thread happens inside.
  std::mutex lock_;
  ScopedHandle file_;
  std::string openPath_;
  std::string path_;
  // Lines not written yet, oldest first, and their size, which stays within a cap.
  std::deque<std::string> waiting_;
  size_t waitingBytes_ = 0;
  std::string Path();
};
