// The quiet install in this process, with the network check replaced: the
// one failure the real exe cannot be brought to here, as Wine's network list
// manager reports this machine's own connectivity.
#include "app/quiet_install.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "install/install_session.h"
#include "platform/paths.h"
#include "platform/scoped_hook.h"
#include "platform/strings.h"
#include "tests/support/test_support.h"

namespace {

TEST(QuietInstall, ThePoorNetworkTheCheckFindsEndsItBeforeTheDownload) {
  RegDeleteTreeW(HKEY_CURRENT_USER, Utils::kProductRegKey);  // no earlier installation
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring target = std::wstring(temp) + L"ov_quiet_install_test";
  struct Case {
    uint32_t answer;  // of the network list manager
    ExitCode code;
  } cases[] = {
      {.answer = 0x10000, .code = ExitCode::kNoNetwork},       // no connectivity at all
      {.answer = 0x20001, .code = ExitCode::kNoNetwork},       // a network, but not the internet
      {.answer = 0x00040, .code = ExitCode::kDownloadFailed},  // the internet: on to the download
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    const Utils::ScopedHook<InstallSession::NetworkCheck> check(&InstallSession::SetNetworkCheck,
                                                                [answer = c.answer] { return answer; });
    InstallerSettings settings;
    settings.IsCheckNet = true;
    settings.IsEnableAppAnalytics = false;
    settings.DownloadUrl = L"http://127.0.0.1:9/software/0/none.exe";  // nothing listens there
    settings.InstDir = target;
    std::wstring cause;
    EXPECT_EQ(RunQuietInstall(settings, &cause), c.code);
    EXPECT_EQ(cause.find(L"the network check answered") != std::wstring::npos, c.code == ExitCode::kNoNetwork);
    EXPECT_EQ(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES) << "the folder it made is gone";
    test_support::RemoveTree(target);
  }
}

}  // namespace
