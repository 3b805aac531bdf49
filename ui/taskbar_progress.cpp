#include "ui/taskbar_progress.h"

#include <utility>

namespace {

class ShellButton : public TaskbarButton {
 public:
  ShellButton(HWND window, ITaskbarList3* list) : window_(window), list_(list) {}
  ~ShellButton() override { list_->Release(); }
  ShellButton(const ShellButton&) = delete;
  ShellButton& operator=(const ShellButton&) = delete;
  void SetState(TBPFLAG state) override { list_->SetProgressState(window_, state); }
  void SetValue(ULONGLONG done, ULONGLONG total) override {
    list_->SetProgressValue(window_, done, total);
  }

 private:
  HWND window_;
  ITaskbarList3* list_;
};

}  // namespace

std::unique_ptr<TaskbarButton> ShellTaskbarButton(HWND window) {
  ITaskbarList3* list = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&list))) ||
      !list)
    return nullptr;
  if (FAILED(list->HrInit())) {
    list->Release();
    return nullptr;
  }
  return std::make_unique<ShellButton>(window, list);
}

void TaskbarProgress::Attach(std::unique_ptr<TaskbarButton> button) {
  button_ = std::move(button);
  if (!button_ || shown_ == TBPF_NOPROGRESS) return;
  button_->SetState(shown_);
  if (total_ > 0 && shown_ != TBPF_INDETERMINATE) ShowValue();
}

// The button is told only what changes; the shell repaints it at every call.
void TaskbarProgress::Show(TBPFLAG state) {
  if (state == shown_) return;
  shown_ = state;
  if (button_) button_->SetState(state);
}

void TaskbarProgress::ShowValue() {
  if (button_) button_->SetValue(static_cast<ULONGLONG>(done_), static_cast<ULONGLONG>(total_));
}

void TaskbarProgress::Listing() { Show(TBPF_INDETERMINATE); }

void TaskbarProgress::Copying(int done, int total) {
  if (total <= 0) return;
  if (done < 0) done = 0;
  if (done > total) done = total;
  Show(skipped_ ? TBPF_ERROR : TBPF_NORMAL);
  if (done == done_ && total == total_) return;
  done_ = done;
  total_ = total;
  ShowValue();
}

// Red from the first skipped file to the end of the job, also while the bar moves on.
void TaskbarProgress::FileSkipped() {
  skipped_ = true;
  if (shown_ == TBPF_NORMAL) Show(TBPF_ERROR);
}

void TaskbarProgress::Clear() {
  Show(TBPF_NOPROGRESS);
  skipped_ = false;
  done_ = total_ = 0;
}
