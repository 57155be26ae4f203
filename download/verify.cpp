#include "download/verify.h"

#include <windows.h>
#include <wincrypt.h>

#include <memory>

#include "download/curl_common.h"
#include "platform/handles.h"
#include "platform/log.h"
#include "platform/strings.h"
#include "platform/system_error.h"

namespace download {

std::string UrlMd5(const std::string& realUrl) {
  const size_t last = realUrl.rfind('/');
  if (last == std::string::npos) return {};
  const std::string head = realUrl.substr(0, last);
  const size_t previous = head.rfind('/');
  if (previous == std::string::npos) return {};
  return head.substr(previous + 1);
}

Md5::Md5() {
  if (!CryptAcquireContextW(provider_.put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
      !CryptCreateHash(provider_.get(), CALG_MD5, 0, 0, hash_.put()))
    error_ = Utils::SystemResult::LastError().error;
}

bool Md5::Add(const void* data, size_t size) {
  if (ended_ && error_ == ERROR_SUCCESS) error_ = ERROR_INVALID_STATE;
  if (error_ != ERROR_SUCCESS) return false;
  // CryptHashData takes a 32-bit length.
  const BYTE* bytes = static_cast<const BYTE*>(data);
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
    if (!CryptHashData(hash_.get(), bytes, piece, 0)) {
      error_ = Utils::SystemResult::LastError().error;
      return false;
    }
    bytes += piece;
    size -= piece;
  }
  return true;
}

std::string Md5::Hex() {
  if (ended_ || error_ != ERROR_SUCCESS) return error_ == ERROR_SUCCESS ? hex_ : "";
  ended_ = true;
  BYTE digest[16];
  DWORD size = sizeof(digest);
  if (CryptGetHashParam(hash_.get(), HP_HASHVAL, digest, &size, 0) && size == sizeof(digest))
    hex_ = Utils::LowerHex(digest, sizeof(digest));
  else
    error_ = Utils::SystemResult::LastError().error;
  return hex_;
}

std::string OpenFileMd5(HANDLE file) {
  Md5 md5;
  // Large reads: the package is hundreds of MiB and each call costs a trip
  // through the system.
  const auto buffer = std::make_unique<BYTE[]>(kFileBuffer);
  DWORD error = ERROR_SUCCESS;
  for (uint64_t offset = 0; error == ERROR_SUCCESS;) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(file, buffer.get(), static_cast<DWORD>(kFileBuffer), &got, &at)) {
      error = GetLastError();
      if (error == ERROR_HANDLE_EOF) return md5.Hex();
    } else if (got == 0) {
      return md5.Hex();
    } else if (!md5.Add(buffer.get(), got)) {
      error = md5.error();
    }
    offset += got;
  }
  OV_LOGS(L"md5 failed:%lu", error);
  return {};
}

std::string FileMd5(const std::wstring& path) {
  if (path.empty()) return {};
  const Utils::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  // A file that cannot be read is as unverified as one that differs; the
  // log keeps the reason.
  if (!file) {
    OV_LOGS(L"md5: cannot open %s:%lu", path.c_str(), GetLastError());
    return {};
  }
  const std::string hex = OpenFileMd5(file.get());
  if (hex.empty()) OV_LOGS(L"md5 failed:%s", path.c_str());
  return hex;
}

}  // namespace download
