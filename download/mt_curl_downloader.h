// The segmented downloader: up to two byte ranges fetched in parallel into
// the part files "<path>_0" and "<path>_1", resumed from their sizes on the
// retry, joined into the target and checked against the url-md5.
//
// The part files are download::SideFiles, open (denying other writers) from
// the attempt that creates them until they are joined or deleted, across a
// retry too. Part 0's bytes arrive in order, so its digest is taken as they
// are written; part 1's cannot join the digest before part 0 is whole, so
// they join it as the join copies them onto part 0. The joined file is
// renamed onto the target through its handle and held for the owner.
//
// Threads and ownership, per attempt:
//  - the worker (WorkerSlot, "ABDEF") runs Start_Down: it first waits for the
//    previous attempt's waiting thread, resolves the URL, plans the parts,
//    starts one part thread per pending part and then the waiting thread;
//  - each part thread runs downloadThreadFun on its own node;
//  - the waiting thread (waiter_, owned here, not detached) joins the part
//    threads, then joins the files, verifies and sends the final callback;
//  - each part file writes on a thread of its own (download::SideFile).
// The callback is called from the worker (START, an early FAIL), the part
// threads (PROGRESS, under lock_) and the waiting thread (final codes); the
// calls never overlap. The destructor sets stop_ (transfers abort at their
// next progress call, pauses wake), waits for the worker and the waiting
// thread (which has joined the part threads) and deletes the part files.
#pragma once

#include <windows.h>
#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/curl_handles.h"
#include "download/downloader.h"
#include "download/progress.h"
#include "download/side_file.h"
#include "download/timing.h"
#include "download/web_page.h"
#include "download/worker_slot.h"
#include "platform/handles.h"
#include "platform/system_error.h"

class CMTCurlDownloader : public CDownloader {
 public:
  // Without httpReady (libcurl not initialised) every attempt fails
  // before a request. adminOnlyFiles: see DownloadOptions.
  CMTCurlDownloader(PhaseCallback callback, const std::wstring& url, const std::wstring& path, bool httpReady = true,
                    bool adminOnlyFiles = false);
  ~CMTCurlDownloader() override;

  void Start() override;
  download::HeldFile TakeDownloadedFile() override;

  // Real URL, url-md5, length and whether ranges work (download::Resolve:
  // one HEAD pass, then a ranged GET). True when the real URL is known and
  // the length is above 255 bytes.
  bool getRealDownloadUrl(const std::string& url);
  const std::string& realUrl() const { return realUrl_; }
  const std::string& urlMd5() const { return urlMd5_; }
  int64_t length() const { return length_; }
  bool ranges() const { return ranges_; }

 private:
  struct DownloadPartNode {
    CMTCurlDownloader* owner = nullptr;
    download::SideFile* file = nullptr;  // partFiles_[index]; open while the part is pending
    int64_t first = 0;                   // first byte of this part in the whole file
    int64_t start = 0;                   // next byte of the whole file to write
    int64_t end = 0;                     // last byte of this part, inclusive
    download::UniqueCurl handle;
    std::string url;
    std::wstring partPath;
    // 0 complete, -1 pending, -2 part file not opened, -3 a web page came
    // back, else the libcurl code.
    int status = -1;
    std::atomic<int64_t> downloaded{0};
    // Of the request in flight: where its body must begin, and what arrived.
    int64_t contentRangeStart = -1;
    bool bodyAccepted = false;
    bool rangeFilled = false;
    download::FirstAnswerWatch firstAnswer;
    download::WebPageCheck page;
    // Set when the first response to this part begins (see Start_Down).
    Utils::UniqueHandle responding{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  };

  void Start_Down();
  static int downloadExe(CMTCurlDownloader* self, DownloadPartNode* node);
  static void downloadThreadFun(CMTCurlDownloader* self, DownloadPartNode* node);
  static void waitForFinishThreadFun(CMTCurlDownloader* self);
  static size_t PartWrite(char* data, size_t size, size_t count, void* node);
  static size_t PartHeader(char* data, size_t size, size_t count, void* node);
  static int Progress(void* node, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

  void PlanAttempt();
  int JoinParts();  // 0, or CURLE_WRITE_ERROR when the parts could not become the target
  Utils::SystemResult JoinPartFiles(size_t count);
  void EndWithFailure(int status);
  void EndWithWebPage();
  void FreeNodes();
  std::wstring PartPath(int index) const;
  void DeletePartFiles();
  void Hand(download::HeldFile file);  // for TakeDownloadedFile

  std::vector<std::unique_ptr<DownloadPartNode>> parts_;
  PhaseCallback callback_;
  std::wstring path_;
  std::wstring url_;
  bool httpReady_;
  std::string realUrl_;
  int64_t length_ = -1;
  std::string urlMd5_;
  bool ranges_ = true;
  bool webPage_ = false;  // the last resolution got a web page
  std::mutex lock_;       // progress_ and the progress callback
  // Whole percentage points; its last percentage tells whether any progress
  // was reported (part files are then kept for the retry).
  download::ProgressThrottle progress_{1.0};
  download::SilenceClock clock_;
  bool retried_ = false;
  bool retryAsked_ = false;  // the next Start answers our DL_CODE_RETRY
  const bool adminOnlyFiles_;
  download::SideFile partFiles_[2];
  std::mutex downloadedMutex_;
  download::HeldFile downloaded_;  // from DL_CODE_SUCCESS until taken
  std::thread waiter_;
  download::StopSignal stop_;
  download::WorkerSlot worker_;  // last: joined first
};
