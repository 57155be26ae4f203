#include "install/child_output.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "install/console_protocol.h"
#include "platform/handles.h"
#include "platform/log.h"

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
  } catch (const Utils::Exception& e) {
    // The runners report a bare launch failure; its cause stays in the log.
    OV_LOGS(L"launch failed:%S error %lu", e.what(), e.error());
    return nullptr;  // the destructor closes whatever was opened
  } catch (const std::exception&) {
    return nullptr;
  }
  return child;
}

bool NeverStarted(DWORD processId) {
  const Utils::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return false;
  int threads = 0, suspended = 0;
  THREADENTRY32 thread = {};
  thread.dwSize = sizeof(thread);
  for (BOOL more = Thread32First(snapshot.get(), &thread); more; more = Thread32Next(snapshot.get(), &thread)) {
    if (thread.th32OwnerProcessID != processId) continue;
    ++threads;
    // The count before this suspension tells whether it was suspended.
    const Utils::UniqueHandle handle(OpenThread(THREAD_SUSPEND_RESUME, FALSE, thread.th32ThreadID));
    const DWORD previous = handle ? SuspendThread(handle.get()) : static_cast<DWORD>(-1);
    if (previous == static_cast<DWORD>(-1)) continue;
    ResumeThread(handle.get());
    if (previous > 0) ++suspended;
  }
  // Under Wine a new process starts its first thread itself, so one whose
  // creator was killed first can stay without any.
  return threads == 0 || (threads == 1 && suspended == 1);
}

namespace {

// The long form, so that a path through a short (8.3) temp folder matches.
std::wstring LongPath(const std::wstring& path) {
  wchar_t full[MAX_PATH] = {};
  const DWORD length = GetLongPathNameW(path.c_str(), full, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(full, length) : path;
}

}  // namespace

void EndNeverStartedRuns(const std::wstring& image) {
  std::vector<DWORD> named;
  Utils::ForEachProcess([&](const PROCESSENTRY32W& entry) {
    if (_wcsicmp(entry.szExeFile, PathFindFileNameW(image.c_str())) == 0) named.push_back(entry.th32ProcessID);
    return true;
  });
  const std::wstring wanted = LongPath(image);
  for (const DWORD id : named) {
    const Utils::UniqueHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    wchar_t running[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (!process || !QueryFullProcessImageNameW(process.get(), 0, running, &length) ||
        _wcsicmp(LongPath(running).c_str(), wanted.c_str()) != 0 || !NeverStarted(id))
      continue;
    OV_LOGS(L"ending %s, started but never run: %lu", image.c_str(), static_cast<unsigned long>(id));
    TerminateProcess(process.get(), ERROR_PROCESS_ABORTED);
    WaitForSingleObject(process.get(), 5000);
  }
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

void ChildOutputReader::WaitForExit(DWORD ms) const { WaitForSingleObject(child_.process(), ms); }

OutputEnd FollowChildOutput(ChildOutputReader& reader, const std::function<bool(const std::string&)>& onLines,
                            const std::function<bool()>& awaitingExit, DWORD exitLimitMs) {
  ULONGLONG deadline = 0;
  for (;;) {
    if (awaitingExit && awaitingExit() && reader.BufferedBytes() == 0) {
      // Nothing to read: a blocking read here could wait past the limit.
      if (!reader.ChildRunning()) break;
      const ULONGLONG now = GetTickCount64();
      if (!deadline) deadline = now + exitLimitMs;
      if (now >= deadline) return OutputEnd::kRanOn;
      reader.WaitForExit(static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 100)));
      continue;
    }
    const ChildOutputReader::Chunk chunk = reader.Read();
    if (chunk.ok && onLines(chunk.lines)) return OutputEnd::kSettled;
    if (!reader.ChildRunning()) break;
    if (chunk.bytes.empty()) ChildOutputReader::Pause();
  }
  // Lines written just before the exit (a final line among them) are still
  // in the pipe: take them, however many reads that needs.
  for (DWORD left = reader.BufferedBytes(); left > 0;) {
    const ChildOutputReader::Chunk chunk = reader.Read();
    if (chunk.bytes.empty()) break;
    if (onLines(chunk.lines)) return OutputEnd::kSettled;
    left -= std::min<DWORD>(left, static_cast<DWORD>(chunk.bytes.size()));
  }
  // A last line without its line feed is still a line.
  return onLines(reader.Rest()) ? OutputEnd::kSettled : OutputEnd::kExited;
}

namespace {

void SleepBetweenPolls() { Sleep(100); }

std::atomic<ChildOutputReader::PauseFunction> g_pause{&SleepBetweenPolls};

}  // namespace

void ChildOutputReader::Pause() { g_pause.load()(); }

ChildOutputReader::PauseFunction ChildOutputReader::SetPause(PauseFunction pause) {
  return g_pause.exchange(pause ? pause : &SleepBetweenPolls);
}
