// Appending one table's rows to another: a block copy when the layouts are
// identical, row by row otherwise, with strings pooled again in the
// destination's database.
#include "qvt_TableRepr.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "nex_Exception.h"
#include "qvt_StringManager.h"
#include "qvt_TableReprMessages.h"

namespace M = qvt_TableMsg;

namespace {
bool Bit(const std::vector<std::uint32_t>& bits, int position) {
  return (bits[static_cast<std::size_t>(position) >> 5] >> (position & 31)) & 1u;
}

}  // namespace

// ---- Append ----

void qvt_TableRepr::Append(qvt_TableRepr& source) {
  if (source.Length() == 0) return;
  if (m_ReadOnly) NEX_THROW_TEXT(cow_String(M::kAppendReadOnly));
  const int compatibility = CopyAllowed(source);
  if (compatibility < 1) QVT_TABLE_THROW(M::kAppendIncompatible, ClassName());

  Flush();
  source.Flush();
  m_Buffer.Flush();
  source.m_Buffer.Flush();
  const int sourceRows = source.m_RowCount;
  // Appending a table to itself reads through a buffer of its own, and
  // both ways stop at the rows there were when the copy began.
  std::unique_ptr<qvt_IOBuffer> ownReader;
  qvt_IOBuffer* reader = &source.m_Buffer;
  if (&source == this) {
    ownReader = std::make_unique<qvt_IOBuffer>(*m_Space, kBufferSize);
    reader = ownReader.get();
  }
  m_Buffer.Seek(m_Buffer.Length());
  reader->Seek(source.m_DataOffset);

  if (compatibility == 1) {
    m_Buffer.Append(*reader);
  } else {
    struct FieldCopy {
      qvt_Type type;
      int sourcePosition;
      int sourceOffset;
      int position;
      int offset;
    };
    std::vector<FieldCopy> fields;
    for (const auto& entry : m_PositionByName) {
      auto there = source.m_PositionByName.find(entry.first);
      NEX_ASSERT(there != source.m_PositionByName.end());
      fields.push_back({m_PositionTypes[static_cast<std::size_t>(entry.second)], there->second,
                        source.FieldOffset(there->second), entry.second, FieldOffset(entry.second)});
    }
    const bool inPlace = compatibility == 2;
    std::vector<char> in(static_cast<std::size_t>(source.m_RowSize));
    std::vector<char> out(inPlace ? 0 : static_cast<std::size_t>(m_RowSize));
    std::vector<std::uint32_t> inBits(static_cast<std::size_t>(source.m_BitmapWords));
    std::vector<std::uint32_t> outBits(static_cast<std::size_t>(m_BitmapWords));
    qvt_StringManager& from = source.StringPool();
    qvt_StringManager& to = StringPool();
    cow_String text;
    for (int k = 0; k < sourceRows; ++k) {
      if (reader->Read(in.data(), source.m_RowSize) < source.m_RowSize) break;
      omi_SwapperGuts::InternalizeArray(m_Swap, in.data(), inBits.data(), inBits.size(), 4);
      char* row = inPlace ? in.data() : out.data();
      if (!inPlace) {
        std::fill(out.begin(), out.end(), '\0');
        std::fill(outBits.begin(), outBits.end(), 0u);
      }
      for (const FieldCopy& f : fields) {
        const bool has = Bit(inBits, f.sourcePosition);
        if (f.type == qvt_TypeString) {
          if (has) {
            from.InternalizeStrings(in.data() + f.sourceOffset, &text, 1);
            to.ExternalizeStrings(row + f.offset, &text, 1);
          } else if (inPlace) {
            // No reference into the source's pool is left behind.
            std::memset(row + f.offset, 0, static_cast<std::size_t>(to.ExternalSize()));
          }
        } else if (!inPlace && has) {
          switch (f.type) {
            case qvt_TypeInt:
            case qvt_TypeFloat:
              std::memcpy(row + f.offset, in.data() + f.sourceOffset, 4);
              break;
            case qvt_TypeDouble:
              std::memcpy(row + f.offset, in.data() + f.sourceOffset, 8);
              break;
            default:
              QVT_TABLE_THROW(M::kAppendInvalidType, ClassName());
          }
        }
        if (!inPlace && has) outBits[static_cast<std::size_t>(f.position) >> 5] |= 1u << (f.position & 31);
      }
      if (!inPlace) omi_SwapperGuts::ExternalizeArray(m_Swap, outBits.data(), out.data(), outBits.size(), 4);
      m_Buffer.Write(row, m_RowSize);
    }
  }
  // The appended bytes may still sit in the buffer: the next Flush writes
  // them and raises the flush count.
  m_Modified = true;
  const int rows = RowsIn(m_Buffer.Length());
  if (rows > m_RowCount) m_RowCount = rows;
  if (rows > m_StoredRowCount) m_StoredRowCount = rows;
}
