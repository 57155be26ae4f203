#include "download/curl_client.h"

#include <windows.h>

#include <cstdio>

#include "download/curl_common.h"
#include "download/curl_handles.h"
#include "download/resolver.h"
#include "download/url_text.h"
#include "download/verify.h"
#include "platform/log.h"
#include "platform/strings.h"

using download::CurlErrorText;

CurlClient::CurlClient(const std::wstring& url, const std::wstring& path, void* owner, ProgressFn progress,
                       ReasonFn reportFailureReason, bool adminOnlyFiles)
    : url_(url),
      path_(path),
      owner_(owner),
      progress_(progress),
      reportFailureReason_(std::move(reportFailureReason)),
      adminOnlyFiles_(adminOnlyFiles) {}

void CurlClient::ReportLengthStatus(long status) const {
  if (!reportFailureReason_) return;
  wchar_t reason[200];
  _snwprintf(reason, 200, L"1.获取文件大小的状态码为=%ld；", status);
  reason[199] = 0;
  reportFailureReason_(reason);
}

CurlClient::~CurlClient() {
  stop_ = true;
  side_.Close();  // open, it could not be deleted
  DeleteFileW(GetFilePath(true).c_str());
}

void CurlClient::Discard() {
  side_.Close();
  DeleteFileW(GetFilePath(true).c_str());
  realUrl_.clear();
  length_ = -1.0;
}

size_t CurlClient::Write(char* data, size_t size, size_t count, void* client) {
  auto* self = static_cast<CurlClient*>(client);
  const size_t n = size * count;
  self->clock_.Heard();
  // A resumed body begins inside the package: only its type can tell.
  if (self->page_.Refuses(self->handle_.get(), data, n, self->resumeOffset_ == 0)) return 0;
  return self->side_.Append(data, n) ? n : 0;
}

int CurlClient::Start() {
  OV_LOGS(L"start download");
  const std::wstring partPath = GetFilePath(true);
  const std::string url = download::NarrowUrl(url_);
  bool webPage = false;
  if (realUrl_.empty() || length_ < kMinLength) {
    download::ResolveOptions options;
    options.headPasses = 2;
    options.minLength = static_cast<int64_t>(kMinLength);
    options.stopped = [this] { return stop_.load(); };
    options.badHeadStatus = [this](long status) { ReportLengthStatus(status); };
    options.clock = &clock_;
    const download::Resolution resolved = download::Resolve(url, options);
    realUrl_ = resolved.url;
    length_ = resolved.length >= 0 ? static_cast<double>(resolved.length) : -1.0;
    ranges_ = resolved.ranges;
    webPage = resolved.webPage;
  }
  int result = webPage ? kWebPage : realUrl_.empty() || length_ < kMinLength ? kLengthTooSmall : Transfer(partPath);
  if (result == 0) result = MoveIntoPlace(partPath, GetFilePath(false));
  OV_LOGS(L"error:%d:%s", result, CurlErrorText(result).c_str());
  OV_LOGS(L"end download");
  return result;
}

int CurlClient::Transfer(const std::wstring& partPath) {
  const int64_t length = static_cast<int64_t>(length_);
  handle_.reset(curl_easy_init());
  if (!handle_) return kNoHandle;
  if (!side_.isOpen()) {
    // A side file longer than the package is not a prefix of it: start over.
    if (download::FileSize(partPath) > length) DeleteFileW(partPath.c_str());
    // The digest is taken as the bytes arrive when there is a url-md5 to
    // compare it with: the real URL's here, the given URL's for the owner.
    const bool digest = download::HasUrlMd5(download::UrlMd5(realUrl_)) ||
                        download::HasUrlMd5(download::UrlMd5(download::NarrowUrl(url_)));
    if (const Utils::SystemResult opened = side_.Open(partPath, {digest, adminOnlyFiles_}); !opened) {
      OV_LOGS(L"side file failed:%lu:%s", opened.error, partPath.c_str());
      handle_.reset();
      return kSideFileFailed;
    }
  } else if (side_.size() > length) {
    side_.Truncate();
  }
  // A server without ranges sends the whole file whatever offset is asked:
  // every attempt starts from zero.
  if (!ranges_ && side_.size() > 0) side_.Truncate();

  // Only the identity encoding: the body is stored as received, so a
  // compressed body would corrupt the package and its resume offsets.
  download::UniqueCurlList headers;
  download::AppendHeader(headers, "Connection: keep-alive");
  download::AppendHeader(headers, "Accept-Encoding: identity");
  CURL* const handle = handle_.get();
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(handle, CURLOPT_TCP_KEEPIDLE, 10L);
  curl_easy_setopt(handle, CURLOPT_TCP_KEEPINTVL, 10L);
  const DWORD bound = clock_.RequestBoundMs();
  int result = download::SetBodyRequestOptions(
      handle, {realUrl_.c_str(), &CurlClient::Write, this, &CurlClient::ProgressCallback, this,
               download::CurrentTiming().singleStreamStallSeconds, static_cast<long>(bound)});

  const int64_t existing = side_.size();
  resumeOffset_ = existing;
  if (result == 0 && existing > 0)
    result = curl_easy_setopt(handle, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(existing));
  // A side file already as long as the package (its move failed last time,
  // or the connection broke after the last byte) needs no request: asking
  // for the bytes after its end would only draw a 416.
  firstAnswer_.Begin(bound);
  page_.Reset();
  if (result == 0 && existing != length) result = firstAnswer_.Result(curl_easy_perform(handle));

  handle_.reset();
  headers.reset();
  if (const Utils::SystemResult written = side_.Finish(); !written && result == 0) {
    OV_LOGS(L"side file write failed:%lu:%s", written.error, partPath.c_str());
    result = CURLE_WRITE_ERROR;
  }
  if (page_.found()) {
    side_.Truncate();
    result = kWebPage;
  } else if (result == CURLE_RANGE_ERROR) {
    // The server ignores ranges: the next attempt starts from zero instead
    // of failing the same way until the budget is spent.
    side_.Truncate();
  } else if (result == 0) {
    const int64_t size = side_.size();
    if (size < length) {
      result = CURLE_PARTIAL_FILE;  // the body was shorter than announced; resume
    } else if (size > length) {
      side_.Truncate();  // longer than the package: not our file
      result = CURLE_WEIRD_SERVER_REPLY;
    }
  }
  return result;
}

int CurlClient::MoveIntoPlace(const std::wstring&, const std::wstring& targetPath) {
  // Renamed through its open handle, replacing what was there: the file is
  // held throughout, and the target name never holds anything else after.
  const Utils::SystemResult moved = side_.MoveTo(targetPath);
  if (moved) return 0;
  // The complete side file stays; the next attempt moves it without a request.
  OV_LOGS(L"move failed:%lu:%s", moved.error, targetPath.c_str());
  return CURLE_WRITE_ERROR;
}

int CurlClient::ProgressCallback(void* data, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
  auto* self = static_cast<CurlClient*>(data);
  if (self->stop_) return 1;
  if (!self->handle_) return 0;
  if (self->firstAnswer_.Overdue(self->handle_.get())) return 1;
  if (!self->throttle_.SecondPassed()) return 0;

  curl_off_t speedBytes = 0;
  const double speed = curl_easy_getinfo(self->handle_.get(), CURLINFO_SPEED_DOWNLOAD_T, &speedBytes) == CURLE_OK
                           ? double(speedBytes)
                           : 0.0;
  double percent;
  if (self->length_ > kMinLength) {
    percent = static_cast<double>(dlnow + self->resumeOffset_) / self->length_ * 100.0;
  } else {
    if (dlnow <= 0 || dltotal <= 0) return 0;
    percent = static_cast<double>(dlnow) * 100.0 / static_cast<double>(dltotal);
  }
  if (!self->throttle_.Advanced(percent)) return 0;
  self->progress_(self->owner_, speed, percent);
  if (dltotal != 0)
    OV_LOG(L" %dM %dM   progress:%f%%  speed:%f \n", static_cast<int>(dlnow / 1048576),
           static_cast<int>(dltotal / 1048576), static_cast<double>(static_cast<float>(percent)),
           static_cast<double>(static_cast<float>(speed / 1024)));
  return 0;
}
