// The default downloader: one libcurl stream through an owned CurlClient,
// failed attempts repeated on the worker within a budget, the finished file
// checked against the url-md5 with the digest taken as it was written, and
// held for the owner (TakeDownloadedFile).
//
// Threads: Start() may be called from any thread, also from inside this
// downloader's own final callback (see WorkerSlot). All requests and every
// callback run on the worker. The destructor stops the client, wakes a
// pause, waits for the worker and leaves no side file.
#pragma once

#include <mutex>

#include "download/curl_client.h"
#include "download/downloader.h"
#include "download/timing.h"
#include "download/worker_slot.h"

class CCurlDownloader : public CDownloader {
 public:
  // reportFailureReason, adminOnlyFiles: see DownloadOptions.
  CCurlDownloader(PhaseCallback callback, const std::wstring& url, const std::wstring& path,
                  CurlClient::ReasonFn reportFailureReason = {}, bool adminOnlyFiles = false);
  ~CCurlDownloader() override;

  void Start() override;
  download::HeldFile TakeDownloadedFile() override;

  // The client's progress function: forwards (speed > 0, percent <= 100)
  // as DL_CODE_PROGRESS with percent / 100.
  static void Relay(void* owner, double speed, double percent);

 private:
  void dlThreadFun();
  void Hand(download::HeldFile file);  // for TakeDownloadedFile

  PhaseCallback callback_;
  std::wstring path_;
  std::wstring url_;
  CurlClient client_;
  bool retried_ = false;
  std::mutex downloadedMutex_;
  download::HeldFile downloaded_;  // from DL_CODE_SUCCESS until taken
  download::StopSignal stop_;
  download::WorkerSlot worker_;  // last: destroyed (joined) first
};
