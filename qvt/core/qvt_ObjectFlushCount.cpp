// Flush and Snap of the per-object flush count shared by arrays and tagged
// streams.
#include "qvt_ObjectFlushCount.h"

#include "qvt_DatabaseRepr.h"
#include "qvt_IOBuffer.h"

int qvt_ObjectFlushCount::Flush(qvt_IOBuffer& buffer) {
  if (buffer.ReadOnly()) return 0;
  const utl_FileOffset position = buffer.Location();
  ++m_Count;
  buffer.Seek(m_Offset);
  buffer.WriteInt(m_Count);
  buffer.Flush();
  buffer.Seek(position);
  return m_Count;
}

int qvt_ObjectFlushCount::Snap(qvt_IOBuffer& buffer, qvt_DatabaseRepr& database) {
  if (!buffer.ReadOnly()) return 0;
  // The database's count moves at every flush of any writer: only then can
  // this object's word have changed, so most Snaps cost no read.
  const int databaseFlushCount = database.GetFlushCount();
  if (databaseFlushCount == m_SeenDatabaseFlushCount) return 0;
  m_SeenDatabaseFlushCount = databaseFlushCount;

  const utl_FileOffset position = buffer.Location();
  buffer.Seek(m_Offset);
  const int stored = buffer.ReadInt();
  if (stored == m_Count) {
    buffer.Seek(position);
    return 0;
  }
  m_Count = stored;
  // Drops the loaded block, so the next read sees the writer's bytes.
  buffer.Flush();
  buffer.Seek(position);
  return m_Count;
}
