// What both runners do with their child: launch it on redirected pipes, and
// read its standard output in chunks. Used on the runner's worker thread
// only; the child object belongs to the runner.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/child_process.h"
#include "platform/thread.h"

// Waits for the runner's earlier worker (without a limit), then starts a new
// one with this name and body, resumed at once.
void RestartWorker(std::unique_ptr<Utils::Thread>& worker, const wchar_t* name, std::function<void()> body);

// The started child, or null when a pipe or the process could not be
// created or the command line is too long (the runners report that as a
// launch failure). Utils::Exception stops here.
std::unique_ptr<Utils::ChildProcess> LaunchChild(const std::wstring& commandLine);

class ChildOutputReader {
 public:
  explicit ChildOutputReader(const Utils::ChildProcess& child) : child_(child) {}

  struct Chunk {
    bool ok = false;    // the read succeeded (it may still be empty)
    std::string bytes;  // at most protocol::kChunkBytes
  };
  // Blocks until output arrives or the pipe is broken.
  Chunk Read();
  // Bytes written before now that no read has taken yet; reading them does not block.
  DWORD BufferedBytes() const;
  // The exit code is still STILL_ACTIVE (259).
  bool ChildRunning() const;
  // The pause between polls after a read that delivered nothing: 100 ms.
  static void Pause();
  // Tests replace the pause (to count it); returns the previous one.
  using PauseFunction = void (*)();
  static PauseFunction SetPause(PauseFunction pause);

 private:
  const Utils::ChildProcess& child_;
};
