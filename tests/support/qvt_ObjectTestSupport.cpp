// Helpers for the array and tagged-stream suites.
#include "qvt_ObjectTestSupport.h"

#include "nex_Exception.h"
#include "qvt_ChildProcess.h"
#include "qvt_FileReprLocal.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TaggedStreamRepr.h"
#include "qvt_TestSupport.h"
#include "utl_File.h"

namespace qvt_test {

namespace {
constexpr const char* kFailure = "injected failure of the file";

// A local file whose every change (write, growth, trim, size record) from the N-th on fails, as on a full or
// dead disk; reads keep working. A change counts once, not the writes it makes itself.
class FaultyFile : public qvt_FileReprLocal {
 public:
  FaultyFile(const std::string& path, int failFrom)
      : qvt_FileReprLocal(path, 2, false), m_FailFrom(failFrom) {}
  bool Fired() const { return m_Fired; }

  int Write(const char* buffer, int count) override {
    return Change([&] { return qvt_FileReprLocal::Write(buffer, count); });
  }
  bool ExtendFile(utl_FileOffset increment) override {
    return Change([&] { return qvt_FileReprLocal::ExtendFile(increment); });
  }
  void TrimToLength() override {
    Change([this] { qvt_FileReprLocal::TrimToLength(); });
  }
  void WriteSizeRecord(int offset) override {
    Change([&] { qvt_FileReprLocal::WriteSizeRecord(offset); });
  }

 private:
  template <class Call>
  auto Change(const Call& call) -> decltype(call()) {
    if (m_Inside == 0 && m_FailFrom > 0 && ++m_Changes >= m_FailFrom) {
      m_Fired = true;
      NEX_THROW_TEXT(kFailure);
    }
    struct Leave {
      int& inside;
      ~Leave() { --inside; }
    } leave{++m_Inside};
    return call();
  }

  int m_FailFrom;
  int m_Changes = 0;
  int m_Inside = 0;  // depth of the changes under way
  bool m_Fired = false;
};

qvt_Handle TaggedHandle(int i) { return static_cast<qvt_Handle>(i * 513 + 4); }
float TaggedFloat(int i) { return static_cast<float>(i) * 0.25f; }
// The text of record i, "" unless it is of a string kind.
std::string TaggedText(int i) {
  return i % 6 == 4 ? "pooled " + std::to_string(i % 11)
                    : std::string(i % 6 == 5 ? static_cast<std::size_t>(i % 13) : 0, 'f');
}
}  // namespace

std::vector<unsigned char> ObjectBytes(qvt_DatabaseReprFile& db, qvt_Handle handle) {
  std::unique_ptr<qvt_SpaceRepr> space(db.Space(handle, -1));
  std::vector<unsigned char> bytes(static_cast<std::size_t>(space->Length()));
  const int length = static_cast<int>(bytes.size());
  space->Seek(0);
  EXPECT_EQ(length > 0 ? space->Read(reinterpret_cast<char*>(bytes.data()), length) : 0, length);
  return bytes;
}

std::vector<std::uint32_t> Words(const std::vector<unsigned char>& bytes, std::size_t offset,
                                 std::size_t count) {
  std::vector<std::uint32_t> words;
  for (std::size_t i = 0; i < count; ++i) words.push_back(BE32(bytes, offset + 4 * i));
  return words;
}

int SweepFileFaults(const std::string& path, const FaultWriter& write, const FaultChecker& check) {
  int failFrom = 1;
  for (; failFrom < 100000; ++failFrom) {
    SCOPED_TRACE("failing from change " + std::to_string(failFrom));
    utl_RemoveFile(path);
    auto* faulty = new FaultyFile(path, failFrom);
    qvt_File file(faulty);
    int flushes = 0, created = -1;  // created: the flush count a completed creation stored
    {
      StderrCapture closingReports;  // outlives db, whose closing reports what fails
      auto db = std::make_unique<qvt_DatabaseReprFile>();
      try {
        db->Create(file, "TEST", "faults", 1);
        created = db->GetFlushCount();
        write(*db, &flushes);
      } catch (const nex_TextException& e) {
        EXPECT_EQ(e.AsString(), kFailure);
      }
    }
    if (!faulty->Fired()) return failFrom - 1;
    file = qvt_File();  // closed before it is read
    auto reader = std::make_unique<qvt_DatabaseReprFile>();
    try {
      reader->Open(qvt_File::Open(path, 0, true), "");
    } catch (const nex_Exception& e) {
      EXPECT_EQ(flushes, 0) << e.AsString();
      continue;
    }
    // Readers trust the stored count: a flush that failed after storing it
    // is whole on disk, one that failed before it is not announced.
    int announced = flushes;
    if (created >= 0) {
      announced = reader->GetFlushCount() - created;
      EXPECT_TRUE(announced == flushes || announced == flushes + 1) << announced << " after " << flushes;
    }
    check(*reader, announced);
  }
  ADD_FAILURE() << "the fault sweep does not end";
  return failFrom;
}

void WriteTaggedRecord(qvt_TaggedStreamRepr& s, int i) {
  const int kind = i % 6;
  if (kind == 0) s.WriteInt(i, -i);
  if (kind == 1) s.WriteHandle(i, TaggedHandle(i));
  if (kind == 2) s.WriteFloat(i, TaggedFloat(i));
  if (kind == 3) s.WriteDouble(i, i / 7.0);
  if (kind == 4) s.WriteString(i, TaggedText(i));
  if (kind == 5) s.WriteFixedString(i, TaggedText(i));
}

void ExpectTaggedRecord(const qvt_TaggedStreamRepr& s, int i) {
  static const qvt_Type kTypes[] = {qvt_TypeInt,    qvt_TypeHandle, qvt_TypeFloat,
                                    qvt_TypeDouble, qvt_TypeString, qvt_TypeFixedString};
  const int kind = i % 6;
  ASSERT_EQ(s.GetType(), kTypes[kind]) << "record " << i;
  EXPECT_EQ(std::make_tuple(s.GetID(), s.GetInt(), s.GetHandle(), s.GetFloat(), s.GetDouble(), s.GetString()),
            std::make_tuple(i, kind == 0 ? -i : 0, kind == 1 ? TaggedHandle(i) : 0u,
                            kind == 2 ? TaggedFloat(i) : 0.0f, kind == 3 ? i / 7.0 : 0.0, TaggedText(i)))
      << "record " << i;
}

}  // namespace qvt_test
