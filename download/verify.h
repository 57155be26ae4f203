// The package check: the MD5 the server carries in the package URL's path
// (url-md5) against the MD5 of the file that arrived.
#pragma once

#include <string>

namespace download {

// The second-to-last "/"-separated segment of the real URL, or "" when the
// URL has fewer than two "/". Callers use it only when it has 32 characters.
std::string UrlMd5(const std::string& realUrl);

// The MD5 (RFC 1321) of the file as 32 lower-case hex digits; "" when the
// path is empty or the file cannot be read to its end.
std::string FileMd5(const std::wstring& path);

// True when the url-md5 is usable (32 characters).
inline bool HasUrlMd5(const std::string& urlMd5) { return urlMd5.size() == 32; }

}  // namespace download
