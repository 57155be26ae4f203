// Recognises a web page where the package is expected: a hotel or
// captive-portal network answers any URL with 200 and its sign-in page.
// Such an answer is refused within its first bytes instead of being
// downloaded in full and rejected by its MD5.
#pragma once

#include <curl/curl.h>

#include <cstddef>

namespace download {

// "text/html", with or without parameters, in any case.
bool IsWebPageType(const char* contentType);
// The body begins, after a byte-order mark and white space, with
// "<!doctype html" or "<html" in any case; a first chunk that ends inside
// one of them counts too (no package begins with "<").
bool StartsLikeWebPage(const char* data, size_t size);

// The check of one response body, made at its first chunk: the type the
// response declares, and the first bytes when the body begins at byte 0 of
// the package. Write functions call Refuses for every chunk; only the first
// of each request is looked at.
class WebPageCheck {
 public:
  // A new request begins (libcurl hands over no body of a redirect).
  void Reset() { checked_ = found_ = false; }
  bool Refuses(CURL* handle, const char* data, size_t size, bool bodyStartsFile);
  bool found() const { return found_; }

 private:
  bool checked_ = false;
  bool found_ = false;
};

}  // namespace download
