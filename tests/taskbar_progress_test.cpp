#include "ui/taskbar_progress.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// Writes down what the taskbar button is told.
class Recorder : public TaskbarButton {
 public:
  explicit Recorder(std::vector<std::string>* calls) : calls_(calls) {}
  void SetState(TBPFLAG state) override {
    const char* name = state == TBPF_NOPROGRESS      ? "none"
                       : state == TBPF_INDETERMINATE ? "indeterminate"
                       : state == TBPF_NORMAL        ? "normal"
                       : state == TBPF_ERROR         ? "error"
                                                     : "other";
    calls_->push_back(name);
  }
  void SetValue(ULONGLONG done, ULONGLONG total) override {
    calls_->push_back(std::to_string(done) + "/" + std::to_string(total));
  }

 private:
  std::vector<std::string>* calls_;
};

using Step = std::function<void(TaskbarProgress&)>;
Step Listing() {
  return [](TaskbarProgress& p) { p.Listing(); };
}
Step Copying(int done, int total) {
  return [=](TaskbarProgress& p) { p.Copying(done, total); };
}
Step Skipped() {
  return [](TaskbarProgress& p) { p.FileSkipped(); };
}
Step Clear() {
  return [](TaskbarProgress& p) { p.Clear(); };
}

TEST(TaskbarProgress, FollowsTheJobsPhases) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> told;
  };
  const Case cases[] = {
      {"a clean job",
       {Listing(), Copying(0, 10), Copying(5, 10), Copying(10, 10), Clear()},
       {"indeterminate", "normal", "0/10", "5/10", "10/10", "none"}},
      {"a skipped file turns the bar red for the rest of the job",
       {Listing(), Copying(1, 4), Skipped(), Copying(2, 4), Skipped(), Copying(4, 4), Clear()},
       {"indeterminate", "normal", "1/4", "error", "2/4", "4/4", "none"}},
      {"a file skipped before the first count shows red at once",
       {Listing(), Skipped(), Copying(1, 2)},
       {"indeterminate", "error", "1/2"}},
      {"the next job starts clean",
       {Copying(1, 2), Skipped(), Clear(), Listing(), Copying(1, 3)},
       {"normal", "1/2", "error", "none", "indeterminate", "normal", "1/3"}},
      {"repeats are not told again",
       {Listing(), Listing(), Copying(3, 9), Copying(3, 9)},
       {"indeterminate", "normal", "3/9"}},
      {"counts stay within the bar",
       {Copying(12, 10), Copying(-1, 10)},
       {"normal", "10/10", "0/10"}},
      {"nothing found to copy shows no bar", {Copying(0, 0), Clear()}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> told;
    TaskbarProgress progress(std::make_unique<Recorder>(&told));
    for (const Step& step : c.steps) step(progress);
    EXPECT_EQ(told, c.told);
  }
}

// Without the shell's taskbar list (as under Wine) every call simply does nothing.
TEST(TaskbarProgress, CarriesOnWhereTheShellHasNoTaskbarList) {
  HRESULT com = CoInitialize(nullptr);
  HWND window = CreateWindowExA(0, "Static", "job", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                                100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(window);
  std::unique_ptr<TaskbarProgress> both[] = {
      std::make_unique<TaskbarProgress>(window),
      std::make_unique<TaskbarProgress>(std::unique_ptr<TaskbarButton>())};
  for (auto& progress : both) {
    progress->Listing();
    progress->Copying(1, 2);
    progress->FileSkipped();
    progress->Clear();
  }
  EXPECT_TRUE(IsWindow(window));
  DestroyWindow(window);
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace
