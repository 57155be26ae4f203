// The trust check on real signed programs: the substitute package signed
// by the test publisher, changed after signing, signed by a stranger with
// the publisher's name, signed with an expired certificate, and unsigned.
#include "platform/publisher_check.h"
#include "platform/handles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace {

std::wstring Folder() {
  wchar_t path[MAX_PATH] = {};
  GetEnvironmentVariableW(L"OV_SIGNED_PACKAGES", path, MAX_PATH);
  return path;
}

std::string Pin() {
  std::ifstream in((Folder() + L"\\pin.txt").c_str());
  std::string pin;
  in >> pin;
  return pin;
}

Utils::PublisherCheck Check(const wchar_t* name, const std::vector<std::string>& pins) {
  const std::wstring path = Folder() + L"\\" + name;
  // As the installer holds a package between check and launch.
  const Utils::UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(file) << name;
  return Utils::CheckPublisher(file.get(), path, pins);
}

TEST(PublisherCheck, OnlyThePublishersIntactSignatureIsTrusted) {
  const std::string pin = Pin();
  ASSERT_EQ(pin.size(), 64u) << "the signed packages were not made";
  struct Case {
    const wchar_t* file;
    Utils::PublisherCheck::Result result;
  } cases[] = {
      {L"publisher.exe", Utils::PublisherCheck::kTrusted},
      {L"unsigned.exe", Utils::PublisherCheck::kUnsigned},
      {L"flipped.exe", Utils::PublisherCheck::kBadSignature},
      // The same subject name, another key: only the pin tells them apart
      // where the trust provider accepts any authority (Wine).
      {L"stranger.exe", Utils::PublisherCheck::kUnknownPublisher},
      {L"expired.exe", Utils::PublisherCheck::kExpired},
  };
  for (const Case& c : cases) {
    const Utils::PublisherCheck check = Check(c.file, {std::string(64, '0'), pin});
    EXPECT_EQ(check.result, c.result) << std::string(c.file, c.file + wcslen(c.file)) << ": "
                                      << std::string(check.Describe().begin(), check.Describe().end());
  }
  EXPECT_EQ(Check(L"publisher.exe", {std::string(64, '0')}).result, Utils::PublisherCheck::kUnknownPublisher)
      << "without its pin the publisher is a stranger too";
  EXPECT_EQ(Check(L"publisher.exe", {pin}).signerKey, pin);
  const std::vector<std::string> built = Utils::BuiltInPublisherPins();
  EXPECT_NE(std::find(built.begin(), built.end(), pin), built.end()) << "this build pins its test publisher";
  EXPECT_FALSE(Utils::PublisherCheckDeliberatelyOff());
}

TEST(PublisherCheck, Sha256OfKnownText) {
  EXPECT_EQ(Utils::Sha256Hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
