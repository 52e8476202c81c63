// qvtdb check: runs the checker and reports. A sound file gets one summary
// line and exit status 0; otherwise every problem is listed, then their
// number, and the exit status is 1.
#include "qvtdb_Check.h"

#include <exception>
#include <iostream>
#include <new>

#include "nex_Exception.h"
#include "qvt_File.h"
#include "qvtdb_Tool.h"

qvtdb_Checker::qvtdb_Checker(const std::string& path) : m_Path(path) {}

qvtdb_Checker::~qvtdb_Checker() = default;

void qvtdb_Checker::Run() {
  try {
    // What opening throws is the library's word on the file (missing,
    // unreadable, a compressed container it cannot read).
    const qvt_File file = qvt_File::Open(m_Path, 0, true);
    m_Layout = std::make_unique<qvtdb_Layout>(file);
    for (const std::string& problem : m_Layout->Problems()) Problem(problem);
    if (!m_Layout->HasHeader() || !m_Layout->LinkageSound()) return;
    const std::size_t before = m_Problems.size();
    CheckStringPool();
    CheckMetadataPool();
    m_PoolsSound = m_Problems.size() == before;
    for (const qvt_Handle handle : m_Layout->Spaces()) {
      if (handle > 3) CheckObject(handle);
    }
    // Past the raw checks, the library's own reading has its say, as long as
    // the header names a database it can open at all.
    if (m_PoolsSound && m_Layout->HeaderOpenable()) {
      ReadThroughLibrary();
    }
  } catch (const nex_Exception& e) {
    Problem(e.AsString());
  } catch (const std::bad_alloc&) {
    Problem("out of memory while checking (a size in the file is far too large)");
  } catch (const std::exception& e) {
    Problem(e.what());
  }
}

std::string qvtdb_Checker::Summary() const {
  std::string kinds;
  int objects = 0;
  for (const auto& entry : m_Kinds) {
    kinds += (kinds.empty() ? "" : ", ") + std::to_string(entry.second) + " " + entry.first +
             (entry.second == 1 ? "" : "s");
    objects += entry.second;
  }
  std::string summary = m_Path + ": sound " + m_Layout->KindName() + " database, " +
                        std::to_string(objects) + " objects";
  if (!kinds.empty()) summary += " (" + kinds + ")";
  summary += ", " + std::to_string(m_Layout->FileLength()) + " bytes, flush count " +
             std::to_string(m_Layout->Header().flushCount);
  return summary;
}

int qvtdb_Check(const std::string& file) {
  qvtdb_Checker checker(file);
  checker.Run();
  if (checker.Problems().empty()) {
    std::cout << checker.Summary() << std::endl;
    return qvtdb_ExitOk;
  }
  for (const std::string& problem : checker.Problems()) std::cout << file << ": " << qvtdb_OneLine(problem) << '\n';
  std::cout << file << ": " << qvtdb_Count(static_cast<std::int64_t>(checker.Problems().size()), "problem", "problems")
            << " found" << std::endl;
  return qvtdb_ExitProblem;
}
