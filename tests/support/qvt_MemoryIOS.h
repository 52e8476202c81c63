// An in-memory typed stream with a string pool, for code written against
// qvt_IOS, that can be made read-only or to write short.
#ifndef QVT_TESTS_SUPPORT_QVT_MEMORYIOS_H
#define QVT_TESTS_SUPPORT_QVT_MEMORYIOS_H

#include <cstdint>
#include <string>
#include <vector>

#include "qvt_IOS.h"
#include "qvt_StringManager.h"

namespace qvt_test {

// References are the 1-based index of the string, 8 bytes big-endian; 0
// stands for the empty string, an equal string is stored once.
class MemoryStringPool : public qvt_StringManager {
 public:
  void Flush() override {}
  void NeuterString(char* external, const cow_String& replacement) override;
  void InternalizeStrings(const char* external, cow_String* strings, int count) override;
  void ExternalizeStrings(char* external, const cow_String* strings, int count) override;
  int ExternalSize() const override { return 8; }

  const std::vector<cow_String>& Strings() const { return m_Strings; }

 private:
  std::vector<cow_String> m_Strings;
};

class MemoryIOS : public qvt_IOS {
 public:
  // endianType as for omi_Swapper: 1 (big, database files) or 0 (little).
  explicit MemoryIOS(int endianType = EndianBig);

  bool ReadOnly() const override { return m_ReadOnly; }
  utl_FileOffset Length() override { return static_cast<utl_FileOffset>(m_Bytes.size()); }
  void Seek(utl_FileOffset offset) override { m_Position = offset; }
  utl_FileOffset Location() override { return m_Position; }
  void Flush() override {}
  bool Extend(utl_FileOffset increment) override;
  int Read(char* buffer, int count) override;
  int Write(const char* buffer, int count) override;
  qvt_StringManager& StringManager() override { return m_Pool; }

  std::vector<unsigned char>& Bytes() { return m_Bytes; }
  MemoryStringPool& Pool() { return m_Pool; }
  void SetReadOnly(bool on) { m_ReadOnly = on; }
  // From the writeNumber-th Write on (1-based; 0: never), each takes at most limit bytes.
  void LimitWritesFrom(int writeNumber, int limit) {
    m_LimitFrom = writeNumber;
    m_Limit = limit;
  }
  int Reads() const { return m_Reads; }
  int Writes() const { return m_Writes; }

 private:
  std::vector<unsigned char> m_Bytes;
  utl_FileOffset m_Position = 0;
  bool m_ReadOnly = false;
  int m_LimitFrom = 0, m_Limit = 0;  // the short-write fault
  int m_Reads = 0, m_Writes = 0;
  MemoryStringPool m_Pool;
};

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_MEMORYIOS_H
