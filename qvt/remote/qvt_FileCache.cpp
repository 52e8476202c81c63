// The remote page cache: three circular lists of pages over one scratch
// file, the process-wide instance, and the page size and limit taken from
// the command line and the scratch volume's free space.
#include "qvt_FileCache.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "atr_translate.h"
#include "nex_Exception.h"
#include "utl_BinStream.h"
#include "utl_CommandLine.h"

namespace {
const char kExhausted[] = "Cache Space Exausted.";
const char kPageSizeKey[] = "nodb_page_size";
const char kCacheLimitKey[] = "nodb_cache_limit";
constexpr int kMaxPageKiB = 65536;
constexpr int kOversizePageKiB = 2048;  // what a page size above the maximum becomes
constexpr std::int64_t kMiB = 0x100000;
// Mapping the cache file in large chunks keeps the number of mappings small
// whatever the page size.
constexpr std::int64_t kChunkBytes = 64 * kMiB;
// A slot is first written in pieces this large.
constexpr std::int64_t kZeroChunk = kMiB;

std::atomic<qvt_FileCache*> g_Instance{nullptr};
std::atomic<thr_Mutex*> g_InstanceLock{nullptr};

thr_Mutex& InstanceLock() {
  thr_Mutex* lock = g_InstanceLock.load(std::memory_order_acquire);
  if (lock == nullptr) {
    thr_Guard global(thr_GlobalLock::Instance());
    lock = g_InstanceLock.load(std::memory_order_relaxed);
    if (lock == nullptr) {
      lock = new thr_Mutex();
      g_InstanceLock.store(lock, std::memory_order_release);
    }
  }
  return *lock;
}
}  // namespace

qvt_FileCache::Sizes qvt_FileCache::ComputeSizes(std::uint64_t freeSpace) {
  const utl_CommandLine& commandLine = utl_CommandLine::Instance();
  Sizes sizes{kDefaultPageSize, 0};
  if (commandLine.IsMember(kPageSizeKey)) {
    int kib = commandLine.ConstGetValueAsInt(kPageSizeKey);
    if (kib < 1) kib = 1;
    if (kib > kMaxPageKiB) kib = kOversizePageKiB;
    sizes.pageSize = kib * 1024;
  }
  const std::uint64_t pages = freeSpace / static_cast<std::uint64_t>(sizes.pageSize) * 4 / 5;
  sizes.pageLimit = static_cast<std::int64_t>(std::min<std::uint64_t>(pages, INT32_MAX));
  if (commandLine.IsMember(kCacheLimitKey)) {
    const std::int64_t mib = commandLine.ConstGetValueAsInt(kCacheLimitKey);
    const std::int64_t limit = std::max<std::int64_t>(0, mib * kMiB / sizes.pageSize);
    if (limit < sizes.pageLimit) sizes.pageLimit = limit;
  }
  return sizes;
}

qvt_FileCache& qvt_FileCache::Instance() {
  qvt_FileCache* cache = g_Instance.load(std::memory_order_acquire);
  if (cache != nullptr) return *cache;
  thr_Guard guard(InstanceLock());
  cache = g_Instance.load(std::memory_order_relaxed);
  if (cache == nullptr) {
    cache = new qvt_FileCache();
    g_Instance.store(cache, std::memory_order_release);
  }
  return *cache;
}

void qvt_FileCache::Finalize() {
  if (g_InstanceLock.load(std::memory_order_acquire) == nullptr) return;
  {
    thr_Guard guard(InstanceLock());
    delete g_Instance.exchange(nullptr);
  }
  thr_Guard global(thr_GlobalLock::Instance());
  delete g_InstanceLock.exchange(nullptr);
}

qvt_FileCache::qvt_FileCache(const cow_String& directory) {
  for (List& list : m_Lists) list.head.next = list.head.prev = &list.head;
  m_Scratch =
      directory.empty() ? std::make_unique<utl_TempFile>() : std::make_unique<utl_TempFile>(directory);
  const Sizes sizes = ComputeSizes(m_Scratch->AvailableSpace());
  m_PageSize = sizes.pageSize;
  m_PageLimit = sizes.pageLimit;
  m_File = std::make_unique<utl_File>(m_Scratch->Name(), utl_FileAccessCreate, utl_FileSharingNone);
  // A process that ends without the library finalizer, or is killed, would
  // otherwise leave the file, as large as the pages it made, behind.
  m_Scratch->RemoveName();
  m_SlotsPerChunk = static_cast<std::int32_t>(std::max<std::int64_t>(1, kChunkBytes / SlotSize()));
}

std::int64_t qvt_FileCache::SlotSize() const {
  return (static_cast<std::int64_t>(m_PageSize) + kBlock - 1) / kBlock * kBlock;
}

qvt_FileCache::~qvt_FileCache() = default;

void qvt_FileCache::Unlink(qvt_FileCachePage* page) {
  page->prev->next = page->next;
  page->next->prev = page->prev;
  page->next = page->prev = nullptr;
}

void qvt_FileCache::PushFront(ListId list, qvt_FileCachePage* page) {
  if (page->next != nullptr) Unlink(page);
  qvt_FileCachePage& head = m_Lists[list].head;
  page->next = head.next;
  page->prev = &head;
  head.next->prev = page;
  head.next = page;
  page->list = list;
}

void qvt_FileCache::Unbind(qvt_FileCachePage* page) {
  if (page->owner != nullptr) {
    auto entry = page->owner->find(page->offset);
    if (entry != page->owner->end() && entry->second == page) entry->second = nullptr;
  }
  page->owner = nullptr;
  page->valid = 0;
}

qvt_FileCachePage* qvt_FileCache::TakePage() {
  qvt_FileCachePage& freeHead = m_Lists[kFree].head;
  if (freeHead.next != &freeHead) return freeHead.next;
  if (m_PagesMade < m_PageLimit) {
    auto page = std::make_unique<qvt_FileCachePage>();
    // Slots are handed out by count, not by the file's size, so pages made
    // before either is filled never share one.
    const std::int64_t slotSize = SlotSize();
    page->slot = slotSize * m_PagesMade;
    const std::size_t chunk = static_cast<std::size_t>(m_PagesMade / m_SlotsPerChunk);
    if (chunk == m_Chunks.size())
      m_Chunks.push_back(utl_MappedMemory::OfFile(
          *m_File, page->slot,
          static_cast<std::size_t>(slotSize) * static_cast<std::size_t>(m_SlotsPerChunk)));
    page->bytes = m_Chunks[chunk]->Data() + slotSize * (m_PagesMade % m_SlotsPerChunk);
    m_Pages.push_back(std::move(page));
    ++m_PagesMade;
    return m_Pages.back().get();
  }
  qvt_FileCachePage& releasedHead = m_Lists[kReleased].head;
  if (releasedHead.prev != &releasedHead) return releasedHead.prev;
  return nullptr;
}

qvt_FileCachePage* qvt_FileCache::Lookup(utl_FileOffset offset, qvt_FileCacheMap& map) {
  thr_Guard guard(m_Lock);
  auto entry = map.find(offset);
  qvt_FileCachePage* page = entry != map.end() ? entry->second : nullptr;
  if (page == nullptr) {
    page = TakePage();
    if (page == nullptr) NEX_THROW_TEXT(atr_translate(kExhausted).Result());
    Unbind(page);
    page->owner = &map;
    page->offset = offset;
    map[offset] = page;
  }
  PushFront(kInUse, page);
  return page;
}

void qvt_FileCache::Release(qvt_FileCachePage* page) {
  thr_Guard guard(m_Lock);
  PushFront(kReleased, page);
}

void qvt_FileCache::Invalidate(utl_FileOffset offset, qvt_FileCacheMap& map) {
  thr_Guard guard(m_Lock);
  auto entry = map.find(offset);
  if (entry == map.end() || entry->second == nullptr) return;
  qvt_FileCachePage* page = entry->second;
  Unbind(page);
  // A page in use is still being filled or copied by its reader; its
  // Release puts it on the released list, unbound, where it is reused.
  if (page->list != kInUse) PushFront(kFree, page);
}

void qvt_FileCache::ReleaseAll(qvt_FileCacheMap& map) {
  thr_Guard guard(m_Lock);
  for (auto& entry : map) {
    qvt_FileCachePage* page = entry.second;
    if (page == nullptr) continue;
    Unbind(page);
    PushFront(kFree, page);
  }
}

std::vector<utl_FileOffset> qvt_FileCache::TakeDropped(qvt_FileCacheMap& map, std::size_t maxCount) {
  thr_Guard guard(m_Lock);
  std::vector<utl_FileOffset> dropped;
  for (auto entry = map.begin(); entry != map.end() && dropped.size() < maxCount;) {
    if (entry->second == nullptr) {
      dropped.push_back(entry->first);
      entry = map.erase(entry);
    } else {
      ++entry;
    }
  }
  return dropped;
}

void qvt_FileCache::Copy(const qvt_FileCachePage& page, std::int64_t& count, char*& buffer,
                         std::int64_t& length, utl_FileOffset& position) const {
  const std::int64_t from = position - page.offset;
  const std::int64_t n = std::min<std::int64_t>(length, std::max<std::int64_t>(0, page.valid - from));
  if (n <= 0) return;
  std::memcpy(buffer, page.bytes + from, static_cast<std::size_t>(n));
  count += n;
  buffer += n;
  position += n;
  length -= n;
}

void qvt_FileCache::Reserve(qvt_FileCachePage& page) {
  if (page.reserved) return;
  utl_ReserveFileSpace(*m_File, page.slot, SlotSize());
  // Writing the slot once through the file puts it in the system's cache in
  // large pages, at a third of the cost of faulting it in through the
  // mapping, which reads every page of a reserved range before writing it.
  // The zeros are never written, so the array stays in zero-filled data
  // (const, it would be a mebibyte of the library's file) and every page of
  // it reads the system's one zero page, always in cache.
  static char zeros[kZeroChunk];
  for (std::int64_t done = 0; done < SlotSize(); done += kZeroChunk) {
    (void)m_File->WriteAt(page.slot + done, zeros,
                          static_cast<int>(std::min<std::int64_t>(kZeroChunk, SlotSize() - done)));
  }
  page.reserved = true;
}

void qvt_FileCache::Fill(qvt_FileCachePage& page, std::int32_t byteCount, utl_BinIStream& stream) {
  NEX_ASSERT(byteCount >= 0 && byteCount <= m_PageSize);
  page.valid = 0;
  Reserve(page);
  stream.ReadBytes(page.bytes, byteCount);
  page.valid = byteCount;
}
