// The qvt side of the comparison, through the public interface only: rows
// of a table, doubles of an array (plain and compressed files), and small
// objects (arrays or tables). Fields are named by index, as a program does
// once it has looked its handles up.
#include <algorithm>
#include <exception>

#include "compare_systems.h"
#include "qvt_Database.h"
#include "qvt_File.h"

namespace compare {
namespace {

const char kTypeCode[] = "BNCH";

qvt_TableMetadata RowClass() {
  qvt_TableMetadata md("Result", 1);
  md.DefineIntField("id");        // index 0
  md.DefineDoubleField("value");  // index 1
  md.DefineFloatField("weight");  // index 2
  md.DefineStringField("label");  // index 3
  return md;
}

qvt_TableMetadata ObjectClass() {
  qvt_TableMetadata md("Object", 1);
  md.DefineDoubleField("v");
  return md;
}

qvt_Database CreateDatabase(const std::string& path, bool compressed) {
  qvt_File file = compressed ? qvt_File::CreateCompressed(path) : qvt_File::Open(path, 2, false);
  return qvt_Database::Create(file, kTypeCode, "comparison", 0);
}

qvt_Database OpenDatabase(const std::string& path) {
  return qvt_Database::Open(qvt_File::Open(path, 0, true), kTypeCode);
}

// Runs work and ends the program with the library's message if it throws.
template <class Work>
Measure Guard(const char* what, Work work) {
  try {
    return work();
  } catch (const std::exception& e) {
    Fail(std::string("qvt ") + what + ": " + e.what());
  }
}

// The handle the first object of a new database gets (after the three
// fixed spaces).
constexpr qvt_Handle kFirstObject = 4;
constexpr int kStepValues = static_cast<int>(kStep / sizeof(double));

}  // namespace

Measure QvtWriteRows(const std::string& path, int rows, bool compressed) {
  return Guard("rows written", [&] {
    std::vector<cow_String> words;
    for (int w = 0; w < kVocabulary; ++w) words.push_back(Word(w));
    const qvt_FieldHandle id(0), value(1), weight(2), label(3);
    const Stopwatch watch;
    {
      qvt_Database db = CreateDatabase(path, compressed);
      qvt_Table table = db.Table(RowClass(), 1 << 20, -1);
      for (int r = 0; r < rows; ++r) {
        qvt_Row row = table.NewRow();
        row.WriteFieldInt(id, RowId(r));
        row.WriteFieldDouble(value, RowValue(r));
        row.WriteFieldFloat(weight, RowWeight(r));
        row.WriteFieldString(label, words[static_cast<std::size_t>(RowWord(r))]);
      }
      table.Flush();
      db.Flush();
    }
    return watch.Done();
  });
}

Measure QvtScanRows(const std::string& path) {
  return Guard("rows scanned", [&] {
    const qvt_FieldHandle id(0), value(1), weight(2), label(3);
    Checksum sum;
    const Stopwatch watch;
    {
      qvt_Database db = OpenDatabase(path);
      db.Bind(RowClass());
      qvt_Table table = db.Table(db.RootTableHandle(), 0, -1);
      const int rows = table.Length();
      for (int r = 0; r < rows; ++r) {
        qvt_Row row = table.ReadRow(r);
        const cow_String text = row.ReadFieldString(label);
        sum.AddRow(row.ReadFieldInt(id), row.ReadFieldDouble(value), row.ReadFieldFloat(weight), text.data(),
                   text.size());
      }
    }
    return watch.Done(sum.Value());
  });
}

Measure QvtWriteDoubles(const std::string& path, const std::vector<double>& data, int bufferSize,
                        bool compressed) {
  return Guard("doubles written", [&] {
    const Stopwatch watch;
    {
      qvt_Database db = CreateDatabase(path, compressed);
      qvt_Array<double, 4> array = db.ArrayDouble(1, 0, bufferSize);
      for (std::size_t at = 0; at < data.size(); at += kStepValues) {
        const std::size_t n = std::min<std::size_t>(kStepValues, data.size() - at);
        array.Write(data.data() + at, static_cast<int>(n));
      }
      array.Flush();
      db.Flush();
    }
    return watch.Done();
  });
}

Measure QvtReadDoubles(const std::string& path, std::vector<double>* out, int bufferSize) {
  return Guard("doubles read", [&] {
    const Stopwatch watch;
    std::size_t got = 0;
    {
      qvt_Database db = OpenDatabase(path);
      qvt_Array<double, 4> array = db.ArrayDouble(kFirstObject, 0, bufferSize);
      while (got < out->size()) {
        const std::size_t n = std::min<std::size_t>(kStepValues, out->size() - got);
        const int read = array.Read(out->data() + got, static_cast<int>(n));
        if (read <= 0) break;
        got += static_cast<std::size_t>(read);
      }
    }
    Measure done = watch.Done();
    if (got != out->size()) Fail("qvt doubles read: short read");
    done.checksum = ExpectedDoubles(*out);
    return done;
  });
}

Measure QvtCreateObjects(const std::string& path, int count, int valuesPer, bool tables,
                         std::vector<std::uint32_t>* handles) {
  return Guard("objects created", [&] {
    handles->clear();
    std::vector<double> values(static_cast<std::size_t>(valuesPer));
    const Stopwatch watch;
    {
      qvt_Database db = CreateDatabase(path, false);
      const qvt_TableMetadata& shape = db.Bind(ObjectClass());
      const int bytes = valuesPer * 8;
      for (int k = 0; k < count; ++k) {
        for (int j = 0; j < valuesPer; ++j) values[static_cast<std::size_t>(j)] = ObjectValue(k, j);
        if (tables) {
          qvt_Table table = db.Table(shape, bytes, -1);
          for (int j = 0; j < valuesPer; ++j)
            table.NewRow().WriteFieldDouble(0, values[static_cast<std::size_t>(j)]);
          handles->push_back(table.Handle());
        } else {
          qvt_Array<double, 4> array = db.ArrayDouble(1, bytes, 0);
          array.Write(values.data(), valuesPer);
          handles->push_back(array.Handle());
        }
      }
      db.Flush();
    }
    return watch.Done();
  });
}

Measure QvtReadObjects(const std::string& path, const std::vector<std::uint32_t>& handles, int first,
                       int stride, int count, int valuesPer, bool tables) {
  return Guard("objects read", [&] {
    std::vector<double> values(static_cast<std::size_t>(valuesPer));
    Checksum sum;
    const Stopwatch watch;
    {
      qvt_Database db = OpenDatabase(path);
      if (tables) db.Bind(ObjectClass());
      for (int n = 0, k = first; n < count; ++n, k += stride) {
        const qvt_Handle handle = handles.at(static_cast<std::size_t>(k));
        if (tables) {
          qvt_Table table = db.Table(handle, 0, valuesPer);
          for (int j = 0; j < valuesPer; ++j) sum.AddDouble(table.ReadRow(j).ReadFieldDouble(0));
        } else {
          qvt_Array<double, 4> array = db.ArrayDouble(handle, 0, 0);
          if (array.Read(values.data(), valuesPer) != valuesPer) Fail("qvt objects read: short read");
          sum.AddDoubles(values.data(), values.size());
        }
      }
    }
    return watch.Done(sum.Value());
  });
}

}  // namespace compare
