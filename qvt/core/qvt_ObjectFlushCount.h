// The flush-count word that arrays and tagged streams keep in their header,
// and the handshake built on it: a writer's Flush bumps the word, a reader's
// Snap notices the change and drops its stale block. Sits between those
// objects and their I/O buffer.
#ifndef QVT_IMPL_QVT_OBJECTFLUSHCOUNT_H
#define QVT_IMPL_QVT_OBJECTFLUSHCOUNT_H

#include "utl_FileOffset.h"

class qvt_DatabaseRepr;
class qvt_IOBuffer;

class qvt_ObjectFlushCount {
 public:
  // The word is a 32-bit int at offset in the object's space, in the space's
  // byte order. seenDatabaseFlushCount is the database's flush count when the
  // object was opened: Snap looks at the object only once that has moved.
  qvt_ObjectFlushCount(utl_FileOffset offset, int seenDatabaseFlushCount)
      : m_Offset(offset), m_SeenDatabaseFlushCount(seenDatabaseFlushCount) {}

  // The count as last written or read.
  int Count() const { return m_Count; }
  // Takes the count read from the header at open.
  void SetCount(int count) { m_Count = count; }

  // Writes back what buffer holds and bumps the stored count; answers the
  // new count, or 0 when buffer is read-only. The position is unchanged.
  int Flush(qvt_IOBuffer& buffer);
  // On a read-only buffer, picks up another process's flushes: answers the
  // new count when the object was flushed since, else 0. The position is
  // unchanged.
  int Snap(qvt_IOBuffer& buffer, qvt_DatabaseRepr& database);

 private:
  utl_FileOffset m_Offset;
  int m_Count = 0;
  int m_SeenDatabaseFlushCount;
};

#endif  // QVT_IMPL_QVT_OBJECTFLUSHCOUNT_H
