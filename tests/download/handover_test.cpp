// A success hands the package over held: open for reading only since its
// last byte was written, with the MD5 of what was written, so that its owner
// can start it without reading it again and nobody can change it meanwhile.
// The system downloader writes through a service and holds nothing.
#include <gtest/gtest.h>

#include "download/downloader.h"
#include "download/verify.h"
#include "tests/download/harness.h"

using namespace dltest;

namespace {

TEST(Handover, SuccessHandsOverThePackageHeldWithItsDigest) {
  struct Case {
    int32_t type;
    bool held;
  } cases[] = {{1, true}, {3, true}, {2, false}};
  // Two parts for the segmented downloader: part 1 joins the digest at the join.
  const std::string md5 = AddScenario(R"({"name": "handover", "size": 31457280})");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    ScratchDir dir;
    const std::wstring target = (dir / L"pkg.exe").wstring(), other = (dir / L"other.exe").wstring();
    WriteFile(other, "a stranger's program");
    Recorder recorder;
    auto downloader = CreateDownloader(c.type, recorder.Callback(), Wide(PackageUrl("handover", md5)), target);
    recorder.downloader = downloader.get();
    downloader->Start();
    ASSERT_TRUE(recorder.WaitFinal(120000));
    ASSERT_EQ(recorder.Codes().back(), DL_CODE_SUCCESS);
    download::HeldFile held = downloader->TakeDownloadedFile();
    ASSERT_EQ(static_cast<bool>(held.handle), c.held);
    if (!c.held) continue;
    EXPECT_EQ(held.md5, md5);
    EXPECT_FALSE(downloader->TakeDownloadedFile().handle) << "handed over once";
    const Utils::UniqueHandle writer(CreateFileW(target.c_str(), GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer) << "nobody writes the held package";
    EXPECT_FALSE(MoveFileExW(other.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) << "nor replaces it";
    held.handle.reset();
    EXPECT_EQ(download::FileMd5(target), md5);
    EXPECT_TRUE(MoveFileExW(other.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) << "released";
  }
}

}  // namespace
