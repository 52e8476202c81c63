// Typed arrays: the header, row arithmetic, flush-count handshake between a
// writer's Flush and a reader's Snap, appending, and the byte copy of an
// array object between databases.
#include "qvt_ArrayRepr.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "atr_translate.h"
#include "nex_Exception.h"
#include "omi_Swapper.h"
#include "qvt_ArrayMessages.h"
#include "qvt_DatabaseRepr.h"
#include "qvt_Problems.h"
#include "qvt_SpaceRepr.h"

namespace M = qvt_ArrayMessages;

namespace {

constexpr int kHeaderWords = qvt_ArrayHeaderBytes / 4;

// Bytes per step of a read that skips the I/O buffer's block.
constexpr int kDirectStep = 131072;

// Values of one pooled-string batch when appending string arrays.
constexpr int kStringBatch = 16;

bool IsArrayType(int type) { return qvt_ArrayValueWidth(type) != 0; }

// Width of one stored value; 0 for a type no array holds.
int ValueWidth(int type, qvt_IOS& stream) {
  return type == qvt_TypeString ? stream.StringManager().ExternalSize() : qvt_ArrayValueWidth(type);
}

const char* TypeName(int type) {
  switch (type) {
    case qvt_TypeInt:
      return "int";
    case qvt_TypeFloat:
      return "float";
    case qvt_TypeDouble:
      return "double";
    default:
      return "string";
  }
}

// Checked before the space is made, so that a refused array leaves no trace
// in the database.
qvt_SpaceRepr* NewArraySpace(qvt_DatabaseRepr* database, qvt_Type type, int fieldCount, int increment) {
  NEX_ASSERT(database != nullptr);
  if (!IsArrayType(type)) NEX_THROW_TEXT(M::kIllegalType);
  // The widest value is 8 bytes; a row must fit the int of a transfer.
  if (fieldCount < 1 || fieldCount > qvt_ArrayMostFields)
    NEX_THROW_TEXT(atr_Format(M::kBadFieldCount, fieldCount));
  return database->Space(increment);
}

qvt_SpaceRepr* OpenArraySpace(qvt_DatabaseRepr* database, qvt_Handle handle, int increment) {
  NEX_ASSERT(database != nullptr);
  return database->Space(handle, increment);
}

// The nearest whole row count of bytes. Counts the int cannot hold (a space
// of more than 2^31 rows) answer the largest int rather than overflowing.
int NearestRows(utl_FileOffset bytes, int rowSize) {
  const double rows = static_cast<double>(bytes) / rowSize + 0.5;
  return rows >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(rows);
}

std::int32_t Int32At(const unsigned char* p) { return static_cast<std::int32_t>(omi_Bytes::GetBE32(p)); }

}  // namespace

qvt_ArrayRepr::qvt_ArrayRepr(qvt_DatabaseRepr* database, qvt_Type type, int fieldCount, int increment,
                             int bufferSize)
    : m_Database(database),
      m_Space(NewArraySpace(database, type, fieldCount, increment)),
      m_Buffer(*m_Space, bufferSize),
      m_Type(type),
      m_FieldCount(fieldCount),
      m_FlushCount(kFlushCountOffset, database->GetFlushCount()) {
  const int header[kHeaderWords] = {qvt_ArrayMarker, 0, type, fieldCount};
  m_Buffer.WriteIntArray(header, kHeaderWords);
}

qvt_ArrayRepr::qvt_ArrayRepr(qvt_DatabaseRepr* database, qvt_Handle handle, int increment, int bufferSize)
    : m_Database(database),
      m_Space(OpenArraySpace(database, handle, increment)),
      m_Buffer(*m_Space, bufferSize),
      m_FlushCount(kFlushCountOffset, database->GetFlushCount()) {
  unsigned char bytes[qvt_ArrayHeaderBytes];
  const int got = m_Buffer.Read(reinterpret_cast<char*>(bytes), qvt_ArrayHeaderBytes);
  qvt_Problems problems(qvt_Problems::kRaiseFirstRefusal);
  const Header header = DecodeHeader(handle, bytes, got, m_Space->Length(), &problems);
  m_FlushCount.SetCount(header.flushCount);
  // The type is kept as stored: the database interface compares it with the
  // type asked for, and RowSize refuses one no array holds.
  m_Type = static_cast<qvt_Type>(header.type);
  m_FieldCount = header.fieldCount;
}

qvt_ArrayRepr::Header qvt_ArrayRepr::DecodeHeader(qvt_Handle handle, const unsigned char* bytes, int count,
                                                  utl_FileOffset spaceLength, qvt_Problems* problems) {
  Header header;
  const std::string object = "object " + std::to_string(handle);
  if (count < qvt_ArrayHeaderBytes) {
    problems->Add(
        object + " is an array of " + std::to_string(spaceLength) + " bytes, too short for its header",
        M::kCorrupt);
    return header;
  }
  if (Int32At(bytes) != qvt_ArrayMarker)
    problems->Add(object + " does not start with the array marker", M::kNotAnArray);
  header.flushCount = Int32At(bytes + qvt_ArrayFlushCountOffset);
  header.type = Int32At(bytes + qvt_ArrayTypeOffset);
  header.fieldCount = Int32At(bytes + qvt_ArrayFieldCountOffset);
  if (!IsArrayType(header.type)) {
    problems->Add(object + " is an array whose element type code " + std::to_string(header.type) +
                  " is not one of int, float, double and string");
  }
  // A row of no value (or one too wide for a transfer) is no array this
  // system writes; every row computation would divide by it.
  if (header.fieldCount < 1 || header.fieldCount > qvt_ArrayMostFields) {
    problems->Add(object + " is an array with " + std::to_string(header.fieldCount) + " values per row",
                  M::kCorrupt);
  } else if (IsArrayType(header.type)) {
    const utl_FileOffset rowSize =
        static_cast<utl_FileOffset>(header.fieldCount) * qvt_ArrayValueWidth(header.type);
    const utl_FileOffset rowBytes = spaceLength - qvt_ArrayHeaderBytes;
    if (rowBytes % rowSize != 0) {
      problems->Add(object + " is a " + TypeName(header.type) + " array whose " + std::to_string(rowBytes) +
                    " bytes of rows are not a whole number of " + std::to_string(rowSize) + "-byte rows");
    }
  }
  return header;
}

qvt_ArrayRepr::~qvt_ArrayRepr() = default;

qvt_Handle qvt_ArrayRepr::Handle() { return m_Space->Handle(); }

int qvt_ArrayRepr::RowSize() {
  const int width = ValueWidth(m_Type, m_Buffer);
  if (width == 0) NEX_THROW_TEXT(M::kIllegalType);
  return width * m_FieldCount;
}

int qvt_ArrayRepr::Length() { return NearestRows(m_Buffer.Length() - kDataStart, RowSize()); }

int qvt_ArrayRepr::Location() {
  const utl_FileOffset location = m_Buffer.Location();
  if (location <= kDataStart) return 0;
  return NearestRows(location - kDataStart, RowSize());
}

void qvt_ArrayRepr::Seek(int row) {
  if (row < 0) NEX_THROW_TEXT(atr_Format(M::kBadRow, row));
  m_Buffer.Seek(kDataStart + static_cast<utl_FileOffset>(RowSize()) * row);
}

void qvt_ArrayRepr::Truncate(int rows) {
  if (m_Buffer.ReadOnly()) NEX_THROW_TEXT(M::kTruncateReadOnly);
  // A negative count would cut into the header and destroy the object.
  if (rows < 0) NEX_THROW_TEXT(atr_Format(M::kBadTruncate, rows));
  const utl_FileOffset newLength = static_cast<utl_FileOffset>(RowSize()) * rows + kDataStart;
  m_Buffer.Flush();
  m_Buffer.Seek(kDataStart);
  m_Space->Truncate(newLength);
}

int qvt_ArrayRepr::Flush() { return m_FlushCount.Flush(m_Buffer); }

int qvt_ArrayRepr::Snap() { return m_FlushCount.Snap(m_Buffer, *m_Database); }

int qvt_ArrayRepr::CopyAllowed(const qvt_ArrayRepr& other) const {
  return m_Type == other.m_Type && m_FieldCount == other.m_FieldCount ? 1 : 0;
}

void qvt_ArrayRepr::Append(qvt_ArrayRepr& other) {
  if (m_Buffer.ReadOnly()) NEX_THROW_TEXT(M::kAppendReadOnly);
  NEX_ASSERT(&other != this);
  Flush();
  other.Flush();
  m_Buffer.Flush();
  other.m_Buffer.Flush();

  m_Buffer.Seek(m_Buffer.Length());
  other.m_Buffer.Seek(kDataStart);

  if (m_Type != qvt_TypeString) {
    m_Buffer.Append(other.m_Buffer);
    return;
  }
  // Strings travel as text and are re-entered in this database's pool. The
  // number to move is fixed first, so that appending from another object on
  // the same space cannot chase its own writes.
  const int width = m_Buffer.StringManager().ExternalSize();
  utl_FileOffset left = (other.m_Buffer.Length() - kDataStart) / width;
  cow_String batch[kStringBatch];
  while (left > 0) {
    const int want = static_cast<int>(std::min<utl_FileOffset>(kStringBatch, left));
    const int got = other.m_Buffer.ReadStringArray(batch, want);
    if (got < 1) break;
    m_Buffer.WriteStringArray(batch, got);
    left -= got;
  }
}

int qvt_ArrayRepr::ValueCount(const void* data, int rowCount) {
  NEX_ASSERT_MSG(data != nullptr, M::kNullData);
  NEX_ASSERT_MSG(rowCount > 0, M::kNoRows);
  if (rowCount > INT_MAX / m_FieldCount) NEX_THROW_TEXT(atr_Format(M::kTooManyRows, rowCount));
  return rowCount * m_FieldCount;
}

// A read of at least one block skips the block: the space's bytes land in
// the caller's array and are converted there while still in cache, so they
// cross memory once instead of twice. The steps need no memory of their
// own, so their size does not follow the block: kDirectStep bytes are few
// enough calls to the space and stay inside the processor's second-level
// cache until converted (larger steps measurably fall out of it). Only
// whole values that the space holds are read, so a partial last value is
// left alone, as the buffer leaves it.
template <class T>
int qvt_ArrayRepr::ReadValues(T* data, int count) {
  constexpr int width = static_cast<int>(sizeof(T));
  const int block = m_Buffer.Size();
  if (static_cast<std::int64_t>(count) * width < block) {
    if constexpr (std::is_same_v<T, int>) return m_Buffer.ReadIntArray(data, count);
    if constexpr (std::is_same_v<T, float>) return m_Buffer.ReadFloatArray(data, count);
    if constexpr (std::is_same_v<T, double>) return m_Buffer.ReadDoubleArray(data, count);
  }
  const utl_FileOffset start = m_Buffer.Location();
  // Pending bytes reach the space first; the buffer is idle at start after.
  m_Buffer.Flush();
  // Fails beyond the end of the space exactly as the buffer's fill would.
  m_Space->Seek(start);
  const utl_FileOffset stored = (m_Space->Length() - start) / width;
  const int wanted = static_cast<int>(std::min<utl_FileOffset>(count, stored));
  if (wanted < 1) return 0;
  const int step = kDirectStep / width;
  int done = 0;
  while (done < wanted) {
    const int n = std::min(step, wanted - done);
    const int got = m_Space->Read(reinterpret_cast<char*>(data + done), n * width) / width;
    omi_SwapperGuts::InternalizeArray(m_Buffer.MustSwap(), data + done, data + done,
                                      static_cast<std::size_t>(got), sizeof(T));
    done += got;
    if (got < n) break;
  }
  m_Buffer.Seek(start + static_cast<utl_FileOffset>(done) * width);
  return done;
}

int qvt_ArrayRepr::Read(int* data, int rowCount) { return ReadValues(data, ValueCount(data, rowCount)); }
int qvt_ArrayRepr::Read(float* data, int rowCount) { return ReadValues(data, ValueCount(data, rowCount)); }
int qvt_ArrayRepr::Read(double* data, int rowCount) { return ReadValues(data, ValueCount(data, rowCount)); }
int qvt_ArrayRepr::Read(cow_String* data, int rowCount) {
  return m_Buffer.ReadStringArray(data, ValueCount(data, rowCount));
}

int qvt_ArrayRepr::Write(const int* data, int rowCount) {
  m_Buffer.WriteIntArray(data, ValueCount(data, rowCount));
  return rowCount;
}
int qvt_ArrayRepr::Write(const float* data, int rowCount) {
  m_Buffer.WriteFloatArray(data, ValueCount(data, rowCount));
  return rowCount;
}
int qvt_ArrayRepr::Write(const double* data, int rowCount) {
  m_Buffer.WriteDoubleArray(data, ValueCount(data, rowCount));
  return rowCount;
}
int qvt_ArrayRepr::Write(const cow_String* data, int rowCount) {
  m_Buffer.WriteStringArray(data, ValueCount(data, rowCount));
  return rowCount;
}

cow_1DArrayList<cow_String> qvt_ArrayRepr::GetObjStatistics() {
  return m_Database->GetObjStatistics(Handle());
}

utl_FileOffset qvt_ArrayRepr::SpaceLength() { return m_Space->Length(); }

utl_FileOffset qvt_ArrayRepr::SpaceAllocation() { return m_Space->Allocation(); }

qvt_Handle qvt_ArrayRepr::CreateCopy(qvt_DatabaseRepr& destination, qvt_DatabaseRepr& source,
                                     qvt_Handle handle) {
  std::unique_ptr<qvt_SpaceRepr> from(source.Space(handle, -1));
  const utl_FileOffset length = from->Length();
  // The first chunk must hold the header; a shorter object reads short.
  const int chunk = static_cast<int>(std::min<utl_FileOffset>(kCopyChunk, length));
  if (chunk < kDataStart) NEX_THROW_TEXT(M::kCopyReadFailed1);
  std::vector<char> bytes(static_cast<std::size_t>(chunk));
  from->Seek(0);
  if (from->Read(bytes.data(), chunk) != chunk) NEX_THROW_TEXT(M::kCopyReadFailed1);

  const unsigned char* header = reinterpret_cast<const unsigned char*>(bytes.data());
  if (Int32At(header) != qvt_ArrayMarker) NEX_THROW_TEXT(M::kCopyNotAnArray);
  // The copy starts its own flush history; 0 is the same in either order.
  std::fill(bytes.begin() + kFlushCountOffset, bytes.begin() + kFlushCountOffset + 4, 0);
  NEX_ASSERT_MSG(Int32At(header + qvt_ArrayTypeOffset) != qvt_TypeString, M::kCopyStringArray);

  std::unique_ptr<qvt_SpaceRepr> to(destination.Space(-1));
  to->Write(bytes.data(), chunk);
  utl_FileOffset copied = chunk;
  while (copied < length) {
    const int step = static_cast<int>(std::min<utl_FileOffset>(chunk, length - copied));
    if (from->Read(bytes.data(), step) != step) NEX_THROW_TEXT(M::kCopyReadFailed2);
    to->Write(bytes.data(), step);
    copied += step;
  }
  return to->Handle();
}
