// One row of a table in memory: its bytes exactly as stored, plus its
// presence bitmap in machine order, and the shared cache entry that row
// handles point at. Rows are made, recycled and freed by their table.
#ifndef QVT_IMPL_QVT_ROWIMPL_H
#define QVT_IMPL_QVT_ROWIMPL_H

#include <cstdint>
#include <cstring>
#include <memory>

#include "cow_String.h"
#include "omi_Swapper.h"
#include "qvt_FieldHandle.h"
#include "qvt_Handle.h"
#include "qvt_TableRepr.h"

// One value between a row's bytes and the machine: copied as it is, or with
// its bytes reversed when the file's order is not the machine's. Built on
// the foundation's shift-based encoders and inline, since every field
// access goes through here.
namespace qvt_RowBytes {
inline void Move4(bool swap, const void* from, void* to) {
  if (swap) {
    omi_Bytes::PutBE32(static_cast<unsigned char*>(to), omi_Bytes::GetLE32(static_cast<const unsigned char*>(from)));
  } else {
    std::memcpy(to, from, 4);
  }
}
inline void Move8(bool swap, const void* from, void* to) {
  if (swap) {
    omi_Bytes::PutBE64(static_cast<unsigned char*>(to), omi_Bytes::GetLE64(static_cast<const unsigned char*>(from)));
  } else {
    std::memcpy(to, from, 8);
  }
}
}  // namespace qvt_RowBytes

// Row bytes (rowSize), field values in the file's byte order:
//
//   OFFSET          SIZE        CONTENT
//   0               4 x words   presence bitmap, bit k%32 of int k/32 set
//                               when position k holds data
//   offset(k)       width(k)    value of the field at position k: int and
//                               float 4, double 8, handle 8 (the 32-bit
//                               handle then 4 zero bytes), string 8 (a
//                               pooled-string reference)
//
// Positions are the present fields in field map order; the table keeps
// their offsets.
class qvt_RowImpl {
 public:
  // Bitmap cleared; data not cleared (the table fills it).
  qvt_RowImpl(qvt_TableRepr* table, int rowIndex, int rowSize, int bitmapWords);
  ~qvt_RowImpl();
  qvt_RowImpl(const qvt_RowImpl&) = delete;
  qvt_RowImpl& operator=(const qvt_RowImpl&) = delete;

  // Typed reads. THROWS the metadata's Verify messages for unknown, absent
  // or mistyped fields, and "qvt_RowImpl::PrepReadField: Attempt to access
  // absent field data ..." when the row holds no data for the field.
  int ReadFieldInt(const qvt_FieldHandle& handle) const {
    std::int32_t value;
    qvt_RowBytes::Move4(m_Table->MustSwap(), FieldBytes(PrepReadField(handle, qvt_TypeInt)), &value);
    return value;
  }
  float ReadFieldFloat(const qvt_FieldHandle& handle) const {
    float value;
    qvt_RowBytes::Move4(m_Table->MustSwap(), FieldBytes(PrepReadField(handle, qvt_TypeFloat)), &value);
    return value;
  }
  double ReadFieldDouble(const qvt_FieldHandle& handle) const {
    double value;
    qvt_RowBytes::Move8(m_Table->MustSwap(), FieldBytes(PrepReadField(handle, qvt_TypeDouble)), &value);
    return value;
  }
  // The first 4 bytes of the field.
  qvt_Handle ReadFieldHandle(const qvt_FieldHandle& handle) const {
    std::uint32_t value;
    qvt_RowBytes::Move4(m_Table->MustSwap(), FieldBytes(PrepReadField(handle, qvt_TypeHandle)), &value);
    return value;
  }
  cow_String ReadFieldString(const qvt_FieldHandle& handle) const;
  void ReadFieldString(const qvt_FieldHandle& handle, cow_String* value) const;

  // Typed writes: store the value and set the field's bit. THROWS the
  // Verify messages, and the read-only message on a read-only table. A
  // string is added to the table's string pool at once.
  void WriteFieldInt(const qvt_FieldHandle& handle, int value) {
    const int position = PrepWriteField(handle, qvt_TypeInt);
    qvt_RowBytes::Move4(m_Table->MustSwap(), &value, FieldBytes(position));
    SetBit(position);
  }
  void WriteFieldFloat(const qvt_FieldHandle& handle, float value) {
    const int position = PrepWriteField(handle, qvt_TypeFloat);
    qvt_RowBytes::Move4(m_Table->MustSwap(), &value, FieldBytes(position));
    SetBit(position);
  }
  void WriteFieldDouble(const qvt_FieldHandle& handle, double value) {
    const int position = PrepWriteField(handle, qvt_TypeDouble);
    qvt_RowBytes::Move8(m_Table->MustSwap(), &value, FieldBytes(position));
    SetBit(position);
  }
  // The 32-bit handle, then 4 zero bytes.
  void WriteFieldHandle(const qvt_FieldHandle& handle, qvt_Handle value) {
    const int position = PrepWriteField(handle, qvt_TypeHandle);
    char* bytes = FieldBytes(position);
    qvt_RowBytes::Move4(m_Table->MustSwap(), &value, bytes);
    std::memset(bytes + 4, 0, 4);
    SetBit(position);
  }
  void WriteFieldString(const qvt_FieldHandle& handle, const cow_String& value);
  // Rewrites in place the pooled string the field refers to.
  void NeuterFieldString(const qvt_FieldHandle& handle, const cow_String& value);

  int FieldIsPresent(const qvt_FieldHandle& handle) const;
  int DataIsPresent(const qvt_FieldHandle& handle) const;
  void Erase(const qvt_FieldHandle& handle);
  void Erase();
  // Copies one field from other (of this or another table, possibly of
  // another database: strings are pooled again here).
  void CopyField(const qvt_RowImpl& other, const qvt_FieldHandle& handle);

  // ---- For the table ----
  // Starts the row over as a new row of that index: bitmap and data zero.
  void ResetAsNew(int rowIndex);
  // The bitmap from the first words of the data (after reading the row).
  void LoadBitmap();
  // The bitmap into the first words of the data (before writing the row).
  void StoreBitmap();
  // After a read that delivered only got bytes: the rest is zeroed and the
  // bits of fields not wholly read are cleared, so nothing half-read is
  // ever answered.
  void KeepOnlyBytes(int got);

  char* Data() { return m_Data.get(); }
  const char* Data() const { return m_Data.get(); }
  int RowSize() const { return m_RowSize; }
  int Location() const { return m_RowIndex; }
  void SetLocation(int rowIndex) { m_RowIndex = rowIndex; }
  bool Modified() const { return m_Modified; }
  void ClearModified() { m_Modified = false; }
  void SetModified() { m_Modified = true; }
  qvt_TableRepr& Table() const { return *m_Table; }

  bool BitIsSet(int position) const {
    return (m_Bitmap[static_cast<unsigned>(position) >> 5] >> (static_cast<unsigned>(position) & 31u)) & 1u;
  }

 private:
  void SetBit(int position) { m_Bitmap[static_cast<unsigned>(position) >> 5] |= 1u << (position & 31); }
  void ClearBit(int position) { m_Bitmap[static_cast<unsigned>(position) >> 5] &= ~(1u << (position & 31)); }
  // Verify, then the position, which must hold data.
  int PrepReadField(const qvt_FieldHandle& handle, qvt_Type type) const {
    const int position = m_Table->ResolveField(handle, type);
    if (!BitIsSet(position)) FailAbsentData(handle);
    return position;
  }
  // Marks the row modified, refuses a read-only table, Verify, position.
  int PrepWriteField(const qvt_FieldHandle& handle, qvt_Type type) {
    m_Modified = true;
    if (m_Table->ReadOnly()) FailReadOnly();
    const int position = m_Table->ResolveField(handle, type);
    if (position < 0) FailAbsentField(handle);
    m_Table->MarkModified();
    return position;
  }
  // The failures, kept out of the inline paths.
  [[noreturn]] void FailAbsentData(const qvt_FieldHandle& handle) const;
  [[noreturn]] void FailAbsentField(const qvt_FieldHandle& handle) const;
  [[noreturn]] static void FailReadOnly();
  const char* FieldBytes(int position) const { return m_Data.get() + m_Table->FieldOffset(position); }
  char* FieldBytes(int position) { return m_Data.get() + m_Table->FieldOffset(position); }

  qvt_TableRepr* m_Table;
  std::unique_ptr<std::uint32_t[]> m_Bitmap;
  int m_BitmapWords;
  std::unique_ptr<char[]> m_Data;
  int m_RowSize;
  int m_RowIndex;
  bool m_Modified = false;
};

// The shared entry of a cached row: the handles on it and the row, which
// the table sets to null when it discards a row still referenced (truncated
// away, or the table closed). Such an entry is deleted by its last handle.
class qvt_RowRepr {
 public:
  int m_ReferenceCount = 0;
  qvt_RowImpl* m_Row = nullptr;
  // The table class of a row that was taken away, for the messages of the
  // handles still on it.
  cow_String m_LostClassName;
};

#endif  // QVT_IMPL_QVT_ROWIMPL_H
