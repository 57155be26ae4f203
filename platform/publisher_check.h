// Whether a file was signed by the publisher before the installer runs it
// with administrator rights: an Authenticode signature that the system's
// trust provider accepts, made with a certificate whose public key is one
// of the pinned ones. The subject name is never trusted on its own: anyone
// can make a certificate with the publisher's name.
//
// Pins are SHA-256 digests of the signing certificate's DER-encoded
// SubjectPublicKeyInfo, 64 lower-case hexadecimal digits each; the build
// sets them (docs/trust.md). Any thread; nothing is logged here.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace Utils {

struct PublisherCheck {
  enum Result {
    kTrusted,           // intact, signed with a pinned key, certificate valid
    kUnsigned,          // no signature at all
    kBadSignature,      // the trust provider refused it (changed file, revoked, ...)
    kUnknownPublisher,  // a valid signature, but not with a pinned key
    kExpired,           // the publisher's certificate is outside its validity, no timestamp
    kCheckFailed,       // the file could not be checked
  };
  Result result = kCheckFailed;
  LONG trustStatus = 0;   // what WinVerifyTrust answered
  std::string signerKey;  // the signer's key digest, when one was read

  bool trusted() const { return result == kTrusted; }
  // "unsigned", "bad signature (0x80096010)", ... for logs and failure notices.
  std::wstring Describe() const;
};

// Checks the open file `file` (its path is needed too: the trust provider
// reads both). The handle must stay open, with writing and deleting shared
// with nobody, until the checked file has been started.
PublisherCheck CheckPublisher(HANDLE file, const std::wstring& path, const std::vector<std::string>& pins);

// The pins this build was made with (the build option), and whether the
// build was deliberately made without the check.
std::vector<std::string> BuiltInPublisherPins();
bool PublisherCheckDeliberatelyOff();

// For the programs the installer starts: empty when the open file may run
// (signed by a pinned publisher, or the check deliberately built out),
// otherwise why not. Logs a refusal with the signer's key digest.
std::wstring RefusedByPublisherCheck(HANDLE file, const std::wstring& path);

// SHA-256 of `data`, lower-case hex.
std::string Sha256Hex(const void* data, size_t size);

}  // namespace Utils
