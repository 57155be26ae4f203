#include "download/verify.h"

#include <windows.h>
#include <wincrypt.h>

#include <memory>

#include "platform/crypt_handles.h"
#include "platform/log.h"
#include "platform/strings.h"

namespace download {

std::string UrlMd5(const std::string& realUrl) {
  const size_t last = realUrl.rfind('/');
  if (last == std::string::npos) return {};
  const std::string head = realUrl.substr(0, last);
  const size_t previous = head.rfind('/');
  if (previous == std::string::npos) return {};
  return head.substr(previous + 1);
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
  Utils::UniqueCryptProvider provider;
  Utils::UniqueCryptHash hash;
  std::string hex;
  DWORD error = ERROR_SUCCESS;
  if (CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
      CryptCreateHash(provider.get(), CALG_MD5, 0, 0, hash.put())) {
    // Large reads: the package is hundreds of MiB and each call costs a
    // trip through the system.
    constexpr DWORD kBlock = 1 << 20;
    auto buffer = std::make_unique<BYTE[]>(kBlock);
    for (DWORD got = 0; error == ERROR_SUCCESS;) {
      if (!ReadFile(file.get(), buffer.get(), kBlock, &got, nullptr))
        error = GetLastError();
      else if (got == 0)
        break;
      else if (!CryptHashData(hash.get(), buffer.get(), got, 0))
        error = GetLastError();
    }
    BYTE digest[16];
    DWORD size = sizeof(digest);
    if (error == ERROR_SUCCESS) {
      if (CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0) && size == sizeof(digest))
        hex = Utils::LowerHex(digest, sizeof(digest));
      else
        error = GetLastError();
    }
  } else {
    error = GetLastError();
  }
  if (hex.empty()) OV_LOGS(L"md5 failed:%lu:%s", error, path.c_str());
  return hex;
}

}  // namespace download
