// The file behind compressed databases: to the database an ordinary
// positioned byte stream, underneath fixed-size segments compressed one by
// one (qvt_CodecZip) and stored in a sector container, with decoded
// segments held in a bounded cache. The segment holding the position is kept
// armed, and so is segment 0, which holds the database header, once visited.
// Only qvt_File builds one.
#ifndef QVT_IMPL_QVT_FILEREPRENCODED_H
#define QVT_IMPL_QVT_FILEREPRENCODED_H

#include <memory>

#include "cow_CountedHld.h"
#include "qvt_EncodedSegmentTable.h"
#include "qvt_FileRepr.h"

class qvt_FileReprEncoded : public qvt_FileRepr {
 public:
  static constexpr int kDefaultSegmentSize = 65536;

  // Opens an existing compressed file with access 0 (read) or 1 (update);
  // the length is the segment table's logical size. THROWS what opening the
  // segment table and its container throw, and
  // nex_AssertException for any other access.
  qvt_FileReprEncoded(const cow_String& path, int access, std::unique_ptr<qvt_Codec> codec);
  // Creates (or empties) a compressed file with segments of segmentSize
  // bytes; its length is 0.
  qvt_FileReprEncoded(const cow_String& path, std::unique_ptr<qvt_Codec> codec, int segmentSize);
  // A writable file is flushed first; a failure is reported on stderr.
  ~qvt_FileReprEncoded() override;

  // True when path's first six bytes are "KVRTSA", the start of the
  // container's magic. A shorter file is not compressed. THROWS what utl_File
  // throws when path cannot be opened for reading.
  static bool IsCompressedFile(const cow_String& path);

  bool ReadOnly() const override { return m_ReadOnly; }
  // REQUIRES: 0 <= location <= Length() (nex_AssertException
  // "location <= m_LogicalFileSize" beyond the end). Free inside the
  // current segment.
  void Seek(utl_FileOffset location) override;
  // Stores every dirty segment and the container's headers. THROWS
  // qvt_FileReadOnlyExc on a read-only file.
  void Flush() override;
  bool Extend(utl_FileOffset increment) override { return ExtendFile(increment); }
  // Copies up to count bytes from the position; fewer at the end of the
  // logical data. THROWS qvt_FileBadParameterExc for a negative count or a
  // null buffer.
  int Read(char* buffer, int count) override;
  // Writes count bytes at the position; the length grows to the position
  // reached. THROWS qvt_FileReadOnlyExc on a read-only file,
  // qvt_FileBadParameterExc for a negative count or a null buffer.
  int Write(const char* buffer, int count) override;
  // increment >= 0: the length grows by increment, the position stays.
  // increment < 0: the file is cut at position + increment, where the
  // position then stands. Always answers false: the container keeps its own
  // size, so there is no size record to rewrite. THROWS qvt_FileReadOnlyExc
  // on a read-only file, qvt_FileBadParameterExc for a cut before the start.
  bool ExtendFile(utl_FileOffset increment) override;
  // Nothing to give back: the container trims itself when closed. THROWS
  // qvt_FileReadOnlyExc on a read-only file.
  void TrimToLength() override;

  int SegmentSize() const { return m_SegmentSize; }
  int CurrentSegment() const { return m_Current ? m_Current->Index() : -1; }
  int CurrentOffset() const { return m_Offset; }
  qvt_EncodedSegmentTable& Table() { return m_Table; }

 private:
  static int CheckedAccess(int access);
  void MakeCurrent(int index);
  // After the offset reached the segment size: the next segment at 0.
  void MoveToNextSegment();
  void SetLogicalFileSize(utl_FileOffset size);
  [[noreturn]] void RaiseReadOnly() const;

  qvt_EncodedSegmentTable m_Table;
  int m_SegmentSize;
  cow_CountedHld<qvt_EncodedSegment> m_Current;   // armed once while held
  cow_CountedHld<qvt_EncodedSegment> m_Segment0;  // armed once while held
  int m_Offset = 0;  // position within the current segment, below S
  bool m_ReadOnly;
};

#endif  // QVT_IMPL_QVT_FILEREPRENCODED_H
