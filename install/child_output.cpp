#include "install/child_output.h"

#include <atomic>

#include "install/console_protocol.h"

void RestartWorker(std::unique_ptr<Utils::Thread>& worker, const wchar_t* name, std::function<void()> body) {
  worker.reset();
  worker = std::make_unique<Utils::Thread>(nullptr, name, [body = std::move(body)](void*) { body(); });
  ResumeThread(worker->handle());
}

std::unique_ptr<Utils::ChildProcess> LaunchChild(const std::wstring& commandLine, bool preferSystemDlls) {
  auto child = std::make_unique<Utils::ChildProcess>();
  try {
    child->CreateErrorPipe();
    child->CreateOutputPipe();
    child->CreateInputPipe();
    if (preferSystemDlls) child->PreferSystemDlls();
    child->Start(commandLine);
  } catch (const std::exception&) {
    return nullptr;  // the destructor closes whatever was opened
  }
  return child;
}

std::string LineBuffer::Take(std::string_view bytes) {
  pending_.append(bytes.substr(0, bytes.find('\0')));
  const size_t lastFeed = pending_.rfind('\n');
  std::string lines;
  if (pending_.size() > kMaxPendingLine) {
    lines.swap(pending_);
  } else if (lastFeed != std::string::npos) {
    lines = pending_.substr(0, lastFeed + 1);
    pending_.erase(0, lastFeed + 1);
  }
  return lines;
}

std::string LineBuffer::Rest() {
  std::string rest;
  rest.swap(pending_);
  return rest;
}

ChildOutputReader::Chunk ChildOutputReader::Read() {
  Chunk chunk;
  char buffer[protocol::kChunkBytes];
  DWORD n = 0;
  chunk.ok = ReadFile(child_.outputReadEnd(), buffer, sizeof(buffer), &n, nullptr) != FALSE;
  if (chunk.ok) {
    chunk.bytes.assign(buffer, n);
    chunk.lines = lines_.Take(chunk.bytes);
  }
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

DWORD ChildOutputReader::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (!GetExitCodeProcess(child_.process(), &code)) code = STILL_ACTIVE;
  return code;
}

namespace {

void SleepBetweenPolls() { Sleep(100); }

std::atomic<ChildOutputReader::PauseFunction> g_pause{&SleepBetweenPolls};

}  // namespace

void ChildOutputReader::Pause() { g_pause.load()(); }

ChildOutputReader::PauseFunction ChildOutputReader::SetPause(PauseFunction pause) {
  return g_pause.exchange(pause ? pause : &SleepBetweenPolls);
}
