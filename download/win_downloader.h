// The system downloader: URLDownloadToFileW with a bind-status callback,
// three attempts one second apart, no retry request and no MD5 check.
//
// Threads: the worker is created suspended at construction and resumed by
// Start() (called once); every callback comes from it, progress ones from
// inside URLDownloadToFileW. The destructor sets the abort flag first, so
// the service abandons a running download at its next progress report and
// a worker that was never started does nothing, then waits for the worker.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <atomic>

#include "download/downloader.h"
#include "download/timing.h"
#include "platform/thread.h"

class CWinDownloader : public CDownloader {
 public:
  CWinDownloader(PhaseCallback callback, const std::wstring& url, const std::wstring& path);
  ~CWinDownloader() override;

  void Start() override;

  // Lives inside the downloader, so it counts no references.
  class CBindCallback : public IBindStatusCallback {
   public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 0; }
    ULONG STDMETHODCALLTYPE Release() override { return 0; }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG status, LPCWSTR text) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }
    virtual HRESULT STDMETHODCALLTYPE GetBindInfoEx(DWORD*, BINDINFO*, DWORD*, DWORD*) { return E_NOTIMPL; }
    virtual ~CBindCallback() { abort = true; }

    std::atomic<bool> abort{false};
    PhaseCallback progress;  // empty until Start
    IBinding* binding = nullptr;  // not owned
  };

 private:
  void Download();

  CBindCallback bind_;
  PhaseCallback callback_;
  std::wstring path_;
  std::wstring url_;
  download::StopSignal stop_;
  Utils::Thread worker_;  // last: joined first
};
