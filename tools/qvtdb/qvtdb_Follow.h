// Following a database while another process writes it, as watch and the
// demo's reader do: poll the file's status, refresh with Snap, and tell what
// the refresh brought (new objects, more rows, more bytes, new records of
// tagged streams).
#ifndef QVT_TOOLS_QVTDB_QVTDB_FOLLOW_H
#define QVT_TOOLS_QVTDB_QVTDB_FOLLOW_H

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qvtdb_Database.h"

struct qvtdb_ObjectState {
  int handleType = qvt_TypeOther;
  std::string label;         // "table 5 (class frames)", "double array 9", ...
  std::int64_t count = 0;    // rows of a table or an array, records of a stream, bytes of a space
  const char* unit = "bytes";
};

struct qvtdb_StreamRecord {
  qvt_Handle stream = 0;
  int type = 0;
  int id = 0;
  std::string value;  // as text
};

struct qvtdb_Changes {
  int flushCount = 0;
  std::vector<qvt_Handle> created;  // objects that were not there before
  std::vector<qvt_Handle> grown;    // objects whose count grew
  std::map<qvt_Handle, qvtdb_ObjectState> before;
  std::vector<qvtdb_StreamRecord> records;  // new records of tagged streams, in order
};

// A plain file tells its readers about the writer (the status check) and
// refreshes in place (Snap). A file removed and created anew under the same
// name is reported re-created: an open file would go on reading the old one. A compressed file does neither: its status is
// always unchanged and an open one keeps its header decoded. For it the
// follower watches the file's size and time and the writer's transaction
// lock, and refreshes by opening the database again once no transaction is
// under way.
class qvtdb_Follower {
 public:
  // Opens the database read-only and takes stock of its objects; the
  // records its tagged streams already hold go to initialRecords when given.
  // THROWS what opening throws.
  explicit qvtdb_Follower(const std::string& path, std::vector<qvtdb_StreamRecord>* initialRecords = nullptr);
  ~qvtdb_Follower();
  qvtdb_Follower(const qvtdb_Follower&) = delete;
  qvtdb_Follower& operator=(const qvtdb_Follower&) = delete;

  qvt_FileStatus::QvtFileStatus Status();
  // Refreshes; answers false when the writer has not flushed since (or is
  // in a transaction), else true with what changed.
  bool Refresh(qvtdb_Changes* changes);
  int FlushCount() const { return m_Db->database.GetFlushCount(); }
  const std::map<qvt_Handle, qvtdb_ObjectState>& Objects() const { return m_Objects; }
  // The database as of the last refresh; a compressed file's is a new one
  // after each refresh.
  qvt_Database& Database() { return m_Db->database; }
  bool Compressed() const { return m_Compressed; }

 private:
  void TakeStock(std::vector<qvtdb_StreamRecord>* records);
  bool Reopen();
  bool Locked() const;
  // Size and modification time of a compressed file, to notice writes.
  std::string Signature() const;

  std::string m_Path;
  std::string m_Identity;  // of the file opened; another one means re-created
  bool m_Compressed = false;
  std::string m_Seen;  // Signature() as of the last refresh
  std::chrono::steady_clock::time_point m_LastOpen = std::chrono::steady_clock::now();
  std::unique_ptr<qvtdb_OpenDatabase> m_Db;
  std::map<qvt_Handle, qvtdb_ObjectState> m_Objects;
  // Streams stay open so that each refresh reads only their new records.
  std::map<qvt_Handle, std::unique_ptr<qvt_TaggedStream>> m_Streams;
};

// A follower of path, opened as soon as the database opens: a writer in the
// middle of a flush may leave it unreadable for a moment. THROWS what
// opening throws once patienceSeconds have passed.
std::unique_ptr<qvtdb_Follower> qvtdb_FollowWhenReadable(const std::string& path, double patienceSeconds,
                                                         std::vector<qvtdb_StreamRecord>* initialRecords = nullptr);

// One line per change: "new table 9 (class fields), 0 rows", "table 5
// (class frames): +1 row, now 4", "tagged stream 8: +2 records, now 6",
// then, with withRecords, the new records themselves.
std::vector<std::string> qvtdb_DescribeChanges(const qvtdb_Follower& follower, const qvtdb_Changes& changes,
                                               bool withRecords);
std::string qvtdb_StatusName(qvt_FileStatus::QvtFileStatus status);

#endif  // QVT_TOOLS_QVTDB_QVTDB_FOLLOW_H
