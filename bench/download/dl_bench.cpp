// Benchmark driver for the download engine (a console program run under Wine):
//   dl_bench download <type> <url> <path>   one download to its final code
//   dl_bench md5 <path>                     the file MD5 routine
//   dl_bench idle                           nothing (memory baseline)
//   dl_bench raw <url> <path>               bare libcurl + fwrite, as curl(1)
//                                           does: the Wine layer's ceiling
//   dl_bench check <path>                   the publisher check of a file, as
//                                           the installer runs it on the package
// Prints "seconds=<s> result=<code> peak_ws=<bytes> peak_private=<bytes>".
#include <windows.h>
#include <psapi.h>

#include <curl/curl.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "download/curl_handles.h"
#include "download/downloader.h"
#include "download/verify.h"
#include "platform/handles.h"
#include "platform/publisher_check.h"

namespace {

double Seconds(const LARGE_INTEGER& from) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string WideToUtf8Simple(const std::wstring& text) { return std::string(text.begin(), text.end()); }

void Print(double seconds, int result) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  std::printf("seconds=%.3f result=%d peak_ws=%lu peak_private=%lu\n", seconds, result,
              static_cast<unsigned long>(counters.PeakWorkingSetSize),
              static_cast<unsigned long>(counters.PeakPagefileUsage));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  if (mode == L"md5" && argc == 3) {
    const std::string md5 = download::FileMd5(argv[2]);
    Print(Seconds(start), md5.size() == 32 ? 0 : 1);
    std::printf("md5=%s\n", md5.c_str());
    return 0;
  }
  if (mode == L"raw" && argc == 4) {
    curl_global_init(CURL_GLOBAL_ALL);
    Utils::UniqueStdioFile file(_wfopen(argv[3], L"wb"));
    const download::UniqueCurl curl(curl_easy_init());
    const std::string url = WideToUtf8Simple(argv[2]);
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, file.get());
    QueryPerformanceCounter(&start);
    const int result = curl_easy_perform(curl.get());
    file.reset();
    Print(Seconds(start), result);
    return result;
  }
  if (mode == L"check" && argc == 3) {
    const Utils::UniqueHandle file(
        CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    QueryPerformanceCounter(&start);
    const bool trusted = file && Utils::RefusedByPublisherCheck(file.get(), argv[2]).empty();
    Print(Seconds(start), trusted ? 0 : 1);
    return trusted ? 0 : 1;
  }
  if (mode == L"idle") {
    Print(0, 0);
    return 0;
  }
  if (mode != L"download" || argc != 5) {
    std::fprintf(
        stderr, "usage: dl_bench download <type> <url> <path> | md5 <path> | raw <url> <path> | check <path> | idle\n");
    return 2;
  }
  curl_global_init(CURL_GLOBAL_ALL);
  std::mutex mutex;
  std::condition_variable done;
  int final = 0;
  auto downloader = CreateDownloader(
      _wtoi(argv[2]),
      [&](int32_t code, double, const wchar_t*) {
        if (code != DL_CODE_SUCCESS && code != DL_CODE_FAIL) return;
        std::lock_guard<std::mutex> lock(mutex);
        final = code;
        done.notify_all();
      },
      argv[3], argv[4]);
  QueryPerformanceCounter(&start);
  downloader->Start();
  {
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&] { return final != 0; });
  }
  const double seconds = Seconds(start);
  downloader.reset();
  Print(seconds, final == DL_CODE_SUCCESS ? 0 : 1);
  curl_global_cleanup();
  return final == DL_CODE_SUCCESS ? 0 : 1;
}
