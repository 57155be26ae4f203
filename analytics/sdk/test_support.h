// Test helpers of the analytics core: stderr capture and a request body
// decoder written independently of the encoder.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <zlib.h>

#include <iostream>
#include <sstream>
#include <string>

namespace analytics_core::testing {

class StderrCapture {
 public:
  StderrCapture() : old_(std::cerr.rdbuf(text_.rdbuf())) {}
  ~StderrCapture() { std::cerr.rdbuf(old_); }
  std::string Take() {
    std::string s = text_.str();
    text_.str({});
    return s;
  }

 private:
  std::ostringstream text_;
  std::streambuf* old_;
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
