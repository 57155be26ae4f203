#include "download/curl_downloader.h"

#include "download/verify.h"
#include "platform/log.h"

namespace {

// Cost of one failed attempt against the budget of 12: a broken stream is
// cheap to continue, anything else is not.
int AttemptCost(int code) { return code == CURLE_PARTIAL_FILE ? 1 : 2; }

}  // namespace

CCurlDownloader::CCurlDownloader(PhaseCallback callback, const std::wstring& url, const std::wstring& path,
                                 CurlClient::ReasonFn reportFailureReason, bool adminOnlyFiles)
    : callback_(std::move(callback)),
      path_(path),
      url_(url),
      client_(url, path, this, &CCurlDownloader::Relay, std::move(reportFailureReason), adminOnlyFiles) {
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

download::HeldFile CCurlDownloader::TakeDownloadedFile() {
  std::lock_guard<std::mutex> lock(downloadedMutex_);
  return std::move(downloaded_);
}

void CCurlDownloader::Relay(void* owner, double speed, double percent) {
  if (speed > 0 && percent <= 100)
    static_cast<CCurlDownloader*>(owner)->callback_(DL_CODE_PROGRESS, percent / 100, L"");
}

void CCurlDownloader::dlThreadFun() {
  // Every final callback is the last statement of its branch: the owner may
  // start the next attempt from inside it.
  TakeDownloadedFile();  // an earlier success's, if its owner left it
  callback_(DL_CODE_START, 1.0, L"");
  if (path_.empty()) {
    callback_(DL_CODE_FAIL, 1.0, L"");
    return;
  }
  client_.BeginSeries();
  int code = client_.Start();
  int budget = 12;
  while (code != 0) {
    if (stop_.IsSet()) return;
    if (code == CurlClient::kWebPage) {
      // Retrying cannot help before the user signs in to the network; the
      // failure's dialog says to check it.
      client_.Discard();
      callback_(DL_CODE_NOTICE, 0.0, kWebPageNotice);
      callback_(DL_CODE_FAIL, 0.0, L"LibCurl");
      return;
    }
    budget -= AttemptCost(code);
    const bool silent = client_.Silent();
    if (silent) OV_LOGS(L"nothing from the server for %lu ms: attempts end", download::CurrentTiming().silentSeriesMs);
    if (budget < 1 || silent) {
      callback_(DL_CODE_FAIL, code, L"LibCurl");
      return;
    }
    OV_LOGS(L"CurlDownLoader Code=%d", code);
    if (!stop_.Pause(500)) return;
    code = client_.Start();
  }
  download::HeldFile file = client_.HoldFile();
  if (stop_.IsSet()) {
    file = {};
    DeleteFileW(path_.c_str());  // never reported: leave nothing half-delivered
    return;
  }

  const std::string urlMd5 = download::UrlMd5(client_.realUrl());
  if (!download::HasUrlMd5(urlMd5)) {
    Hand(std::move(file));
    callback_(DL_CODE_NOTICE, 0.0, L"curl获取url-md5失败");
    callback_(DL_CODE_SUCCESS, 0.0, L"LibCurl");
    return;
  }
  // The digest was taken as the bytes were written; the file is read back
  // only when it could not be held unchanged since. A file that cannot be
  // read back is as unverified as one that differs.
  std::string md5 = file.md5;
  if (md5.empty()) md5 = file.handle ? download::OpenFileMd5(file.handle.get()) : download::FileMd5(path_);
  if (md5 != urlMd5) {
    // The package path never keeps a file that failed its check; the retry
    // downloads from zero (the side file became this target).
    file = {};
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
    file = {};
    DeleteFileW(path_.c_str());
    return;
  }
  Hand(std::move(file));
  callback_(DL_CODE_SUCCESS, 0.0, L"LibCurl");
}

void CCurlDownloader::Hand(download::HeldFile file) {
  std::lock_guard<std::mutex> lock(downloadedMutex_);
  downloaded_ = std::move(file);
}
