// The process-wide page cache of remote files: pages fetched from the
// assistants are kept in one local scratch file so that the database layer's
// many small reads cost no round trip. Pages are recycled in least-recently-
// released order; pages an assistant reports as changed are invalidated.
// The scratch file is mapped into memory: a page is filled by reading the
// pipe straight into its slot and copied once to each reader.
// Builds on the foundation only; qvt_FileReprRemote is its user.
#ifndef QVT_REMOTE_QVT_FILECACHE_H
#define QVT_REMOTE_QVT_FILECACHE_H

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "thr_Mutex.h"
#include "utl_File.h"
#include "utl_FileOffset.h"
#include "utl_MappedMemory.h"
#include "utl_TempFile.h"

class utl_BinIStream;
struct qvt_FileCachePage;

// One remote file's pages: page offset -> page, or null when the page it
// had was taken for another use (the assistant is told at the next page
// request). Owned by the remote file, changed only under the cache lock.
using qvt_FileCacheMap = std::map<utl_FileOffset, qvt_FileCachePage*>;

// A page of the cache. Owned by the cache and never freed before it.
struct qvt_FileCachePage {
  qvt_FileCachePage* next = nullptr;  // on exactly one of the three lists
  qvt_FileCachePage* prev = nullptr;
  utl_FileOffset offset = 0;          // in its remote file, a multiple of the page size
  utl_FileOffset slot = 0;            // of its bytes in the cache file
  std::int32_t valid = 0;             // bytes held from offset on, 0 .. page size
  qvt_FileCacheMap* owner = nullptr;  // the map holding it, or none
  int list = 0;                       // which list it is on
  char* bytes = nullptr;              // the slot as mapped into memory
  bool reserved = false;              // the slot's storage is allocated in the cache file
};

class qvt_FileCache {
 public:
  static constexpr std::int32_t kDefaultPageSize = 0x100000;
  static constexpr int kBlock = 4096;

  // Page size and limit for a volume with freeSpace bytes free, from the
  // command-line keys: "nodb_page_size" in KiB (below 1 gives 1, above
  // 65536 gives 2048), default 1 MiB; the limit is four fifths of the free
  // space in whole pages, lowered (never raised) by "nodb_cache_limit" in
  // MiB.
  struct Sizes {
    std::int32_t pageSize;
    std::int64_t pageLimit;
  };
  static Sizes ComputeSizes(std::uint64_t freeSpace);

  // The process-wide cache, created on first use in the temporary folder.
  // THROWS what the foundation throws when the scratch file cannot be made.
  static qvt_FileCache& Instance();
  // Destroys the process-wide cache, if any. Every remote file must have
  // been closed. Called by the library finalizer.
  static void Finalize();

  // A cache of its own in directory (the temporary folder when empty).
  explicit qvt_FileCache(const cow_String& directory = cow_String());
  ~qvt_FileCache();
  qvt_FileCache(const qvt_FileCache&) = delete;
  qvt_FileCache& operator=(const qvt_FileCache&) = delete;

  // The page for offset of the file whose map is map, put in use. A page
  // newly bound has valid count 0. THROWS nex_TextException "Cache Space
  // Exausted." when every page is in use and no more may be made; the cache
  // is then unchanged.
  qvt_FileCachePage* Lookup(utl_FileOffset offset, qvt_FileCacheMap& map);
  // The reader is done with page; it becomes the most recently released.
  void Release(qvt_FileCachePage* page);
  // The remote side changed that page: the map entry empties and the page
  // becomes free (a page in use stays with its reader until released).
  void Invalidate(utl_FileOffset offset, qvt_FileCacheMap& map);
  // The file is closing: every page it holds becomes free.
  void ReleaseAll(qvt_FileCacheMap& map);
  // Up to maxCount offsets, ascending, of map entries that hold no page;
  // those entries are removed.
  std::vector<utl_FileOffset> TakeDropped(qvt_FileCacheMap& map, std::size_t maxCount);

  // Copies what page holds from position on, up to length bytes, into
  // buffer, and advances count, buffer, position and length by it.
  void Copy(const qvt_FileCachePage& page, std::int64_t& count, char*& buffer, std::int64_t& length,
            utl_FileOffset& position) const;
  // Allocates the storage of page's slot in the cache file and writes the
  // slot once through the file, once per page, so that writing it through
  // its mapping cannot fail later. Called before asking for a page's bytes:
  // a full volume then fails while the pipe holds no reply. THROWS
  // nex_TextException when the volume is full.
  void Reserve(qvt_FileCachePage& page);
  // Reads byteCount bytes of page data from stream straight into page's
  // slot (reserving it first if need be), then sets its valid count.
  // REQUIRES 0 <= byteCount <= PageSize(). A stream that fails part way
  // leaves the valid count 0. THROWS what the stream or the cache file
  // throws.
  void Fill(qvt_FileCachePage& page, std::int32_t byteCount, utl_BinIStream& stream);

  std::int32_t PageSize() const { return m_PageSize; }
  std::int64_t PageLimit() const { return m_PageLimit; }
  std::int32_t PagesMade() const { return m_PagesMade; }

 private:
  enum ListId { kInUse = 0, kReleased = 1, kFree = 2 };
  struct List {
    qvt_FileCachePage head;  // circular, head.next is the front
  };
  void Unlink(qvt_FileCachePage* page);
  void PushFront(ListId list, qvt_FileCachePage* page);
  static void Unbind(qvt_FileCachePage* page);
  qvt_FileCachePage* TakePage();

  std::int64_t SlotSize() const;

  std::unique_ptr<utl_TempFile> m_Scratch;
  std::unique_ptr<utl_File> m_File;
  // The cache file mapped in chunks of whole slots, each mapped when its
  // first page is made; unmapped before the file is closed.
  std::vector<std::unique_ptr<utl_MappedMemory>> m_Chunks;
  std::int32_t m_SlotsPerChunk = 1;
  List m_Lists[3];
  std::int32_t m_PageSize = kDefaultPageSize;
  std::int64_t m_PageLimit = 0;
  std::int32_t m_PagesMade = 0;
  std::vector<std::unique_ptr<qvt_FileCachePage>> m_Pages;
  // Guards the lists, the counters and every page map; Copy and Fill take
  // no lock: a page in use belongs to one reader.
  mutable thr_Mutex m_Lock;
};

#endif  // QVT_REMOTE_QVT_FILECACHE_H
