// Target: one metadata record (a table class) read from arbitrary bytes.
// Every string reference reads as a name made from the reference itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "nex_Exception.h"
#include "qvt_IOS.h"
#include "qvt_StringManager.h"
#include "qvt_TableMetadata.h"

namespace {

class AnyNamePool : public qvt_StringManager {
 public:
  void Flush() override {}
  void NeuterString(char*, const cow_String&) override {}
  void InternalizeStrings(const char* external, cow_String* strings, int count) override {
    for (int i = 0; i < count; ++i) strings[i] = cow_String(external + 8 * i, 2);
  }
  void ExternalizeStrings(char* external, const cow_String*, int count) override {
    std::memset(external, 0, 8 * static_cast<std::size_t>(count));
  }
  int ExternalSize() const override { return 8; }
};

class BytesStream : public qvt_IOS {
 public:
  BytesStream(const std::uint8_t* data, std::size_t size) : m_Data(data), m_Size(size) {}
  bool ReadOnly() const override { return true; }
  utl_FileOffset Length() override { return static_cast<utl_FileOffset>(m_Size); }
  void Seek(utl_FileOffset offset) override { m_Position = offset; }
  utl_FileOffset Location() override { return m_Position; }
  void Flush() override {}
  bool Extend(utl_FileOffset) override { return false; }
  int Read(char* buffer, int count) override {
    int n = 0;
    for (; n < count && m_Position >= 0 && static_cast<std::size_t>(m_Position) < m_Size; ++n) {
      buffer[n] = static_cast<char>(m_Data[m_Position++]);
    }
    return n;
  }
  int Write(const char*, int) override { return 0; }
  qvt_StringManager& StringManager() override { return m_Pool; }

 private:
  const std::uint8_t* m_Data;
  std::size_t m_Size;
  utl_FileOffset m_Position = 0;
  AnyNamePool m_Pool;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  BytesStream stream(data, size);
  try {
    qvt_TableMetadata metadata(stream, 1);
    (void)metadata.PresentFieldCount();
  } catch (const nex_Exception&) {
  }
  return 0;
}
