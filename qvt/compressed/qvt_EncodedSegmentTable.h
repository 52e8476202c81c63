// The segments of a compressed file: the logical byte stream cut into
// segments of S bytes, segment s stored compressed as container entry s.
// Every segment but the last holds S bytes; the last holds L (0 <= L <= S),
// so the logical size is (n - 1) * S + L. The table header is the
// container's 20-byte user header (words unsigned 32-bit little-endian):
//
//   OFFSET  SIZE  CONTENT
//   0       4     magic 0x6141C1A5
//   4       4     version, 1
//   8       4     segment size S
//   12      4     segment count n
//   16      4     last length L
#ifndef QVT_IMPL_QVT_ENCODEDSEGMENTTABLE_H
#define QVT_IMPL_QVT_ENCODEDSEGMENTTABLE_H

#include <cstdint>
#include <map>
#include <memory>

#include "cow_CountedHld.h"
#include "qvt_Codec.h"
#include "qvt_EncodedSegment.h"
#include "qvt_SectorArray.h"
#include "qvt_SegmentBufferCache.h"
#include "utl_FileOffset.h"

class qvt_EncodedSegmentTable : public qvt_SectorArray {
 public:
  static constexpr std::uint32_t kMagic = 0x6141C1A5u;
  static constexpr std::uint32_t kCurrentVersion = 1;
  static constexpr int kTableHeaderSize = 20;

  // Opens the container at path with access 0 (read) or 1 (update) and reads
  // the table header. Takes the codec. THROWS nex_AssertException for a short
  // header, wrong magic or version; nex_TextException for a segment size
  // outside 1 to 1048576 or counts that cannot be right; and whatever
  // opening the container throws.
  qvt_EncodedSegmentTable(const cow_String& path, std::unique_ptr<qvt_Codec> codec, int access);
  // Creates (or empties) the file for segments of segmentSize bytes. THROWS
  // nex_TextException, before touching the file, for a segment size outside
  // 1 to 1048576.
  qvt_EncodedSegmentTable(const cow_String& path, std::unique_ptr<qvt_Codec> codec, int segmentSize, CreateTag);
  // Stores nothing: the encoded file flushes first when it is writable.
  ~qvt_EncodedSegmentTable() = default;

  // The segment object for index, made if needed; past the last segment the
  // table grows and every segment below the new last one counts as full.
  // The caller arms it.
  cow_CountedHld<qvt_EncodedSegment> GetSegment(int index);
  // Keeps segments 0 to index - 1; the last length is then S until the
  // caller sets the new last segment's length. Cut-off segments are
  // forgotten by the cache, and their stored bytes are emptied so that they
  // cannot come back if the file grows again. REQUIRES: index <= n, no
  // cut-off segment armed.
  void Truncate(int index);
  // (n - 1) * S + L, with L taken from the last segment when it is in hand.
  utl_FileOffset LogicalSize();
  // Stores every dirty segment, then the table header and the container's
  // header and directory.
  void Flush();

  int SegmentSize() const { return m_SegmentSize; }
  int NumSegments() const { return m_NumSegments; }
  int LastLength() const { return m_LastLength; }
  qvt_SegmentBufferCache& Cache() { return m_Cache; }

 private:
  static int CheckedHeaderSize(const cow_String& path, int segmentSize);
  void ReadTableHeader();
  void WriteTableHeader();
  void UpdateLastLength();
  qvt_EncodedSegment* LastSegmentInHand();

  qvt_SegmentBufferCache m_Cache;
  std::unique_ptr<qvt_Codec> m_Codec;
  int m_SegmentSize = 0;
  int m_NumSegments = 0;
  int m_LastLength = 0;
  // The segment array: cells 0 to m_CellCount - 1, of which only those made
  // so far hold a segment. Kept sparse so that memory follows the segments
  // in use, not the file's length.
  std::map<int, cow_CountedHld<qvt_EncodedSegment>> m_Segments;
  int m_CellCount = 0;
};

#endif  // QVT_IMPL_QVT_ENCODEDSEGMENTTABLE_H
