// Field access on a row's bytes: each value is converted between the
// file's byte order and the machine's at the moment of access, and the
// presence bitmap says which fields hold data. No allocation per access:
// positions come from the table's arrays, strings from the pool's maps.
#include "qvt_RowImpl.h"

#include <algorithm>
#include <cstring>

#include "nex_Exception.h"
#include "omi_Swapper.h"
#include "qvt_StringManager.h"
#include "qvt_TableRepr.h"
#include "qvt_TableReprMessages.h"

namespace M = qvt_TableMsg;


qvt_RowImpl::qvt_RowImpl(qvt_TableRepr* table, int rowIndex, int rowSize, int bitmapWords)
    : m_Table(table),
      m_Bitmap(new std::uint32_t[static_cast<std::size_t>(std::max(bitmapWords, 1))]()),
      m_BitmapWords(bitmapWords),
      m_Data(new char[static_cast<std::size_t>(std::max(rowSize, 1))]),
      m_RowSize(rowSize),
      m_RowIndex(rowIndex) {}

qvt_RowImpl::~qvt_RowImpl() = default;

// ---- Table side ----

void qvt_RowImpl::ResetAsNew(int rowIndex) {
  m_RowIndex = rowIndex;
  std::fill(m_Bitmap.get(), m_Bitmap.get() + m_BitmapWords, 0u);
  std::memset(m_Data.get(), 0, static_cast<std::size_t>(m_RowSize));
  m_Modified = false;
}

void qvt_RowImpl::LoadBitmap() {
  omi_SwapperGuts::InternalizeArray(m_Table->MustSwap(), m_Data.get(), m_Bitmap.get(),
                                    static_cast<std::size_t>(m_BitmapWords), 4);
}

void qvt_RowImpl::StoreBitmap() {
  omi_SwapperGuts::ExternalizeArray(m_Table->MustSwap(), m_Bitmap.get(), m_Data.get(),
                                    static_cast<std::size_t>(m_BitmapWords), 4);
}

void qvt_RowImpl::KeepOnlyBytes(int got) {
  got = std::max(got, 0);
  if (got >= m_RowSize) return;
  std::memset(m_Data.get() + got, 0, static_cast<std::size_t>(m_RowSize - got));
  LoadBitmap();
  const int positions = m_Table->PositionCount();
  for (int k = 0; k < positions; ++k) {
    const int end = k + 1 < positions ? m_Table->FieldOffset(k + 1) : m_RowSize;
    if (end > got) ClearBit(k);
  }
}

// ---- Checks ----

void qvt_RowImpl::FailAbsentData(const qvt_FieldHandle& handle) const {
  QVT_TABLE_THROW(M::kAbsentFieldData, m_Table->ClassName(), handle.Name());
}

void qvt_RowImpl::FailAbsentField(const qvt_FieldHandle& handle) const {
  QVT_TABLE_THROW(M::kAbsentField, m_Table->ClassName(), handle.Name());
}

void qvt_RowImpl::FailReadOnly() { NEX_THROW_TEXT(cow_String(M::kReadOnly)); }

// ---- Reads ----

cow_String qvt_RowImpl::ReadFieldString(const qvt_FieldHandle& handle) const {
  cow_String value;
  ReadFieldString(handle, &value);
  return value;
}

void qvt_RowImpl::ReadFieldString(const qvt_FieldHandle& handle, cow_String* value) const {
  m_Table->ReadPooledString(FieldBytes(PrepReadField(handle, qvt_TypeString)), value);
}

// ---- Writes ----

void qvt_RowImpl::WriteFieldString(const qvt_FieldHandle& handle, const cow_String& value) {
  const int position = PrepWriteField(handle, qvt_TypeString);
  m_Table->WritePooledString(value, FieldBytes(position));
  SetBit(position);
}

void qvt_RowImpl::NeuterFieldString(const qvt_FieldHandle& handle, const cow_String& value) {
  const int position = PrepReadField(handle, qvt_TypeString);
  m_Table->StringPool().NeuterString(FieldBytes(position), value);
}

// ---- Presence ----

int qvt_RowImpl::FieldIsPresent(const qvt_FieldHandle& handle) const {
  if (m_Table->Position(handle) < 0) return 0;
  return m_Table->GetFieldMD(handle).Present();
}

int qvt_RowImpl::DataIsPresent(const qvt_FieldHandle& handle) const {
  const int position = m_Table->Position(handle);
  if (position < 0 || !BitIsSet(position)) return 0;
  return m_Table->GetFieldMD(handle).Present();
}

void qvt_RowImpl::Erase(const qvt_FieldHandle& handle) {
  if (m_Table->ReadOnly()) NEX_THROW_TEXT(cow_String(M::kReadOnly));
  // Checks only that the field exists and is stored: its own type is
  // always the right one.
  const int position = m_Table->ResolveField(handle, m_Table->GetFieldMD(handle).Type());
  ClearBit(position);
  m_Modified = true;
  m_Table->MarkModified();
}

void qvt_RowImpl::Erase() {
  if (m_Table->ReadOnly()) NEX_THROW_TEXT(cow_String(M::kReadOnly));
  std::fill(m_Bitmap.get(), m_Bitmap.get() + m_BitmapWords, 0u);
  m_Modified = true;
  m_Table->MarkModified();
}

void qvt_RowImpl::CopyField(const qvt_RowImpl& other, const qvt_FieldHandle& handle) {
  if (!other.DataIsPresent(handle)) return;
  const qvt_Type type = other.m_Table->GetFieldMD(handle).Type();
  if (m_Table->ReadOnly()) NEX_THROW_TEXT(cow_String(M::kReadOnly));
  const int position = m_Table->ResolveField(handle, type);
  const char* from = other.FieldBytes(other.m_Table->Position(handle));
  switch (type) {
    case qvt_TypeInt:
    case qvt_TypeFloat:
      std::memmove(FieldBytes(position), from, 4);
      break;
    case qvt_TypeDouble:
      std::memmove(FieldBytes(position), from, 8);
      break;
    case qvt_TypeString: {
      // Pooled again here: the other row may live in another database.
      cow_String text;
      other.m_Table->StringPool().InternalizeStrings(from, &text, 1);
      m_Table->StringPool().ExternalizeStrings(FieldBytes(position), &text, 1);
      break;
    }
    case qvt_TypeHandle:
      NEX_THROW_TEXT(cow_String(M::kCopyHandleField));
    default:
      NEX_ASSERT(!"Invalid field type.");
  }
  m_Modified = true;
  SetBit(position);
  m_Table->MarkModified();
}
