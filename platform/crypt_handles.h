// Owning types for CryptoAPI and CNG handles (see platform/handles.h): the
// digest functions hold these, so a failing step cannot leak a provider.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include "platform/handles.h"

namespace Utils {

struct CryptProviderTraits {
  using Type = HCRYPTPROV;
  static bool IsEmpty(HCRYPTPROV value) { return value == 0; }
  static bool Release(HCRYPTPROV value) { return CryptReleaseContext(value, 0) != FALSE; }
};
struct CryptHashTraits {
  using Type = HCRYPTHASH;
  static bool IsEmpty(HCRYPTHASH value) { return value == 0; }
  static bool Release(HCRYPTHASH value) { return CryptDestroyHash(value) != FALSE; }
};
struct BCryptAlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static bool IsEmpty(BCRYPT_ALG_HANDLE value) { return value == nullptr; }
  static bool Release(BCRYPT_ALG_HANDLE value) { return BCryptCloseAlgorithmProvider(value, 0) == 0; }
};
struct BCryptHashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static bool IsEmpty(BCRYPT_HASH_HANDLE value) { return value == nullptr; }
  static bool Release(BCRYPT_HASH_HANDLE value) { return BCryptDestroyHash(value) == 0; }
};

using UniqueCryptProvider = Owned<CryptProviderTraits>;      // CryptAcquireContextW
using UniqueCryptHash = Owned<CryptHashTraits>;              // CryptCreateHash
using UniqueBCryptAlgorithm = Owned<BCryptAlgorithmTraits>;  // BCryptOpenAlgorithmProvider
using UniqueBCryptHash = Owned<BCryptHashTraits>;            // BCryptCreateHash

}  // namespace Utils
