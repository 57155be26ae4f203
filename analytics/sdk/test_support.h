// Test helpers of the analytics core: stderr capture and a request body
// decoder written independently of the encoder.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <zlib.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "platform/handles.h"

namespace analytics_core::testing {

// Captures what the process really writes to its standard error stream:
// descriptor 2 points at a scratch file while the capture lives.
class StderrCapture {
 public:
  StderrCapture() {
    char dir[MAX_PATH], file[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "err", 0, file);
    path_ = file;
    std::fflush(stderr);
    saved_ = _dup(2);
    const int fd = _open(path_.c_str(), _O_RDWR | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    _dup2(fd, 2);
    _close(fd);
  }
  ~StderrCapture() {
    std::fflush(stderr);
    _dup2(saved_, 2);
    _close(saved_);
    DeleteFileA(path_.c_str());
  }
  // What was written since the last call, with the console's "\r\n" as "\n".
  std::string Take() {
    std::fflush(stderr);
    std::string text;
    if (const Utils::UniqueStdioFile f{std::fopen(path_.c_str(), "rb")}) {
      char buffer[4096];
      size_t n = 0;
      while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) text.append(buffer, n);
    }
    _chsize(2, 0);
    _lseek(2, 0, SEEK_SET);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
      if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
  }

 private:
  std::string path_;
  int saved_ = -1;
};

// Undoes the body's three encodings with independent code paths.
inline std::string DecodeBody(const std::string& body) {
  const std::string prefix = "data_list=", suffix = "&gzip=1";
  if (body.rfind(prefix, 0) != 0 || body.size() < prefix.size() + suffix.size() ||
      body.compare(body.size() - suffix.size(), suffix.size(), suffix) != 0)
    return "<bad frame>";
  const std::string enc = body.substr(prefix.size(), body.size() - prefix.size() - suffix.size());
  std::string b64;
  for (size_t i = 0; i < enc.size(); ++i) {
    if (enc[i] == '%') {
      b64 += static_cast<char>(std::stoi(enc.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      b64 += enc[i];
    }
  }
  DWORD n = 0;
  CryptStringToBinaryA(b64.c_str(), b64.size(), CRYPT_STRING_BASE64, nullptr, &n, nullptr, nullptr);
  std::string gz(n, '\0');
  if (!CryptStringToBinaryA(b64.c_str(), b64.size(), CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(gz.data()), &n,
                            nullptr, nullptr))
    return "<bad base64>";
  z_stream zs = {};
  inflateInit2(&zs, 31);
  zs.next_in = reinterpret_cast<Bytef*>(gz.data());
  zs.avail_in = n;
  std::string out;
  char chunk[4096];
  int rc;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(chunk);
    zs.avail_out = sizeof chunk;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - zs.avail_out);
  } while (rc == Z_OK);
  inflateEnd(&zs);
  return rc == Z_STREAM_END ? out : "<bad gzip>";
}

}  // namespace analytics_core::testing
