// A file that works until its N-th change and fails every change from then
// on, as a full or dead disk would: writes, growth, trimming and the size
// record. Reads keep working. Wraps a real file implementation.
#ifndef QVT_TESTS_SUPPORT_QVT_FAULTYFILE_H
#define QVT_TESTS_SUPPORT_QVT_FAULTYFILE_H

#include <memory>

#include "nex_Exception.h"
#include "qvt_FileRepr.h"

namespace qvt_test {

class FaultyFile : public qvt_FileRepr {
 public:
  static constexpr const char* kFailure = "injected failure of the file";

  // Takes ownership of inner. failFrom: the 1-based number of the first
  // change that fails; 0 never fails.
  FaultyFile(qvt_FileRepr* inner, int failFrom) : qvt_FileRepr(inner->FileName()), m_Inner(inner), m_FailFrom(failFrom) {}

  bool Fired() const { return m_Fired; }
  int Changes() const { return m_Changes; }

  bool ReadOnly() const override { return m_Inner->ReadOnly(); }
  utl_FileOffset Length() override { return m_Inner->Length(); }
  void Seek(utl_FileOffset offset) override { m_Inner->Seek(offset); }
  utl_FileOffset Location() override { return m_Inner->Location(); }
  void Flush() override { m_Inner->Flush(); }
  bool Extend(utl_FileOffset increment) override { return ExtendFile(increment); }
  int Read(char* buffer, int count) override { return m_Inner->Read(buffer, count); }
  int Write(const char* buffer, int count) override {
    Change();
    return m_Inner->Write(buffer, count);
  }
  utl_FileOffset FileLength() override { return m_Inner->FileLength(); }
  utl_FileOffset Allocation() override { return m_Inner->Allocation(); }
  bool ExtendFile(utl_FileOffset increment) override {
    Change();
    return m_Inner->ExtendFile(increment);
  }
  void TrimToLength() override {
    Change();
    m_Inner->TrimToLength();
  }
  void WriteSizeRecord(int offset) override {
    Change();
    m_Inner->WriteSizeRecord(offset);
  }
  void CheckSizeRecord(int offset) override { m_Inner->CheckSizeRecord(offset); }

 private:
  void Change() {
    ++m_Changes;
    if (m_FailFrom > 0 && m_Changes >= m_FailFrom) {
      m_Fired = true;
      NEX_THROW_TEXT(kFailure);
    }
  }

  std::unique_ptr<qvt_FileRepr> m_Inner;
  int m_FailFrom;
  int m_Changes = 0;
  bool m_Fired = false;
};

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_FAULTYFILE_H
