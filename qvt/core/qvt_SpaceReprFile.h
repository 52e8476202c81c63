// The space of a database file: reads and writes go through the linkage
// entries of the space's chain of extents straight to the file, one file
// transfer per extent touched. Built only by qvt_DatabaseReprFile::Space.
#ifndef QVT_IMPL_QVT_SPACEREPRFILE_H
#define QVT_IMPL_QVT_SPACEREPRFILE_H

#include "qvt_SpaceRepr.h"

class qvt_DatabaseReprFile;
struct qvt_LinkageEntry;

class qvt_SpaceReprFile : public qvt_SpaceRepr {
 public:
  // REQUIRES: database outlives the space; head is a handle the database
  // accepts (IsValidHandle). A created space starts empty; an opened one
  // computes its length and allocation from its chain at once (THROWS the
  // corrupt-file message for a damaged chain).
  qvt_SpaceReprFile(qvt_DatabaseReprFile* database, qvt_Handle head, int increment, bool created);
  // Writes nothing: the linkage is written by the database's Flush.
  ~qvt_SpaceReprFile() override = default;

  bool ReadOnly() const override;
  // Recomputed from the chain when the database's flush count has moved.
  utl_FileOffset Length() override;
  // 0 to Length() inclusive. THROWS "***ERROR: Invalid seek offset: %f. ..."
  // beyond the chain, leaving the location as it was.
  void Seek(utl_FileOffset offset) override;
  utl_FileOffset Location() override { return m_Location; }
  // In the extent the location is in; before the space's first extent has
  // a place in the file, Location().
  utl_FileOffset MediumLocation() override;
  void Flush() override {}
  // Reserves room for increment more bytes behind the location: grows the
  // last extent in place when it ends at the end of the file, else chains a
  // new extent there. Answers true. THROWS the read-only message, or
  // "qvt_SpaceReprFile::Extend: Invalid file extend increment specified."
  // for an increment of 0 or less.
  bool Extend(utl_FileOffset increment) override;
  // Answers the bytes read, fewer at the end of the space.
  int Read(char* buffer, int count) override;
  // Answers count; grows the space as needed.
  int Write(const char* buffer, int count) override;
  qvt_StringManager& StringManager() override;

  qvt_Handle Handle() override { return m_Head; }
  utl_FileOffset Allocation() override;
  void Truncate(utl_FileOffset newLength) override;

  int Increment() const { return m_Increment; }

 private:
  void RequireWritable() const;
  // Walks the whole chain for its totals; a chain that loops fails here,
  // since the walk counts its steps against the entries of the linkage.
  void ComputeTotals();
  // Recomputes the totals when the database's flush count has moved, that
  // is when a reader's linkage may have been replaced. Every walk starts
  // with it, so no partial walk meets a loop that a whole walk has not
  // reported first.
  void Refresh();
  // Gives the last extent of the chain room for need more bytes.
  void GrowChain(utl_FileOffset need);
  // True when an extent after the given one has a length above 0.
  bool LaterExtentHoldsBytes(qvt_Handle extent);
  void WriteFully(utl_FileOffset fileOffset, const char* buffer, int count);

  qvt_DatabaseReprFile* m_Database;
  qvt_Handle m_Head;
  int m_Increment;
  qvt_Handle m_CurrentExtent;
  utl_FileOffset m_OffsetInExtent = 0;
  int m_SeenFlushCount = 0;
  utl_FileOffset m_Location = 0;
  utl_FileOffset m_Length = 0;
  utl_FileOffset m_Allocation = 0;
};

#endif  // QVT_IMPL_QVT_SPACEREPRFILE_H
