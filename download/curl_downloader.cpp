#include "download/curl_downloader.h"

#include "download/verify.h"
#include "platform/log.h"

namespace {

// Cost of one failed attempt against the budget of 12: a broken stream is
// cheap to continue, anything else is not.
int AttemptCost(int code) { return code == CURLE_PARTIAL_FILE ? 1 : 2; }

}  // namespace

CCurlDownloader::CCurlDownloader(PhaseCallback callback, const std::wstring& url, const std::wstring& path,
                                 CurlClient::ReasonFn reportFailureReason)
    : callback_(std::move(callback)),
      path_(path),
      url_(url),
      client_(url, path, this, &CCurlDownloader::Relay, std::move(reportFailureReason)) {
  DeleteFileW(client_.GetFilePath(true).c_str());  // the first attempt starts from zero
}

CCurlDownloader::~CCurlDownloader() {
  client_.Stop();
  stop_.Set();
  worker_.Join();
}

void CCurlDownloader::Start() {
  worker_.Start(this, [this] { dlThreadFun(); });
}

void CCurlDownloader::Relay(void* owner, double speed, double percent) {
  if (speed > 0 && percent <= 100)
    static_cast<CCurlDownloader*>(owner)->callback_(DL_CODE_PROGRESS, percent / 100, L"");
}

void CCurlDownloader::dlThreadFun() {
  // Every final callback is the last statement of its branch: the owner may
  // start the next attempt from inside it.
  callback_(DL_CODE_START, 1.0, L"");
  if (path_.empty()) {
    callback_(DL_CODE_FAIL, 1.0, L"");
    return;
  }
  int code = client_.Start();
  int budget = 12;
  while (code != 0) {
    if (stop_.IsSet()) return;
    budget -= AttemptCost(code);
    if (budget < 1) {
      callback_(DL_CODE_FAIL, code, L"LibCurl");
      return;
    }
    OV_LOGS(L"CurlDownLoader Code=%d", code);
    if (!stop_.Pause(500)) return;
    code = client_.Start();
  }
  if (stop_.IsSet()) {
    DeleteFileW(path_.c_str());  // never reported: leave nothing half-delivered
    return;
  }

  const std::string urlMd5 = download::UrlMd5(client_.realUrl());
  if (!download::HasUrlMd5(urlMd5)) {
    callback_(DL_CODE_NOTICE, 0.0, L"curl获取url-md5失败");
    callback_(DL_CODE_SUCCESS, 0.0, L"LibCurl");
    return;
  }
  // A file that cannot be read back is as unverified as one that differs.
  if (download::FileMd5(path_) != urlMd5) {
    // The package path never keeps a file that failed its check; the retry
    // downloads from zero (the side file became this target).
    DeleteFileW(path_.c_str());
    if (stop_.IsSet()) return;
    callback_(DL_CODE_NOTICE, 0.0, L"curl文件md5校验失败");
    if (!retried_) {
      retried_ = true;
      callback_(DL_CODE_RETRY, 0.0, L"LibCurl");
    } else {
      callback_(DL_CODE_FAIL, 0.0, L"LibCurl");
    }
    return;
  }
  if (stop_.IsSet()) {
    DeleteFileW(path_.c_str());
    return;
  }
  callback_(DL_CODE_SUCCESS, 0.0, L"LibCurl");
}
