#include "download/mt_curl_downloader.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "download/curl_common.h"
#include "download/plan.h"
#include "download/resolver.h"
#include "download/url_text.h"
#include "download/verify.h"
#include "platform/log.h"
#include "platform/strings.h"

namespace {

constexpr int64_t kMinResolvedLength = 256;
constexpr int kWebPageStatus = -3;  // a part's status

}  // namespace

CMTCurlDownloader::CMTCurlDownloader(PhaseCallback callback, const std::wstring& url, const std::wstring& path,
                                     bool httpReady, bool adminOnlyFiles)
    : callback_(std::move(callback)), path_(path), url_(url), httpReady_(httpReady), adminOnlyFiles_(adminOnlyFiles) {
  DeleteFileW(path_.c_str());
  DeletePartFiles();
}

CMTCurlDownloader::~CMTCurlDownloader() {
  stop_.Set();
  worker_.Join();
  if (waiter_.joinable()) {
    if (waiter_.get_id() == std::this_thread::get_id())
      waiter_.detach();  // destroyed from its own callback (unsupported); it touches nothing after it
    else
      waiter_.join();
  }
  FreeNodes();
  DeletePartFiles();
}

std::wstring CMTCurlDownloader::PartPath(int index) const { return path_ + L"_" + Utils::DecimalText(index); }

void CMTCurlDownloader::DeletePartFiles() {
  for (int i = 0; i < 2; ++i) {
    partFiles_[i].Close();  // open, it could not be deleted
    DeleteFileW(PartPath(i).c_str());
  }
}

void CMTCurlDownloader::Start() {
  worker_.Start(this, [this] { Start_Down(); });
}

download::HeldFile CMTCurlDownloader::TakeDownloadedFile() {
  std::lock_guard<std::mutex> lock(downloadedMutex_);
  return std::move(downloaded_);
}

void CMTCurlDownloader::Hand(download::HeldFile file) {
  std::lock_guard<std::mutex> lock(downloadedMutex_);
  downloaded_ = std::move(file);
}

bool CMTCurlDownloader::getRealDownloadUrl(const std::string& url) {
  realUrl_.clear();
  urlMd5_.clear();
  length_ = 0;
  ranges_ = true;
  if (!httpReady_) return false;
  download::ResolveOptions options;
  options.minLength = kMinResolvedLength;
  options.stopped = [this] { return stop_.IsSet(); };
  options.clock = &clock_;
  const download::Resolution resolved = download::Resolve(url, options);
  if (resolved.webPage) {
    webPage_ = true;
    return false;
  }
  if (!resolved.url.empty()) {
    realUrl_ = resolved.url;
    OV_LOGS(L"Download File real url %s", Utils::Utf8ToWide(realUrl_).c_str());
    urlMd5_ = download::UrlMd5(realUrl_);
  }
  if (resolved.length >= 0) {
    length_ = resolved.length;
    ranges_ = resolved.ranges;
    OV_LOGS(L"Download File Length %lld", static_cast<long long>(length_));
  }
  return !realUrl_.empty() && length_ >= kMinResolvedLength;
}

void CMTCurlDownloader::Start_Down() {
  // The previous attempt's waiting thread asked for this one from inside
  // its final callback; it ends as soon as that call returns.
  if (waiter_.joinable()) waiter_.join();
  TakeDownloadedFile();  // an earlier success's, if its owner left it
  callback_(DL_CODE_START, 1.0, L"");
  if (path_.empty()) {
    // Part files named "_0" in the current folder are never the package.
    callback_(DL_CODE_FAIL, 1.0, L"");
    return;
  }
  OV_LOGS(L"start download");
  // A new series of attempts, unless this one answers our own retry.
  if (!std::exchange(retryAsked_, false)) clock_.Restart();
  DeleteFileW(path_.c_str());
  if (progress_.lastPercent() == 0.0) DeletePartFiles();
  webPage_ = false;
  if ((realUrl_.empty() || length_ < kMinResolvedLength) && !getRealDownloadUrl(download::NarrowUrl(url_))) {
    if (stop_.IsSet()) return;
    if (webPage_)
      EndWithWebPage();
    else
      callback_(DL_CODE_FAIL, 0.0, L"LibCurl");
    return;
  }
  PlanAttempt();
  std::vector<std::thread> threads;
  const DownloadPartNode* previous = nullptr;
  for (auto& node : parts_) {
    if (node->status != -1 || stop_.IsSet()) continue;
    // The connections are staggered: the next part starts once this one's
    // response has begun, so the server takes the ranges in order, or after
    // 100 ms at the most. A fixed 100 ms kept the last part that much behind
    // the others, and the download ends with the last part.
    if (previous) WaitForSingleObject(previous->responding.get(), 100);
    threads.emplace_back(&CMTCurlDownloader::downloadThreadFun, this, node.get());
    previous = node.get();
  }
  waiter_ = std::thread([this, threads = std::move(threads)]() mutable {
    for (auto& t : threads) t.join();
    waitForFinishThreadFun(this);
  });
}

void CMTCurlDownloader::PlanAttempt() {
  FreeNodes();
  // Part 0 takes the digest as it is written when there is a url-md5 to
  // compare it with: the real URL's here, the given URL's for the owner.
  const bool digest = download::HasUrlMd5(urlMd5_) || download::HasUrlMd5(download::UrlMd5(download::NarrowUrl(url_)));
  int index = 0;
  // Without ranges the whole file comes as one stream from byte 0.
  const std::vector<download::PartRange> plan =
      ranges_ ? download::PlanParts(length_) : std::vector<download::PartRange>{{0, length_ - 1}};
  for (const download::PartRange& range : plan) {
    auto node = std::make_unique<DownloadPartNode>();
    node->owner = this;
    download::SideFile& file = partFiles_[index];
    node->partPath = PartPath(index);
    const int64_t rangeSize = range.last - range.first + 1;
    if (!file.isOpen()) {
      // Longer than its range: not a prefix of this part.
      if (download::FileSize(node->partPath) > rangeSize) DeleteFileW(node->partPath.c_str());
      if (const Utils::SystemResult opened = file.Open(node->partPath, {digest && index == 0, adminOnlyFiles_});
          !opened)
        OV_LOGS(L"part file failed:%lu:%s", opened.error, node->partPath.c_str());
    } else if (file.size() > rangeSize) {
      file.Truncate();
    }
    if (!ranges_ && file.isOpen() && file.size() > 0) file.Truncate();
    ++index;
    const int64_t existing = file.isOpen() ? file.size() : 0;
    node->downloaded = existing;
    node->first = range.first;
    node->start = range.first + existing;
    node->end = range.last;
    node->handle.reset(curl_easy_init());
    node->url = realUrl_;
    if (node->end < node->start) {
      node->status = 0;
    } else if (!node->handle) {
      node->status = CURLE_FAILED_INIT;
    } else if (!file.isOpen()) {
      node->status = -2;
    } else {
      node->status = -1;
      node->file = &file;
    }
    parts_.push_back(std::move(node));
  }
}

int CMTCurlDownloader::downloadExe(CMTCurlDownloader* self, DownloadPartNode* node) {
  if (!self->ranges_ && node->start != node->first) {
    // No resume without ranges: the retry asks for the whole file again.
    node->file->Truncate();
    node->start = node->first;
    node->downloaded = 0;
  }
  char range[64];
  _snprintf(range, sizeof(range), "%lld-%lld", static_cast<long long>(node->start), static_cast<long long>(node->end));
  range[sizeof(range) - 1] = 0;
  node->contentRangeStart = -1;
  node->bodyAccepted = false;
  node->rangeFilled = false;
  CURL* h = node->handle.get();
  const DWORD bound = self->clock_.RequestBoundMs();
  // Peer and host verification keep libcurl's defaults (on).
  int result = download::FirstFailure({
      curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L),
      download::SetBodyRequestOptions(
          h, {node->url.c_str(), &CMTCurlDownloader::PartWrite, node, &CMTCurlDownloader::Progress, node,
              download::CurrentTiming().partStallSeconds, static_cast<long>(bound)}),
      curl_easy_setopt(h, CURLOPT_RANGE, range),
      curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CMTCurlDownloader::PartHeader),
      curl_easy_setopt(h, CURLOPT_HEADERDATA, node),
  });
  if (result != 0) return result;

  node->firstAnswer.Begin(bound);
  node->page.Reset();
  result = node->firstAnswer.Result(curl_easy_perform(h));
  // The write function cut the body at the range's end: the part is whole.
  if (result == CURLE_WRITE_ERROR && node->rangeFilled) result = CURLE_OK;
  curl_easy_reset(h);
  const Utils::SystemResult written = node->file->Finish();
  if (node->page.found()) {
    node->file->Truncate();
    result = kWebPageStatus;
  }
  // A failed write leaves the part file with what was written whole; the
  // next attempt continues from there.
  node->start = node->first + node->file->size();
  node->downloaded = node->file->size();
  if (!written && result == CURLE_OK) {
    OV_LOGS(L"part file write failed:%lu:%s", written.error, node->partPath.c_str());
    result = CURLE_WRITE_ERROR;
  }
  // A body shorter than the range (a wrong length from the server).
  if (result == CURLE_OK && node->start != node->end + 1) result = CURLE_PARTIAL_FILE;
  if (result == kWebPageStatus)
    OV_LOGS(L"part %s: a web page instead of the package", node->partPath.c_str());
  else if (result != CURLE_OK)
    OV_LOGS(L"error:%d:%s", result, download::CurlErrorText(result).c_str());
  else
    OV_LOGS(L"curl_easy_cleanup");
  node->status = result;
  return result;
}

size_t CMTCurlDownloader::PartHeader(char* data, size_t size, size_t count, void* user) {
  auto* node = static_cast<DownloadPartNode*>(user);
  const size_t n = size * count;
  if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
    node->contentRangeStart = -1;  // a new response
    SetEvent(node->responding.get());
  }
  download::ContentRange range;
  if (download::ParseContentRange(data, n, &range)) node->contentRangeStart = range.first;
  return n;
}

size_t CMTCurlDownloader::PartWrite(char* data, size_t size, size_t count, void* user) {
  auto* node = static_cast<DownloadPartNode*>(user);
  if (!node->file || node->start > node->end) return 0;
  node->owner->clock_.Heard();
  if (node->page.Refuses(node->handle.get(), data, size * count, node->start == 0)) return 0;
  if (!node->bodyAccepted) {
    // Only the bytes asked for may enter the part: a 206 that begins at our
    // start, or a whole-file 200 when the part begins at byte 0. A server
    // that ignores ranges would otherwise fill part 1 with the file's head.
    long status = 0;
    curl_easy_getinfo(node->handle.get(), CURLINFO_RESPONSE_CODE, &status);
    const bool wanted =
        (status == 206 && node->contentRangeStart == node->start) || (status == 200 && node->start == 0);
    if (!wanted) return 0;
    node->bodyAccepted = true;
  }
  const int64_t n = static_cast<int64_t>(size * count);
  const int64_t room = node->end - node->start + 1;
  const size_t toWrite = static_cast<size_t>(std::min(n, room));
  const size_t written = node->file->Append(data, toWrite) ? toWrite : 0;
  node->start += written;
  node->downloaded += written;
  if (written == toWrite && static_cast<int64_t>(toWrite) < n) node->rangeFilled = true;
  return written;  // a short count ends the transfer
}

int CMTCurlDownloader::Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* node = static_cast<DownloadPartNode*>(user);
  CMTCurlDownloader* self = node->owner;
  if (self->stop_.IsSet()) return 1;  // only when the downloader is being destroyed
  if (node->firstAnswer.Overdue(node->handle.get())) return 1;
  std::lock_guard<std::mutex> guard(self->lock_);
  if (!self->progress_.SecondPassed()) return 0;
  if (self->length_ < kMinResolvedLength) return 0;
  double sum = 0;
  for (const auto& part : self->parts_) {
    const int64_t downloaded = part->downloaded;
    if (downloaded > 0) sum += static_cast<double>(downloaded) * 100 / static_cast<double>(self->length_);
  }
  if (sum > 100 || !self->progress_.Advanced(sum)) return 0;
  self->callback_(DL_CODE_PROGRESS, sum / 100, L"");
  return 0;
}

void CMTCurlDownloader::downloadThreadFun(CMTCurlDownloader* self, DownloadPartNode* node) {
  int budget = 12;
  int code = downloadExe(self, node);
  // A web page will not turn into the package; a silent server ends the
  // series of attempts.
  while (code != 0 && code != kWebPageStatus && budget > 0 && !self->stop_.IsSet() && !self->clock_.Exhausted()) {
    OV_LOGS(L"CurlDownLoader Code=%d", code);
    if (!self->stop_.Pause(400)) break;
    budget -= code == CURLE_PARTIAL_FILE ? 1 : 2;
    code = downloadExe(self, node);
  }
}

void CMTCurlDownloader::FreeNodes() { parts_.clear(); }

void CMTCurlDownloader::EndWithFailure(int status) {
  // After a silent series the retry would wait as long again before the
  // user hears of it.
  const bool silent = clock_.Exhausted();
  if (silent) OV_LOGS(L"nothing from the server for %lu ms: attempts end", download::CurrentTiming().silentSeriesMs);
  if (!retried_ && !silent) {
    retried_ = true;
    retryAsked_ = true;
    callback_(DL_CODE_RETRY, status, L"LibCurl");
  } else {
    progress_.Reset();
    callback_(DL_CODE_FAIL, status, L"LibCurl");
  }
}

void CMTCurlDownloader::EndWithWebPage() {
  // Nothing of the page is kept, and the next Start asks for the URL and
  // length again (the user may have signed in to the network since).
  FreeNodes();
  DeletePartFiles();
  realUrl_.clear();
  urlMd5_.clear();
  length_ = -1;
  progress_.Reset();
  callback_(DL_CODE_NOTICE, 0.0, kWebPageNotice);
  callback_(DL_CODE_FAIL, 0.0, L"LibCurl");
}

int CMTCurlDownloader::JoinParts() {
  const size_t count = parts_.size();
  FreeNodes();
  const Utils::SystemResult joined = JoinPartFiles(count);
  bool ok = static_cast<bool>(joined);
  if (!ok) {
    OV_LOGS(L"join failed:%lu:%s", joined.error, path_.c_str());
  } else if (partFiles_[0].size() != length_) {
    OV_LOGS(L"joined file is not %lld bytes:%s", static_cast<long long>(length_), path_.c_str());
    ok = false;
  }
  if (ok) {
    // Part 0 is the target now, still open: it stays held for the check.
    partFiles_[1].Close();
    DeleteFileW(PartPath(1).c_str());
    return 0;
  }
  DeletePartFiles();
  DeleteFileW(path_.c_str());
  return CURLE_WRITE_ERROR;
}

// Appends the later parts to the first, through their open handles (the
// digest takes their bytes in file order as they are appended), and renames
// the first onto the target. The error is read at the failing call.
Utils::SystemResult CMTCurlDownloader::JoinPartFiles(size_t count) {
  download::SideFile& joined = partFiles_[0];
  for (size_t i = 1; i < count; ++i) {
    // A complete part that cannot be read would leave a hole.
    const Utils::SystemResult appended = joined.AppendContentOf(partFiles_[i]);
    OV_LOGS(L"partPath::%s", PartPath(static_cast<int>(i)).c_str());
    if (!appended) return appended;
  }
  if (const Utils::SystemResult finished = joined.Finish(); !finished) return finished;
  return joined.MoveTo(path_);
}

void CMTCurlDownloader::waitForFinishThreadFun(CMTCurlDownloader* self) {
  // The part threads have ended. Every final callback is the last statement
  // of its branch: the owner may start the next attempt from inside it.
  if (self->stop_.IsSet()) return;
  int failed = 0;
  for (const auto& node : self->parts_) {
    if (node->status != 0) {
      failed = node->status;
      break;
    }
  }
  if (failed == kWebPageStatus) {
    self->EndWithWebPage();
    return;
  }
  if (failed != 0) {
    self->FreeNodes();
    // Parts that made progress are kept for the retry to resume.
    if (self->progress_.lastPercent() == 0.0) self->DeletePartFiles();
    self->EndWithFailure(failed);
    return;
  }
  self->progress_.Reset();
  const int joined = self->JoinParts();
  if (joined != 0) {
    self->EndWithFailure(joined);
    return;
  }
  download::HeldFile file = self->partFiles_[0].CloseAndHold();
  if (download::HasUrlMd5(self->urlMd5_)) {
    // The digest was taken as the parts were written and joined; the file is
    // read back only when it could not be held unchanged since. A file that
    // cannot be read back is as unverified as one that differs.
    std::string md5 = file.md5;
    if (md5.empty()) md5 = file.handle ? download::OpenFileMd5(file.handle.get()) : download::FileMd5(self->path_);
    if (md5 != self->urlMd5_) {
      file = {};
      DeleteFileW(self->path_.c_str());
      if (self->stop_.IsSet()) return;
      self->callback_(DL_CODE_NOTICE, 0.0, L"mtcurl文件md5校验失败");
      if (!self->retried_)
        OV_LOGS(L"finish recv, md5 chaek failed retry once.");
      else
        OV_LOGS(L"finish recv, md5 chaek failed and retry failed.");
      self->EndWithFailure(0);
      return;
    }
  } else if (!self->stop_.IsSet()) {
    self->callback_(DL_CODE_NOTICE, 0.0, L"mtcurl获取url-md5失败");
  }
  OV_LOGS(L"finish recv");
  if (self->stop_.IsSet()) {
    file = {};
    DeleteFileW(self->path_.c_str());  // never reported: leave nothing behind
    return;
  }
  self->Hand(std::move(file));
  self->callback_(DL_CODE_SUCCESS, 0.0, L"LibCurl");
}
