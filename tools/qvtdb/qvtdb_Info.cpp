// qvtdb info: the kind of file, its header fields, the database statistics
// and how many objects of each type it holds.
#include <iostream>
#include <map>

#include "nex_Exception.h"
#include "qvtdb_Database.h"
#include "qvtdb_Info.h"
#include "qvtdb_Layout.h"
#include "qvtdb_Objects.h"
#include "qvtdb_Tool.h"

int qvtdb_PrintInfo(const std::string& file, std::ostream& out) {
  qvtdb_OpenDatabase db(file);
  const qvtdb_Layout layout(db.file);
  const qvt_DatabaseHeader& header = layout.Header();
  out << "file          " << file << '\n'
      << "kind          " << layout.KindName() << '\n'
      << "length        " << layout.FileLength() << " bytes" << (layout.Compressed() ? " (uncompressed)" : "")
      << '\n'
      << "type code     " << (header.typeCode.empty() ? "(none)" : header.typeCode) << '\n'
      << "version       " << header.version << '\n'
      << "description   " << db.database.Description().c_str() << '\n'
      << "created       " << qvtdb_FormatTime(qvt_Database::GetCreationTime(db.file)) << '\n'
      << "flush count   " << db.database.GetFlushCount() << '\n';
  switch (qvtdb_TransactionLockState(file)) {
    case qvtdb_LockAbsent:
      break;
    case qvtdb_LockHeld:
      out << "transaction   in progress\n";
      break;
    case qvtdb_LockStale:
      out << "transaction   " << qvtdb_StaleLockNote(file) << '\n';
      break;
  }

  out << "statistics\n";
  // "Name (unit)=   value": the value without its padding.
  for (const cow_String& line : db.database.GetDBStatistics()) {
    const std::size_t equals = line.find('=');
    std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    value.erase(0, value.find_first_not_of(' '));
    out << "  " << line.substr(0, equals) << (equals == std::string::npos ? "" : " = ") << value << '\n';
  }

  int status = qvtdb_ExitOk;
  std::map<std::string, int> byKind;
  for (const qvt_Handle handle : layout.Spaces()) {
    try {
      ++byKind[qvtdb_ObjectKind(db.database.HandleType(handle))];
    } catch (const nex_Exception&) {
      ++byKind["unreadable"];
      status = qvtdb_ExitProblem;
    }
  }
  out << "objects       " << layout.Spaces().size() << '\n';
  for (const auto& entry : byKind) {
    out << "  " << entry.first << std::string(entry.first.size() < 14 ? 14 - entry.first.size() : 1, ' ')
        << entry.second << '\n';
  }
  out.flush();
  if (!layout.Problems().empty()) {
    std::cerr << qvtdb_StructureNote(file, static_cast<std::int64_t>(layout.Problems().size())) << std::endl;
    status = qvtdb_ExitProblem;
  }
  return status;
}

int qvtdb_Info(const std::string& file) { return qvtdb_PrintInfo(file, std::cout); }
