// Taking stock of a database's objects and comparing after each refresh.
#include "qvtdb_Follow.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "nex_Exception.h"
#include "qvt_File.h"
#include "qvt_FileRepr.h"
#include "qvtdb_Layout.h"
#include "qvtdb_Platform.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTrustUnchangedMs = 500;

template <class T, int N>
void ArrayState(qvt_Array<T, N> array, qvtdb_ObjectState* state) {
  state->count = array.Length();
  state->unit = "rows";
  state->label += " (" + std::to_string(array.FieldCount()) + " per row)";
}

std::string RecordValue(qvt_TaggedStream& stream) {
  switch (stream.GetType()) {
    case qvt_TypeInt: return std::to_string(stream.GetInt());
    case qvt_TypeHandle: return std::to_string(stream.GetHandle());
    case qvt_TypeFloat: return qvtdb_FormatFloat(stream.GetFloat());
    case qvt_TypeDouble: return qvtdb_FormatDouble(stream.GetDouble());
    default: return stream.GetString();
  }
}

std::string Plural(std::int64_t n, const char* unit) {
  std::string text = std::to_string(n) + " " + unit;
  if (n == 1 && text.back() == 's') text.pop_back();
  return text;
}

}  // namespace

qvtdb_Follower::qvtdb_Follower(const std::string& path, std::vector<qvtdb_StreamRecord>* initialRecords)
    : m_Path(path) {
  m_Seen = Signature();
  m_Identity = qvtdb_FileIdentity(path);
  m_Db = std::make_unique<qvtdb_OpenDatabase>(path);
  m_Compressed = qvtdb_Layout(m_Db->file).Compressed();
  TakeStock(initialRecords);
}

qvtdb_Follower::~qvtdb_Follower() {
  m_Streams.clear();  // before the database they belong to
}

bool qvtdb_Follower::Locked() const {
  std::error_code error;
  return fs::is_directory(qvt_FileRepr::TransactionLockName(m_Path), error);
}

std::string qvtdb_Follower::Signature() const {
  std::error_code error;
  const auto size = fs::file_size(m_Path, error);
  if (error) return std::string();
  const auto time = fs::last_write_time(m_Path, error);
  if (error) return std::string();
  return std::to_string(size) + "@" + std::to_string(time.time_since_epoch().count());
}

qvt_FileStatus::QvtFileStatus qvtdb_Follower::Status() {
  const std::string identity = qvtdb_FileIdentity(m_Path);
  if (!identity.empty() && identity != m_Identity) return qvt_FileStatus::Recreated;
  if (!m_Compressed) return m_Db->database.FileStatus();
  if (Locked()) return qvt_FileStatus::InTransaction;
  const std::string now = Signature();
  if (now.empty()) return qvt_FileStatus::CheckFailed;
  if (now == m_Seen) return qvt_FileStatus::Unchanged;
  try {
    if (qvt_Database::GetCreationTime(qvt_File::Open(m_Path, 0, true)) !=
        qvt_Database::GetCreationTime(m_Db->file)) {
      return qvt_FileStatus::Recreated;
    }
  } catch (const nex_Exception&) {
    return qvt_FileStatus::CheckFailed;
  }
  return qvt_FileStatus::Updated;
}

bool qvtdb_Follower::Reopen() {
  if (Locked()) return false;
  const std::string signature = Signature();
  // File times are coarse: two writes may leave the same size and time, so
  // an unchanged look is trusted only for a while.
  const auto now = std::chrono::steady_clock::now();
  if (signature == m_Seen && now - m_LastOpen < std::chrono::milliseconds(kTrustUnchangedMs)) return false;
  m_LastOpen = now;
  std::unique_ptr<qvtdb_OpenDatabase> fresh;
  try {
    fresh = std::make_unique<qvtdb_OpenDatabase>(m_Path);
  } catch (const nex_Exception&) {
    return false;  // caught between two writes: look again at the next poll
  }
  // A transaction that began meanwhile may have changed what was read.
  if (Locked() || Signature() != signature) return false;
  m_Seen = signature;
  if (fresh->database.GetFlushCount() == m_Db->database.GetFlushCount()) return false;
  m_Streams.clear();
  m_Db = std::move(fresh);
  return true;
}

bool qvtdb_Follower::Refresh(qvtdb_Changes* changes) {
  if (m_Compressed) {
    if (!Reopen()) return false;
  } else {
    if (m_Db->database.Snap() == 0) return false;
    m_Db->database.Bind();  // classes the writer stored since
  }
  changes->flushCount = m_Db->database.GetFlushCount();
  changes->before = m_Objects;
  TakeStock(&changes->records);
  for (const auto& entry : m_Objects) {
    const auto old = changes->before.find(entry.first);
    if (old == changes->before.end()) {
      changes->created.push_back(entry.first);
    } else if (entry.second.count > old->second.count) {
      changes->grown.push_back(entry.first);
    }
  }
  return true;
}

void qvtdb_Follower::TakeStock(std::vector<qvtdb_StreamRecord>* records) {
  // The linkage as the writer last flushed it, read afresh: the list of
  // spaces comes from it.
  const qvtdb_Layout layout(qvt_File::Open(m_Path, 0, true));
  qvt_Database& db = m_Db->database;
  std::map<qvt_Handle, qvtdb_ObjectState> objects;
  for (const qvt_Handle handle : layout.Spaces()) {
    // The file may already hold spaces the writer flushed after this
    // reader's last refresh; they wait for the next one.
    if (db.GetObjStatistics(handle).empty()) continue;
    qvtdb_ObjectState state;
    state.handleType = db.HandleType(handle);
    const std::string kind = qvtdb_ObjectKind(state.handleType);
    state.label = kind + " " + std::to_string(handle);
    switch (state.handleType) {
      case qvt_TypeTable: {
        qvt_Table table = db.Table(handle, -1, -1);
        state.label += " (class " + table.TableMetadata().Name() + ")";
        state.count = table.Length();
        state.unit = "rows";
        break;
      }
      case qvt_TypeInt: ArrayState(db.ArrayInt(handle, -1, 0), &state); break;
      case qvt_TypeFloat: ArrayState(db.ArrayFloat(handle, -1, 0), &state); break;
      case qvt_TypeDouble: ArrayState(db.ArrayDouble(handle, -1, 0), &state); break;
      case qvt_TypeString: ArrayState(db.ArrayString(handle, -1, 0), &state); break;
      case qvt_TypeTaggedStream: {
        // Records already told about are read again only by a stream that
        // had to be opened anew; they are not told twice.
        const auto known = m_Objects.find(handle);
        const std::int64_t told = known == m_Objects.end() ? 0 : known->second.count;
        auto& stream = m_Streams[handle];
        std::int64_t index = 0;
        if (!stream) {
          stream = std::make_unique<qvt_TaggedStream>(db.TaggedStream(handle, 0));
        } else {
          stream->Snap();
          index = told;
        }
        while (stream->Next()) {
          if (records && index >= told) {
            records->push_back({handle, stream->GetType(), stream->GetID(), RecordValue(*stream)});
          }
          ++index;
        }
        state.count = index;
        state.unit = "records";
        break;
      }
      default: {
        const std::string role = qvtdb_FixedSpaceRole(handle);
        if (!role.empty()) state.label += " (" + role + ")";
        state.count = db.Space(handle, -1).Length();
        break;
      }
    }
    objects[handle] = state;
  }
  m_Objects.swap(objects);
}

std::unique_ptr<qvtdb_Follower> qvtdb_FollowWhenReadable(const std::string& path, double patienceSeconds,
                                                         std::vector<qvtdb_StreamRecord>* initialRecords) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    try {
      if (initialRecords) initialRecords->clear();
      return std::make_unique<qvtdb_Follower>(path, initialRecords);
    } catch (const nex_Exception&) {
      if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= patienceSeconds) throw;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::vector<std::string> qvtdb_DescribeChanges(const qvtdb_Follower& follower, const qvtdb_Changes& changes,
                                               bool withRecords) {
  std::vector<std::string> lines;
  const auto& now = follower.Objects();
  for (const qvt_Handle handle : changes.created) {
    const qvtdb_ObjectState& state = now.at(handle);
    lines.push_back("new " + state.label + ", " + Plural(state.count, state.unit));
  }
  for (const qvt_Handle handle : changes.grown) {
    const qvtdb_ObjectState& state = now.at(handle);
    const std::int64_t added = state.count - changes.before.at(handle).count;
    lines.push_back(state.label + ": +" + Plural(added, state.unit) + ", now " + std::to_string(state.count));
  }
  if (!withRecords) return lines;
  for (const qvtdb_StreamRecord& record : changes.records) {
    lines.push_back("  record of stream " + std::to_string(record.stream) + ": " + qvtdb_TypeName(record.type) +
                    " id " + std::to_string(record.id) + " = " + record.value);
  }
  return lines;
}

std::string qvtdb_StatusName(qvt_FileStatus::QvtFileStatus status) {
  switch (status) {
    case qvt_FileStatus::Unchanged: return "unchanged";
    case qvt_FileStatus::Recreated: return "re-created";
    case qvt_FileStatus::Updated: return "updated";
    case qvt_FileStatus::CheckFailed: return "check failed";
    case qvt_FileStatus::InTransaction: return "in transaction";
  }
  return "status " + std::to_string(static_cast<int>(status));
}
