// Reading a whole database for the fuzz targets.
#include "qvt_FuzzRead.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_FieldHandle.h"

namespace qvt_fuzz {
namespace {

// QVT_FUZZ_VERBOSE set: each refusal on standard error, to see how deep an
// input reaches.
void Refused(const nex_Exception& e) {
  if (std::getenv("QVT_FUZZ_VERBOSE") != nullptr) std::fprintf(stderr, "refused: %s\n", e.what());
}

void ReadTable(qvt_Database& db, qvt_Handle handle) {
  qvt_Table table = db.Table(handle, -1, -1);
  std::vector<const qvt_FieldMetadata*> fields;
  for (const auto& entry : table.TableMetadata().FieldMap()) fields.push_back(&entry.second);
  for (int r = 0; r < table.Length(); ++r) {
    qvt_Row row = table.ReadRow(r);
    for (const qvt_FieldMetadata* field : fields) {
      if (!field->Present()) continue;
      const qvt_FieldHandle fh(field->Index());
      if (!row.DataIsPresent(fh)) continue;
      switch (field->Type()) {
        case qvt_TypeInt: (void)row.ReadFieldInt(fh); break;
        case qvt_TypeHandle: (void)row.ReadFieldHandle(fh); break;
        case qvt_TypeFloat: (void)row.ReadFieldFloat(fh); break;
        case qvt_TypeDouble: (void)row.ReadFieldDouble(fh); break;
        default: (void)row.ReadFieldString(fh); break;
      }
    }
  }
}

// A caller's buffer holds whole rows; a row exists only when the file
// backs all of its values, so an array without rows is not read at all.
template <class T, int N>
void ReadArray(qvt_Array<T, N> array) {
  if (array.Length() <= 0) return;
  const int rows = array.FieldCount() <= 4096 ? 64 : 1;
  std::vector<T> values(static_cast<std::size_t>(array.FieldCount()) * rows);
  array.Seek(0);
  while (array.Read(values.data(), rows) == static_cast<int>(values.size())) {
  }
}

void ReadStream(qvt_Database& db, qvt_Handle handle) {
  qvt_TaggedStream stream = db.TaggedStream(handle, 0);
  while (stream.Next()) {
    if (stream.GetType() == qvt_TypeString) (void)stream.GetString();
  }
}

void ReadSpace(qvt_Database& db, qvt_Handle handle) {
  qvt_Space space = db.Space(handle, -1);
  std::vector<char> buffer(4096);
  while (space.Read(buffer.data(), static_cast<int>(buffer.size())) > 0) {
  }
}

void ReadObject(qvt_Database& db, qvt_Handle handle) {
  switch (db.HandleType(handle)) {
    case qvt_TypeTable: ReadTable(db, handle); break;
    case qvt_TypeTaggedStream: ReadStream(db, handle); break;
    case qvt_TypeInt: ReadArray(db.ArrayInt(handle, -1, 0)); break;
    case qvt_TypeFloat: ReadArray(db.ArrayFloat(handle, -1, 0)); break;
    case qvt_TypeDouble: ReadArray(db.ArrayDouble(handle, -1, 0)); break;
    case qvt_TypeString: ReadArray(db.ArrayString(handle, -1, 0)); break;
    default: ReadSpace(db, handle); break;
  }
}

}  // namespace

void ReadEverything(const std::string& name) {
  try {
    qvt_Database db = qvt_Database::Open(qvt_File::Open(name.c_str(), 0, true), "");
    db.Bind();
    for (const qvt_Handle handle : db.ObjectHandles()) {
      try {
        ReadObject(db, handle);
      } catch (const nex_Exception& e) {
        Refused(e);  // a damaged object: the others are still read
      }
    }
  } catch (const nex_Exception& e) {
    Refused(e);
  }
}

const std::string& WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot create " + path);
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) {
    throw std::runtime_error("cannot write " + path);
  }
  return path;
}

std::string ScratchPath(const std::string& name) {
  return "/tmp/qvt-fuzz-" + std::to_string(::getpid()) + "-" + name;
}

}  // namespace qvt_fuzz
