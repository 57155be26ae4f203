// Listens on the debug-output channel that OutputDebugString writes to when
// no debugger is attached (the shared "DBWIN_BUFFER" section and its two
// events). Only one listener can exist per session.
//
// Threads: Start() spawns one reader thread that owns the section; Stop()
// (or the destructor) ends and joins it. Lines() may be called from any thread.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/handles.h"

struct DebugOutputLine {
  DWORD pid;
  std::string text;  // as written: the system converts wide text to the ANSI code page
};

class DebugOutputListener {
 public:
  using Callback = std::function<void(const DebugOutputLine&)>;

  DebugOutputListener() = default;
  ~DebugOutputListener() { Stop(); }

  // False when another listener holds the channel or it cannot be created.
  bool Start(Callback onLine = nullptr);
  void Stop();

  std::vector<DebugOutputLine> Lines() const;
  // Waits until a line containing `needle` arrived (from `pid` when nonzero).
  bool WaitFor(const std::string& needle, DWORD timeoutMs, DWORD pid = 0);
  void Clear();

 private:
  void Run();

  Utils::UniqueHandle bufferReady_;
  Utils::UniqueHandle dataReady_;
  Utils::UniqueHandle section_;
  Utils::UniqueMappedView view_;
  Utils::UniqueHandle stop_;
  std::thread reader_;
  Callback onLine_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<DebugOutputLine> lines_;
};
