#include "toolkit/archive.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" {
#include "7z.h"
#include "7zAlloc.h"
#include "7zCrc.h"
#include "Lzma2Dec.h"
}

#include "platform/log.h"
#include "platform/startup_marks.h"
#include "platform/thread.h"

namespace skin {
namespace {

// ILookInStream over a memory block. The whole block is always "looked at",
// so the SDK never needs a separate look-ahead buffer.
struct MemoryInStream {
  ILookInStream vt;
  const Byte* data;
  size_t size;
  size_t pos;
};

SRes MemLook(void* p, const void** buf, size_t* size) {
  auto* s = static_cast<MemoryInStream*>(p);
  const size_t left = s->size - s->pos;
  if (*size > left) *size = left;
  *buf = s->data + s->pos;
  return SZ_OK;
}
SRes MemSkip(void* p, size_t offset) {
  auto* s = static_cast<MemoryInStream*>(p);
  if (offset > s->size - s->pos) return SZ_ERROR_INPUT_EOF;
  s->pos += offset;
  return SZ_OK;
}
SRes MemRead(void* p, void* buf, size_t* size) {
  auto* s = static_cast<MemoryInStream*>(p);
  const size_t left = s->size - s->pos;
  if (*size > left) *size = left;
  memcpy(buf, s->data + s->pos, *size);
  s->pos += *size;
  return SZ_OK;
}
SRes MemSeek(void* p, Int64* pos, ESzSeek origin) {
  auto* s = static_cast<MemoryInStream*>(p);
  Int64 base = origin == SZ_SEEK_SET   ? 0
               : origin == SZ_SEEK_CUR ? static_cast<Int64>(s->pos)
                                       : static_cast<Int64>(s->size);
  const Int64 target = base + *pos;
  if (target < 0 || target > static_cast<Int64>(s->size)) return SZ_ERROR_READ;
  s->pos = static_cast<size_t>(target);
  *pos = target;
  return SZ_OK;
}

bool g_archiveKind7z = false;
std::unique_ptr<SkinArchive> g_registered;
// Unpacks g_registered when it was prefetched; owned by the window thread.
// Defined after g_registered, so that at exit it is joined before the
// archive it writes goes.
std::unique_ptr<Utils::Thread> g_unpacker;

std::wstring Normalised(std::wstring_view path) {
  std::wstring out(path);
  for (wchar_t& c : out)
    if (c == L'\\') c = L'/';
  return out;
}

constexpr UInt64 kMethodLzma2 = 0x21;
constexpr size_t kPublishStep = 32 * 1024;  // unpacked bytes between two looks for finished entries

// The folder (solid block) of an entry that has data; -1 for an empty file.
int FolderOf(const CSzArEx& db, UInt32 file) {
  const UInt32 folder = db.FileIndexToFolderIndexMap[file];
  return folder == static_cast<UInt32>(-1) ? -1 : static_cast<int>(folder);
}

// Unpacks folder `folder` of the form 7zz writes (one LZMA2 coder, one pack
// stream) into `out` step by step, calling `progress(bytes unpacked so far)`
// after each step, so its files can be handed out before the whole block is
// done; a failure `progress` returns ends it. SZ_ERROR_UNSUPPORTED for any
// other form.
template <typename Progress>
SRes UnpackLzma2Folder(const CSzArEx& db, UInt32 folder, const Byte* archive, size_t length, Byte* out, size_t outSize,
                       ISzAlloc* alloc, Progress progress) {
  const CSzFolder& f = db.db.Folders[folder];
  if (f.NumCoders != 1 || f.NumPackStreams != 1 || f.Coders[0].MethodID != kMethodLzma2 ||
      f.Coders[0].NumInStreams != 1 || f.Coders[0].NumOutStreams != 1 || f.Coders[0].Props.size != 1)
    return SZ_ERROR_UNSUPPORTED;
  const UInt32 packIndex = db.FolderStartPackStreamIndex[folder];
  const UInt64 start = db.dataPos + db.PackStreamStartPositions[packIndex];
  const UInt64 packSize = db.db.PackSizes[packIndex];
  if (start > length || packSize > length - start) return SZ_ERROR_INPUT_EOF;
  CLzma2Dec dec;
  Lzma2Dec_Construct(&dec);
  SRes res = Lzma2Dec_AllocateProbs(&dec, f.Coders[0].Props.data[0], alloc);
  if (res != SZ_OK) return res;
  // The output is the dictionary, as the SDK's own folder decoder does it.
  dec.decoder.dic = out;
  dec.decoder.dicBufSize = outSize;
  Lzma2Dec_Init(&dec);
  const Byte* in = archive + start;
  SizeT inLeft = static_cast<SizeT>(packSize);
  while (res == SZ_OK && dec.decoder.dicPos < outSize) {
    const SizeT limit = std::min<SizeT>(outSize, dec.decoder.dicPos + kPublishStep);
    const SizeT before = dec.decoder.dicPos;
    SizeT used = inLeft;
    ELzmaStatus status;
    res = Lzma2Dec_DecodeToDic(&dec, limit, in, &used, limit == outSize ? LZMA_FINISH_END : LZMA_FINISH_ANY, &status);
    in += used;
    inLeft -= used;
    if (res != SZ_OK) break;
    if (dec.decoder.dicPos == before && used == 0)
      res = SZ_ERROR_DATA;  // no progress: truncated
    else if (dec.decoder.dicPos == outSize && status != LZMA_STATUS_FINISHED_WITH_MARK)
      res = SZ_ERROR_DATA;
    else
      res = progress(dec.decoder.dicPos);
  }
  Lzma2Dec_FreeProbs(&dec, alloc);
  return res;
}

}  // namespace

bool SkinArchive::Open(const void* data, size_t length) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    entries_.clear();
    catalogued_ = false;
    published_ = 0;
    finished_ = false;
  }
  static const bool crcReady = (CrcGenerateTable(), true);
  (void)crcReady;
  const Byte* bytes = static_cast<const Byte*>(data);
  MemoryInStream stream = {{MemLook, MemSkip, MemRead, MemSeek}, bytes, length, 0};
  ISzAlloc allocMain = {SzAlloc, SzFree};
  ISzAlloc allocTemp = {SzAllocTemp, SzFreeTemp};
  CSzArEx db;
  SzArEx_Init(&db);
  SRes res = data && length ? SzArEx_Open(&db, &stream.vt, &allocMain, &allocTemp) : SZ_ERROR_NO_ARCHIVE;
  if (res != SZ_OK) {
    OV_LOGS(L"skin archive: cannot read the database (%d)", res);
    SzArEx_Free(&db, &allocMain);
    Finish(0);
    return false;
  }
  // The table first, so readers can tell a missing name from one still to come.
  std::vector<UInt32> files;  // archive index of each table entry
  std::vector<Entry> table;
  for (UInt32 i = 0; i < db.db.NumFiles; ++i) {
    if (db.db.Files[i].IsDir) continue;
    const size_t nameUnits = SzArEx_GetFileNameUtf16(&db, i, nullptr);
    std::vector<UInt16> name(nameUnits ? nameUnits : 1, 0);
    SzArEx_GetFileNameUtf16(&db, i, name.data());
    Entry entry;
    entry.name.assign(name.begin(), name.end() - 1);
    entry.nameLength = entry.name.size() + 1;
    entry.index = static_cast<int>(i);
    entry.size = db.db.Files[i].Size;
    table.push_back(std::move(entry));
    files.push_back(i);
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    entries_ = std::move(table);
    catalogued_ = true;
  }
  changed_.notify_all();

  // Entries in table order: a folder's files follow each other, from its
  // first byte on. A folder of our form is unpacked here step by step and
  // its files handed out as the steps pass their ends; any other goes
  // through the SDK's extraction, one whole file at a time.
  UInt32 blockIndex = 0xFFFFFFFF;  // the SDK keeps the last unpacked block between calls
  Byte* block = nullptr;
  size_t blockSize = 0;
  size_t done = 0;  // table entries unpacked
  while (done < files.size() && res == SZ_OK) {
    const UInt32 file = files[done];
    const int folder = FolderOf(db, file);
    if (folder >= 0 && db.FolderStartFileIndex[folder] == file) {
      const UInt64 unpackSize = SzFolder_GetUnpackSize(&db.db.Folders[folder]);
      Byte* out = unpackSize && unpackSize <= SIZE_MAX
                      ? static_cast<Byte*>(IAlloc_Alloc(&allocMain, static_cast<size_t>(unpackSize)))
                      : nullptr;
      if (out) {
        // The folder's files lie one after the other in its output, in table
        // order; files without data may come between them.
        size_t next = done;
        UInt64 offset = 0;
        const auto handOut = [&](size_t unpacked) -> SRes {
          for (; next < files.size(); Publish(++next)) {
            const int of = FolderOf(db, files[next]);
            if (of == -1) continue;  // empty: nothing to unpack
            if (of != folder) break;
            const CSzFileItem& item = db.db.Files[files[next]];
            if (offset + item.Size > unpacked) break;
            const Byte* at = out + offset;
            if (item.CrcDefined && CrcCalc(at, static_cast<size_t>(item.Size)) != item.Crc) return SZ_ERROR_CRC;
            entries_[next].data.assign(reinterpret_cast<const char*>(at), static_cast<size_t>(item.Size));
            offset += item.Size;
          }
          return SZ_OK;
        };
        res = UnpackLzma2Folder(db, static_cast<UInt32>(folder), bytes, length, out, static_cast<size_t>(unpackSize),
                                &allocMain, handOut);
        IAlloc_Free(&allocMain, out);
        if (res != SZ_ERROR_UNSUPPORTED) {
          if (res == SZ_OK && next == done) res = SZ_ERROR_DATA;  // a folder without its files
          done = next;
          continue;
        }
        res = SZ_OK;
      }
    }
    size_t offset = 0, fileSize = 0;
    res = SzArEx_Extract(&db, &stream.vt, file, &blockIndex, &block, &blockSize, &offset, &fileSize, &allocMain,
                         &allocTemp);
    if (res != SZ_OK) break;
    entries_[done].data.assign(reinterpret_cast<const char*>(block) + offset, fileSize);
    Publish(++done);
  }
  if (res != SZ_OK)
    OV_LOGS(L"skin archive: entry %d does not unpack (%d)", static_cast<int>(done < files.size() ? files[done] : done),
            res);
  IAlloc_Free(&allocMain, block);
  SzArEx_Free(&db, &allocMain);
  Finish(done);
  return res == SZ_OK;
}

void SkinArchive::Publish(size_t count) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    published_ = count;
  }
  changed_.notify_all();
}

void SkinArchive::Finish(size_t usable) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    entries_.resize(usable);  // never grows: published entries do not move
    published_ = usable;
    finished_ = true;
  }
  changed_.notify_all();
}

void SkinArchive::WaitForCatalogue(std::unique_lock<std::mutex>& lock) const {
  if (catalogued_ || finished_) return;
  const Utils::StartupStep step("archive-wait");
  changed_.wait(lock, [&] { return catalogued_ || finished_; });
}

bool SkinArchive::WaitForEntry(std::unique_lock<std::mutex>& lock, size_t position) const {
  if (position < published_ || finished_) return position < published_;
  const Utils::StartupStep step("archive-wait");
  changed_.wait(lock, [&] { return position < published_ || finished_; });
  return position < published_;
}

size_t SkinArchive::Lookup(std::unique_lock<std::mutex>& lock, std::wstring_view path) const {
  WaitForCatalogue(lock);
  const std::wstring wanted = Normalised(path);
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (e.nameLength != wanted.size() + 1) continue;
    if (CompareStringOrdinal(e.name.c_str(), static_cast<int>(e.name.size()), wanted.c_str(),
                             static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL)
      return i;
  }
  return entries_.size();
}

bool SkinArchive::Find(std::wstring_view path, int* index, unsigned long long* size) const {
  std::unique_lock<std::mutex> lock(lock_);
  const size_t at = Lookup(lock, path);
  if (!WaitForEntry(lock, at)) return false;
  *index = entries_[at].index;
  *size = entries_[at].size;
  return true;
}

bool SkinArchive::Read(int index, void* out, size_t capacity) const {
  std::unique_lock<std::mutex> lock(lock_);
  WaitForCatalogue(lock);
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].index != index) continue;
    if (!WaitForEntry(lock, i)) return false;
    const Entry& e = entries_[i];
    if (capacity < e.data.size()) return false;
    memcpy(out, e.data.data(), e.data.size());
    return true;
  }
  return false;
}

const std::string* SkinArchive::Data(std::wstring_view path) const {
  std::unique_lock<std::mutex> lock(lock_);
  const size_t at = Lookup(lock, path);
  return WaitForEntry(lock, at) ? &entries_[at].data : nullptr;
}

const std::vector<SkinArchive::Entry>& SkinArchive::entries() const {
  std::unique_lock<std::mutex> lock(lock_);
  if (!finished_) {
    const Utils::StartupStep step("archive-wait");
    changed_.wait(lock, [&] { return finished_; });
  }
  return entries_;
}

void SetArchiveKind7z(bool on) { g_archiveKind7z = on; }
bool ArchiveKind7z() { return g_archiveKind7z; }

void PrefetchArchive(const void* data, size_t length) {
  if (g_registered || !g_archiveKind7z) return;
  auto archive = std::make_unique<SkinArchive>();
  archive->finished_ = false;  // readers wait from now on, not only once Open has started
  SkinArchive* target = archive.get();
  g_unpacker = std::make_unique<Utils::Thread>(nullptr, L"SkinArchive", [target, data, length](void*) {
    {
      const Utils::StartupStep step("archive-unpack");
      target->Open(data, length);
    }
    Utils::MarkStartup("archive-unpacked");
  });
  if (!g_unpacker->handle()) {
    g_unpacker.reset();
    return;  // windows open the archive themselves
  }
  g_registered = std::move(archive);
  ResumeThread(g_unpacker->handle());
}

bool IsArchiveRegistered() { return g_registered != nullptr; }

bool OpenRegisteredArchive(const void* data, size_t length) {
  if (g_registered) return true;  // "skin-resource" is already open
  if (!g_archiveKind7z) {
    OV_LOGS(L"skin archive: no archive kind selected");
    return false;
  }
  auto archive = std::make_unique<SkinArchive>();
  archive->Open(data, length);  // a partly read archive still serves its entries
  Utils::MarkStartup("archive-unpacked");
  g_registered = std::move(archive);
  return true;
}

const SkinArchive* RegisteredArchive() { return g_registered.get(); }

void CloseRegisteredArchive() {
  if (g_unpacker) g_unpacker->Release();
  g_unpacker.reset();
  g_registered.reset();
}

}  // namespace skin
