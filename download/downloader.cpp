#include "download/downloader.h"

#include "download/curl_downloader.h"
#include "download/mt_curl_downloader.h"
#include "download/win_downloader.h"

std::unique_ptr<CDownloader> CreateDownloader(int32_t downloadType, PhaseCallback callback, const std::wstring& url,
                                              const std::wstring& path, const DownloadOptions& options) {
  switch (downloadType) {
    case 2:
      return std::make_unique<CWinDownloader>(std::move(callback), url, path);
    case 3:
      return std::make_unique<CMTCurlDownloader>(std::move(callback), url, path, options.httpReady,
                                                 options.adminOnlyFiles);
    default:
      return std::make_unique<CCurlDownloader>(std::move(callback), url, path, options.reportFailureReason,
                                               options.adminOnlyFiles);
  }
}
