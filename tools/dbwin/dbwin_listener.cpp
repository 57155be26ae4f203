#include "tools/dbwin/dbwin_listener.h"

#include <chrono>
#include <cstring>

namespace {
constexpr DWORD kBufferSize = 4096;
}

bool DebugOutputListener::Start(Callback onLine) {
  onLine_ = std::move(onLine);
  bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
  if (!bufferReady_ || GetLastError() == ERROR_ALREADY_EXISTS) {
    Stop();
    return false;
  }
  dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
  section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER");
  if (!dataReady_ || !section_) {
    Stop();
    return false;
  }
  view_ = static_cast<const char*>(MapViewOfFile(section_, FILE_MAP_READ, 0, 0, kBufferSize));
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!view_ || !stop_) {
    Stop();
    return false;
  }
  reader_ = std::thread([this] { Run(); });
  return true;
}

void DebugOutputListener::Run() {
  const HANDLE waits[] = {dataReady_, stop_};
  SetEvent(bufferReady_);
  while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
    DebugOutputLine line;
    std::memcpy(&line.pid, view_, sizeof(DWORD));
    line.text.assign(view_ + sizeof(DWORD), strnlen(view_ + sizeof(DWORD), kBufferSize - sizeof(DWORD)));
    if (onLine_) onLine_(line);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(std::move(line));
    }
    arrived_.notify_all();
    SetEvent(bufferReady_);
  }
}

void DebugOutputListener::Stop() {
  if (reader_.joinable()) {
    SetEvent(stop_);
    reader_.join();
  }
  if (view_) UnmapViewOfFile(view_);
  for (HANDLE* h : {&bufferReady_, &dataReady_, &section_, &stop_}) {
    if (*h) CloseHandle(*h);
    *h = nullptr;
  }
  view_ = nullptr;
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
