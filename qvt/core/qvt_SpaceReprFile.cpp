// Spaces of a database file: every read, write and seek goes through the
// linkage entries of the space's chain, so two space objects on one handle
// share the extents while keeping their own locations.
#include "qvt_SpaceReprFile.h"

#include <algorithm>

#include "atr_translate.h"
#include "nex_Exception.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_DatabaseReprMessages.h"
#include "qvt_FileRepr.h"

namespace M = qvt_CoreMessages;

namespace {
constexpr int kMinimumIncrement = 4;

utl_FileOffset RoundUp(utl_FileOffset value, utl_FileOffset step) { return (value + step - 1) / step * step; }
}  // namespace

qvt_SpaceReprFile::qvt_SpaceReprFile(qvt_DatabaseReprFile* database, qvt_Handle head, int increment,
                                     bool created)
    : qvt_SpaceRepr(omi_Swapper(EndianBig)),
      m_Database(database),
      m_Head(head),
      m_Increment(std::max(increment, kMinimumIncrement)),
      m_CurrentExtent(head) {
  if (!created) ComputeTotals();
}

bool qvt_SpaceReprFile::ReadOnly() const { return m_Database->ReadOnly(); }

void qvt_SpaceReprFile::RequireWritable() const {
  if (m_Database->ReadOnly()) NEX_THROW_TEXT(M::kReadOnly);
}

void qvt_SpaceReprFile::ComputeTotals() {
  utl_FileOffset length = 0;
  utl_FileOffset allocation = 0;
  std::int64_t steps = 0;
  for (qvt_Handle h = m_Head; h != 0; h = m_Database->NextInChain(h, &steps)) {
    const qvt_LinkageEntry& e = m_Database->LinkageEntry(h);
    length += e.m_Length;
    allocation += e.m_Allocation;
  }
  m_Length = length;
  m_Allocation = allocation;
}

void qvt_SpaceReprFile::Refresh() {
  const int flushCount = m_Database->GetFlushCount();
  if (flushCount != m_SeenFlushCount) {
    ComputeTotals();
    m_SeenFlushCount = flushCount;
  }
}

utl_FileOffset qvt_SpaceReprFile::Length() {
  Refresh();
  return m_Length;
}

utl_FileOffset qvt_SpaceReprFile::Allocation() {
  Length();
  return m_Allocation;
}

void qvt_SpaceReprFile::Seek(utl_FileOffset offset) {
  if (offset == m_Location) return;
  Refresh();
  // Nothing changes until the walk has found the extent, so a failed seek
  // leaves extent, offset in extent and location as they were.
  if (offset >= 0) {
    utl_FileOffset remaining = offset;
    std::int64_t steps = 0;
    for (qvt_Handle h = m_Head; h != 0; h = m_Database->NextInChain(h, &steps)) {
      const qvt_LinkageEntry& e = m_Database->LinkageEntry(h);
      if (remaining <= e.m_Length) {
        m_CurrentExtent = h;
        m_OffsetInExtent = remaining;
        m_Location = offset;
        return;
      }
      remaining -= e.m_Length;
    }
  }
  NEX_THROW_TEXT(atr_Format(M::kInvalidSeek, static_cast<double>(offset)));
}

utl_FileOffset qvt_SpaceReprFile::MediumLocation() {
  const qvt_LinkageEntry& e = m_Database->LinkageEntry(m_CurrentExtent);
  return e.m_Location >= qvt_LocationPlaced ? e.m_Location + m_OffsetInExtent : m_Location;
}

bool qvt_SpaceReprFile::Extend(utl_FileOffset increment) {
  RequireWritable();
  if (increment <= 0) NEX_THROW_TEXT(M::kBadExtend);
  const utl_FileOffset room = Allocation() - m_Location;
  if (increment > room) GrowChain(increment - room);
  return true;
}

void qvt_SpaceReprFile::GrowChain(utl_FileOffset need) {
  qvt_Handle last = m_Head;
  std::int64_t steps = 0;
  for (qvt_Handle next = m_Database->NextInChain(last, &steps); next != 0;
       next = m_Database->NextInChain(last, &steps))
    last = next;

  qvt_FileRepr& file = m_Database->File();
  qvt_LinkageEntry* entry = &m_Database->LinkageEntry(last);
  if (entry->m_Location >= qvt_LocationPlaced) {
    const utl_FileOffset end = entry->m_Location + entry->m_Allocation;
    // An extent reaching past the end of the file overlaps whatever the
    // file grows into next.
    if (end > file.FileLength()) m_Database->FailCorrupt();
    if (end < file.FileLength()) {
      // Something lies behind the last extent: chain a new one.
      m_Database->MarkDirty(last);
      const qvt_Handle added = m_Database->NewHandle();
      m_Database->LinkageEntry(last).m_Next = added;
      last = added;
      entry = &m_Database->LinkageEntry(added);
    }
  }
  if (entry->m_Location < qvt_LocationPlaced) entry->m_Location = file.FileLength();
  m_Database->MarkDirty(last);
  const utl_FileOffset grown = RoundUp(entry->m_Allocation + need, m_Increment) - entry->m_Allocation;
  entry->m_Allocation += grown;
  m_Allocation += grown;
  m_Database->GrowFile(grown);
}

void qvt_SpaceReprFile::WriteFully(utl_FileOffset fileOffset, const char* buffer, int count) {
  qvt_FileRepr& file = m_Database->File();
  file.Seek(fileOffset);
  while (count > 0) {
    const int n = file.Write(buffer, count);
    if (n <= 0) NEX_THROW_TEXT(M::kWriteFailed);
    buffer += n;
    count -= n;
  }
}

bool qvt_SpaceReprFile::LaterExtentHoldsBytes(qvt_Handle extent) {
  std::int64_t steps = 0;
  for (qvt_Handle h = m_Database->NextInChain(extent, &steps); h != 0; h = m_Database->NextInChain(h, &steps))
    if (m_Database->LinkageEntry(h).m_Length > 0) return true;
  return false;
}

int qvt_SpaceReprFile::Write(const char* buffer, int count) {
  RequireWritable();
  if (!buffer) NEX_THROW_TEXT(M::kBadWriteBuffer);
  if (count <= 0) NEX_THROW_TEXT(M::kBadWriteLength);

  Refresh();
  int remaining = count;
  std::int64_t steps = 0;
  while (remaining > 0) {
    qvt_LinkageEntry* e = &m_Database->LinkageEntry(m_CurrentExtent);
    if (e->m_Allocation - m_OffsetInExtent <= 0) {
      // Grow the chain's last extent by exactly what is left to write; the
      // space totals are not trusted here, so the loop always makes room.
      if (e->m_Next == 0) GrowChain(remaining);
      const qvt_Handle next = m_Database->NextInChain(m_CurrentExtent, &steps);
      if (next != 0) {
        m_CurrentExtent = next;
        m_OffsetInExtent = 0;
      }
      continue;
    }
    utl_FileOffset room = e->m_Allocation - m_OffsetInExtent;
    // Past its length an extent may only grow while no later extent holds
    // bytes: a read to the end, or a truncation, can leave the location in
    // a later extent and this one short of its allocation, and the bytes
    // that follow the length are then the next extent's.
    if (m_OffsetInExtent + std::min<utl_FileOffset>(room, remaining) > e->m_Length &&
        LaterExtentHoldsBytes(m_CurrentExtent)) {
      room = e->m_Length - m_OffsetInExtent;
      if (room <= 0) {
        m_CurrentExtent = m_Database->NextInChain(m_CurrentExtent, &steps);
        m_OffsetInExtent = 0;
        continue;
      }
    }
    const int chunk = static_cast<int>(std::min<utl_FileOffset>(room, remaining));
    WriteFully(e->m_Location + m_OffsetInExtent, buffer, chunk);
    buffer += chunk;
    remaining -= chunk;
    m_OffsetInExtent += chunk;
    m_Location += chunk;
    if (m_OffsetInExtent > e->m_Length) {
      e->m_Length = m_OffsetInExtent;
      m_Database->MarkDirty(m_CurrentExtent);
    }
  }
  if (m_Location > m_Length) m_Length = m_Location;
  return count;
}

int qvt_SpaceReprFile::Read(char* buffer, int count) {
  if (!buffer) NEX_THROW_TEXT(M::kBadReadBuffer);
  if (count < 1) NEX_THROW_TEXT(M::kBadReadLength);

  Refresh();
  qvt_FileRepr& file = m_Database->File();
  int done = 0;
  std::int64_t steps = 0;
  while (done < count) {
    const qvt_LinkageEntry& e = m_Database->LinkageEntry(m_CurrentExtent);
    const utl_FileOffset available = e.m_Length - m_OffsetInExtent;
    if (available <= 0) {
      const qvt_Handle next = m_Database->NextInChain(m_CurrentExtent, &steps);
      if (next == 0) break;
      m_CurrentExtent = next;
      m_OffsetInExtent = 0;
      continue;
    }
    const int chunk = static_cast<int>(std::min<utl_FileOffset>(available, count - done));
    file.Seek(e.m_Location + m_OffsetInExtent);
    int got = 0;
    while (got < chunk) {
      const int n = file.Read(buffer + done + got, chunk - got);
      // The linkage promises bytes the file does not hold.
      if (n <= 0) m_Database->FailCorrupt();
      got += n;
    }
    done += chunk;
    m_OffsetInExtent += chunk;
    m_Location += chunk;
  }
  return done;
}

qvt_StringManager& qvt_SpaceReprFile::StringManager() { return m_Database->StringPool(); }

void qvt_SpaceReprFile::Truncate(utl_FileOffset newLength) {
  // A reader's linkage is never written, so a truncation there would only
  // show a false length to this process.
  RequireWritable();
  Seek(0);
  utl_FileOffset remaining = newLength;
  std::int64_t steps = 0;
  for (qvt_Handle h = m_Head; h != 0; h = m_Database->NextInChain(h, &steps)) {
    qvt_LinkageEntry& e = m_Database->LinkageEntry(h);
    if (remaining <= 0) {
      e.m_Length = 0;
      m_Database->MarkDirty(h);
    } else if (remaining <= e.m_Length) {
      e.m_Length = remaining;
      m_Database->MarkDirty(h);
    }
    remaining -= e.m_Length;
  }
  ComputeTotals();
}
