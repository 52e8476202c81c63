// Tagged streams: the header, the six record kinds written and read through
// the I/O buffer, and the flush-count handshake between a writer's Flush and
// a reader's Snap.
#include "qvt_TaggedStreamRepr.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "nex_Exception.h"
#include "omi_Swapper.h"
#include "qvt_DatabaseRepr.h"
#include "qvt_Problems.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TaggedStreamMessages.h"

namespace M = qvt_TaggedStreamMessages;

namespace {

constexpr int kHeaderWords = qvt_TaggedStreamHeaderBytes / 4;
// A handle value: the handle, then 4 zero bytes.
constexpr int kHandleBytes = qvt_TaggedStreamHandleBytes;

std::int32_t Int32At(const unsigned char* p) { return static_cast<std::int32_t>(omi_Bytes::GetBE32(p)); }

qvt_SpaceRepr* NewStreamSpace(qvt_DatabaseRepr* database) {
  NEX_ASSERT(database != nullptr);
  return database->Space(-1);
}

qvt_SpaceRepr* OpenStreamSpace(qvt_DatabaseRepr* database, qvt_Handle handle) {
  NEX_ASSERT(database != nullptr);
  return database->Space(handle, -1);
}

}  // namespace

qvt_TaggedStreamRepr::qvt_TaggedStreamRepr(qvt_DatabaseRepr* database, int bufferSize)
    : m_Database(database),
      m_Space(NewStreamSpace(database)),
      m_Buffer(*m_Space, bufferSize),
      m_FlushCount(kFlushCountOffset, database->GetFlushCount()) {
  const int header[kHeaderWords] = {qvt_TaggedStreamMarker, 0};
  m_Buffer.WriteIntArray(header, kHeaderWords);
}

qvt_TaggedStreamRepr::qvt_TaggedStreamRepr(qvt_DatabaseRepr* database, qvt_Handle handle, int bufferSize)
    : m_Database(database),
      m_Space(OpenStreamSpace(database, handle)),
      m_Buffer(*m_Space, bufferSize),
      m_FlushCount(kFlushCountOffset, database->GetFlushCount()) {
  unsigned char bytes[qvt_TaggedStreamHeaderBytes];
  const int got = m_Buffer.Read(reinterpret_cast<char*>(bytes), qvt_TaggedStreamHeaderBytes);
  qvt_Problems problems(qvt_Problems::kRaiseFirstRefusal);
  m_FlushCount.SetCount(DecodeHeader(handle, bytes, got, m_Space->Length(), &problems));
}

int qvt_TaggedStreamRepr::DecodeHeader(qvt_Handle handle, const unsigned char* bytes, int count,
                                       utl_FileOffset spaceLength, qvt_Problems* problems) {
  const std::string object = "object " + std::to_string(handle);
  if (count < qvt_TaggedStreamHeaderBytes) {
    problems->Add(
        object + " is a tagged stream of " + std::to_string(spaceLength) + " bytes, too short for its header",
        M::kCorrupt);
    return 0;
  }
  if (Int32At(bytes) != qvt_TaggedStreamMarker) {
    problems->Add(object + " does not start with the tagged stream marker", M::kNotAStream);
  }
  return Int32At(bytes + qvt_TaggedStreamFlushCountOffset);
}

void qvt_TaggedStreamRepr::RecordProblems(qvt_Handle handle, utl_FileOffset spaceLength, const Reader& read,
                                          const std::function<bool(const unsigned char* reference)>& pooled,
                                          qvt_Problems* problems) {
  unsigned char bytes[qvt_TaggedStreamRecordHeadBytes + qvt_ReferenceBytes];
  utl_FileOffset position = qvt_TaggedStreamHeaderBytes;
  for (std::int64_t record = 0; position < spaceLength; ++record) {
    const std::string where = "object " + std::to_string(handle) + " is a tagged stream whose record " +
                              std::to_string(record) + " at offset " + std::to_string(position);
    if (!read(position, bytes, qvt_TaggedStreamRecordHeadBytes)) {
      return problems->Add(where + " is cut off inside its type and identifier");
    }
    const std::int32_t type = Int32At(bytes);
    const utl_FileOffset valueAt = position + qvt_TaggedStreamRecordHeadBytes;
    utl_FileOffset width = qvt_TaggedStreamValueWidth(type);
    if (width < 0)
      return problems->Add(where + " has the type code " + std::to_string(type) + ", which no record has");
    if (type == qvt_TypeFixedString) {
      if (!read(valueAt, bytes, qvt_TaggedStreamTextWidthBytes)) {
        return problems->Add(where + " is cut off inside the width of its text");
      }
      const std::int32_t textWidth = Int32At(bytes);
      if (textWidth < 0 || textWidth % 4 != 0) {
        return problems->Add(where + " gives its text a width of " + std::to_string(textWidth) + " bytes");
      }
      width += textWidth;
    }
    if (valueAt + width > spaceLength) {
      return problems->Add(where + " runs past the end of the stream (" + std::to_string(spaceLength) +
                           " bytes)");
    }
    if (type == qvt_TypeString && (!read(valueAt, bytes, qvt_ReferenceBytes) || !pooled(bytes))) {
      return problems->Add(where + " refers to a string that the string pool does not hold");
    }
    position = valueAt + width;
  }
}

qvt_TaggedStreamRepr::~qvt_TaggedStreamRepr() = default;

qvt_Handle qvt_TaggedStreamRepr::Handle() { return m_Space->Handle(); }

cow_1DArrayList<cow_String> qvt_TaggedStreamRepr::GetObjStatistics() {
  return m_Database->GetObjStatistics(Handle());
}

utl_FileOffset qvt_TaggedStreamRepr::SpaceLength() { return m_Space->Length(); }

utl_FileOffset qvt_TaggedStreamRepr::SpaceAllocation() { return m_Space->Allocation(); }

int qvt_TaggedStreamRepr::Flush() { return m_FlushCount.Flush(m_Buffer); }

int qvt_TaggedStreamRepr::Snap() { return m_FlushCount.Snap(m_Buffer, *m_Database); }

// ---- Writing records ----

void qvt_TaggedStreamRepr::WriteRecordHead(qvt_Type type, int id) {
  m_Type = type;
  m_Buffer.WriteInt(type);
  m_ID = id;
  m_Buffer.WriteInt(id);
}

void qvt_TaggedStreamRepr::WriteInt(int id, int value) {
  WriteRecordHead(qvt_TypeInt, id);
  m_Int = value;
  m_Buffer.WriteInt(value);
}

void qvt_TaggedStreamRepr::WriteFloat(int id, float value) {
  WriteRecordHead(qvt_TypeFloat, id);
  m_Float = value;
  m_Buffer.WriteFloat(value);
}

void qvt_TaggedStreamRepr::WriteDouble(int id, double value) {
  WriteRecordHead(qvt_TypeDouble, id);
  m_Double = value;
  m_Buffer.WriteDouble(value);
}

void qvt_TaggedStreamRepr::WriteHandle(int id, qvt_Handle value) {
  WriteRecordHead(qvt_TypeHandle, id);
  m_HandleValue = value;
  char bytes[kHandleBytes] = {0, 0, 0, 0, 0, 0, 0, 0};
  const std::uint32_t word = value;
  omi_SwapperGuts::ExternalizeArray(m_Buffer.MustSwap(), &word, bytes, 1, sizeof word);
  m_Buffer.Write(bytes, kHandleBytes);
}

void qvt_TaggedStreamRepr::WriteString(int id, const cow_String& value) {
  WriteRecordHead(qvt_TypeString, id);
  m_String = value;
  m_Buffer.WriteString(value);
}

void qvt_TaggedStreamRepr::WriteFixedString(int id, const cow_String& value) {
  // Refused before anything is written, so no half record is left behind.
  if (value.size() > static_cast<std::size_t>(INT_MAX - 3)) NEX_THROW_TEXT(M::kTextTooLong);
  const int width = (static_cast<int>(value.size()) + 3) & ~3;
  WriteRecordHead(qvt_TypeFixedString, id);
  m_String = value;
  m_Buffer.WriteInt(width);
  m_Buffer.WriteFixedString(value, width);
}

// ---- Reading records ----

void qvt_TaggedStreamRepr::ClearValues() {
  m_Int = 0;
  m_Float = 0.0f;
  m_Double = 0.0;
  m_HandleValue = 0;
  m_String.clear();
}

bool qvt_TaggedStreamRepr::Next() {
  if (m_Buffer.Location() >= m_Buffer.Length()) return false;
  m_Type = static_cast<qvt_Type>(m_Buffer.ReadInt());
  m_ID = m_Buffer.ReadInt();
  ClearValues();
  switch (m_Type) {
    case qvt_TypeInt:
      m_Int = m_Buffer.ReadInt();
      break;
    case qvt_TypeHandle: {
      char bytes[kHandleBytes];
      if (m_Buffer.Read(bytes, kHandleBytes) < kHandleBytes) NEX_THROW_TEXT(M::kUnexpectedEof);
      std::uint32_t word = 0;
      omi_SwapperGuts::InternalizeArray(m_Buffer.MustSwap(), bytes, &word, 1, sizeof word);
      m_HandleValue = word;
      break;
    }
    case qvt_TypeFloat:
      m_Float = m_Buffer.ReadFloat();
      break;
    case qvt_TypeDouble:
      m_Double = m_Buffer.ReadDouble();
      break;
    case qvt_TypeString:
      m_String = m_Buffer.ReadString();
      break;
    case qvt_TypeFixedString: {
      const int width = m_Buffer.ReadInt();
      // A width beyond the space (a damaged record) gives the text up to the
      // end of the space, as a shorter one would, without reserving memory
      // for bytes that are not there.
      const utl_FileOffset left = m_Buffer.Length() - m_Buffer.Location();
      m_String = m_Buffer.ReadFixedString(static_cast<int>(std::min<utl_FileOffset>(width, left)));
      break;
    }
    default:
      NEX_THROW(nex_AssertException(M::kBadType));
  }
  return true;
}
