// How package URLs are handed to the transfer libraries.
#pragma once

#include <string>

namespace download {

// libcurl takes narrow URLs: UTF-8, except "file:///" URLs, which name a
// local path and go in the ANSI code page.
std::string NarrowUrl(const std::wstring& url);

// For the system download service: UTF-8 bytes escaped one by one. Bytes
// 33..126 stay (so "/", ":", "?" and an existing "%XX" are unchanged), the
// space becomes "+", every other byte "%XX" in upper-case hex. "file:///"
// URLs are returned unchanged.
std::wstring EscapeUrlForSystemDownload(const std::wstring& url);

}  // namespace download
