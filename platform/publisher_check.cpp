#include "platform/publisher_check.h"

#include <bcrypt.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/crypt_handles.h"
#include "platform/log.h"
#include "platform/strings.h"

#if !defined(OV_PUBLISHER_PIN_LIST) || !defined(OV_PUBLISHER_CHECK_OFF)
#error "the build names the publisher pins (OV_PUBLISHER_PINS) or turns the check off"
#endif

namespace Utils {

namespace {

// The digest of the certificate's public key as the pins name it.
std::string KeyDigest(PCCERT_CONTEXT cert) {
  UniqueLocalMemory<BYTE> der;
  DWORD size = 0;
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &cert->pCertInfo->SubjectPublicKeyInfo,
                           CRYPT_ENCODE_ALLOC_FLAG, nullptr, der.put(), &size))
    return "";
  return Sha256Hex(der.get(), size);
}

// wintrust.dll is not one of the system's known DLLs: a static import would
// be looked up beside the exe first (a Downloads folder), before start-up
// can restrict the search. It is loaded from the system folder when needed.
struct TrustApi {
  decltype(&WinVerifyTrust) verify = nullptr;
  decltype(&WTHelperProvDataFromStateData) providerData = nullptr;
  decltype(&WTHelperGetProvSignerFromChain) signer = nullptr;
  decltype(&WTHelperGetProvCertFromChain) cert = nullptr;
  bool ok() const { return verify && providerData && signer && cert; }
};

template <class F>
void Load(HMODULE module, const char* name, F* out) {
  *out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const TrustApi& Trust() {
  static const TrustApi api = [] {
    TrustApi a;
    wchar_t path[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH - 16) return a;
    HMODULE module = LoadLibraryW((std::wstring(path, n) + L"\\wintrust.dll").c_str());  // stays loaded
    if (!module) return a;
    Load(module, "WinVerifyTrust", &a.verify);
    Load(module, "WTHelperProvDataFromStateData", &a.providerData);
    Load(module, "WTHelperGetProvSignerFromChain", &a.signer);
    Load(module, "WTHelperGetProvCertFromChain", &a.cert);
    return a;
  }();
  return api;
}

bool RevocationUnknown(LONG status) {
  // Offline revocation servers must not stop an installation: the pin
  // already names the publisher. A certificate known to be revoked does.
  return status == static_cast<LONG>(CERT_E_REVOCATION_FAILURE) ||
         status == static_cast<LONG>(CRYPT_E_REVOCATION_OFFLINE) ||
         status == static_cast<LONG>(CRYPT_E_NO_REVOCATION_CHECK);
}

}  // namespace

std::string Sha256Hex(const void* data, size_t size) {
  UniqueBCryptAlgorithm algorithm;
  UniqueBCryptHash hash;
  unsigned char digest[32] = {};
  bool ok =
      BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
      BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0) == 0 &&
      BCryptHashData(hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(size), 0) == 0 &&
      BCryptFinishHash(hash.get(), digest, sizeof digest, 0) == 0;
  return ok ? LowerHex(digest, sizeof digest) : "";
}

std::vector<std::string> BuiltInPublisherPins() {
  std::vector<std::string> pins;
  const std::string list = OV_PUBLISHER_PIN_LIST;  // "pin,pin,..."
  for (size_t at = 0; at < list.size();) {
    size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    if (end > at) pins.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  return pins;
}

bool PublisherCheckDeliberatelyOff() { return OV_PUBLISHER_CHECK_OFF != 0; }

std::wstring RefusedByPublisherCheck(HANDLE file, const std::wstring& path) {
  if (PublisherCheckDeliberatelyOff()) return L"";
  const PublisherCheck check = CheckPublisher(file, path, BuiltInPublisherPins());
  if (check.trusted()) return L"";
  const std::wstring why = check.Describe();
  OV_LOGS(L"%s refused: %s, signer key %S", path.c_str(), why.c_str(),
          check.signerKey.empty() ? "none" : check.signerKey.c_str());
  return why;
}

std::wstring PublisherCheck::Describe() const {
  const wchar_t* what = L"check failed";
  switch (result) {
    case kTrusted:
      what = L"signed by the publisher";
      break;
    case kUnsigned:
      what = L"unsigned";
      break;
    case kBadSignature:
      what = L"bad signature";
      break;
    case kUnknownPublisher:
      what = L"signed by an unknown publisher";
      break;
    case kExpired:
      what = L"publisher certificate expired";
      break;
    case kCheckFailed:
      break;
  }
  wchar_t text[128];
  _snwprintf(text, 127, L"%ls (0x%08lX)", what, static_cast<unsigned long>(trustStatus));
  text[127] = 0;
  return text;
}

PublisherCheck CheckPublisher(HANDLE file, const std::wstring& path, const std::vector<std::string>& pins) {
  PublisherCheck check;
  const TrustApi& api = Trust();
  if (!api.ok()) return check;  // kCheckFailed: nothing runs unchecked
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = path.c_str();
  fileInfo.hFile = file;  // the provider reads this handle, not the path
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  check.trustStatus = api.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  const LONG status = check.trustStatus;

  if (status == static_cast<LONG>(TRUST_E_NOSIGNATURE) || status == static_cast<LONG>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
      status == static_cast<LONG>(TRUST_E_PROVIDER_UNKNOWN)) {
    check.result = PublisherCheck::kUnsigned;
  } else if (status == static_cast<LONG>(CERT_E_EXPIRED)) {
    check.result = PublisherCheck::kExpired;  // the provider found no timestamp that saves it
  } else if (status != 0 && !RevocationUnknown(status)) {
    check.result = PublisherCheck::kBadSignature;  // a changed file, an untrusted chain, a revoked certificate
  } else {
    CRYPT_PROVIDER_DATA* provider = api.providerData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer = provider ? api.signer(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* cert = signer ? api.cert(signer, 0) : nullptr;
    if (!cert || !cert->pCert) {
      check.result = PublisherCheck::kCheckFailed;
    } else {
      check.signerKey = KeyDigest(cert->pCert);
      const bool pinned =
          !check.signerKey.empty() && std::find(pins.begin(), pins.end(), check.signerKey) != pins.end();
      // A signature outlives its certificate only when it was timestamped
      // while the certificate was valid (a countersignature). Checked here
      // too: not every trust provider looks at the dates.
      const bool expired = CertVerifyTimeValidity(nullptr, cert->pCert->pCertInfo) != 0;
      if (!pinned)
        check.result = PublisherCheck::kUnknownPublisher;
      else if (expired && signer->csCounterSigners == 0)
        check.result = PublisherCheck::kExpired;
      else
        check.result = PublisherCheck::kTrusted;
    }
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  api.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return check;
}

}  // namespace Utils
