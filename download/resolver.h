// The one place both libcurl downloaders learn where the package is and how
// long it is, before any byte of it is written.
//
// HEAD first, for the real URL (after redirects) and the length; the single
// stream repeats it once more when the first pass gave nothing usable.
// When HEAD gets an answer that is no use (a status outside 200 to 399, or
// no length: servers and storage URLs signed for GET only refuse HEAD with
// 405 or 403), one GET for the byte range 0-0 asks again: a 206 gives the
// total in its Content-Range, a 200 (a server without ranges) its
// Content-Length, and the body is not read. A length is never taken from
// an error status. A 200 web page where the package is expected (a
// captive portal's sign-in page) is reported as such and not measured.
//
// Runs on the calling thread; the stop function is asked about once a
// second while a request waits, and ends it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "download/timing.h"

namespace download {

enum class LengthSource { kNone, kHead, kRangedGet206, kRangedGet200 };

// "HEAD", "ranged GET 206", "ranged GET 200", "none": for the log.
const wchar_t* LengthSourceName(LengthSource source);

struct Resolution {
  std::string url;      // the real URL; empty when no request got through
  int64_t length = -1;  // -1 when not learned
  bool ranges = true;   // false when the server answered a range with the whole file
  LengthSource source = LengthSource::kNone;
  bool webPage = false;  // a web page came back instead of the package
};

struct ResolveOptions {
  // HEAD passes: the single stream makes a second one (a HEAD for the real
  // URL, then one for that URL's length) when the first gave no real URL or
  // a length below minLength.
  int headPasses = 1;
  int64_t minLength = 0;
  std::function<bool()> stopped;
  // Takes the status of a HEAD answer outside 200 to 399. May be empty.
  std::function<void(long status)> badHeadStatus;
  // Bounds each request's wait for an answer; heard from on every answer.
  SilenceClock* clock = nullptr;
};

Resolution Resolve(const std::string& url, const ResolveOptions& options);

// A "Content-Range: bytes first-last/total" header line (any case); false
// for any other line. total is -1 when given as "*".
struct ContentRange {
  int64_t first = -1;
  int64_t last = -1;
  int64_t total = -1;
};
bool ParseContentRange(const char* line, size_t size, ContentRange* range);

}  // namespace download
