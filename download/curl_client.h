// One file over HTTP(S) into a local path with libcurl's easy interface:
// HEAD requests for the real URL and length, a floor of 1 MiB, a ".part"
// side file resumed from its size, and the move onto the target name when
// the transfer is complete. The side file (download::SideFile) stays open,
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
#include "download/side_file.h"

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

  // adminOnlyFiles: see DownloadOptions.
  CurlClient(const std::wstring& url, const std::wstring& path, void* owner, ProgressFn progress,
             ReasonFn reportFailureReason = {}, bool adminOnlyFiles = false);
  ~CurlClient();  // stops and removes the side file
  CurlClient(const CurlClient&) = delete;
  CurlClient& operator=(const CurlClient&) = delete;

  // One attempt, blocking. 0 when the whole file is at the path; -998 when
  // the length is below 1 MiB or unknown; -997 no easy handle; -996 the side
  // file cannot be opened; otherwise a libcurl code (the first refused
  // option's result). The real URL and length are kept for the next call.
  int Start();
  // Makes the running transfer (or HEAD request) end at its next progress call.
  void Stop() { stop_ = true; }
  // After a Start that returned 0: the file at the path, held for reading
  // only, with its MD5 (see SideFile::CloseAndHold).
  download::HeldFile HoldFile() { return side_.CloseAndHold(); }

  download::UniqueCurl Head(const std::string& url);
  static std::string GetRealUrl(CURL* handle);
  double GetDownloadFileLength(CURL* handle);
  std::string GetRealUrl_Str(const std::string& url);
  double GetDownloadFileLength_Str(const std::string& url);
  std::wstring GetFilePath(bool part) const { return part ? path_ + L".part" : path_; }

  const std::string& realUrl() const { return realUrl_; }
  double length() const { return length_; }
  int64_t resumeOffset() const { return resumeOffset_; }

  static int ProgressCallback(void* client, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow);

 private:
  download::UniqueCurl NewHeadHandle(const std::string& url, int& optionResult);
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
  int64_t lastProgressSecond_ = 0;
  std::atomic<bool> stop_{false};
  std::string realUrl_;
  const bool adminOnlyFiles_;
  download::SideFile side_;  // the ".part" file, then the target until held
};
