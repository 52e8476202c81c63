// Byte-level helpers shared by the tests: scratch folders, whole files,
// damage, exception-text assertions and tables of refusals.
#ifndef QVT_TESTS_SUPPORT_QVT_TESTSUPPORT_H
#define QVT_TESTS_SUPPORT_QVT_TESTSUPPORT_H

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "nex_Exception.h"
#include <gtest/gtest.h>

namespace qvt_test {

// A fresh folder under the temp folder, removed with its contents at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& Path() const { return m_Path; }
  std::string File(const std::string& name) const { return m_Path + "/" + name; }

 private:
  std::string m_Path;
};

std::vector<unsigned char> ReadAll(const std::string& path);
// The bytes of a file as the database sees them (a compressed file decoded).
std::vector<char> LogicalBytes(const std::string& path);
void WriteAll(const std::string& path, const std::vector<unsigned char>& bytes);
void FlipByte(const std::string& path, std::int64_t offset, unsigned char mask = 0xFF);
void TruncateTo(const std::string& path, std::int64_t length);
std::int64_t FileSize(const std::string& path);
std::uint32_t BE32(const std::vector<unsigned char>& bytes, std::size_t offset);
double BEDouble(const std::vector<unsigned char>& bytes, std::size_t offset);
void PutBE32(std::vector<unsigned char>& bytes, std::size_t offset, std::uint32_t value);
void PutBEDouble(std::vector<unsigned char>& bytes, std::size_t offset, double value);
// A 1024-byte file with the signature and the two values a status check
// reads, big-endian: the flush count at 512, the creation time at 516.
void WriteStatusHeader(const std::string& path, int flushCount, int creationTime);

// Texts the library raises from many layers.
inline constexpr char kReadOnly[] =
    "The output database was opened as read-only. Modification of data is not permitted.";
inline constexpr char kEof[] = "***ERROR: Unexpected End Of File.";
inline constexpr char kInvalidDatabase[] =
    "***ERROR: Database is not valid. This may indicate that the database has been corrupted.";
inline constexpr char kPointer[] = "***ERROR: Invalid array pointer.";
inline constexpr char kMetadataCorrupt[] = "***ERROR: Metadata is corrupt in KELVOR database file.";

// The text of the ExcType that call throws, "no exception" when it throws none.
template <class ExcType = nex_Exception>
std::string ThrownTextOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ExcType& e) {
    return e.AsString();
  }
  return "no exception";
}

// Calls that must each throw a library exception with exactly their text,
// so that one table lists every refusal of a class; a failure names the row.
using Refusal = std::pair<std::function<void()>, std::string>;
inline void ExpectRefusals(const std::vector<Refusal>& rows) {
  for (std::size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(ThrownTextOf(rows[i].first), rows[i].second) << "refusal row " << i;
}

// Calls that must each throw ExcType with the same text; another class escapes and fails the test.
template <class ExcType>
void ExpectEachThrows(const std::string& text, const std::vector<std::function<void()>>& calls) {
  for (std::size_t i = 0; i < calls.size(); ++i)
    EXPECT_EQ(ThrownTextOf<ExcType>(calls[i]), text) << "call " << i;
}

}  // namespace qvt_test

// Expects statement to throw ExcType whose AsString() is exactly text.
#define QVT_EXPECT_THROW_TEXT(statement, ExcType, text)                                                \
  do {                                                                                                 \
    EXPECT_EQ(::qvt_test::ThrownTextOf<ExcType>([&] { statement; }), std::string(text)) << #statement; \
  } while (0)

#endif  // QVT_TESTS_SUPPORT_QVT_TESTSUPPORT_H
