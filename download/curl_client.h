// One file over HTTP(S) into a local path with libcurl's easy interface:
// the real URL and length from download::Resolve (two HEAD passes, then a
// ranged GET), a floor of 1 MiB, a ".part" side file resumed from its size
// when the server takes ranges (started over when it does not), and the
// move onto the target name when the transfer is complete. A web page that
// comes back instead of the package ends the attempt at its first bytes. The side file (download::SideFile) stays open,
// denying other writers, from the first attempt until the client is done
// with it, and takes the MD5 of its bytes as they arrive when either URL
// carries a url-md5.
//
// Threads: Start() and every request run on the owner's worker thread;
// the progress function is called there too, inside the transfer; the side
// file writes on a thread of its own. Stop() is the only call another
// thread may make; the owner must not destroy the client while Start() runs.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "download/curl_handles.h"
#include "download/progress.h"
#include "download/side_file.h"
#include "download/timing.h"
#include "download/web_page.h"

class CurlClient {
 public:
  // (owner, speed in bytes/s, percent 0..100)
  using ProgressFn = void (*)(void* owner, double speed, double percent);
  // Takes a "下载失败原因" text on the calling thread (see DownloadOptions).
  using ReasonFn = std::function<void(const std::wstring& reason)>;

  static constexpr double kMinLength = 1048576.0;
  static constexpr int kLengthTooSmall = -998;
  static constexpr int kNoHandle = -997;
  static constexpr int kSideFileFailed = -996;
  static constexpr int kWebPage = -995;  // a web page came back instead of the package

  // adminOnlyFiles: see DownloadOptions.
  CurlClient(const std::wstring& url, const std::wstring& path, void* owner, ProgressFn progress,
             ReasonFn reportFailureReason = {}, bool adminOnlyFiles = false);
  ~CurlClient();  // stops and removes the side file
  CurlClient(const CurlClient&) = delete;
  CurlClient& operator=(const CurlClient&) = delete;

  // One attempt, blocking. 0 when the whole file is at the path; -998 when
  // the length is below 1 MiB or unknown; -997 no easy handle; -996 the side
  // file cannot be opened; -995 a web page came back; otherwise a libcurl
  // code (the first refused option's result). The real URL and length are
  // kept for the next call.
  int Start();
  // Makes the running transfer (or HEAD request) end at its next progress call.
  void Stop() { stop_ = true; }
  // After a Start that returned 0: the file at the path, held for reading
  // only, with its MD5 (see SideFile::CloseAndHold).
  download::HeldFile HoldFile() { return side_.CloseAndHold(); }

  // After -995: the side file goes, and the next attempt asks for the URL
  // and length again (the user may have signed in to the network since).
  void Discard();
  // A series of attempts begins; true once nothing has come from the server
  // for the series' limit (Timing::silentSeriesMs) since.
  void BeginSeries() { clock_.Restart(); }
  bool Silent() const { return clock_.Exhausted(); }
  std::wstring GetFilePath(bool part) const { return part ? path_ + L".part" : path_; }

  const std::string& realUrl() const { return realUrl_; }
  double length() const { return length_; }
  int64_t resumeOffset() const { return resumeOffset_; }
  bool ranges() const { return ranges_; }

  static int ProgressCallback(void* client, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow);

 private:
  static size_t Write(char* data, size_t size, size_t count, void* client);
  void ReportLengthStatus(long status) const;
  int Transfer(const std::wstring& partPath);
  int MoveIntoPlace(const std::wstring& partPath, const std::wstring& targetPath);

  std::wstring url_;
  std::wstring path_;
  void* owner_;
  download::UniqueCurl handle_;  // only while a transfer runs
  ProgressFn progress_;
  ReasonFn reportFailureReason_;
  double length_ = -1.0;
  int64_t resumeOffset_ = -1;
  bool ranges_ = true;
  download::ProgressThrottle throttle_{0.0};  // every second, any percentage above 0
  download::FirstAnswerWatch firstAnswer_;
  download::WebPageCheck page_;
  download::SilenceClock clock_;
  std::atomic<bool> stop_{false};
  std::string realUrl_;
  const bool adminOnlyFiles_;
  download::SideFile side_;  // the ".part" file, then the target until held
};
