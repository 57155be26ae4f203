#include "download/side_file.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "download/curl_common.h"
#include "download/verify.h"
#include "platform/scoped_hook.h"

namespace {

class SideFileTest : public ::testing::Test {
 protected:
  SideFileTest() { std::filesystem::create_directories(dir_); }
  ~SideFileTest() override { std::filesystem::remove_all(dir_); }
  std::wstring Path(const wchar_t* name) const { return (dir_ / name).wstring(); }
  static void Write(const std::wstring& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
  }
  static std::string Read(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // What a writer, a deleter or a replacing rename can do to the path.
  static bool OthersCanWrite(const std::wstring& path) {
    const Utils::UniqueHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
    return static_cast<bool>(writer);
  }
  static bool OthersCanDelete(const std::wstring& path) {
    const Utils::UniqueHandle deleter(CreateFileW(path.c_str(), DELETE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
    return static_cast<bool>(deleter);
  }

  const std::filesystem::path dir_ =
      std::filesystem::temp_directory_path() / ("ovside-" + std::to_string(GetCurrentProcessId()));
};

// The digest is that of the file's bytes in order: pieces as libcurl hands
// them over, more blocks than the writer keeps in flight, a prefix left by
// an earlier attempt (read once into the digest), and an emptied file.
TEST_F(SideFileTest, DigestIsThatOfTheFile) {
  const size_t block = download::kFileBuffer;
  struct Case {
    const char* name;
    std::string prefix;  // in the file before it is opened
    size_t appended;
    size_t piece;
    bool emptiedFirst;
  } cases[] = {
      {"nothing", "", 0, 16384, false},
      {"one byte", "", 1, 16384, false},
      {"one block", "", block, 16384, false},
      {"many blocks, odd pieces", "", 6 * block + 5, 9973, false},
      {"resumed after 5000 bytes", std::string(5000, 'p'), 2 * block, 16384, false},
      {"emptied, then written", std::string(5000, 'p'), 3000, 16384, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = Path(L"pkg.exe.part");
    DeleteFileW(path.c_str());
    if (!c.prefix.empty()) Write(path, c.prefix);
    std::string bytes(c.appended, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) % 251);
    download::SideFile file;
    ASSERT_TRUE(file.Open(path, {true, false}));
    if (c.emptiedFirst) {
      ASSERT_TRUE(file.Truncate());
    }
    for (size_t at = 0; at < bytes.size(); at += c.piece)
      ASSERT_TRUE(file.Append(bytes.data() + at, std::min(c.piece, bytes.size() - at)));
    ASSERT_TRUE(file.Finish());
    const std::string expected = (c.emptiedFirst ? "" : c.prefix) + bytes;
    EXPECT_EQ(file.size(), static_cast<int64_t>(expected.size()));
    const std::string md5 = file.Md5();
    file.Close();
    EXPECT_EQ(md5, download::FileMd5(path));
    EXPECT_EQ(Read(path), expected);
  }
  // A digest taken before more bytes never stands for the longer file.
  download::SideFile file;
  ASSERT_TRUE(file.Open(Path(L"more.part"), {true, false}));
  ASSERT_TRUE(file.Append("a", 1));
  const std::string first = file.Md5();
  ASSERT_TRUE(file.Append("b", 1));
  EXPECT_NE(file.Md5(), first);
}

// Open, moved and held: nobody else writes, deletes or renames onto the
// file, while readers (the loader among them) may open it.
TEST_F(SideFileTest, NobodyElseChangesTheFileFromOpenToHold) {
  const std::wstring part = Path(L"pkg.exe.part"), target = Path(L"pkg.exe"), other = Path(L"other.exe");
  Write(target, "an older package");
  Write(other, "a stranger's program");
  download::SideFile file;
  ASSERT_TRUE(file.Open(part, {true, false}));
  ASSERT_TRUE(file.Append("package", 7));
  ASSERT_TRUE(file.Finish());
  EXPECT_FALSE(OthersCanWrite(part));
  EXPECT_FALSE(OthersCanDelete(part));

  ASSERT_TRUE(file.MoveTo(target));
  EXPECT_FALSE(std::filesystem::exists(part));
  EXPECT_FALSE(OthersCanWrite(target));
  EXPECT_FALSE(MoveFileExW(other.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));

  download::HeldFile held = file.CloseAndHold();
  ASSERT_TRUE(held.handle);
  EXPECT_EQ(held.md5, download::FileMd5(target));
  EXPECT_FALSE(OthersCanWrite(target));
  EXPECT_FALSE(OthersCanDelete(target));
  EXPECT_FALSE(MoveFileExW(other.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
  const Utils::UniqueHandle loader(CreateFileW(target.c_str(), GENERIC_READ | FILE_EXECUTE,
                                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                               nullptr));
  EXPECT_TRUE(loader) << "the loader opens what is held";
  held.handle.reset();
  EXPECT_EQ(Read(target), "package");
}

// Between the writing handle and the hold the file is open to others for a
// moment: whatever changed it then shows, and nothing is held.
TEST_F(SideFileTest, AChangeBeforeTheHoldIsNeverHeld) {
  const std::wstring target = Path(L"pkg.exe"), stranger = Path(L"stranger.exe");
  Utils::UniqueHandle kept;
  struct Case {
    const char* name;
    std::function<void(const std::wstring&)> change;
    bool held;
  } cases[] = {
      {"nothing", [](const std::wstring&) {}, true},
      {"replaced by a rename",
       [&](const std::wstring& path) {
         Write(stranger, "0123456789");
         MoveFileExW(stranger.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
       },
       false},
      {"written, longer",
       [](const std::wstring& path) { std::ofstream(std::filesystem::path(path), std::ios::app) << "!"; }, false},
      // Shorter: Linux may give the new file the freed inode number (Wine's
      // file index), where NTFS's file reference never repeats.
      {"deleted and made anew", [](const std::wstring& path) { DeleteFileW(path.c_str()), Write(path, "01234"); },
       false},
      {"still open for writing",
       [&](const std::wstring& path) {
         kept.reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr));
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(target.c_str());
    const Utils::ScopedHook gap(&download::SideFile::SetHoldGapHookForTesting, c.change);
    download::SideFile file;
    ASSERT_TRUE(file.Open(target, {true, false}));
    ASSERT_TRUE(file.Append("0123456789", 10));
    const download::HeldFile held = file.CloseAndHold();
    EXPECT_EQ(static_cast<bool>(held.handle), c.held);
    EXPECT_EQ(held.md5.empty(), !c.held);
    kept.reset();
  }
}

// Elevated, the file is never one found at the path (its maker chose its
// descriptor): it is made anew, with one that lets only administrators write.
TEST_F(SideFileTest, AdminOnlyNeverContinuesAFileFoundThere) {
  const std::wstring path = Path(L"pkg.exe.part");
  Write(path, "planted by someone");
  download::SideFile file;
  ASSERT_TRUE(file.Open(path, {true, true}));
  EXPECT_EQ(file.size(), 0);
  ASSERT_TRUE(file.Append("package", 7));
  ASSERT_TRUE(file.Finish());
  const std::string md5 = file.Md5();
  file.Close();
  EXPECT_EQ(md5, download::FileMd5(path));
  EXPECT_EQ(Read(path), "package");
  // Wine answers a file's descriptor from its Unix permission bits, so what
  // is checked is the descriptor it is created with.
  Utils::UniqueLocalMemory<void> descriptor;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(download::kAdminOnlyFileSddl, SDDL_REVISION_1,
                                                                   descriptor.put(), nullptr));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor.get(), &control, &revision);
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from the folder";
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  constexpr DWORD kWriting = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | DELETE |
                             WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  int adminAces = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    const PSID sid = &ace->SidStart;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
      ++adminAces;
    } else {
      EXPECT_EQ(ace->Mask & kWriting, 0u) << "ACE " << i << " lets someone else write";
    }
  }
  EXPECT_EQ(adminAces, 2);

  // With a file that cannot be removed (held by someone), there is no side file.
  const Utils::UniqueHandle holder(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  download::SideFile refused;
  EXPECT_FALSE(refused.Open(path, {true, true}));
}

}  // namespace
