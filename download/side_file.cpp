#include "download/side_file.h"

#include <sddl.h>

#include <cstring>
#include <utility>

#include "download/curl_common.h"
#include "platform/log.h"

namespace download {

namespace {

// Blocks in flight between Append and the writer: enough to keep both busy,
// little enough to stay a few MiB.
constexpr size_t kBlocks = 4;

// What must not change between closing the writing handle and holding the
// file: the same file (not a new one renamed or created in its place), with
// the same bytes as far as the file system tells.
struct Identity {
  DWORD volume = 0;
  uint64_t index = 0;
  int64_t size = -1;
  int64_t lastWrite = 0;
  int64_t change = 0;
  bool operator==(const Identity&) const = default;
};

bool ReadIdentity(HANDLE file, Identity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandle(file, &info) ||
      !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic)))
    return false;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity.size = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  identity.lastWrite = basic.LastWriteTime.QuadPart;
  identity.change = basic.ChangeTime.QuadPart;
  return true;
}

SideFile::HoldGapHook& GapHook() {
  static SideFile::HoldGapHook hook;
  return hook;
}

OVERLAPPED At(int64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  return at;
}

// Reads up to size bytes at offset; the count read, or -1 with the error.
int64_t ReadAt(HANDLE file, int64_t offset, char* buffer, size_t size) {
  OVERLAPPED at = At(offset);
  DWORD got = 0;
  if (ReadFile(file, buffer, static_cast<DWORD>(size), &got, &at)) return got;
  return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

// The appending thread and the writer meet on the system's slim lock and
// condition variable: std::mutex and std::condition_variable (winpthreads)
// wait on kernel semaphores, a system call on every hand-over (a round trip
// to the server under Wine, several per MiB).
class Exclusive {
 public:
  explicit Exclusive(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~Exclusive() { ReleaseSRWLockExclusive(&lock_); }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;

 private:
  SRWLOCK& lock_;
};

bool WriteAt(HANDLE file, int64_t offset, const char* bytes, size_t size) {
  while (size > 0) {
    OVERLAPPED at = At(offset);
    DWORD written = 0;
    if (!WriteFile(file, bytes, static_cast<DWORD>(size), &written, &at) || written == 0) return false;
    bytes += written;
    offset += written;
    size -= written;
  }
  return true;
}

}  // namespace

// SYSTEM and administrators may do anything, users only read and run;
// protected, so nothing is inherited from a folder users can write.
const wchar_t kAdminOnlyFileSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;GRGX;;;BU)";

SideFile::~SideFile() { Close(); }

Utils::SystemResult SideFile::Open(const std::wstring& path, SideFileOptions options) {
  Close();
  path_ = path;
  digest_ = options.digest;
  Utils::UniqueLocalMemory<void> descriptor;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
  DWORD disposition = OPEN_ALWAYS;
  if (options.adminOnly) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnlyFileSddl, SDDL_REVISION_1, descriptor.put(),
                                                              nullptr))
      return Utils::SystemResult::LastError();
    attributes.lpSecurityDescriptor = descriptor.get();
    // A file found here may carry a descriptor its maker chose; only one
    // created now carries ours. Creation fails if one appears meanwhile.
    DeleteFileW(path.c_str());
    disposition = CREATE_NEW;
  }
  // Deleting is asked for so that the file can be renamed through this handle.
  file_.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, &attributes,
                          disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return Utils::SystemResult::LastError();
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file_.get(), &size)) {
    const Utils::SystemResult failed = Utils::SystemResult::LastError();
    file_.reset();
    return failed;
  }
  size_ = writeOffset_ = size.QuadPart;
  error_ = ERROR_SUCCESS;
  md5Hex_.clear();
  md5_.reset(digest_ ? new download::Md5 : nullptr);
  if (digest_ && size_ > 0) {
    // What an earlier attempt left: read once, through this handle, so the
    // digest covers exactly what the file holds.
    const auto buffer = std::make_unique<char[]>(kFileBuffer);
    for (int64_t at = 0; at < size_;) {
      const int64_t got = ReadAt(file_.get(), at, buffer.get(), kFileBuffer);
      if (got <= 0) {
        const Utils::SystemResult failed =
            got < 0 ? Utils::SystemResult::LastError() : Utils::SystemResult{ERROR_HANDLE_EOF};
        file_.reset();
        return failed;
      }
      md5_->Add(buffer.get(), static_cast<size_t>(got));
      at += got;
    }
  }
  return {};
}

void SideFile::StartWriter() {
  finishing_ = writerDone_ = false;
  writer_ = std::thread(&SideFile::RunWriter, this);
  if (md5_) digester_ = std::thread(&SideFile::RunDigester, this);
}

void SideFile::RunWriter() {
  AcquireSRWLockExclusive(&lock_);
  for (;;) {
    while (full_.empty() && !finishing_) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    if (full_.empty()) break;
    std::unique_ptr<Block> block = std::move(full_.front());
    full_.pop_front();
    const bool failed = error_ != ERROR_SUCCESS;
    ReleaseSRWLockExclusive(&lock_);
    // After a failed write the rest is dropped: the file keeps a prefix of
    // the download, which the digest covers exactly.
    DWORD error = ERROR_SUCCESS;
    bool written = false;
    if (!failed) {
      written = WriteAt(file_.get(), writeOffset_, block->bytes.get(), block->used);
      if (written)
        writeOffset_ += static_cast<int64_t>(block->used);
      else
        error = Utils::SystemResult::LastError().error;
    }
    AcquireSRWLockExclusive(&lock_);
    if (error != ERROR_SUCCESS && error_ == ERROR_SUCCESS) error_ = error;
    if (written && md5_)
      written_.push_back(std::move(block));  // only what is in the file joins the digest
    else
      Release(std::move(block));
    WakeAllConditionVariable(&changed_);
  }
  writerDone_ = true;
  WakeAllConditionVariable(&changed_);
  ReleaseSRWLockExclusive(&lock_);
}

// The digest on a thread of its own: MD5 is slower than writing into the
// file cache, and on a fast link slower than the transfer itself.
void SideFile::RunDigester() {
  AcquireSRWLockExclusive(&lock_);
  for (;;) {
    while (written_.empty() && !writerDone_) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    if (written_.empty()) break;
    std::unique_ptr<Block> block = std::move(written_.front());
    written_.pop_front();
    ReleaseSRWLockExclusive(&lock_);
    md5_->Add(block->bytes.get(), block->used);
    AcquireSRWLockExclusive(&lock_);
    Release(std::move(block));
    WakeAllConditionVariable(&changed_);
  }
  ReleaseSRWLockExclusive(&lock_);
}

void SideFile::Release(std::unique_ptr<Block> block) {
  block->used = 0;
  free_.push_back(std::move(block));
  --inFlight_;
}

bool SideFile::HandOver() {
  const Exclusive hold(lock_);
  if (error_ != ERROR_SUCCESS) return false;
  if (current_ && current_->used > 0) {
    full_.push_back(std::move(current_));
    ++inFlight_;
    WakeAllConditionVariable(&changed_);
  }
  return true;
}

bool SideFile::Append(const void* data, size_t size) {
  if (!file_) return false;
  if (!writer_.joinable()) StartWriter();
  md5Hex_.clear();  // a digest taken before no longer covers the file
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    if (!current_) {
      const Exclusive hold(lock_);
      // Waits while every block is with the writer: the transfer slows to
      // the disk's pace instead of buffering without limit.
      while (free_.empty() && inFlight_ + 1 >= kBlocks && error_ == ERROR_SUCCESS)
        SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
      if (error_ != ERROR_SUCCESS) return false;
      if (!free_.empty()) {
        current_ = std::move(free_.back());
        free_.pop_back();
      } else {
        current_ = std::make_unique<Block>();
        current_->bytes = std::make_unique<char[]>(kFileBuffer);
      }
    }
    const size_t piece = std::min(size, kFileBuffer - current_->used);
    std::memcpy(current_->bytes.get() + current_->used, bytes, piece);
    current_->used += piece;
    bytes += piece;
    size -= piece;
    size_ += static_cast<int64_t>(piece);
    if (current_->used == kFileBuffer && !HandOver()) return false;
  }
  return true;
}

Utils::SystemResult SideFile::AppendContentOf(const SideFile& other) {
  const auto buffer = std::make_unique<char[]>(kFileBuffer);
  for (int64_t at = 0; at < other.size_;) {
    const int64_t got = ReadAt(other.file_.get(), at, buffer.get(), kFileBuffer);
    if (got <= 0) return got < 0 ? Utils::SystemResult::LastError() : Utils::SystemResult{ERROR_HANDLE_EOF};
    if (!Append(buffer.get(), static_cast<size_t>(got))) return Finish();
    at += got;
  }
  return {};
}

Utils::SystemResult SideFile::Finish() {
  if (!writer_.joinable()) return {};
  HandOver();
  {
    const Exclusive hold(lock_);
    finishing_ = true;
    WakeAllConditionVariable(&changed_);
  }
  writer_.join();
  if (digester_.joinable()) digester_.join();
  current_.reset();
  const DWORD error = error_;
  if (error != ERROR_SUCCESS) {
    // Back to what was written whole, which the digest covers: a later
    // attempt continues from there.
    FILE_END_OF_FILE_INFO end = {};
    end.EndOfFile.QuadPart = writeOffset_;
    SetFileInformationByHandle(file_.get(), FileEndOfFileInfo, &end, sizeof(end));
    size_ = writeOffset_;
    error_ = ERROR_SUCCESS;
  }
  return {error};
}

Utils::SystemResult SideFile::Truncate() {
  Finish();
  FILE_END_OF_FILE_INFO end = {};
  if (!SetFileInformationByHandle(file_.get(), FileEndOfFileInfo, &end, sizeof(end)))
    return Utils::SystemResult::LastError();
  size_ = writeOffset_ = 0;
  md5Hex_.clear();
  md5_.reset(digest_ ? new download::Md5 : nullptr);
  return {};
}

Utils::SystemResult SideFile::MoveTo(const std::wstring& target) {
  if (const Utils::SystemResult finished = Finish(); !finished) return finished;
  const size_t nameBytes = target.size() * sizeof(wchar_t);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(rename->FileName, target.c_str(), nameBytes);
  if (!SetFileInformationByHandle(file_.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size())))
    return Utils::SystemResult::LastError();
  path_ = target;
  return {};
}

std::string SideFile::Md5() {
  if (!md5_) return {};
  Finish();
  if (md5Hex_.empty()) md5Hex_ = md5_->Hex();
  return md5Hex_;
}

HeldFile SideFile::CloseAndHold() {
  HeldFile held;
  if (!file_ || !Finish()) return held;
  Identity written, reopened;
  const bool known = ReadIdentity(file_.get(), written);
  held.md5 = Md5();
  file_.reset();
  // From here until the reader below is open, the file is not held: any
  // change in between shows in its identity, size or times.
  if (GapHook()) GapHook()(path_);
  held.handle.reset(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held.handle) {
    OV_LOGS(L"cannot hold %s:%lu", path_.c_str(), GetLastError());
  } else if (!known || !ReadIdentity(held.handle.get(), reopened) || !(written == reopened)) {
    OV_LOGS(L"%s changed before it was held", path_.c_str());
    held.handle.reset();
  }
  if (!held.handle) held.md5.clear();
  return held;
}

SideFile::HoldGapHook SideFile::SetHoldGapHookForTesting(HoldGapHook hook) {
  return std::exchange(GapHook(), std::move(hook));
}

void SideFile::Close() {
  Finish();
  file_.reset();
  md5_.reset();
  md5Hex_.clear();
  size_ = writeOffset_ = 0;
}

void SideFile::CloseAndDelete() {
  const bool wasOpen = isOpen();
  Close();
  if (wasOpen) DeleteFileW(path_.c_str());
}

}  // namespace download
