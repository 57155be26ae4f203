// The one interface behind which the package is fetched, its report codes,
// and the choice of implementation by the download type setting.
//
// Every downloader reports through the PhaseCallback given at construction,
// always on one of its own threads, never overlapping. Per attempt:
// DL_CODE_START, any number of DL_CODE_PROGRESS, at most one DL_CODE_NOTICE,
// then exactly one of DL_CODE_SUCCESS / DL_CODE_FAIL / DL_CODE_RETRY. The
// owner answers DL_CODE_RETRY (sent at most once per object) by calling
// Start() again, which it may do from inside the callback.
//
// Destroying a downloader stops its transfers and pauses, waits for its
// threads, makes no further callback (beyond one already under way) and
// leaves no side, part or unreported target file. It must not be destroyed
// from inside its own callback.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "download/side_file.h"
#include "platform/phase_callback.h"

enum DownloadCode : int32_t {
  DL_CODE_START = 1001,     // 1.0, ""
  DL_CODE_PROGRESS = 1002,  // fraction done, ""
  DL_CODE_SUCCESS = 1003,   // 0.0, "LibCurl" or "URLDownloadToFile"
  DL_CODE_FAIL = 1004,      // failing code (1.0 for an empty target path)
  DL_CODE_RETRY = 1005,     // failing code, "LibCurl"
  DL_CODE_NOTICE = 1006,    // 0.0, the MD5 diagnostic text, or kWebPageNotice
};

// DL_CODE_NOTICE before the DL_CODE_FAIL of a download that got a web page
// instead of the package (a captive portal's sign-in page); the attempt ends
// at its first bytes and leaves no file.
inline constexpr const wchar_t* kWebPageNotice = L"下载到的是网页而不是安装包，请检查网络是否需要登录";

class CDownloader {
 public:
  // Begins one attempt and returns at once; the work runs on the
  // downloader's own threads.
  virtual void Start() = 0;
  virtual ~CDownloader() = default;

  // The package of the last DL_CODE_SUCCESS, held open for reading only
  // (nobody can write, replace or delete it) without a gap since its last
  // byte was written, with the MD5 of the bytes written when one was taken.
  // The owner takes it once, from inside that callback or before the next
  // Start; an empty handle when the downloader could not hold the file
  // unchanged, or does not write it itself (the system downloader).
  virtual download::HeldFile TakeDownloadedFile() { return {}; }
};

// What the owner decides for the downloaders it makes; they read nothing
// of the application's settings themselves.
struct DownloadOptions {
  // libcurl's global initialisation succeeded; without it the segmented
  // downloader asks nothing of the server.
  bool httpReady = true;
  // Takes the "下载失败原因" texts a transfer finds (the file-size query's
  // status) on the downloader's thread; the owner reports them. May be empty.
  std::function<void(const std::wstring& reason)> reportFailureReason;
  // The process runs elevated: side, part and package files are created so
  // that only administrators may write them (download::SideFileOptions).
  bool adminOnlyFiles = false;
};

// Download type 2: the system download service; 3: segmented; any other
// value (the default 1 included): single stream.
std::unique_ptr<CDownloader> CreateDownloader(int32_t downloadType, PhaseCallback callback, const std::wstring& url,
                                              const std::wstring& path, const DownloadOptions& options = {});
