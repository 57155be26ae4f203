// The package check: the MD5 the server carries in the package URL's path
// (url-md5) against the MD5 of the file that arrived.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "platform/crypt_handles.h"

namespace download {

// The second-to-last "/"-separated segment of the real URL, or "" when the
// URL has fewer than two "/". Callers use it only when it has 32 characters.
std::string UrlMd5(const std::string& realUrl);

// True when the url-md5 is usable (32 characters).
inline bool HasUrlMd5(const std::string& urlMd5) { return urlMd5.size() == 32; }

// An MD5 (RFC 1321) fed in pieces, with the system's provider. One thread
// at a time.
class Md5 {
 public:
  Md5();
  // False once a call failed (the provider is missing, or a step failed);
  // the digest is then "".
  bool Add(const void* data, size_t size);
  // The digest as 32 lower-case hex digits, or "" after a failure. The
  // first call ends the digest: later Adds fail.
  std::string Hex();
  // The first failing call's error, ERROR_SUCCESS while none failed.
  DWORD error() const { return error_; }

 private:
  Utils::UniqueCryptProvider provider_;
  Utils::UniqueCryptHash hash_;
  DWORD error_ = ERROR_SUCCESS;
  std::string hex_;
  bool ended_ = false;
};

// The MD5 of an open file from its first byte to its end, read through the
// handle at explicit offsets (its file pointer is left at the end); "" when
// it cannot be read to its end.
std::string OpenFileMd5(HANDLE file);

// The MD5 of the file as 32 lower-case hex digits; "" when the path is empty
// or the file cannot be read to its end.
std::string FileMd5(const std::wstring& path);

}  // namespace download
