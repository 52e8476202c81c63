// The string pool of a database file: loading records, handing out
// references, writing new records in one batch, and neutering a record.
#include "qvt_StringManagerFile.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "atr_translate.h"
#include "nex_Exception.h"
#include "qvt_DatabaseReprMessages.h"
#include "qvt_Linkage.h"
#include "qvt_Problems.h"
#include "qvt_SpaceRepr.h"

namespace M = qvt_CoreMessages;

namespace {

// Bytes a record of a text of length L takes: 4 + L rounded up to 4.
utl_FileOffset RecordBytes(utl_FileOffset length) { return 4 + (length + 3) / 4 * 4; }

}  // namespace

qvt_StringManagerFile::qvt_StringManagerFile() : m_Swapper(EndianBig) {}

qvt_StringManagerFile::~qvt_StringManagerFile() = default;

void qvt_StringManagerFile::Release() { m_Space.reset(); }

void qvt_StringManagerFile::Attach(qvt_SpaceRepr* space) {
  m_Space.reset(space);
  m_Swapper = space->Swapper();
  m_KnownEnd = qvt_PoolFirstRecord;
  m_Offsets.clear();
  m_Strings.clear();
  m_Damaged.clear();
  LoadStrings();
}

void qvt_StringManagerFile::LoadStrings() {
  NEX_ASSERT(m_Space != nullptr);
  const utl_FileOffset old = m_KnownEnd;
  const utl_FileOffset now = m_Space->Length();
  // The known end never moves back: records handed out but not yet flushed
  // keep their offsets.
  if (now <= old) return;
  m_KnownEnd = now;
  const int n = utl_DiffAsInt32(now, old);

  std::vector<unsigned char> buffer(static_cast<std::size_t>(n));
  m_Space->Seek(old);
  int got = 0;
  while (got < n) {
    const int k = m_Space->Read(reinterpret_cast<char*>(buffer.data()) + got, n - got);
    if (k <= 0) break;
    got += k;
  }

  // Records written by one writer's flush are back to back from old on. A
  // record that cannot be read ends the scan of this stretch: nothing after
  // it can be located.
  qvt_Problems problems;
  const utl_FileOffset end = ScanRecords(
      buffer.data(), got, old, now, m_Swapper,
      [this](utl_FileOffset offset, cow_String&& text) {
        m_Offsets.emplace(text, offset);  // a duplicate record keeps the first offset here
        m_Strings.emplace(offset, std::move(text));
      },
      &problems);
  if (end < now) m_Damaged.emplace(end, now);
}

utl_FileOffset qvt_StringManagerFile::ScanRecords(
    const unsigned char* bytes, int count, utl_FileOffset start, utl_FileOffset poolLength,
    const omi_Swapper& swapper, const std::function<void(utl_FileOffset offset, cow_String&& text)>& found,
    qvt_Problems* problems) {
  int position = 0;
  while (position < count) {
    const utl_FileOffset offset = start + position;
    if (count - position < 4) {
      problems->Add("the string pool ends inside the length of the record at offset " +
                    std::to_string(offset));
      return offset;
    }
    std::int32_t length;
    omi_SwapperGuts::InternalizeArray(swapper.MustSwap(), bytes + position, &length, 1, 4);
    if (length < 0) {
      problems->Add("the string pool record at offset " + std::to_string(offset) +
                    " has a negative length (" + std::to_string(length) + ")");
      return offset;
    }
    if (length > count - position - 4) {
      problems->Add("the string pool record at offset " + std::to_string(offset) + " (" +
                    std::to_string(length) + " bytes) runs past the end of the pool (" +
                    std::to_string(poolLength) + " bytes)");
      return offset;
    }
    found(offset,
          cow_String(reinterpret_cast<const char*>(bytes) + position + 4, static_cast<std::size_t>(length)));
    const utl_FileOffset step = RecordBytes(length);
    if (step >= count - position) break;
    position += static_cast<int>(step);
  }
  return start + count;
}

cow_String qvt_StringManagerFile::String(utl_FileOffset offset) {
  auto found = m_Strings.find(offset);
  if (found != m_Strings.end()) return found->second;
  LoadStrings();
  found = m_Strings.find(offset);
  if (found != m_Strings.end()) return found->second;
  for (const auto& stretch : m_Damaged) {
    if (offset >= stretch.first && offset < stretch.second)
      NEX_THROW_TEXT(atr_Format(M::kStringPoolDamaged, static_cast<std::int64_t>(stretch.first)));
  }
  NEX_THROW_TEXT(M::kStringNotAvailable);
}

utl_FileOffset qvt_StringManagerFile::StringOffset(const cow_String& value) {
  const auto found = m_Offsets.find(value);
  if (found != m_Offsets.end()) return found->second;
  NEX_ASSERT(value.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() - 3));
  const utl_FileOffset offset = m_KnownEnd;
  m_Offsets.emplace(value, offset);
  m_Strings.emplace(offset, value);
  m_KnownEnd += RecordBytes(static_cast<utl_FileOffset>(value.size()));
  return offset;
}

void qvt_StringManagerFile::Flush() {
  if (!m_Space) return;
  const utl_FileOffset spaceLength = m_Space->Length();
  m_Space->Seek(spaceLength);
  const int unwrittenLength = utl_DiffAsInt32(m_KnownEnd, spaceLength);
  if (unwrittenLength < 1) return;

  std::vector<char> buffer(static_cast<std::size_t>(unwrittenLength), '\0');
  std::int64_t cursor = 0;
  for (auto it = m_Strings.lower_bound(spaceLength); it != m_Strings.end(); ++it) {
    NEX_ASSERT_MSG(cursor == utl_DiffAsInt32(it->first, spaceLength),
                   "cursor - buffer.Get() == offset.DiffAsInt32(spaceLength)");
    const std::int32_t length = static_cast<std::int32_t>(it->second.size());
    const utl_FileOffset bytes = RecordBytes(length);
    NEX_ASSERT_MSG(cursor + bytes <= unwrittenLength, "cursor - buffer.Get() == unwrittenLength");
    omi_SwapperGuts::ExternalizeArray(m_Swapper.MustSwap(), &length, buffer.data() + cursor, 1, 4);
    if (length > 0) std::memcpy(buffer.data() + cursor + 4, it->second.data(), static_cast<std::size_t>(length));
    cursor += bytes;
  }
  NEX_ASSERT_MSG(cursor == unwrittenLength, "cursor - buffer.Get() == unwrittenLength");
  if (m_Space->Write(buffer.data(), unwrittenLength) != unwrittenLength) NEX_THROW_TEXT(M::kWriteFailed);
}

void qvt_StringManagerFile::NeuterString(char* external, const cow_String& replacement) {
  Flush();
  const utl_FileOffset offset = DecodeReference(reinterpret_cast<const unsigned char*>(external));
  // Only the start of a known record may be overwritten; String throws for
  // anything else.
  (void)String(offset);
  m_Space->Seek(offset);
  const int oldLength = m_Space->ReadInt();
  if (oldLength < 1) return;
  if (oldLength > m_Space->Length() - offset - 4) NEX_THROW_TEXT(M::kNeuterDamaged);

  const int kept = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(oldLength), replacement.size()));
  std::vector<char> bytes(static_cast<std::size_t>(oldLength), '\0');
  if (kept > 0) std::memcpy(bytes.data(), replacement.data(), static_cast<std::size_t>(kept));
  m_Space->Seek(offset);
  m_Space->WriteInt(kept);
  if (m_Space->Write(bytes.data(), oldLength) != oldLength) NEX_THROW_TEXT(M::kWriteFailed);
}

utl_FileOffset qvt_StringManagerFile::DecodeReference(const unsigned char* bytes) const {
  utl_FileOffset offset = -1;
  if (!qvt_DecodeFileOffset(bytes, m_Swapper, &offset)) return -1;
  return offset;
}

void qvt_StringManagerFile::InternalizeStrings(const char* external, cow_String* strings, int count) {
  for (int i = 0; i < count; ++i)
    strings[i] =
        String(DecodeReference(reinterpret_cast<const unsigned char*>(external) + i * qvt_ReferenceBytes));
}

void qvt_StringManagerFile::ExternalizeStrings(char* external, const cow_String* strings, int count) {
  for (int i = 0; i < count; ++i)
    qvt_EncodeFileOffset(reinterpret_cast<unsigned char*>(external) + i * qvt_ReferenceBytes,
                         StringOffset(strings[i]), m_Swapper);
}
