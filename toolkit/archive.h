// The skin archive: a 7z archive held in memory, unpacked completely when it
// is opened, so every later skin or image read is a plain copy.
//
// Threads: Open runs on one thread. While it runs, the window thread may
// already search and read the archive: each call waits (no time limit, the
// unpacking only works on memory) until the entry it asks for is unpacked
// or the unpacking has ended, so the first window needs only its own skin
// and images, not the whole archive. PrefetchArchive runs Open on one
// worker thread ("SkinArchive") started at start-up; the worker touches
// only its archive object and the resource bytes, and is joined when the
// registered archive is closed or the process ends.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace skin {

class SkinArchive {
 public:
  struct Entry {
    std::wstring name;      // path inside the archive, "/" separated
    size_t nameLength = 0;  // UTF-16 units, terminator included
    int index = 0;          // position in the archive
    unsigned long long size = 0;
    std::string data;  // the whole unpacked content
  };

  // Reads the database and unpacks every file, in archive order. Stops at
  // the first entry that fails to unpack; the entries read until then stay
  // usable. False when the archive could not be read at all or an entry
  // failed. Once per object.
  bool Open(const void* data, size_t length);

  // "\" and "/" are the same; letter case is ignored. An entry is found
  // once it is unpacked (these wait for it while Open runs elsewhere).
  bool Find(std::wstring_view path, int* index, unsigned long long* size) const;
  // Copies the whole entry into `out`, which must hold `capacity` >= size bytes.
  bool Read(int index, void* out, size_t capacity) const;
  // The entry's bytes without a copy; null when absent.
  const std::string* Data(std::wstring_view path) const;

  // Every entry unpacked (waits until Open has ended).
  const std::vector<Entry>& entries() const;

 private:
  friend void PrefetchArchive(const void* data, size_t length);  // readers may come before Open starts

  // Waits until the database is read (or unpacking has ended). Called with
  // `lock` held, as the two below.
  void WaitForCatalogue(std::unique_lock<std::mutex>& lock) const;
  // Waits until the entry at `position` of the table is unpacked or has
  // failed; true when it is usable.
  bool WaitForEntry(std::unique_lock<std::mutex>& lock, size_t position) const;
  // Position in the table of the entry named `path`, once the database is
  // read; entries_.size() when there is none.
  size_t Lookup(std::unique_lock<std::mutex>& lock, std::wstring_view path) const;
  // Marks the first `count` entries usable and wakes the readers.
  void Publish(size_t count);
  // Ends unpacking: entries from `usable` on are dropped.
  void Finish(size_t usable);

  // Written by Open: the names, indexes and sizes when the database is read,
  // each entry's data before it is published; never resized before Finish.
  std::vector<Entry> entries_;
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  bool catalogued_ = false;  // entries_ holds the whole table
  size_t published_ = 0;     // entries_[0, published_) are unpacked
  bool finished_ = true;     // no Open is running or about to run
};

// Process-wide switch set at start-up: archive resources are 7z archives.
// With it off the toolkit reads no archive at all (it knows no other kind).
void SetArchiveKind7z(bool on);
bool ArchiveKind7z();

// Registers the archive under the fixed pseudo-name "skin-resource". A call
// while that archive is registered does nothing, so the skin resource is
// opened once per process. Returns whether an archive is registered.
bool OpenRegisteredArchive(const void* data, size_t length);
// Registers an archive that unpacks `data` (which must stay valid: resource
// memory) on a worker thread, so start-up work overlaps it; readers wait
// only for the entries they ask for.
void PrefetchArchive(const void* data, size_t length);
// True when the resource archive has already been opened (callers skip
// loading the resource again).
bool IsArchiveRegistered();
const SkinArchive* RegisteredArchive();
// For tests: waits for the unpacking worker, then forgets the registered archive.
void CloseRegisteredArchive();

}  // namespace skin
