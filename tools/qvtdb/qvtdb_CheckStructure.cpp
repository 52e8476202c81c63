// The raw checks of qvtdb check: the two pools and the header of every object,
// read byte by byte through the linkage and judged by the library's own
// decoders (qvt_StringManagerFile, qvt_DBMetadata, qvt_TableRepr,
// qvt_ArrayRepr, qvt_TaggedStreamRepr), which list what does not hold.
#include <cstring>

#include "omi_Swapper.h"
#include "qvt_ArrayRepr.h"
#include "qvt_DatabaseReprFile.h"
#include "qvt_Problems.h"
#include "qvt_StringManagerFile.h"
#include "qvt_TableRepr.h"
#include "qvt_TaggedStreamRepr.h"
#include "qvtdb_Check.h"

void qvtdb_Checker::Take(const qvt_Problems& problems) {
  for (const qvt_Problem& problem : problems.List()) Problem(problem.text);
}

// The walks read a few bytes at a time, in order: they are served from a
// window of the space read in one go.
bool qvtdb_Checker::SpaceBytes(qvt_Handle handle, std::int64_t position, unsigned char* buffer,
                               std::int64_t count) const {
  const std::int64_t windowEnd = m_WindowStart + static_cast<std::int64_t>(m_Window.size());
  if (handle != m_WindowHandle || position < m_WindowStart || position + count > windowEnd) {
    if (count > kWindowBytes) return m_Layout->ReadSpace(handle, position, buffer, count) == count;
    m_Window.resize(kWindowBytes);
    const std::int64_t got = m_Layout->ReadSpace(handle, position, m_Window.data(), kWindowBytes);
    m_Window.resize(static_cast<std::size_t>(got));
    m_WindowHandle = handle;
    m_WindowStart = position;
    if (got < count) return false;
  }
  std::memcpy(buffer, m_Window.data() + (position - m_WindowStart), static_cast<std::size_t>(count));
  return true;
}

std::optional<std::string> qvtdb_Checker::PooledString(const unsigned char* reference) const {
  utl_FileOffset offset = 0;
  if (!qvt_DecodeFileOffset(reference, omi_Swapper(EndianBig), &offset)) return std::nullopt;
  const auto found = m_Strings.find(offset);
  if (found == m_Strings.end()) return std::nullopt;
  return found->second;
}

void qvtdb_Checker::CheckStringPool() {
  const std::int64_t length = m_Layout->SpaceLength(qvt_StringPoolHandle);
  // The pool is a sound space, so it lies inside the file and is read whole.
  std::vector<unsigned char> bytes(static_cast<std::size_t>(length));
  if (m_Layout->ReadSpace(qvt_StringPoolHandle, 0, bytes.data(), length) != length) {
    Problem("the string pool (object 1) cannot be read whole");
    return;
  }
  qvt_Problems problems;
  const int marker = length < qvt_PoolMarkerBytes ? 0 : static_cast<int>(omi_Bytes::GetBE32(bytes.data()));
  qvt_DatabaseReprFile::PoolProblems(qvt_StringPoolHandle, length, marker, &problems);
  if (problems.Empty()) {
    qvt_StringManagerFile::ScanRecords(
        bytes.data() + qvt_PoolFirstRecord, static_cast<int>(length - qvt_PoolFirstRecord),
        qvt_PoolFirstRecord, length, omi_Swapper(EndianBig),
        [this](utl_FileOffset offset, cow_String&& text) { m_Strings.emplace(offset, std::move(text)); },
        &problems);
  }
  Take(problems);
}

void qvtdb_Checker::CheckMetadataPool() {
  const std::int64_t length = m_Layout->SpaceLength(qvt_MetadataPoolHandle);
  unsigned char word[qvt_PoolMarkerBytes];
  const int marker = SpaceBytes(qvt_MetadataPoolHandle, 0, word, sizeof word)
                         ? static_cast<int>(omi_Bytes::GetBE32(word))
                         : 0;
  qvt_Problems problems;
  qvt_DatabaseReprFile::PoolProblems(qvt_MetadataPoolHandle, length, marker, &problems);
  if (problems.Empty()) {
    const qvt_DBMetadata::Reader read = [this](utl_FileOffset position, unsigned char* bytes, int count) {
      return SpaceBytes(qvt_MetadataPoolHandle, position, bytes, count);
    };
    const qvt_DBMetadata::Lookup lookup = [this](const unsigned char* reference, cow_String* text) {
      const std::optional<std::string> found = PooledString(reference);
      if (found) *text = *found;
      return found.has_value();
    };
    for (qvt_ClassRecord& record : qvt_DBMetadata::ScanRecords(length, read, lookup, true, &problems)) {
      m_Classes.emplace(record.offset, std::move(record));
    }
  }
  Take(problems);
}

void qvtdb_Checker::CheckObject(qvt_Handle handle) {
  const std::int64_t length = m_Layout->SpaceLength(handle);
  // The longest object header; a shorter space gives what it holds.
  unsigned char head[qvt_ArrayHeaderBytes] = {};
  const int got = static_cast<int>(m_Layout->ReadSpace(handle, 0, head, sizeof head));
  // Shorter than a marker: a plain space, as the library sees it too.
  if (got < 4) {
    ++m_Kinds["other space"];
    m_SoundObjects.insert(handle);
    return;
  }
  qvt_Problems problems;
  const int marker = static_cast<int>(omi_Bytes::GetBE32(head));
  if (marker == qvt_TableMarker) {
    ++m_Kinds["table"];
    const qvt_TableRepr::Header header = qvt_TableRepr::DecodeHeader(handle, head, got, length, &problems);
    if (problems.Empty()) {
      const auto found = m_Classes.find(header.metadataHandle);
      qvt_TableRepr::ClassProblems(handle, header, found == m_Classes.end() ? nullptr : &found->second,
                                   length, &problems);
    }
  } else if (marker == qvt_ArrayMarker) {
    ++m_Kinds["array"];
    qvt_ArrayRepr::DecodeHeader(handle, head, got, length, &problems);
  } else if (marker == qvt_TaggedStreamMarker) {
    ++m_Kinds["tagged stream"];
    qvt_TaggedStreamRepr::DecodeHeader(handle, head, got, length, &problems);
    if (problems.Empty()) {
      const qvt_TaggedStreamRepr::Reader read = [this, handle](utl_FileOffset position, unsigned char* bytes,
                                                               int count) {
        return SpaceBytes(handle, position, bytes, count);
      };
      qvt_TaggedStreamRepr::RecordProblems(
          handle, length, read,
          [this](const unsigned char* reference) { return PooledString(reference).has_value(); }, &problems);
    }
  } else {
    ++m_Kinds["other space"];
  }
  Take(problems);
  if (problems.Empty()) m_SoundObjects.insert(handle);
}
