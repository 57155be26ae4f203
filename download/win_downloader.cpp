#include "download/win_downloader.h"

#include "download/url_text.h"
#include "platform/log.h"

HRESULT CWinDownloader::CBindCallback::OnStartBinding(DWORD, IBinding* b) {
  binding = b;
  return E_NOTIMPL;
}

HRESULT CWinDownloader::CBindCallback::OnProgress(ULONG done, ULONG max, ULONG, LPCWSTR) {
  if (abort) return E_ABORT;
  if (max == 0) return S_OK;
  if (progress) progress(DL_CODE_PROGRESS, static_cast<double>(done) / static_cast<double>(max), L"");
  return S_OK;
}

HRESULT CWinDownloader::CBindCallback::GetBindInfo(DWORD*, BINDINFO* info) {
  if (info) info->dwCodePage = 65001;
  return E_NOTIMPL;
}

CWinDownloader::CWinDownloader(PhaseCallback callback, const std::wstring& url, const std::wstring& path)
    : callback_(std::move(callback)),
      path_(path),
      url_(url),
      worker_(this, L"ABDEF", [](void* self) { static_cast<CWinDownloader*>(self)->Download(); }) {}

CWinDownloader::~CWinDownloader() {
  bind_.abort = true;
  stop_.Set();
  worker_.Release();  // resumes a never-started worker, which then returns at once
}

void CWinDownloader::Start() {
  bind_.progress = callback_;
  if (worker_.handle()) ResumeThread(worker_.handle());
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
  for (int attempt = 0; attempt < 3; ++attempt) {
    result = URLDownloadToFileW(nullptr, url.c_str(), path_.c_str(), 0, &bind_);
    if (bind_.abort) break;
    if (result == S_OK) {
      callback_(DL_CODE_SUCCESS, 0.0, L"URLDownloadToFile");
      CoUninitialize();
      return;
    }
    OV_LOGS(L"URLDownloadToFileW:0x%08lx", static_cast<unsigned long>(result));
    if (!stop_.Pause(1000)) break;
  }
  if (bind_.abort) {
    DeleteFileW(path_.c_str());  // an abandoned download is not the package
  } else {
    callback_(DL_CODE_FAIL, static_cast<double>(result), L"URLDownloadToFile");
  }
  CoUninitialize();
}
