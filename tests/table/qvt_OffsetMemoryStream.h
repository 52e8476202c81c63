// An in-memory typed stream with its own small string pool, for testing
// metadata records without a database file. References are the pool offset
// as a big-endian double, as in a database file; the first string gets 4.
#ifndef QVT_TESTS_TABLES_QVT_OFFSETMEMORYSTREAM_H
#define QVT_TESTS_TABLES_QVT_OFFSETMEMORYSTREAM_H

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "nex_Exception.h"
#include "omi_Swapper.h"
#include "qvt_IOS.h"
#include "qvt_StringManager.h"

namespace qvt_test {

class OffsetStringPool : public qvt_StringManager {
 public:
  void Flush() override {}
  void NeuterString(char*, const cow_String&) override {}
  void InternalizeStrings(const char* external, cow_String* strings, int count) override {
    for (int i = 0; i < count; ++i) {
      auto it = m_ByOffset.find(Decode(external + 8 * i));
      if (it == m_ByOffset.end()) NEX_THROW_TEXT(cow_String("test pool: unknown reference"));
      strings[i] = it->second;
    }
  }
  void ExternalizeStrings(char* external, const cow_String* strings, int count) override {
    for (int i = 0; i < count; ++i) Encode(external + 8 * i, Offset(strings[i]));
  }
  int ExternalSize() const override { return 8; }

  std::int64_t Offset(const cow_String& text) {
    auto it = m_ByText.find(text);
    if (it != m_ByText.end()) return it->second;
    const std::int64_t offset = m_End;
    m_ByText[text] = offset;
    m_ByOffset[offset] = text;
    m_End += 4 + ((static_cast<std::int64_t>(text.size()) + 3) / 4) * 4;
    return offset;
  }

  static void Encode(char* p, std::int64_t offset) {
    const double d = static_cast<double>(offset);
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    omi_Bytes::PutBE64(reinterpret_cast<unsigned char*>(p), bits);
  }
  static std::int64_t Decode(const char* p) {
    const std::uint64_t bits = omi_Bytes::GetBE64(reinterpret_cast<const unsigned char*>(p));
    double d;
    std::memcpy(&d, &bits, 8);
    return static_cast<std::int64_t>(d + 0.5);
  }

 private:
  std::map<cow_String, std::int64_t> m_ByText;
  std::map<std::int64_t, cow_String> m_ByOffset;
  std::int64_t m_End = 4;
};

class OffsetMemoryStream : public qvt_IOS {
 public:
  bool ReadOnly() const override { return false; }
  utl_FileOffset Length() override { return static_cast<utl_FileOffset>(m_Bytes.size()); }
  void Seek(utl_FileOffset offset) override { m_Position = static_cast<std::size_t>(offset); }
  utl_FileOffset Location() override { return static_cast<utl_FileOffset>(m_Position); }
  void Flush() override {}
  bool Extend(utl_FileOffset) override { return true; }
  int Read(char* buffer, int count) override {
    std::size_t n = 0;
    while (n < static_cast<std::size_t>(count) && m_Position < m_Bytes.size()) {
      buffer[n++] = static_cast<char>(m_Bytes[m_Position++]);
    }
    return static_cast<int>(n);
  }
  int Write(const char* buffer, int count) override {
    for (int i = 0; i < count; ++i) {
      if (m_Position == m_Bytes.size()) m_Bytes.push_back(0);
      m_Bytes[m_Position++] = static_cast<unsigned char>(buffer[i]);
    }
    return count;
  }
  qvt_StringManager& StringManager() override { return m_Pool; }

  std::vector<unsigned char>& Bytes() { return m_Bytes; }
  OffsetStringPool& Pool() { return m_Pool; }

 private:
  std::vector<unsigned char> m_Bytes;
  std::size_t m_Position = 0;
  OffsetStringPool m_Pool;
};

}  // namespace qvt_test

#endif  // QVT_TESTS_TABLES_QVT_OFFSETMEMORYSTREAM_H
