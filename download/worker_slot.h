// The worker thread of a downloader's current attempt.
//
// Ownership: one slot per downloader, used by the downloader only. Start()
// may be called from any thread, including the current worker itself (the
// owner asks for the retry from inside the attempt's final callback, which
// runs on that worker). A thread cannot wait for itself, so in that case the
// old worker is handed to the new one, which waits for it to end before it
// does anything: the two attempts' callbacks never overlap and no thread is
// leaked. Join() (and the destructor) waits for both without a time limit.
#pragma once

#include <functional>
#include <memory>

#include "platform/thread.h"

namespace download {

class WorkerSlot {
 public:
  WorkerSlot() = default;
  ~WorkerSlot() { Join(); }
  WorkerSlot(const WorkerSlot&) = delete;
  WorkerSlot& operator=(const WorkerSlot&) = delete;

  // Runs body on a new thread named "ABDEF" with owner as its argument.
  void Start(void* owner, std::function<void()> body);
  void Join();
  bool IsCurrentThread() const;

 private:
  std::unique_ptr<Utils::Thread> current_;
  std::unique_ptr<Utils::Thread> previous_;  // only between a self-retry and the new worker's start
};

}  // namespace download
