#include "tools/dbwin/dbwin_listener.h"

#include <chrono>
#include <cstring>

namespace {
constexpr DWORD kBufferSize = 4096;
constexpr DWORD kIdleMs = 1000;
constexpr DWORD kHandOverMs = 200;
}  // namespace

bool DebugOutputListener::Start(Callback onLine) {
  onLine_ = std::move(onLine);
  Utils::UniqueHandle bufferReady(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
  if (!bufferReady || GetLastError() == ERROR_ALREADY_EXISTS) {
    Stop();
    return false;
  }
  bufferReady_ = std::move(bufferReady);
  dataReady_.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
  section_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER"));
  if (!dataReady_ || !section_) {
    Stop();
    return false;
  }
  view_.reset(MapViewOfFile(section_.get(), FILE_MAP_READ, 0, 0, kBufferSize));
  stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!view_ || !stop_) {
    Stop();
    return false;
  }
  reader_ = std::thread([this] { Run(); });
  return true;
}

void DebugOutputListener::Run() {
  const HANDLE waits[] = {dataReady_.get(), stop_.get()};
  const char* const view = static_cast<const char*>(view_.get());
  SetEvent(bufferReady_.get());
  for (;;) {
    DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kIdleMs);
    if (woke == WAIT_TIMEOUT) {
      // Quiet: either idle, or a writer was killed after taking the buffer
      // and never handed it over, and every later writer would wait ten
      // seconds per line and drop it. Still offered means idle.
      if (WaitForSingleObject(bufferReady_.get(), 0) == WAIT_OBJECT_0) {
        SetEvent(bufferReady_.get());
        continue;
      }
      // Taken: a live writer hands it over within moments.
      woke = WaitForMultipleObjects(2, waits, FALSE, kHandOverMs);
      if (woke == WAIT_TIMEOUT) {
        SetEvent(bufferReady_.get());
        continue;
      }
    }
    if (woke != WAIT_OBJECT_0) break;
    DebugOutputLine line;
    std::memcpy(&line.pid, view, sizeof(DWORD));
    line.text.assign(view + sizeof(DWORD), strnlen(view + sizeof(DWORD), kBufferSize - sizeof(DWORD)));
    if (onLine_) onLine_(line);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(std::move(line));
    }
    arrived_.notify_all();
    SetEvent(bufferReady_.get());
  }
}

void DebugOutputListener::Stop() {
  if (reader_.joinable()) {
    SetEvent(stop_.get());
    reader_.join();
  }
  view_.reset();
  for (Utils::UniqueHandle* h : {&bufferReady_, &dataReady_, &section_, &stop_}) h->reset();
}

std::vector<DebugOutputLine> DebugOutputListener::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void DebugOutputListener::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

bool DebugOutputListener::WaitFor(const std::string& needle, DWORD timeoutMs, DWORD pid) {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (const auto& l : lines_)
      if ((pid == 0 || l.pid == pid) && l.text.find(needle) != std::string::npos) return true;
    return false;
  });
}
