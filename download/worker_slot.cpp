#include "download/worker_slot.h"

namespace download {

bool WorkerSlot::IsCurrentThread() const { return current_ && current_->id() == GetCurrentThreadId(); }

void WorkerSlot::Start(void* owner, std::function<void()> body) {
  if (IsCurrentThread()) {
    previous_ = std::move(current_);
  } else if (current_) {
    current_->Release();
    current_.reset();
  }
  current_ = std::make_unique<Utils::Thread>(owner, L"ABDEF", [this, body = std::move(body)](void*) {
    if (previous_) {
      previous_->Release();
      previous_.reset();
    }
    body();
  });
  if (current_->handle()) ResumeThread(current_->handle());
}

void WorkerSlot::Join() {
  if (IsCurrentThread()) {
    // Destroyed from inside its own callback (unsupported): waiting would
    // never return, so the wrapper is left to the ending thread.
    (void)current_.release();
    return;
  }
  if (current_) {
    current_->Release();
    current_.reset();
  }
  if (previous_) {
    previous_->Release();
    previous_.reset();
  }
}

}  // namespace download
