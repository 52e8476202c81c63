// The bounded pool of decoded-segment buffers of one compressed file.
#include "qvt_SegmentBufferCache.h"

#include <algorithm>

#include "nex_Exception.h"
#include "qvt_EncodedSegment.h"

qvt_SegmentBufferCache::qvt_SegmentBufferCache(int segmentSize) { Reset(segmentSize); }

void qvt_SegmentBufferCache::Reset(int segmentSize) {
  NEX_ASSERT(segmentSize > 0 && segmentSize <= kBudget);
  m_Limit = kBudget / segmentSize;
  m_BufferSize = segmentSize;
  m_Entries.clear();
  m_EntryCount = 0;
  m_Recency.clear();
}

qvt_SegmentBufferCache::Entry* qvt_SegmentBufferCache::Find(int index) {
  const auto it = m_Entries.find(index);
  return it == m_Entries.end() ? nullptr : &it->second;
}

bool qvt_SegmentBufferCache::IsParked(int index) const {
  const auto it = m_Entries.find(index);
  return it != m_Entries.end() && it->second.m_Holder != nullptr;
}

void qvt_SegmentBufferCache::RemoveFromRecency(int index) {
  const auto it = std::find(m_Recency.begin(), m_Recency.end(), index);
  if (it != m_Recency.end()) m_Recency.erase(it);
}

qvt_SegmentBufferCache::Entry& qvt_SegmentBufferCache::Get(int index) {
  NEX_ASSERT(index >= 0);
  if (index >= m_EntryCount) {
    m_EntryCount = index + 1;
    NEX_ASSERT_MSG(m_EntryCount == index + 1, "m_Entries.Size() == index + 1");
  }
  RemoveFromRecency(index);
  Entry& entry = m_Entries[index];
  if (entry.m_StreamBuffer.Size() == 0) {
    // The recency list holds every other buffer, armed or parked.
    if (static_cast<int>(m_Recency.size()) < m_Limit) {
      qvt_SegmentBuffer fresh(m_BufferSize);
      entry.m_StreamBuffer.Swap(fresh);
    } else {
      auto victim = std::find_if(m_Recency.begin(), m_Recency.end(),
                                 [this](int candidate) { return m_Entries[candidate].m_Holder != nullptr; });
      if (victim != m_Recency.end()) {
        const int victimIndex = *victim;
        Entry& parked = m_Entries[victimIndex];
        // Stores the victim first if it is dirty; a failure leaves the victim
        // parked and this entry without a buffer.
        parked.m_Holder->Reclaim(victimIndex, &parked.m_StreamBuffer);
        parked.m_Holder = nullptr;
        entry.m_StreamBuffer.Swap(parked.m_StreamBuffer);
        m_Recency.erase(victim);
        m_Entries.erase(victimIndex);
      } else {
        // Every buffer is armed: only now does the cache go past its budget.
        qvt_SegmentBuffer fresh(m_BufferSize);
        entry.m_StreamBuffer.Swap(fresh);
      }
    }
  }
  entry.m_Holder = nullptr;
  m_Recency.push_back(index);
  return entry;
}

void qvt_SegmentBufferCache::Release(int index, qvt_EncodedSegment* holder) {
  NEX_ASSERT_MSG(index >= 0 && index < m_EntryCount, "index < m_Entries.Size()");
  NEX_ASSERT(holder);
  Entry* entry = Find(index);
  NEX_ASSERT_MSG(entry != nullptr && entry->m_StreamBuffer.Size() > 0, "entry.m_StreamBuffer.Size() > 0");
  entry->m_Holder = holder;
}

void qvt_SegmentBufferCache::Forget(int index, const qvt_EncodedSegment* holder) {
  Entry* entry = Find(index);
  if (entry == nullptr || holder == nullptr || entry->m_Holder != holder) return;
  RemoveFromRecency(index);
  m_Entries.erase(index);
}

void qvt_SegmentBufferCache::Abandon(int index) {
  Entry* entry = Find(index);
  if (entry == nullptr || entry->m_Holder != nullptr) return;
  RemoveFromRecency(index);
  m_Entries.erase(index);
}
