// The skin archive: a 7z archive held in memory, unpacked completely when it
// is opened, so every later skin or image read is a plain copy.
//
// Threads: searched and read on the window thread only. PrefetchArchive may
// unpack the archive on one worker thread ("SkinArchive") started at
// start-up; the worker touches only its own archive object and the
// resource bytes, and the window thread waits for it (no time limit, it
// only unpacks memory) the first time it needs the registered archive.
#pragma once

#include <cstddef>
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

  // Reads the database and unpacks every file. Stops at the first entry that
  // fails to unpack; the entries read until then stay usable. False when
  // the archive could not be read at all or an entry failed.
  bool Open(const void* data, size_t length);

  // "\" and "/" are the same; letter case is ignored.
  bool Find(std::wstring_view path, int* index, unsigned long long* size) const;
  // Copies the whole entry into `out`, which must hold `capacity` >= size bytes.
  bool Read(int index, void* out, size_t capacity) const;
  // The entry's bytes without a copy; null when absent.
  const std::string* Data(std::wstring_view path) const;

  const std::vector<Entry>& entries() const { return entries_; }

 private:
  const Entry* FindEntry(std::wstring_view path) const;
  std::vector<Entry> entries_;
};

// Process-wide switch set at start-up: archive resources are 7z archives.
// With it off the toolkit reads no archive at all (it knows no other kind).
void SetArchiveKind7z(bool on);
bool ArchiveKind7z();

// Registers the archive under the fixed pseudo-name "skin-resource". A call
// while that archive is registered does nothing, so the skin resource is
// opened once per process. Returns whether an archive is registered.
bool OpenRegisteredArchive(const void* data, size_t length);
// Starts unpacking `data` (which must stay valid: resource memory) on a
// worker thread, so start-up work can overlap it; the result becomes the
// registered archive when the window thread first asks for it.
void PrefetchArchive(const void* data, size_t length);
// True when the resource archive has already been opened (callers skip
// loading the resource again).
bool IsArchiveRegistered();
const SkinArchive* RegisteredArchive();
// For tests: forgets the registered archive.
void CloseRegisteredArchive();

}  // namespace skin
