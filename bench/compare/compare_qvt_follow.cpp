// qvt's writer and following reader: the writer adds one row per
// transaction and flushes the table and the database; the reader polls
// FileStatus and, once the writer has flushed and left its transaction,
// refreshes with Snap and reads the new rows.
#include <exception>

#include "compare_systems.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_ReaderSemaphoreProxy.h"

namespace compare {
namespace {

const char kTypeCode[] = "FLLW";

qvt_TableMetadata FollowClass() {
  qvt_TableMetadata md("Follow", 1);
  md.DefineIntField("seq");       // index 0
  md.DefineDoubleField("stamp");  // index 1
  return md;
}

class QvtWriter : public FollowWriter {
 public:
  explicit QvtWriter(const std::string& path)
      : m_Database(qvt_Database::Create(qvt_File::Open(path, 2, false), kTypeCode, "follow", 0)),
        m_Table(m_Database.Table(FollowClass(), 4096, -1)) {
    m_Table.Flush();
    m_Database.Flush();
  }

  void Append(const FollowRow& row) override {
    try {
      qvt_ReaderSemaphoreProxy transaction(m_Database);
      qvt_Row added = m_Table.NewRow();
      added.WriteFieldInt(0, row.seq);
      added.WriteFieldDouble(1, row.stamp);
      m_Table.Flush();
      m_Database.Flush();
    } catch (const std::exception& e) {
      Fail(std::string("qvt follow writer: ") + e.what());
    }
  }

 private:
  qvt_Database m_Database;  // declared first: destroyed after the table
  qvt_Table m_Table;
};

class QvtReader : public FollowReader {
 public:
  explicit QvtReader(const std::string& path)
      : m_Database(qvt_Database::Open(qvt_File::Open(path, 0, true), kTypeCode)),
        m_Table((m_Database.Bind(), m_Database.Table(m_Database.RootTableHandle(), -1, -1))) {}

  void Poll(std::vector<FollowRow>* rows) override {
    try {
      const qvt_FileStatus::QvtFileStatus status = m_Database.FileStatus();
      if (status == qvt_FileStatus::Updated) m_Pending = true;
      if (!m_Pending || status == qvt_FileStatus::InTransaction) return;
      // Snap brings nothing when the writer is back inside a transaction
      // (the status check raced with its lock) or when an earlier Snap
      // took this flush up already: try again until one brings something.
      if (m_Database.Snap() == 0) return;
      m_Pending = false;
      m_Table.Snap();
      for (; m_Seen < m_Table.Length(); ++m_Seen) {
        qvt_Row row = m_Table.ReadRow(m_Seen);
        rows->push_back(FollowRow{row.ReadFieldInt(0), row.ReadFieldDouble(1)});
      }
    } catch (const std::exception& e) {
      Fail(std::string("qvt follow reader: ") + e.what());
    }
  }

 private:
  qvt_Database m_Database;
  qvt_Table m_Table;
  bool m_Pending = false;
  int m_Seen = 0;
};

template <class Object>
std::unique_ptr<Object> Make(const char* what, const std::string& path) {
  try {
    return std::make_unique<Object>(path);
  } catch (const std::exception& e) {
    Fail(std::string(what) + ": " + e.what());
  }
}

}  // namespace

std::unique_ptr<FollowWriter> QvtFollowWriter(const std::string& path) {
  return Make<QvtWriter>("qvt follow writer", path);
}

std::unique_ptr<FollowReader> QvtFollowReader(const std::string& path) {
  return Make<QvtReader>("qvt follow reader", path);
}

}  // namespace compare
