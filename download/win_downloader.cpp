#include "download/win_downloader.h"

#include <thread>

#include "download/url_text.h"
#include "platform/handles.h"
#include "platform/log.h"

HRESULT CWinDownloader::CBindCallback::OnStartBinding(DWORD, IBinding* b) {
  std::lock_guard<std::mutex> lock(bindingMutex_);
  if (binding_) binding_->Release();
  binding_ = b;
  if (binding_) binding_->AddRef();  // the watchdog may abort it from its thread
  if (abort && binding_) binding_->Abort();
  return E_NOTIMPL;
}

HRESULT CWinDownloader::CBindCallback::OnStopBinding(HRESULT, LPCWSTR) {
  std::lock_guard<std::mutex> lock(bindingMutex_);
  if (binding_) binding_->Release();
  binding_ = nullptr;
  return E_NOTIMPL;
}

HRESULT CWinDownloader::CBindCallback::OnProgress(ULONG done, ULONG max, ULONG, LPCWSTR) {
  if (abort) return E_ABORT;
  if (done > lastBytes_) {
    lastBytes_ = done;
    lastByteTick_ = GetTickCount64();
    if (silence) silence->Heard();
  }
  if (max == 0) return S_OK;
  if (progress) progress(DL_CODE_PROGRESS, static_cast<double>(done) / static_cast<double>(max), L"");
  return S_OK;
}

HRESULT CWinDownloader::CBindCallback::GetBindInfo(DWORD*, BINDINFO* info) {
  if (info) info->dwCodePage = 65001;
  return E_NOTIMPL;
}

void CWinDownloader::CBindCallback::BeginAttempt() {
  std::lock_guard<std::mutex> lock(bindingMutex_);
  if (binding_) binding_->Release();
  binding_ = nullptr;
  lastBytes_ = 0;
  lastByteTick_ = GetTickCount64();
}

void CWinDownloader::CBindCallback::AbortBinding() {
  std::lock_guard<std::mutex> lock(bindingMutex_);
  if (binding_) binding_->Abort();
}

ULONGLONG CWinDownloader::CBindCallback::QuietMs() const { return GetTickCount64() - lastByteTick_.load(); }

CWinDownloader::CWinDownloader(PhaseCallback callback, const std::wstring& url, const std::wstring& path)
    : callback_(std::move(callback)),
      path_(path),
      url_(url),
      worker_(this, L"ABDEF", [](void* self) { static_cast<CWinDownloader*>(self)->Download(); }) {}

CWinDownloader::~CWinDownloader() {
  bind_.abort = true;
  stop_.Set();        // the watchdog aborts a running attempt at once
  worker_.Release();  // resumes a never-started worker, which then returns at once
}

void CWinDownloader::Start() {
  bind_.progress = callback_;
  if (worker_.handle()) ResumeThread(worker_.handle());
}

HRESULT CWinDownloader::Attempt(const std::wstring& url, bool& stalled) {
  bind_.BeginAttempt();
  const ULONGLONG stallMs = static_cast<ULONGLONG>(download::CurrentTiming().singleStreamStallSeconds) * 1000;
  const Utils::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<bool> stalledFlag{false};
  // Aborting from another thread is what IBinding::Abort is for; the
  // binding stays referenced until OnStopBinding, under the callback's lock.
  std::thread watchdog([&] {
    while (WaitForSingleObject(done.get(), 100) == WAIT_TIMEOUT) {
      if (stop_.IsSet()) {
        bind_.abort = true;
      } else if (bind_.QuietMs() > stallMs || silence_.Exhausted()) {
        stalledFlag = true;
      } else {
        continue;
      }
      // Repeated until the attempt ends: the binding may not exist yet.
      bind_.AbortBinding();
    }
  });
  const HRESULT result = URLDownloadToFileW(nullptr, url.c_str(), path_.c_str(), 0, &bind_);
  SetEvent(done.get());
  watchdog.join();
  stalled = stalledFlag;
  return result;
}

void CWinDownloader::Download() {
  if (bind_.abort) return;  // destroyed before Start
  CoInitialize(nullptr);
  callback_(DL_CODE_START, 1.0, L"");
  if (path_.empty()) {
    callback_(DL_CODE_FAIL, 1.0, L"");
    CoUninitialize();
    return;
  }
  const std::wstring url = download::EscapeUrlForSystemDownload(url_);
  HRESULT result = E_FAIL;
  // As with the libcurl downloaders: once nothing has come from the server
  // for the series' bound, the attempts end (a silent server would
  // otherwise hold each of them for a whole stall limit).
  bind_.silence = &silence_;
  silence_.Restart();
  for (int attempt = 0; attempt < 3; ++attempt) {
    bool stalled = false;
    result = Attempt(url, stalled);
    if (bind_.abort) break;
    if (stalled) {
      // An aborted binding may still have returned S_OK with what it had.
      OV_LOGS(L"URLDownloadToFileW stalled");
      if (SUCCEEDED(result)) result = E_ABORT;
      DeleteFileW(path_.c_str());
    }
    if (result == S_OK) {
      callback_(DL_CODE_SUCCESS, 0.0, L"URLDownloadToFile");
      CoUninitialize();
      return;
    }
    OV_LOGS(L"URLDownloadToFileW:0x%08lx", static_cast<unsigned long>(result));
    if (silence_.Exhausted()) {
      OV_LOGS(L"nothing from the server for %lu ms: attempts end", download::CurrentTiming().silentSeriesMs);
      break;
    }
    if (!stop_.Pause(1000)) break;
  }
  if (bind_.abort) {
    DeleteFileW(path_.c_str());  // an abandoned download is not the package
  } else {
    callback_(DL_CODE_FAIL, static_cast<double>(result), L"URLDownloadToFile");
  }
  CoUninitialize();
}
