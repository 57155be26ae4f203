#include "toolkit/archive.h"

#include <gtest/gtest.h>

#include "toolkit/markup.h"
#include "toolkit/test_support.h"

namespace skin {
namespace {

class ArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = test::ReadFileBytes(test::Widen(OV_FIXTURE_ARCHIVE));
    ASSERT_FALSE(bytes_.empty());
  }
  void TearDown() override { CloseRegisteredArchive(); }
  std::string bytes_;
};

TEST_F(ArchiveTest, FindsEntriesIgnoringCaseAndSeparator) {
  SkinArchive archive;
  ASSERT_TRUE(archive.Open(bytes_.data(), bytes_.size()));
  EXPECT_EQ(archive.entries().size(), 9u);  // folders are not entries
  int index = -1;
  unsigned long long size = 0;
  EXPECT_TRUE(archive.Find(L"MainWnd.xml", &index, &size));
  EXPECT_TRUE(archive.Find(L"res\\sub\\pixel.PNG", &index, &size));
  EXPECT_TRUE(archive.Find(L"res/Sub/Pixel.png", &index, &size));
  EXPECT_FALSE(archive.Find(L"res/Sub/Pixel.pn", &index, &size));
  EXPECT_FALSE(archive.Find(L"Pixel.png", &index, &size));
  ASSERT_TRUE(archive.Find(L"exact.xml", &index, &size));
  EXPECT_EQ(size, 4194304u);
  std::string out(static_cast<size_t>(size), '\0');
  ASSERT_TRUE(archive.Read(index, out.data(), out.size()));
  EXPECT_EQ(out.substr(0, 8), "<Window>");
  EXPECT_FALSE(archive.Read(index, out.data(), out.size() - 1));  // too small a buffer
}

TEST_F(ArchiveTest, LoadsSkinsWithTheLimitsAndMessages) {
  SetArchiveKind7z(true);
  ASSERT_TRUE(OpenRegisteredArchive(bytes_.data(), bytes_.size()));
  struct Case {
    const wchar_t* entry;
    bool ok;
    const wchar_t* message;
  } cases[] = {
      {L"MAINWND.XML", true, L""},
      {L"bom.xml", true, L""},
      {L"exact.xml", true, L""},
      {L"over.xml", false, L"File too large"},
      {L"empty.xml", false, L"File is empty"},
      {L"missing.xml", false, L"Could not find ziped file"},
  };
  for (const Case& c : cases) {
    Markup m;
    EXPECT_EQ(m.LoadFromArchive(c.entry, TextEncoding::kUtf8), c.ok) << c.entry;
    EXPECT_STREQ(m.ErrorMessage(), c.message) << c.entry;
  }
  Markup plain, bom;
  ASSERT_TRUE(plain.LoadFromArchive(L"mainWnd.xml", TextEncoding::kUtf8));
  ASSERT_TRUE(bom.LoadFromArchive(L"bom.xml", TextEncoding::kUtf8));
  EXPECT_EQ(*plain.Root()->children[0].Attribute(L"text"), L"中文");
  EXPECT_EQ(*bom.Root()->children[0].Attribute(L"text"), L"中文");
}

TEST_F(ArchiveTest, RegisteredArchiveIsOpenedOnce) {
  SetArchiveKind7z(true);
  ASSERT_TRUE(OpenRegisteredArchive(bytes_.data(), bytes_.size()));
  const SkinArchive* first = RegisteredArchive();
  const char garbage[] = "not an archive";
  EXPECT_TRUE(OpenRegisteredArchive(garbage, sizeof garbage));
  EXPECT_EQ(RegisteredArchive(), first);
  EXPECT_EQ(RegisteredArchive()->entries().size(), 9u);
}

TEST_F(ArchiveTest, PrefetchedArchiveBecomesTheRegisteredOne) {
  SetArchiveKind7z(true);
  PrefetchArchive(bytes_.data(), bytes_.size());  // unpacks on a worker thread
  ASSERT_TRUE(IsArchiveRegistered());
  EXPECT_EQ(RegisteredArchive()->entries().size(), 9u);
  const char garbage[] = "not an archive";
  PrefetchArchive(garbage, sizeof garbage);  // already registered: nothing starts
  EXPECT_EQ(RegisteredArchive()->entries().size(), 9u);
}

// The window thread reads a prefetched archive while the worker still
// unpacks it: each read waits for its entry and gets what a finished
// archive holds, also for a name the archive lacks and for entries behind
// damage, which never come.
TEST_F(ArchiveTest, ReadsDuringPrefetchMatchAnOpenedArchive) {
  SetArchiveKind7z(true);
  std::string damaged = bytes_;
  damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x5A);
  for (const std::string* bytes : {&bytes_, &damaged}) {
    SkinArchive opened;
    opened.Open(bytes->data(), bytes->size());
    PrefetchArchive(bytes->data(), bytes->size());
    const SkinArchive* prefetched = RegisteredArchive();
    ASSERT_NE(prefetched, nullptr);
    // Last entry first: it is the one still unpacking.
    for (const wchar_t* name : {L"res/grid.png", L"missing.xml", L"MainWnd.xml", L"empty.xml", L"over.xml"}) {
      const std::string* want = opened.Data(name);
      const std::string* got = prefetched->Data(name);
      ASSERT_EQ(got != nullptr, want != nullptr) << name;
      if (got) {
        EXPECT_EQ(*got, *want) << name;
      }
    }
    EXPECT_EQ(prefetched->entries().size(), opened.entries().size());
    EXPECT_EQ(opened.entries().size() < 7u, bytes == &damaged);
    CloseRegisteredArchive();
  }
}

TEST_F(ArchiveTest, WithoutTheArchiveKindNothingIsOpened) {
  SetArchiveKind7z(false);
  EXPECT_FALSE(OpenRegisteredArchive(bytes_.data(), bytes_.size()));
  EXPECT_EQ(RegisteredArchive(), nullptr);
  SetArchiveKind7z(true);
}

TEST_F(ArchiveTest, CorruptOrTruncatedArchivesNeverCrash) {
  // Every truncation point of the header area and the tail, and single
  // flipped bytes all over: opening fails or keeps the entries read so far.
  std::vector<size_t> cuts = {0, 1, 6, 12, 31, 32, 33, 100};
  for (size_t n = bytes_.size() - 400; n < bytes_.size(); n += 7) cuts.push_back(n);
  for (size_t cut : cuts) {
    SkinArchive a;
    a.Open(bytes_.data(), cut);
    EXPECT_LE(a.entries().size(), 9u);
  }
  for (size_t at = 0; at < bytes_.size(); at += bytes_.size() / 97 + 1) {
    std::string broken = bytes_;
    broken[at] = static_cast<char>(broken[at] ^ 0x5A);
    SkinArchive a;
    a.Open(broken.data(), broken.size());
    for (const SkinArchive::Entry& e : a.entries()) EXPECT_EQ(e.data.size(), e.size);
  }
  SkinArchive none;
  EXPECT_FALSE(none.Open(nullptr, 0));
}

TEST_F(ArchiveTest, HeaderGivingMoreFilesAStreamThanItHasSizesIsRefused) {
  // Both checksums right, so only the header's own consistency can refuse
  // it: the decoder once read the missing sizes from a null table.
  const std::string bytes = test::ReadFileBytes(test::Widen(OV_TESTDATA "\\more-streams-than-sizes.7z"));
  ASSERT_EQ(bytes.size(), 228u);
  SkinArchive a;
  EXPECT_FALSE(a.Open(bytes.data(), bytes.size()));
}

}  // namespace
}  // namespace skin
