// What both runners do with their child: launch it on redirected pipes, and
// read its standard output in chunks. Used on the runner's worker thread
// only; the child object belongs to the runner.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/child_process.h"
#include "platform/thread.h"

// Waits for the runner's earlier worker (without a limit), then starts a new
// one with this name and body, resumed at once.
void RestartWorker(std::unique_ptr<Utils::Thread>& worker, const wchar_t* name, std::function<void()> body);

// The started child, or null when a pipe or the process could not be
// created or the command line is too long (the runners report that as a
// launch failure). Utils::Exception stops here. preferSystemDlls: see
// Utils::ChildProcess::PreferSystemDlls.
std::unique_ptr<Utils::ChildProcess> LaunchChild(const std::wstring& commandLine, bool preferSystemDlls = false);

// Whether the process never ran: its one thread is still suspended, as
// CreateProcess leaves a child whose caller was killed before the last step
// (resuming the thread), or it has no thread at all. Such a child never
// runs and holds its file open.
bool NeverStarted(DWORD processId);

// Ends every process of this image that never started: it has run nothing,
// so ending it loses nothing. A process that runs is left alone.
void EndNeverStartedRuns(const std::wstring& image);

// Joins a child's output into whole lines across reads. A child's line can
// arrive in two reads (it wrote it in two pieces, or a read of 1024 bytes
// cut it); parsed piece by piece, "State=Fa" + "il" would be no final line at
// all and "Error=disk " + "full" a shortened message.
class LineBuffer {
 public:
  // A line longer than this is handed out as it stands, so a child that
  // never ends its line cannot make the runner hold unbounded memory.
  static constexpr size_t kMaxPendingLine = 64 * 1024;

  // Adds one read's bytes (cut at their first zero byte, as a chunk always
  // was) and returns every line completed so far, line feeds included, or
  // the pending text once it exceeds kMaxPendingLine; empty when no line is
  // complete yet.
  std::string Take(std::string_view bytes);
  // What is left when the output has ended: the last line without its line
  // feed, or empty.
  std::string Rest();

 private:
  std::string pending_;
};

class ChildOutputReader {
 public:
  explicit ChildOutputReader(const Utils::ChildProcess& child) : child_(child) {}

  struct Chunk {
    bool ok = false;    // the read succeeded (it may still be empty)
    std::string bytes;  // what the read delivered, at most protocol::kChunkBytes
    std::string lines;  // the whole lines it completed (LineBuffer::Take)
  };
  // Blocks until output arrives or the pipe is broken.
  Chunk Read();
  // The line the output ended in without a line feed, or empty.
  std::string Rest() { return lines_.Rest(); }
  // Bytes written before now that no read has taken yet; reading them does not block.
  DWORD BufferedBytes() const;
  // The exit code is still STILL_ACTIVE (259).
  bool ChildRunning() const;
  // The exit code, or STILL_ACTIVE when it cannot be asked.
  DWORD ExitCode() const;
  // Waits up to ms for the child's exit.
  void WaitForExit(DWORD ms) const;
  // The pause between polls after a read that delivered nothing: 100 ms.
  static void Pause();
  // Tests replace the pause (to count it); returns the previous one.
  using PauseFunction = void (*)();
  static PauseFunction SetPause(PauseFunction pause);

 private:
  const Utils::ChildProcess& child_;
  LineBuffer lines_;
};

// How FollowChildOutput ended.
enum class OutputEnd {
  kSettled,  // onLines said the run has settled; the child may still run
  kExited,   // the child exited and what it left in the pipe has been read
  kRanOn,    // awaitingExit held and the child ran on past exitLimitMs
};

// The read loop of both runners. Hands each batch of whole lines (possibly
// empty) to onLines until it returns true, or until the child has exited and
// exactly the bytes it left in the pipe are read (then the line the output
// ended in without a line feed), never what descendants write later. Reads
// block until output arrives or every writer has gone, so a descendant that
// inherited the output keeps the run waiting while the child runs. Once
// awaitingExit returns true and nothing is left to read, the loop stops
// reading and waits for the exit, for at most exitLimitMs. A read that
// delivered nothing (a child that closed its output but runs on) is followed
// by the pause (ChildOutputReader::Pause); a read that delivered data is not:
// waiting would only let output pile up in the pipe.
OutputEnd FollowChildOutput(ChildOutputReader& reader, const std::function<bool(const std::string&)>& onLines,
                            const std::function<bool()>& awaitingExit = {}, DWORD exitLimitMs = INFINITE);
