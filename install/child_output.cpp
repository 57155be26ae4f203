#include "install/child_output.h"

#include <atomic>

#include "install/console_protocol.h"

void RestartWorker(std::unique_ptr<Utils::Thread>& worker, const wchar_t* name, std::function<void()> body) {
  worker.reset();
  worker = std::make_unique<Utils::Thread>(nullptr, name, [body = std::move(body)](void*) { body(); });
  ResumeThread(worker->handle());
}

std::unique_ptr<Utils::ChildProcess> LaunchChild(const std::wstring& commandLine) {
  auto child = std::make_unique<Utils::ChildProcess>();
  try {
    child->CreateErrorPipe();
    child->CreateOutputPipe();
    child->CreateInputPipe();
    child->Start(commandLine);
  } catch (const std::exception&) {
    return nullptr;  // the destructor closes whatever was opened
  }
  return child;
}

ChildOutputReader::Chunk ChildOutputReader::Read() {
  Chunk chunk;
  char buffer[protocol::kChunkBytes];
  DWORD n = 0;
  chunk.ok = ReadFile(child_.outputReadEnd(), buffer, sizeof(buffer), &n, nullptr) != FALSE;
  if (chunk.ok) chunk.bytes.assign(buffer, n);
  return chunk;
}

DWORD ChildOutputReader::BufferedBytes() const {
  DWORD available = 0;
  return PeekNamedPipe(child_.outputReadEnd(), nullptr, 0, nullptr, &available, nullptr) ? available : 0;
}

bool ChildOutputReader::ChildRunning() const {
  DWORD code = 0;
  // A failed query counts as an exit: a process that cannot be asked is not
  // waited for by polling (the final wait still happens).
  return GetExitCodeProcess(child_.process(), &code) && code == STILL_ACTIVE;
}

namespace {

void SleepBetweenPolls() { Sleep(100); }

std::atomic<ChildOutputReader::PauseFunction> g_pause{&SleepBetweenPolls};

}  // namespace

void ChildOutputReader::Pause() { g_pause.load()(); }

ChildOutputReader::PauseFunction ChildOutputReader::SetPause(PauseFunction pause) {
  return g_pause.exchange(pause ? pause : &SleepBetweenPolls);
}
