#include "engine/job_progress.h"

int ReportList::Add(std::string line, bool select, uint64_t stamp) {
  lines_.push_back(std::move(line));
  stamps_.push_back(stamp);
  if (select) selected_ = Count() - 1;
  return Count();
}

void ReportList::ReplaceLast(std::string line, uint64_t stamp) {
  if (lines_.empty()) {
    Add(std::move(line), true, stamp);
    return;
  }
  lines_.back() = std::move(line);
  stamps_.back() = stamp;
  selected_ = Count() - 1;
}

void ReportList::Clear(uint64_t stamp) {
  lines_.clear();
  stamps_.clear();
  clearedAt_ = stamp;
  selected_ = -1;
}

// Only a suffix can have changed: lines are added at the end and only the last is rewritten.
ListChanges ReportList::Since(uint64_t seen) const {
  ListChanges changes;
  changes.cleared = clearedAt_ > seen;
  size_t from = lines_.size();
  while (from > 0 && stamps_[from - 1] > seen) --from;
  changes.from = static_cast<int>(from);
  changes.lines.assign(lines_.begin() + static_cast<std::ptrdiff_t>(from), lines_.end());
  changes.selected = selected_;
  return changes;
}

void JobProgress::StatusAdd(const std::string& text, bool select) {
  Write([&](uint64_t stamp) { status_.Add(text, select, stamp); });
}

void JobProgress::StatusReplaceLast(const std::string& text) {
  Write([&](uint64_t stamp) { status_.ReplaceLast(text, stamp); });
}

std::string JobProgress::StatusLast() const {
  std::lock_guard<std::mutex> hold(lock_);
  return status_.Last();
}

void JobProgress::StatusClear() {
  Write([&](uint64_t stamp) { status_.Clear(stamp); });
}

void JobProgress::CopyProgress(const std::string& text, int done, int total) {
  Write([&](uint64_t stamp) {
    if (done == 0)
      status_.Add(text, true, stamp);
    else
      status_.ReplaceLast(text, stamp);
    stage_ = JobStage::kCopying;
    done_ = done;
    total_ = total;
  });
}

int JobProgress::SkippedAdd(const std::string& path) {
  int count = 0;
  Write([&](uint64_t stamp) { count = skipped_.Add(path, true, stamp); });
  return count;
}

int JobProgress::SkippedCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return skipped_.Count();
}

void JobProgress::SkippedClear() {
  Write([&](uint64_t stamp) { skipped_.Clear(stamp); });
}

void JobProgress::SetSkippedLabel(const std::string& text) {
  Write([&](uint64_t stamp) { label_ = text, labelAt_ = stamp; });
}

void JobProgress::SetButton(const std::string& text, bool enabled) {
  Write([&](uint64_t stamp) { button_ = {text, enabled}, buttonAt_ = stamp; });
}

void JobProgress::SetStage(JobStage stage, int total) {
  Write([&](uint64_t) { stage_ = stage, done_ = 0, total_ = total; });
}

void JobProgress::Tell(const std::string& text, unsigned flags) {
  Write([&](uint64_t stamp) { messages_.emplace_back(stamp, JobMessage{text, flags}); });
}

void JobProgress::Begin() {
  cancel_ = 0;
  SetStage(JobStage::kWorking);
}

void JobProgress::Cancel(CancelLevel level) {
  int wanted = static_cast<int>(level), now = cancel_.load();
  while (now < wanted && !cancel_.compare_exchange_weak(now, wanted)) {
  }
}

ProgressView JobProgress::Take(uint64_t& seen) {
  wakeDue_ = false;  // a change from here on wakes the viewer again
  std::lock_guard<std::mutex> hold(lock_);
  ProgressView view;
  view.status = status_.Since(seen);
  view.skipped = skipped_.Since(seen);
  if (labelAt_ > seen) view.skippedLabel = label_;
  if (buttonAt_ > seen) view.button = button_;
  for (const auto& [stamp, message] : messages_)
    if (stamp > seen) view.messages.push_back(message);
  view.stage = stage_;
  view.done = done_;
  view.total = total_;
  seen = writes_;
  return view;
}
