// Reading one object to its end; see qvtdb_ReadObject.h.
#include "qvtdb_ReadObject.h"

#include <string>
#include <vector>

#include "nex_Exception.h"
#include "qvt_FieldHandle.h"

namespace {

constexpr int kChunk = 65536;

void ReadTable(qvt_Database& database, qvt_Handle handle) {
  qvt_Table table = database.Table(handle, -1, -1);
  std::vector<const qvt_FieldMetadata*> fields;
  for (const auto& entry : table.TableMetadata().FieldMap()) {
    if (entry.second.Present()) fields.push_back(&entry.second);
  }
  const int rows = table.Length();
  for (int r = 0; r < rows; ++r) {
    qvt_Row row = table.ReadRow(r);
    for (const qvt_FieldMetadata* field : fields) {
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

template <class T, int N>
void ReadArray(qvt_Array<T, N> array) {
  // The field count comes from the file: a damaged one in the millions must
  // not size a batch of hundreds of rows, so wide rows are read one by one.
  const int perRow = array.FieldCount();
  const int batchRows = perRow <= 4096 ? 256 : 1;
  const std::int64_t expected = static_cast<std::int64_t>(array.Length()) * perRow;
  if (expected == 0) return;
  std::vector<T> values(static_cast<std::size_t>(perRow) * batchRows);
  std::int64_t got = 0;
  array.Seek(0);
  for (;;) {
    const int n = array.Read(values.data(), batchRows);
    got += n;
    if (n < batchRows * perRow) break;
  }
  if (got != expected) {
    NEX_THROW_TEXT("the array reads " + std::to_string(got) + " values, not the " + std::to_string(expected) +
                   " of its length");
  }
}

void ReadTaggedStream(qvt_Database& database, qvt_Handle handle) {
  qvt_TaggedStream stream = database.TaggedStream(handle, 0);
  while (stream.Next()) {
    if (stream.GetType() == qvt_TypeString) (void)stream.GetString();
  }
}

void ReadSpace(qvt_Database& database, qvt_Handle handle) {
  qvt_Space space = database.Space(handle, -1);
  std::vector<char> buffer(kChunk);
  const utl_FileOffset length = space.Length();
  utl_FileOffset done = 0;
  while (done < length) {
    const int n = space.Read(buffer.data(), kChunk);
    if (n <= 0) break;
    done += n;
  }
  if (done != length) {
    NEX_THROW_TEXT("the space holds " + std::to_string(done) + " bytes, not the " + std::to_string(length) +
                   " its linkage gives");
  }
}

}  // namespace

void qvtdb_ReadObject(qvt_Database& database, qvt_Handle handle) {
  switch (database.HandleType(handle)) {
    case qvt_TypeTable:
      ReadTable(database, handle);
      break;
    case qvt_TypeTaggedStream:
      ReadTaggedStream(database, handle);
      break;
    case qvt_TypeInt:
      ReadArray(database.ArrayInt(handle, -1, 0));
      break;
    case qvt_TypeFloat:
      ReadArray(database.ArrayFloat(handle, -1, 0));
      break;
    case qvt_TypeDouble:
      ReadArray(database.ArrayDouble(handle, -1, 0));
      break;
    case qvt_TypeString:
      ReadArray(database.ArrayString(handle, -1, 0));
      break;
    default:
      ReadSpace(database, handle);
      break;
  }
}
