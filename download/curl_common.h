// Small pieces both libcurl downloaders use.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <initializer_list>
#include <string>

namespace download {

// libcurl 7.88 follows redirects without limit by default: a redirect loop
// would never end.
inline constexpr long kMaxRedirects = 20;

// A large receive buffer (CURLOPT_BUFFERSIZE, 16 KiB by default): every
// receive is a system call, and under Wine several round trips to its
// server. libcurl 7.88 would take up to 10 MiB; larger than 1 MiB cost as
// much again in resident memory without a gain bench/download could tell
// from the machine's noise.
inline constexpr long kReceiveBuffer = 1 << 20;
// Blocks of the files a download writes (download::SideFile) and of the
// reads that check them; libcurl hands its data over 16 KiB at a time.
inline constexpr size_t kFileBuffer = 1 << 20;

// The first failing result of libcurl calls made in this order, or
// CURLE_OK. An OR of the results would name an error that never happened
// (43 | 48 = 59). A braced list evaluates its calls in order.
CURLcode FirstFailure(std::initializer_list<CURLcode> results);

// Write function that discards the body (HEAD requests).
size_t DiscardBody(char* data, size_t size, size_t count, void* user);

// Options every request of ours gets besides its own: a redirect limit, a
// stall limit (under 1 byte/s for stallSeconds), and the network policy for
// its URL (download/network_policy.h: proxy, proxy authentication,
// revocation). Every handle we make, probe, transfer or part, passes through
// here. Returns the first failing option's result.
CURLcode SetSafetyLimits(CURL* handle, const char* url, long stallSeconds);

// What a request with a body (a transfer into a file) is given besides
// its own options.
struct BodyRequest {
  const char* url;
  curl_write_callback write;
  void* writeData;
  curl_xferinfo_callback progress;
  void* progressData;
  long stallSeconds;
  long connectMs;  // the connection's bound (see SilenceClock::RequestBoundMs)
};

// The options both downloaders' transfers share: no overall time limit,
// redirects, the write and progress functions, failure on HTTP errors, the
// connect and safety limits, the receive buffer. Returns the first failing
// option's result.
CURLcode SetBodyRequestOptions(CURL* handle, const BodyRequest& request);

// libcurl's text for a result, as a wide string; "Unknown error" for our
// own negative results. Our libcurl is built without its texts (for size):
// it says only "No error" or "Error", and the number beside it in the log
// names the result.
std::wstring CurlErrorText(int code);

// Size of a file in bytes, or -1 when it does not exist or cannot be read.
int64_t FileSize(const std::wstring& path);

}  // namespace download
