// What a running backup reports, shared by the job's thread, which writes it, and the
// window, which shows it: the status and skipped lists, the skipped-files label, the
// Backup button, the stage and counts for the taskbar, and the message boxes the job
// needs. The window asks for a cancel here too. Every write is stamped, so a viewer takes
// only what changed since the stamp it saw last, and a fresh viewer (stamp 0) everything.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// One list's changes since a viewer's last look.
struct ListChanges {
  bool cleared = false;  // empty the list first
  int from = 0;          // the viewer's lines from here on give way to lines
  std::vector<std::string> lines;
  int selected = -1;  // the selected line, -1 for none
};

// A list that only grows at its end, has its last line rewritten, or is emptied. Not
// locked: JobProgress guards it.
class ReportList {
 public:
  int Add(std::string line, bool select, uint64_t stamp);
  // Rewrites the last line (adds one to an empty list) and selects it.
  void ReplaceLast(std::string line, uint64_t stamp);
  void Clear(uint64_t stamp);
  int Count() const { return static_cast<int>(lines_.size()); }
  std::string Last() const { return lines_.empty() ? std::string() : lines_.back(); }
  ListChanges Since(uint64_t seen) const;

 private:
  std::vector<std::string> lines_;
  std::vector<uint64_t> stamps_;  // the write that made each line; never falls along the list
  uint64_t clearedAt_ = 0;
  int selected_ = -1;
};

// The taskbar's view of a job: listing (no count yet), copying (done of total), other work,
// and its end, after which the job's thread only returns.
enum class JobStage { kIdle, kWorking, kListing, kCopying, kEnded };

// What the window asks of a running job: its copying cancelled (now, or as soon as it
// begins), or everything stopped at once because the window is going away.
enum class CancelLevel : int { kNone, kCopying, kEverything };

struct ButtonState {
  std::string text;
  bool enabled = true;
};

struct JobMessage {
  std::string text;
  unsigned flags = 0;
};

// What a viewer takes: the lists' changes, the label and button when they changed, the
// message boxes not shown yet, and the stage as it is now.
struct ProgressView {
  ListChanges status, skipped;
  std::optional<std::string> skippedLabel;
  std::optional<ButtonState> button;
  std::vector<JobMessage> messages;
  JobStage stage = JobStage::kIdle;
  int done = 0, total = 0;
};

class JobProgress {
 public:
  // Runs on the job's thread after a change, once until the viewer takes what changed.
  // Set while no job runs.
  void OnChange(std::function<void()> wake) { wake_ = std::move(wake); }

  void StatusAdd(const std::string& text, bool select);
  void StatusReplaceLast(const std::string& text);
  std::string StatusLast() const;
  void StatusClear();
  // The copy phase's line for entry done + 1 of total: the first is added, each later one
  // rewrites it.
  void CopyProgress(const std::string& text, int done, int total);
  // Adds a path (selected) and returns the list's new count.
  int SkippedAdd(const std::string& path);
  int SkippedCount() const;
  void SkippedClear();
  void SetSkippedLabel(const std::string& text);
  void SetButton(const std::string& text, bool enabled);
  void SetStage(JobStage stage, int total = 0);
  // A message box for the window to show; the job does not wait for it.
  void Tell(const std::string& text, unsigned flags);

  // A job starts: no cancel asked for yet, and the last job's end no longer shown.
  void Begin();
  // Only ever raises the level, until the next job begins.
  void Cancel(CancelLevel level);
  CancelLevel CancelRequested() const { return static_cast<CancelLevel>(cancel_.load()); }

  // Everything written after seen, which becomes the latest stamp.
  ProgressView Take(uint64_t& seen);

 private:
  // Makes one change under the lock with the next stamp, then wakes the viewer.
  template <class Change>
  void Write(Change change) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      change(++writes_);
    }
    if (wake_ && !wakeDue_.exchange(true)) wake_();
  }

  mutable std::mutex lock_;
  uint64_t writes_ = 0;
  ReportList status_, skipped_;
  std::string label_;
  uint64_t labelAt_ = 0;
  ButtonState button_;
  uint64_t buttonAt_ = 0;
  std::vector<std::pair<uint64_t, JobMessage>> messages_;
  JobStage stage_ = JobStage::kIdle;
  int done_ = 0, total_ = 0;
  std::atomic<int> cancel_{0};
  std::atomic<bool> wakeDue_{false};
  std::function<void()> wake_;
};
