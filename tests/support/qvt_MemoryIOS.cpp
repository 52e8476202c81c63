// In-memory typed stream and string pool for tests.
#include "qvt_MemoryIOS.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "omi_Swapper.h"

namespace qvt_test {

void MemoryStringPool::NeuterString(char* external, const cow_String& replacement) {
  const std::uint64_t index = omi_Bytes::GetBE64(reinterpret_cast<const unsigned char*>(external));
  if (index == 0 || index > m_Strings.size()) throw std::out_of_range("bad pool reference");
  m_Strings[index - 1] = replacement;
}

void MemoryStringPool::InternalizeStrings(const char* external, cow_String* strings, int count) {
  for (int i = 0; i < count; ++i) {
    const std::uint64_t index = omi_Bytes::GetBE64(reinterpret_cast<const unsigned char*>(external) + 8 * i);
    if (index > m_Strings.size()) throw std::out_of_range("bad pool reference");
    strings[i] = index == 0 ? cow_String() : m_Strings[index - 1];
  }
}

void MemoryStringPool::ExternalizeStrings(char* external, const cow_String* strings, int count) {
  for (int i = 0; i < count; ++i) {
    std::uint64_t index = 0;
    if (!strings[i].empty()) {
      auto it = std::find(m_Strings.begin(), m_Strings.end(), strings[i]);
      if (it == m_Strings.end()) it = m_Strings.insert(it, strings[i]);
      index = static_cast<std::uint64_t>(it - m_Strings.begin()) + 1;
    }
    omi_Bytes::PutBE64(reinterpret_cast<unsigned char*>(external) + 8 * i, index);
  }
}

MemoryIOS::MemoryIOS(int endianType) : qvt_IOS(omi_Swapper(endianType)) {}

bool MemoryIOS::Extend(utl_FileOffset increment) {
  if (increment > 0) m_Bytes.resize(m_Bytes.size() + static_cast<std::size_t>(increment));
  return true;
}

int MemoryIOS::Read(char* buffer, int count) {
  ++m_Reads;
  if (count <= 0 || m_Position >= Length()) return 0;
  const int n = static_cast<int>(std::min<utl_FileOffset>(Length() - m_Position, count));
  std::memcpy(buffer, m_Bytes.data() + m_Position, static_cast<std::size_t>(n));
  m_Position += n;
  return n;
}

int MemoryIOS::Write(const char* buffer, int count) {
  ++m_Writes;
  if (m_ReadOnly) throw std::logic_error("write to a read-only memory stream");
  if (count <= 0) return 0;
  const int n = m_LimitFrom > 0 && m_Writes >= m_LimitFrom ? std::min(count, m_Limit) : count;
  if (m_Position + n > Length()) m_Bytes.resize(static_cast<std::size_t>(m_Position + n));
  std::memcpy(m_Bytes.data() + m_Position, buffer, static_cast<std::size_t>(n));
  m_Position += n;
  return n;
}

}  // namespace qvt_test
