// The public file handle: path tests, the choice of file kind, the
// informational lines and the block copy between two files.
#include "qvt_File.h"

#include <cstdio>
#include <memory>

#include "qvt_FileException.h"
#include "qvt_FileKinds.h"
#include "qvt_FileRepr.h"
#include "qvt_FileReprEncoded.h"
#include "qvt_FileReprLocal.h"
#include "utl_File.h"
#include "utl_UrlParser.h"

namespace {
const char kLogVariable[] = "KVR_QVT_LOGIFY";
constexpr int kCopyBlock = 4096;

void Inform(const char* line) {
  if (!utl_GetEnv(kLogVariable)) return;
  std::fputs(line, stderr);
  std::fflush(stderr);
}

qvt_File OpenForReading(const cow_String& name, const cow_String& password) {
  const utl_FilePath path(name, cow_String());
  if (!path.Exists()) NEX_THROW(qvt_FileNoSuchFile(name));
  if (!path.IsReadable()) NEX_THROW(qvt_FileNotReadable(name));
  if (utl_UrlParser::IsUrl(name)) return qvt_File(qvt_OpenRemoteFile(name, password));
  if (qvt_FileReprEncoded::IsCompressedFile(name)) {
    Inform("*** Informational: Opening Compressed File based MDB.\n");
    return qvt_File(qvt_OpenEncodedFile(name, utl_FileAccessRead));
  }
  Inform("*** Informational: Opening File based ODB.\n");
  return qvt_File(new qvt_FileReprLocal(name, utl_FileAccessRead, true));
}

// Builds a writer's file; the writer lock another one holds becomes the
// file exception that names the file.
template <typename Build>
qvt_File AsOnlyWriter(const cow_String& name, Build build) {
  try {
    return build();
  } catch (const utl_FileExceptionLocked&) {
    NEX_THROW(qvt_FileWriterLockedExc(name));
  }
}

qvt_File OpenForUpdate(const cow_String& name, bool flag) {
  if (utl_UrlParser::IsUrl(name)) NEX_THROW(qvt_FileReadOnlyExc(name));
  const utl_FilePath path(name, cow_String());
  if (!path.Exists()) NEX_THROW(qvt_FileNoSuchFile(name));
  if (!path.IsWriteable()) NEX_THROW(qvt_FileReadOnlyExc(name));
  if (qvt_FileReprEncoded::IsCompressedFile(name)) {
    Inform("*** Informational: Updating Compressed File based MDB.\n");
    return AsOnlyWriter(name, [&] { return qvt_File(qvt_OpenEncodedFile(name, utl_FileAccessUpdate)); });
  }
  Inform("*** Informational: Updating File based ODB.\n");
  return AsOnlyWriter(name, [&] { return qvt_File(new qvt_FileReprLocal(name, utl_FileAccessUpdate, flag)); });
}

qvt_File Create(const cow_String& name, bool flag) {
  if (utl_UrlParser::IsUrl(name)) NEX_THROW(qvt_FileReadOnlyExc(name));
  Inform("*** Informational: Creating File based ODB.\n");
  return AsOnlyWriter(name, [&] { return qvt_File(new qvt_FileReprLocal(name, utl_FileAccessCreate, flag)); });
}
}  // namespace

qvt_File::qvt_File() = default;

qvt_File::qvt_File(qvt_FileRepr* repr) : m_Repr(repr) {}

qvt_File::qvt_File(const qvt_File& other) = default;

qvt_File& qvt_File::operator=(const qvt_File& other) = default;

qvt_File::~qvt_File() = default;

qvt_File qvt_File::Open(const cow_String& name, int access, bool flag) {
  switch (access) {
    case utl_FileAccessRead:
      return OpenForReading(name, cow_String());
    case utl_FileAccessUpdate:
      return OpenForUpdate(name, flag);
    case utl_FileAccessCreate:
      return Create(name, flag);
    default:
      NEX_THROW(nex_AssertException("Incorrect file access."));
  }
}

qvt_File qvt_File::Open(const cow_String& name, cow_String password) { return OpenForReading(name, password); }

qvt_File qvt_File::CreateCompressed(const cow_String& name) {
  if (utl_UrlParser::IsUrl(name)) NEX_THROW(qvt_FileReadOnlyExc(name));
  Inform("*** Informational: Creating Compressed File based MDB.\n");
  return AsOnlyWriter(name, [&] { return qvt_File(qvt_CreateEncodedFile(name)); });
}

void qvt_File::Copy(const qvt_File& source) {
  qvt_FileRepr* to = m_Repr.Get();
  qvt_FileRepr* from = source.m_Repr.Get();
  NEX_ASSERT(to != nullptr && from != nullptr);
  // A file copied into itself would read back its own writes; refuse it.
  if (to == from) NEX_THROW(qvt_FileBadParameterExc("qvt_File::Copy"));
  // Refused before the source moves, so a failed copy changes nothing.
  if (to->ReadOnly()) NEX_THROW(qvt_FileReadOnlyExc(to->FileName()));
  char block[kCopyBlock];
  for (;;) {
    const int n = from->Read(block, kCopyBlock);
    if (n <= 0) break;
    if (to->Write(block, n) != n) NEX_THROW_TEXT("***ERROR: Write operation failed.");
  }
}

bool qvt_File::ReadOnly() const {
  NEX_ASSERT(m_Repr);
  return m_Repr->ReadOnly();
}

const cow_String& qvt_File::FileName() const {
  NEX_ASSERT(m_Repr);
  return m_Repr->FileName();
}
