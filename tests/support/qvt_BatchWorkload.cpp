// The batch writer and its checking reader.
#include "qvt_BatchWorkload.h"

#include <stdexcept>
#include <vector>

#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_ObjectShapes.h"
#include "qvt_ReaderSemaphoreProxy.h"

namespace qvt_test {

namespace {
constexpr qvt_Handle kTableHandle = 4;
constexpr qvt_Handle kStreamHandle = 5;

cow_String Label(int batch) { return "batch " + std::to_string(batch) + (batch % 3 ? " of many" : ""); }
double Value(int batch, int i) { return batch * 1.5 + i; }
int Texts(int batch) { return 1 + batch % 5; }
// Now and then a batch brings a large array, so that the file grows past
// whole MiB steps both early in a new file and after batch 250.
bool Large(int batch) { return batch % 8 == 5 && (batch < 24 || batch >= 250); }
int Rows(int batch) { return Large(batch) ? 37500 : Texts(batch); }

qvt_TableMetadata BatchClass() {
  return Shape("batches", {{"n", qvt_TypeInt},
                           {"label", qvt_TypeString},
                           {"doubles", qvt_TypeHandle},
                           {"strings", qvt_TypeHandle}});
}

void WriteOne(qvt_Database& db, qvt_Table& table, qvt_TaggedStream& stream, int batch) {
  qvt_ReaderSemaphoreProxy transaction(db);
  qvt_Array<double, 4> doubles = db.ArrayDouble(2, 16, Large(batch) ? 1 << 18 : 0);
  qvt_Array<cow_String, 6> strings = db.ArrayString(1, -1, 0);
  std::vector<double> values;
  std::vector<cow_String> texts;
  for (int i = 0; i < Rows(batch); ++i) values.insert(values.end(), {Value(batch, i), -Value(batch, i)});
  for (int i = 0; i < Texts(batch); ++i) texts.push_back(Label(batch + i));
  doubles.Write(values.data(), Rows(batch));
  strings.Write(texts.data(), Texts(batch));
  doubles.Flush();
  strings.Flush();
  qvt_Row row = table.NewRow();
  row.WriteFieldInt("n", batch);
  row.WriteFieldString("label", Label(batch));
  row.WriteFieldHandle("doubles", doubles.Handle());
  row.WriteFieldHandle("strings", strings.Handle());
  stream.WriteInt(batch, batch * 7);
  stream.WriteString(batch, Label(batch));
  table.Flush();
  stream.Flush();
  db.Flush();
}
}  // namespace

void WriteBatches(const std::string& path, bool compressed, bool create, int lastBatch,
                  const std::function<void(int)>& flushed) {
  qvt_File file = !create      ? qvt_File::Open(path, 1, true)
                  : compressed ? qvt_File::CreateCompressed(path)
                               : qvt_File::Open(path, 2, false);
  qvt_Database db = create ? qvt_Database::Create(file, "BTCH", "batches of a killed writer", 1800000000)
                           : qvt_Database::Open(file, "BTCH");
  create ? (void)db.Bind(BatchClass()) : db.Bind();
  qvt_Table table = create ? db.Table(BatchClass(), 64, -1) : db.Table(kTableHandle, 64, -1);
  qvt_TaggedStream stream = create ? db.TaggedStream(0) : db.TaggedStream(kStreamHandle, 0);
  if (create) {
    table.Flush();
    stream.Flush();
    db.Flush();
  }
  if (create && flushed) flushed(0);
  while (!create && stream.Next()) {
  }  // an opened stream stands at its first record; batches go after the last
  for (int batch = table.Length(); batch < lastBatch; ++batch) {
    WriteOne(db, table, stream, batch);
    if (flushed) flushed(batch + 1);
  }
}

int CountSoundBatches(const std::string& path, std::string* problem) {
  try {
    qvt_Database db = qvt_Database::Open(qvt_File::Open(path, 0, true), "BTCH");
    db.Bind();
    qvt_Table table = db.Table(kTableHandle, -1, -1);
    qvt_TaggedStream stream = db.TaggedStream(kStreamHandle, 0);
    const int count = table.Length();
    for (int batch = 0; batch < count; ++batch) {
      const auto expect = [batch](bool sound, const std::string& what) {
        if (!sound) throw std::runtime_error("batch " + std::to_string(batch) + ": " + what);
      };
      qvt_Row row = table.ReadRow(batch);
      expect(
          row.ReadFieldInt("n") == batch && row.ReadFieldString("label") == Label(batch),
          "row holds " + std::to_string(row.ReadFieldInt("n")) + " '" + row.ReadFieldString("label") + "'");
      qvt_Array<double, 4> doubles = db.ArrayDouble(row.ReadFieldHandle("doubles"), -1, 0);
      qvt_Array<cow_String, 6> strings = db.ArrayString(row.ReadFieldHandle("strings"), -1, 0);
      std::vector<double> values(2 * Rows(batch) + 2);
      std::vector<cow_String> texts(Texts(batch) + 1);
      expect(doubles.Length() == Rows(batch) &&
                 doubles.Read(values.data(), Rows(batch) + 1) == 2 * Rows(batch) &&
                 strings.Length() == Texts(batch) &&
                 strings.Read(texts.data(), Texts(batch) + 1) == Texts(batch),
             "arrays of the wrong length");
      int i = 0;
      while (i < Rows(batch) && values[2 * i] == Value(batch, i) && values[2 * i + 1] == -Value(batch, i) &&
             (i >= Texts(batch) || texts[i] == Label(batch + i)))
        ++i;
      expect(i == Rows(batch), "array values differ in row " + std::to_string(i));
      expect(stream.Next() && stream.GetID() == batch && stream.GetInt() == batch * 7 && stream.Next() &&
                 stream.GetID() == batch && stream.GetString() == Label(batch),
             "tagged stream records differ");
    }
    if (stream.Next())
      throw std::runtime_error("the tagged stream holds more records than the table's batches");
    return count;
  } catch (const std::exception& e) {
    *problem = e.what();
    return -1;
  }
}

}  // namespace qvt_test
