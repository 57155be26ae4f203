// A file a download writes (".part", "_0", "_1"), and the MD5 of its bytes.
//
// The file is open for the download's writes only: shared with readers, not
// with writers or deleters, so while it is open nobody else can change,
// replace, rename or delete it, and the MD5 taken of the bytes as they went
// in stays the MD5 of the file. Bytes the file already held when it was
// opened (a download resumed) are read once, through the same handle, to
// start the digest. Once complete the file is renamed onto the package path
// through that handle (MoveTo) and then held for reading only
// (CloseAndHold): the digest need not be taken again by reading the file.
//
// Threads and ownership: one thread at a time calls the members (the owner
// hands the object over between its threads by starting and joining them).
// Append copies into a block; full blocks go to the file's own writer
// thread, which writes them in order, and then, when a digest is taken, to
// its digest thread, which feeds them to the MD5 in the same order: the
// receiving thread neither waits for the disk nor computes the digest, and
// the digest keeps pace with the transfer where the disk alone would. Both
// threads live from the first Append to Finish and end with it (Close,
// CloseAndHold, Truncate and the destructor finish first).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download/verify.h"
#include "platform/handles.h"
#include "platform/system_error.h"

namespace download {

// The descriptor of an adminOnly file, in SDDL.
extern const wchar_t kAdminOnlyFileSddl[];

struct SideFileOptions {
  bool digest = false;  // take the MD5 of the file's bytes
  // Create the file with a descriptor that lets only SYSTEM and
  // administrators write it, and never continue a file found at the path:
  // an elevated installer writes into a folder users may be able to write.
  bool adminOnly = false;
};

// What SideFile::CloseAndHold gives: the file open for reading only, shared
// with readers only, and the MD5 of its bytes (when one was taken).
struct HeldFile {
  Utils::UniqueHandle handle;
  std::string md5;
};

class SideFile {
 public:
  SideFile() = default;
  ~SideFile();  // finishes and closes; the file stays
  SideFile(const SideFile&) = delete;
  SideFile& operator=(const SideFile&) = delete;

  // Opens the file for appending, creating it or continuing what it holds.
  Utils::SystemResult Open(const std::wstring& path, SideFileOptions options);
  bool isOpen() const { return static_cast<bool>(file_); }
  const std::wstring& path() const { return path_; }
  // The bytes the file holds once everything appended has been written.
  int64_t size() const { return size_; }

  // Copies the bytes for the writer; false (nothing taken) once a write has
  // failed or the file is not open.
  bool Append(const void* data, size_t size);
  // Appends the whole content of another open side file, read through its
  // handle.
  Utils::SystemResult AppendContentOf(const SideFile& other);
  // Writes what is pending and waits for the writer; the first failure of a
  // write since the file was opened or emptied.
  Utils::SystemResult Finish();
  // Empties the file and starts the digest again.
  Utils::SystemResult Truncate();
  // Renames the open file onto target, replacing a file there.
  Utils::SystemResult MoveTo(const std::wstring& target);
  // After Finish: the MD5 of the whole file, or "" when none was taken.
  std::string Md5();

  // Finishes, closes the writing handle and opens the file again for
  // reading only. The two handles cannot coexist (the writing one denies
  // other writers, so a reader opened beside it would have to allow them),
  // so the file is checked to be the same one, unchanged (identity, size,
  // write and change times); an empty handle when it is not, or when it
  // cannot be opened (someone else had it open for writing in between).
  HeldFile CloseAndHold();
  void Close();
  void CloseAndDelete();

  // Called by CloseAndHold between the two handles, with the path: tests
  // change the file there. Returns the previous hook; set it while no side
  // file is being held.
  using HoldGapHook = std::function<void(const std::wstring& path)>;
  static HoldGapHook SetHoldGapHookForTesting(HoldGapHook hook);

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    size_t used = 0;
  };
  void StartWriter();
  void RunWriter();
  void RunDigester();
  void Release(std::unique_ptr<Block> block);  // back to free_, under the lock
  bool HandOver();                             // the current block to the writer; false after a failure

  Utils::UniqueHandle file_;
  std::wstring path_;
  bool digest_ = false;
  int64_t size_ = 0;
  std::unique_ptr<download::Md5> md5_;
  std::string md5Hex_;

  // Between Append (the owner) and the writer thread.
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  std::deque<std::unique_ptr<Block>> full_;     // to write, in file order
  std::deque<std::unique_ptr<Block>> written_;  // to digest, in file order
  std::vector<std::unique_ptr<Block>> free_;
  std::unique_ptr<Block> current_;  // owner only
  size_t inFlight_ = 0;             // blocks handed over and not yet free again
  bool finishing_ = false;
  bool writerDone_ = false;
  DWORD error_ = ERROR_SUCCESS;  // the first failed write
  int64_t writeOffset_ = 0;      // writer only while it runs
  std::thread writer_;
  std::thread digester_;  // only with a digest
};

}  // namespace download
