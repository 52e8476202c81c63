// Byte-level helpers shared by the tests: scratch folders, whole-file reads
// and writes, byte flips and truncation, exception-text assertions and
// tables of refusals.
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
// The bytes a file holds as the database sees them: a compressed file's
// decoded content, a plain file's bytes.
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

// Texts the library raises from many layers, so that a change of one is
// made once here.
inline constexpr char kReadOnly[] =
    "The output database was opened as read-only. Modification of data is not permitted.";
inline constexpr char kEof[] = "***ERROR: Unexpected End Of File.";
inline constexpr char kInvalidDatabase[] =
    "***ERROR: Database is not valid. This may indicate that the database has been corrupted.";
inline constexpr char kPointer[] = "***ERROR: Invalid array pointer.";
inline constexpr char kMetadataCorrupt[] = "***ERROR: Metadata is corrupt in KELVOR database file.";

// A table of refusals: calls that must each end in a library exception (a
// refused call or a failed assertion) with an exact text, so that one table
// lists every refusal of a class, one row per fault.
using Refusal = std::pair<std::function<void()>, std::string>;

// Expects every call of rows to throw a library exception whose text is
// exactly its row's; a failure names the row by its index.
inline void ExpectRefusals(const std::vector<Refusal>& rows) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::string text = "no exception";
    try {
      rows[i].first();
    } catch (const nex_Exception& e) {
      text = e.AsString();
    }
    EXPECT_EQ(text, rows[i].second) << "refusal row " << i;
  }
}

}  // namespace qvt_test

// Expects statement to throw ExcType whose AsString() is exactly text.
#define QVT_EXPECT_THROW_TEXT(statement, ExcType, text)                   \
  do {                                                                    \
    bool qvt_thrown_ = false;                                             \
    try {                                                                 \
      statement;                                                          \
    } catch (const ExcType& qvt_e_) {                                     \
      qvt_thrown_ = true;                                                 \
      EXPECT_EQ(qvt_e_.AsString(), std::string(text));                    \
    }                                                                     \
    EXPECT_TRUE(qvt_thrown_) << "expected " #ExcType " from " #statement; \
  } while (0)

#endif  // QVT_TESTS_SUPPORT_QVT_TESTSUPPORT_H
