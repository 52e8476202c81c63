// The row cache of a table: rows found by index, read ahead in runs of the
// cache size, written back in ascending order with new rows contiguous, and
// recycled when discarded; and the caches of recent pooled strings in front
// of the database's string pool.
#include "qvt_TableRepr.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "nex_Exception.h"
#include "qvt_RowImpl.h"
#include "qvt_StringManager.h"

// ---- Pooled strings ----

void qvt_TableRepr::ReadPooledString(const char* reference, cow_String* text) {
  if (m_Pool->ExternalSize() != sizeof(std::uint64_t)) {
    m_Pool->InternalizeStrings(reference, text, 1);
    return;
  }
  std::uint64_t key;
  std::memcpy(&key, reference, sizeof key);
  if (!m_StringCache) m_StringCache.reset(new StringSlot[std::size_t{1} << kStringSlotBits]);
  StringSlot& slot = m_StringCache[(key * 0x9E3779B97F4A7C15ull) >> (64 - kStringSlotBits)];
  if (!slot.used || slot.reference != key) {
    m_Pool->InternalizeStrings(reference, &slot.text, 1);
    slot.reference = key;
    slot.used = true;
  }
  *text = slot.text;
}

void qvt_TableRepr::WritePooledString(const cow_String& text, char* reference) {
  if (m_Pool->ExternalSize() != static_cast<int>(sizeof(ReferenceSlot::reference))) {
    m_Pool->ExternalizeStrings(reference, &text, 1);
    return;
  }
  // FNV-1a: cheap on the short texts rows hold.
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  // Its top bits barely depend on the last bytes: mix before taking them.
  hash ^= hash >> 29;
  hash *= 0x9E3779B97F4A7C15ull;
  if (!m_ReferenceCache) m_ReferenceCache.reset(new ReferenceSlot[std::size_t{1} << kStringSlotBits]);
  ReferenceSlot& slot = m_ReferenceCache[hash >> (64 - kStringSlotBits)];
  if (!slot.used || slot.text != text) {
    // The slot changes only once the pool has answered.
    char fresh[sizeof slot.reference];
    m_Pool->ExternalizeStrings(fresh, &text, 1);
    slot.used = false;
    slot.text = text;
    std::memcpy(slot.reference, fresh, sizeof fresh);
    slot.used = true;
  }
  std::memcpy(reference, slot.reference, sizeof slot.reference);
}

// ---- The row cache ----

qvt_RowImpl* qvt_TableRepr::TakeRow(int row) {
  if (m_FreeRows.empty()) return new qvt_RowImpl(this, row, m_RowSize, m_BitmapWords);
  qvt_RowImpl* impl = m_FreeRows.back();
  m_FreeRows.pop_back();
  impl->SetLocation(row);
  return impl;
}

std::size_t qvt_TableRepr::Find(int row) {
  const std::size_t size = m_Cache.size();
  std::size_t slot = m_CacheHint;
  if (slot < size && m_Cache[slot].row == row) return slot;
  if (++slot < size && m_Cache[slot].row == row) return m_CacheHint = slot;
  auto found = std::lower_bound(m_Cache.begin(), m_Cache.end(), row,
                                [](const CacheEntry& entry, int r) { return entry.row < r; });
  if (found == m_Cache.end() || found->row != row) return kNotCached;
  return m_CacheHint = static_cast<std::size_t>(found - m_Cache.begin());
}

qvt_RowRepr* qvt_TableRepr::Enter(int row, qvt_RowImpl* impl) {
  qvt_RowRepr* repr;
  if (m_FreeReprs.empty()) {
    repr = new qvt_RowRepr;
  } else {
    repr = m_FreeReprs.back();
    m_FreeReprs.pop_back();
  }
  repr->m_ReferenceCount = 0;
  repr->m_Row = impl;
  repr->m_LostClassName.clear();
  if (m_Cache.empty() || m_Cache.back().row < row) {
    m_Cache.emplace_back(row, repr);
  } else {
    auto at = std::lower_bound(m_Cache.begin(), m_Cache.end(), row,
                               [](const CacheEntry& entry, int r) { return entry.row < r; });
    NEX_ASSERT(at == m_Cache.end() || at->row != row);
    m_Cache.insert(at, CacheEntry(row, repr));
  }
  return repr;
}

void qvt_TableRepr::Drop(qvt_RowRepr* repr) {
  m_FreeRows.push_back(repr->m_Row);
  repr->m_Row = nullptr;
  if (repr->m_ReferenceCount > 0) {
    repr->m_LostClassName = ClassName();  // the last handle on it deletes it
  } else {
    m_FreeReprs.push_back(repr);
  }
}

void qvt_TableRepr::Load(int row) {
  // A cache of size 0 still reads the row asked for.
  const int limit = static_cast<int>(std::min<long long>(m_RowCount, static_cast<long long>(row) + std::max(m_CacheSize, 1)));
  int r = row;
  while (r < limit) {
    if (Find(r) != kNotCached) {
      ++r;
      continue;
    }
    // A run of rows not cached, read window by window of whole rows.
    auto next = std::lower_bound(m_Cache.begin(), m_Cache.end(), r,
                                 [](const CacheEntry& entry, int x) { return entry.row < x; });
    const int end = next == m_Cache.end() ? limit : std::min(limit, next->row);
    m_Buffer.Seek(RowOffset(r));
    while (r < end) {
      if (m_RowSize <= m_Buffer.Size() && m_Buffer.PrepRead(m_RowSize, end - r)) {
        const char* window = m_Buffer.Window();
        const int rows = m_Buffer.WindowCount();
        for (int k = 0; k < rows; ++k, ++r, window += m_RowSize) {
          qvt_RowImpl* impl = TakeRow(r);
          std::memcpy(impl->Data(), window, static_cast<std::size_t>(m_RowSize));
          impl->LoadBitmap();
          impl->ClearModified();
          Enter(r, impl);
        }
      } else {
        // A row larger than the block, or a last row cut short.
        qvt_RowImpl* impl = TakeRow(r);
        try {
          const int got = m_Buffer.Read(impl->Data(), m_RowSize);
          impl->LoadBitmap();
          if (got < m_RowSize) impl->KeepOnlyBytes(got);
          impl->ClearModified();
        } catch (const std::exception&) {
          m_FreeRows.push_back(impl);
          throw;
        }
        Enter(r, impl);
        ++r;
      }
    }
  }
}

void qvt_TableRepr::WriteBack(bool discard) {
  if (!m_ReadOnly && !m_Cache.empty()) {
    // Rows beyond the stored ones are written from the first up to the
    // highest modified one, so the space never gets a gap.
    int highestNew = -1;
    for (auto it = m_Cache.rbegin(); it != m_Cache.rend() && it->row >= m_StoredRowCount; ++it) {
      if (it->repr->m_Row->Modified()) {
        highestNew = it->row;
        break;
      }
    }
    const int stored = m_StoredRowCount;
    auto marked = [&](const CacheEntry& entry) {
      return entry.row < stored ? entry.repr->m_Row->Modified() : entry.row <= highestNew;
    };
    const std::size_t size = m_Cache.size();
    std::size_t i = 0;
    while (i < size) {
      if (!marked(m_Cache[i])) {
        ++i;
        continue;
      }
      // A run of marked rows that follow each other: written window by
      // window of whole rows.
      std::size_t end = i + 1;
      while (end < size && m_Cache[end].row == m_Cache[end - 1].row + 1 && marked(m_Cache[end])) ++end;
      NEX_ASSERT(m_Cache[i].row <= m_StoredRowCount);
      m_Buffer.Seek(RowOffset(m_Cache[i].row));
      while (i < end) {
        if (m_RowSize <= m_Buffer.Size() && m_Buffer.PrepWrite(m_RowSize, static_cast<int>(end - i))) {
          char* window = m_Buffer.Window();
          const int rows = m_Buffer.WindowCount();
          for (int k = 0; k < rows; ++k, ++i, window += m_RowSize) {
            qvt_RowImpl* row = m_Cache[i].repr->m_Row;
            row->StoreBitmap();
            std::memcpy(window, row->Data(), static_cast<std::size_t>(m_RowSize));
            row->ClearModified();
          }
        } else {
          qvt_RowImpl* row = m_Cache[i].repr->m_Row;
          row->StoreBitmap();
          m_Buffer.Write(row->Data(), m_RowSize);
          row->ClearModified();
          ++i;
        }
      }
      m_StoredRowCount = std::max(m_StoredRowCount, m_Cache[end - 1].row + 1);
    }
  }
  if (discard) {
    std::size_t kept = 0;
    for (const CacheEntry& entry : m_Cache) {
      qvt_RowRepr* repr = entry.repr;
      if (repr->m_ReferenceCount <= 0) {
        m_FreeRows.push_back(repr->m_Row);
        repr->m_Row = nullptr;
        m_FreeReprs.push_back(repr);
      } else {
        m_Cache[kept++] = entry;
      }
    }
    m_Cache.erase(m_Cache.begin() + static_cast<std::ptrdiff_t>(kept), m_Cache.end());
    m_CacheHint = 0;
  }
}

void qvt_TableRepr::Refill() {
  m_CacheBudget = m_CacheSize;
  WriteBack(true);
}
