#include "toolkit/archive.h"

#include <cstring>
#include <memory>

extern "C" {
#include "7z.h"
#include "7zAlloc.h"
#include "7zCrc.h"
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
std::unique_ptr<SkinArchive> g_prefetched;    // written only by the prefetch worker until it ends
std::unique_ptr<Utils::Thread> g_prefetcher;  // owned by the window thread

// Waits for the prefetch worker, then registers what it unpacked.
void FinishPrefetch() {
  if (!g_prefetcher) return;
  g_prefetcher->Release();
  g_prefetcher.reset();
  Utils::MarkStartup("archive-joined");
  if (!g_registered) g_registered = std::move(g_prefetched);
  g_prefetched.reset();
}

std::wstring Normalised(std::wstring_view path) {
  std::wstring out(path);
  for (wchar_t& c : out)
    if (c == L'\\') c = L'/';
  return out;
}

}  // namespace

bool SkinArchive::Open(const void* data, size_t length) {
  entries_.clear();
  static const bool crcReady = (CrcGenerateTable(), true);
  (void)crcReady;
  MemoryInStream stream = {{MemLook, MemSkip, MemRead, MemSeek}, static_cast<const Byte*>(data), length, 0};
  ISzAlloc allocMain = {SzAlloc, SzFree};
  ISzAlloc allocTemp = {SzAllocTemp, SzFreeTemp};
  CSzArEx db;
  SzArEx_Init(&db);
  SRes res = data && length ? SzArEx_Open(&db, &stream.vt, &allocMain, &allocTemp) : SZ_ERROR_NO_ARCHIVE;
  if (res != SZ_OK) {
    OV_LOGS(L"skin archive: cannot read the database (%d)", res);
    SzArEx_Free(&db, &allocMain);
    return false;
  }
  UInt32 blockIndex = 0xFFFFFFFF;  // the SDK keeps the last unpacked block between calls
  Byte* block = nullptr;
  size_t blockSize = 0;
  bool ok = true;
  for (UInt32 i = 0; i < db.db.NumFiles; ++i) {
    if (db.db.Files[i].IsDir) continue;
    size_t offset = 0, fileSize = 0;
    res =
        SzArEx_Extract(&db, &stream.vt, i, &blockIndex, &block, &blockSize, &offset, &fileSize, &allocMain, &allocTemp);
    if (res != SZ_OK) {
      OV_LOGS(L"skin archive: entry %d does not unpack (%d)", static_cast<int>(i), res);
      ok = false;
      break;
    }
    const size_t nameUnits = SzArEx_GetFileNameUtf16(&db, i, nullptr);
    std::vector<UInt16> name(nameUnits ? nameUnits : 1, 0);
    SzArEx_GetFileNameUtf16(&db, i, name.data());
    Entry entry;
    entry.name.assign(name.begin(), name.end() - 1);
    entry.nameLength = entry.name.size() + 1;
    entry.index = static_cast<int>(i);
    entry.size = fileSize;
    entry.data.assign(reinterpret_cast<const char*>(block) + offset, fileSize);
    entries_.push_back(std::move(entry));
  }
  IAlloc_Free(&allocMain, block);
  SzArEx_Free(&db, &allocMain);
  return ok;
}

const SkinArchive::Entry* SkinArchive::FindEntry(std::wstring_view path) const {
  const std::wstring wanted = Normalised(path);
  for (const Entry& e : entries_) {
    if (e.nameLength != wanted.size() + 1) continue;
    if (CompareStringOrdinal(e.name.c_str(), static_cast<int>(e.name.size()), wanted.c_str(),
                             static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL)
      return &e;
  }
  return nullptr;
}

bool SkinArchive::Find(std::wstring_view path, int* index, unsigned long long* size) const {
  const Entry* e = FindEntry(path);
  if (!e) return false;
  *index = e->index;
  *size = e->size;
  return true;
}

bool SkinArchive::Read(int index, void* out, size_t capacity) const {
  for (const Entry& e : entries_) {
    if (e.index != index) continue;
    if (capacity < e.data.size()) return false;
    memcpy(out, e.data.data(), e.data.size());
    return true;
  }
  return false;
}

const std::string* SkinArchive::Data(std::wstring_view path) const {
  const Entry* e = FindEntry(path);
  return e ? &e->data : nullptr;
}

void SetArchiveKind7z(bool on) { g_archiveKind7z = on; }
bool ArchiveKind7z() { return g_archiveKind7z; }

void PrefetchArchive(const void* data, size_t length) {
  if (g_registered || g_prefetcher || !g_archiveKind7z) return;
  g_prefetched = std::make_unique<SkinArchive>();
  SkinArchive* target = g_prefetched.get();
  g_prefetcher = std::make_unique<Utils::Thread>(nullptr, L"SkinArchive", [target, data, length](void*) {
    {
      const Utils::StartupStep step("archive-unpack");
      target->Open(data, length);
    }
    Utils::MarkStartup("archive-unpacked");
  });
  if (!g_prefetcher->handle()) {
    g_prefetcher.reset();
    g_prefetched.reset();
    return;
  }
  ResumeThread(g_prefetcher->handle());
}

bool IsArchiveRegistered() {
  FinishPrefetch();
  return g_registered != nullptr;
}

bool OpenRegisteredArchive(const void* data, size_t length) {
  FinishPrefetch();
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

const SkinArchive* RegisteredArchive() {
  FinishPrefetch();
  return g_registered.get();
}

void CloseRegisteredArchive() {
  FinishPrefetch();
  g_registered.reset();
}

}  // namespace skin
