// qvtdb compress / decompress: copies a database into a new file of the
// other kind through qvt_File::Copy (either accepts a source of either kind). The copy goes to a scratch name beside
// the target and takes the target's name only once it is complete, so a
// failed conversion never leaves a half-written target nor harms an old one.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <system_error>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_FileException.h"
#include "qvt_FileRepr.h"
#include "qvtdb_Platform.h"
#include "qvtdb_Progress.h"
#include "qvtdb_Tool.h"

namespace fs = std::filesystem;

namespace {

// A read-only view of a source file that reports how far the copy has read.
// Every byte still comes from the source's own Read.
class CountingSource : public qvt_FileRepr {
 public:
  CountingSource(const qvt_File& source, std::function<void(std::int64_t)> onRead)
      : qvt_FileRepr(source.FileName()), m_Source(source), m_OnRead(std::move(onRead)) {
    m_LogicalLength = m_Source.Repr()->Length();
    m_Allocation = m_LogicalLength;
    m_Position = m_Source.Repr()->Location();
  }
  bool ReadOnly() const override { return true; }
  void Seek(utl_FileOffset offset) override {
    m_Source.Repr()->Seek(offset);
    m_Position = offset;
  }
  void Flush() override {}
  bool Extend(utl_FileOffset) override { NEX_THROW(qvt_FileReadOnlyExc(m_Name)); }
  int Read(char* buffer, int count) override {
    const int n = m_Source.Repr()->Read(buffer, count);
    m_Position += n;
    m_OnRead(m_Position);
    return n;
  }
  int Write(const char*, int) override { NEX_THROW(qvt_FileReadOnlyExc(m_Name)); }
  bool ExtendFile(utl_FileOffset) override { NEX_THROW(qvt_FileReadOnlyExc(m_Name)); }
  void TrimToLength() override { NEX_THROW(qvt_FileReadOnlyExc(m_Name)); }

 private:
  qvt_File m_Source;
  std::function<void(std::int64_t)> m_OnRead;
};

// Removes a scratch file if there is one; false when it is there still.
bool RemoveScratch(const std::string& path) {
  std::error_code error;
  fs::remove(path, error);
  return !error;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

}  // namespace

int qvtdb_Convert(const qvtdb_ConvertOptions& options) {
  const std::string& dst = options.destination;
  // The source must be a database the library opens, and no writer may be
  // changing it, or the copy would be torn. Opening first also reports a
  // missing or unreadable source in the library's words.
  {
    qvt_Database database = qvt_Database::Open(qvt_File::Open(options.source, 0, true), "");
    if (database.FileStatus() == qvt_FileStatus::InTransaction) {
      throw qvtdb_Failure("a writer is changing " + options.source + " now (its transaction lock exists); try again "
                          "when it has finished");
    }
  }
  qvt_File source = qvt_File::Open(options.source, 0, true);
  std::error_code error;
  if (fs::exists(dst, error)) {
    if (SameFile(options.source, dst)) {
      throw qvtdb_Failure("source and target are the same file: " + dst);
    }
    if (!options.force) throw qvtdb_Failure(dst + " exists; add --force to overwrite it");
    if (fs::is_directory(dst, error)) throw qvtdb_Failure(dst + " is a folder");
  }

  const std::int64_t total = source.Repr()->Length();
  const bool draw = options.progress == "always" || (options.progress == "auto" && qvtdb_StderrIsTerminal());
  const std::string partial = dst + ".qvtdb-partial";
  if (!RemoveScratch(partial)) throw qvtdb_Failure("cannot remove " + partial + ", left by an earlier run");
  try {
    qvt_File target = options.compress ? qvt_File::CreateCompressed(partial) : qvt_File::Open(partial, 2, false);
    {
      qvtdb_Progress progress(options.compress ? "compress" : "decompress", total, draw);
      qvt_File counted(new CountingSource(source, [&progress](std::int64_t done) { progress.Update(done); }));
      target.Copy(counted);
      // Written out here, not in a destructor, so that a failure is reported.
      target.Repr()->Flush();
      progress.Finish();
    }
  } catch (...) {
    if (!RemoveScratch(partial)) std::cerr << "qvtdb: " << partial << " could not be removed" << std::endl;
    throw;
  }
  fs::rename(partial, dst, error);
  if (error) {
    const std::string reason = error.message();
    if (!RemoveScratch(partial)) std::cerr << "qvtdb: " << partial << " could not be removed" << std::endl;
    throw qvtdb_Failure("cannot rename " + partial + " to " + dst + ": " + reason);
  }
  std::cout << (options.compress ? "compressed " : "decompressed ") << options.source << " (" << total
            << " bytes) into " << dst << " (" << fs::file_size(dst, error) << " bytes)" << std::endl;
  return qvtdb_ExitOk;
}
