// The compressed file: a positioned byte stream over encoded segments, and
// the constructors qvt_File calls for the compressed kind.
#include "qvt_FileReprEncoded.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "qvt_CodecZip.h"
#include "qvt_EncodedMessages.h"
#include "qvt_FileException.h"
#include "qvt_FileKinds.h"
#include "utl_File.h"

int qvt_FileReprEncoded::CheckedAccess(int access) {
  // Runs before the container opens the file: create access would empty it.
  NEX_ASSERT(access == utl_FileAccessRead || access == utl_FileAccessUpdate);
  return access;
}

qvt_FileReprEncoded::qvt_FileReprEncoded(const cow_String& path, int access, std::unique_ptr<qvt_Codec> codec)
    : qvt_FileRepr(path),
      m_Table(path, std::move(codec), CheckedAccess(access)),
      m_SegmentSize(m_Table.SegmentSize()),
      m_ReadOnly(access == utl_FileAccessRead) {
  SetLogicalFileSize(m_Table.LogicalSize());
  Seek(0);
}

qvt_FileReprEncoded::qvt_FileReprEncoded(const cow_String& path, std::unique_ptr<qvt_Codec> codec, int segmentSize)
    : qvt_FileRepr(path),
      m_Table(path, std::move(codec), segmentSize, qvt_SectorArray::CreateTag{}),
      m_SegmentSize(segmentSize),
      m_ReadOnly(false) {
  Seek(0);
}

qvt_FileReprEncoded::~qvt_FileReprEncoded() {
  try {
    if (!m_ReadOnly) Flush();
  } catch (const nex_Exception& e) {
    std::fputs(atr_Format(qvt_EncodedMessages::kCloseFailed, FileName(), e.AsString()).c_str(), stderr);
  }
  // Disarming only parks buffers in the cache, which cannot fail.
  if (m_Current) m_Current->Disarm();
  if (m_Segment0) m_Segment0->Disarm();
}

bool qvt_FileReprEncoded::IsCompressedFile(const cow_String& path) {
  utl_File file(path, utl_FileAccessRead, utl_FileSharingNone);
  constexpr int kBytes = qvt_SectorArray::kKindBytes;
  char head[kBytes];
  return file.Read(head, kBytes) == kBytes && std::memcmp(head, qvt_SectorArray::kMagic, kBytes) == 0;
}

void qvt_FileReprEncoded::RaiseReadOnly() const { NEX_THROW(qvt_FileReadOnlyExc(FileName())); }

void qvt_FileReprEncoded::SetLogicalFileSize(utl_FileOffset size) {
  // Length, FileLength and Allocation all answer the logical size.
  m_LogicalLength = size;
  m_Allocation = size;
}

void qvt_FileReprEncoded::MakeCurrent(int index) {
  if (m_Current && m_Current->Index() == index) return;
  cow_CountedHld<qvt_EncodedSegment> next = (index == 0 && m_Segment0) ? m_Segment0 : m_Table.GetSegment(index);
  // Arm the new segment before letting go of the old one, so that a failure
  // leaves the current segment as it was.
  next->Arm();
  if (m_Current) m_Current->Disarm();
  m_Current = next;
  if (index == 0 && !m_Segment0) {
    next->Arm();
    m_Segment0 = next;
  }
}

void qvt_FileReprEncoded::MoveToNextSegment() {
  MakeCurrent(m_Current->Index() + 1);
  m_Offset = 0;
}

void qvt_FileReprEncoded::Seek(utl_FileOffset location) {
  NEX_ASSERT_MSG(location <= m_LogicalLength, "location <= m_LogicalFileSize");
  if (location < 0) NEX_THROW(qvt_FileBadParameterExc(qvt_EncodedMessages::kSeekMethod));
  const utl_FileOffset index = location / m_SegmentSize;
  MakeCurrent(static_cast<int>(index));
  m_Position = location;
  m_Offset = static_cast<int>(location - index * m_SegmentSize);
}

void qvt_FileReprEncoded::Flush() {
  if (m_ReadOnly) RaiseReadOnly();
  m_Table.Flush();
}

int qvt_FileReprEncoded::Read(char* buffer, int count) {
  if (count < 0 || (buffer == nullptr && count > 0)) NEX_THROW(qvt_FileBadParameterExc(qvt_EncodedMessages::kReadMethod));
  int done = 0;
  while (done < count) {
    if (m_Offset == m_SegmentSize) MoveToNextSegment();  // an earlier move failed
    const int available = m_Current->DecodedLength() - m_Offset;
    if (available <= 0) break;  // the end of the logical data
    const int n = std::min(available, count - done);
    m_Current->Read(buffer + done, m_Offset, n);
    done += n;
    m_Position += n;
    m_Offset += n;
    if (m_Offset == m_SegmentSize) MoveToNextSegment();
  }
  return done;
}

int qvt_FileReprEncoded::Write(const char* buffer, int count) {
  if (m_ReadOnly) RaiseReadOnly();
  if (count < 0 || (buffer == nullptr && count > 0)) NEX_THROW(qvt_FileBadParameterExc(qvt_EncodedMessages::kWriteMethod));
  int done = 0;
  while (done < count) {
    if (m_Offset == m_SegmentSize) MoveToNextSegment();  // an earlier move failed
    const int n = std::min(m_SegmentSize - m_Offset, count - done);
    m_Current->Write(buffer + done, m_Offset, n);
    done += n;
    m_Position += n;
    m_Offset += n;
    if (m_Position > m_LogicalLength) SetLogicalFileSize(m_Position);
    if (m_Offset == m_SegmentSize) MoveToNextSegment();
  }
  return count;
}

bool qvt_FileReprEncoded::ExtendFile(utl_FileOffset increment) {
  if (m_ReadOnly) RaiseReadOnly();
  if (increment < 0) {
    // The cut is measured from the position, not from the end.
    const utl_FileOffset cut = m_Position + increment;
    if (cut < 0) NEX_THROW(qvt_FileBadParameterExc(qvt_EncodedMessages::kExtendMethod));
    Seek(cut);
    m_Table.Truncate(m_Current->Index() + 1);
    m_Current->SetDecodedLength(m_Offset);
    SetLogicalFileSize(m_Position);
  } else {
    const utl_FileOffset newSize = m_LogicalLength + increment;
    const utl_FileOffset last = newSize / m_SegmentSize;
    if (last >= INT32_MAX) NEX_THROW(qvt_FileBadParameterExc(qvt_EncodedMessages::kExtendMethod));
    m_Table.GetSegment(static_cast<int>(last))->SetDecodedLength(static_cast<int>(newSize - last * m_SegmentSize));
    SetLogicalFileSize(newSize);
  }
  return false;
}

void qvt_FileReprEncoded::TrimToLength() {
  if (m_ReadOnly) RaiseReadOnly();
}

qvt_FileRepr* qvt_OpenEncodedFile(const cow_String& name, int access) {
  return new qvt_FileReprEncoded(name, access, std::make_unique<qvt_CodecZip>(qvt_CodecZip::kDefaultLevel));
}

qvt_FileRepr* qvt_CreateEncodedFile(const cow_String& name) {
  return new qvt_FileReprEncoded(name, std::make_unique<qvt_CodecZip>(qvt_CodecZip::kDefaultLevel),
                                 qvt_FileReprEncoded::kDefaultSegmentSize);
}
