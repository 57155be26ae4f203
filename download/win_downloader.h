// The system downloader: URLDownloadToFileW with a bind-status callback,
// three attempts one second apart, no retry request and no MD5 check.
//
// Threads: the worker is created suspended at construction and resumed by
// Start() (called once); every callback comes from it, progress ones from
// inside URLDownloadToFileW. While an attempt runs, a watchdog thread of the
// worker aborts its binding when no byte has arrived for the stall limit
// (the single-stream downloader's) or when the downloader is being
// destroyed: URLDownloadToFileW is synchronous and reports progress only
// when data moves, so a stalled server would otherwise hold the worker (and
// the destructor that joins it) for as long as the server likes. A stalled
// attempt is a failed attempt. The destructor sets the abort flag and the
// stop signal first, then waits for the worker.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <atomic>
#include <mutex>

#include "download/downloader.h"
#include "download/timing.h"
#include "platform/thread.h"

class CWinDownloader : public CDownloader {
 public:
  CWinDownloader(PhaseCallback callback, const std::wstring& url, const std::wstring& path);
  ~CWinDownloader() override;

  void Start() override;

  // Lives inside the downloader, so it counts no references of its own.
  class CBindCallback : public IBindStatusCallback {
   public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 0; }
    ULONG STDMETHODCALLTYPE Release() override { return 0; }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG status, LPCWSTR text) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }
    virtual HRESULT STDMETHODCALLTYPE GetBindInfoEx(DWORD*, BINDINFO*, DWORD*, DWORD*) { return E_NOTIMPL; }
    virtual ~CBindCallback() { abort = true; }

    // A new attempt: no binding yet, the stall clock starts now.
    void BeginAttempt();
    // Aborts the attempt's binding, if there is one yet (any thread).
    void AbortBinding();
    // Milliseconds since the last byte arrived (or the attempt began).
    ULONGLONG QuietMs() const;

    std::atomic<bool> abort{false};
    PhaseCallback progress;                     // empty until Start
    download::SilenceClock* silence = nullptr;  // told of every byte

   private:
    std::mutex bindingMutex_;
    IBinding* binding_ = nullptr;  // held (AddRef) from OnStartBinding to OnStopBinding
    ULONG lastBytes_ = 0;
    std::atomic<ULONGLONG> lastByteTick_{0};
  };

 private:
  void Download();
  // One URLDownloadToFileW, watched for stalls and for the stop signal.
  HRESULT Attempt(const std::wstring& url, bool& stalled);

  CBindCallback bind_;
  PhaseCallback callback_;
  std::wstring path_;
  std::wstring url_;
  download::StopSignal stop_;
  download::SilenceClock silence_;
  Utils::Thread worker_;  // last: joined first
};
