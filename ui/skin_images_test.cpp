// The skin images are recompressed when the archive is packed
// (ui/pack_skins.py): each must still decode, as the window decodes it, to
// the pixels of its original in ui/skins/.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "platform/strings.h"
#include "toolkit/archive.h"
#include "toolkit/image.h"
#include "toolkit/test_support.h"

namespace {

std::string EmbeddedSkinArchive() {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(147), L"SKINRES");
  HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  return data ? std::string(static_cast<const char*>(data), SizeofResource(nullptr, found)) : std::string();
}

TEST(SkinImages, RecompressedImagesShowTheOriginalPixels) {
  const std::string bytes = EmbeddedSkinArchive();
  skin::SkinArchive archive;
  ASSERT_TRUE(archive.Open(bytes.data(), bytes.size()));
  int compared = 0;
  for (const auto& entry : archive.entries()) {
    if (!entry.name.ends_with(L".png")) continue;
    const std::string name = Utils::WideToUtf8(entry.name);
    const std::string original = skin::test::ReadFileBytes(skin::test::Widen(OV_SKIN_DIR) + L"/" + entry.name);
    if (original.empty()) continue;  // a placeholder for an image the skins lack
    const auto want = skin::DecodeImage(original);
    const auto got = skin::DecodeImage(entry.data);
    ASSERT_TRUE(want && got) << name;
    ASSERT_EQ(got->width, want->width) << name;
    ASSERT_EQ(got->height, want->height) << name;
    EXPECT_EQ(std::memcmp(got->bits, want->bits, static_cast<size_t>(want->width) * want->height * 4), 0) << name;
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

}  // namespace
