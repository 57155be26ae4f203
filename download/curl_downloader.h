// The default downloader: one libcurl stream through an owned CurlClient,
// failed attempts repeated on the worker within a budget, the finished file
// checked against the url-md5.
//
// Threads: Start() may be called from any thread, also from inside this
// downloader's own final callback (see WorkerSlot). All requests and every
// callback run on the worker. The destructor stops the client, wakes a
// pause, waits for the worker and leaves no side file.
#pragma once

#include "download/curl_client.h"
#include "download/downloader.h"
#include "download/timing.h"
#include "download/worker_slot.h"

class CCurlDownloader : public CDownloader {
 public:
  // reportFailureReason: see DownloadOptions (may be empty).
  CCurlDownloader(PhaseCallback callback, const std::wstring& url, const std::wstring& path,
                  CurlClient::ReasonFn reportFailureReason = {});
  ~CCurlDownloader() override;

  void Start() override;

  // The client's progress function: forwards (speed > 0, percent <= 100)
  // as DL_CODE_PROGRESS with percent / 100.
  static void Relay(void* owner, double speed, double percent);

 private:
  void dlThreadFun();

  PhaseCallback callback_;
  std::wstring path_;
  std::wstring url_;
  CurlClient client_;
  bool retried_ = false;
  download::StopSignal stop_;
  download::WorkerSlot worker_;  // last: destroyed (joined) first
};
