// The sample database of the qvtdb tests and raw access to linkage entries.
#include "qvt_ToolSampleDatabase.h"

#include <stdexcept>

#include "qvt_Database.h"
#include "qvt_DatabaseLayout.h"
#include "qvt_File.h"
#include "qvt_ObjectShapes.h"
#include "qvt_TestSupport.h"

namespace qvt_test {

SampleDatabase WriteSampleDatabase(const std::string& path, bool compressed) {
  qvt_File file = compressed ? qvt_File::CreateCompressed(path) : qvt_File::Open(path, 2, false);
  qvt_Database db = qvt_Database::Create(file, "SMPL", "sample database for the tool", 1700000000);
  SampleDatabase sample{path};
  {  // every object is closed before the database's last flush
    qvt_Table table = db.Table(Shape("samples", {{"i", qvt_TypeInt},
                                                 {"f", qvt_TypeFloat},
                                                 {"d", qvt_TypeDouble},
                                                 {"s", qvt_TypeString},
                                                 {"h", qvt_TypeHandle}}),
                               -1, -1);
    qvt_Table emptyTable = db.Table(Shape("empty", {{"n", qvt_TypeInt}}), -1, -1);
    qvt_Array<int, 1> ints = db.ArrayInt(2, -1, 0);
    qvt_Array<float, 3> floats = db.ArrayFloat(1, -1, 0);
    qvt_Array<double, 4> doubles = db.ArrayDouble(3, -1, 0);
    qvt_Array<cow_String, 6> strings = db.ArrayString(2, -1, 0);
    qvt_TaggedStream stream = db.TaggedStream(0);
    qvt_Space space = db.Space(-1);
    sample.table = table.Handle();
    sample.emptyTable = emptyTable.Handle();
    sample.intArray = ints.Handle();
    sample.floatArray = floats.Handle();
    sample.doubleArray = doubles.Handle();
    sample.stringArray = strings.Handle();
    sample.stream = stream.Handle();
    sample.space = space.Handle();
    const char* texts[] = {"zero", "one", "", "he said \"hi\", then\nleft", "four"};
    for (int r = 0; r < 5; ++r) {
      qvt_Row row = table.NewRow();
      row.WriteFieldInt("i", r * 10 - 7);
      row.WriteFieldFloat("f", 0.1f * static_cast<float>(r));
      row.WriteFieldDouble("d", 1.0 / (r + 1));
      if (r != 2) row.WriteFieldString("s", texts[r]);
      row.WriteFieldHandle("h", sample.intArray);
      if (r == 4) row.Erase(qvt_FieldHandle("f"));
    }
    table.Flush();
    emptyTable.Flush();
    const auto fill = [](auto& array, const auto& values, int rows) {
      array.Write(values.data(), rows);
      array.Flush();
    };
    fill(ints, std::vector<int>{1, 2, 3, 4, 5, 6}, 3);
    fill(floats, std::vector<float>{0.5f, 1.25f}, 2);
    fill(doubles, std::vector<double>{1e-300, 2.5, -3.0}, 1);
    fill(strings, std::vector<cow_String>{"alpha", "beta", "", "gamma, delta"}, 2);
    stream.WriteInt(5, 42);
    stream.WriteHandle(6, sample.table);
    stream.WriteFloat(7, 1.5f);
    stream.WriteDouble(8, -0.25);
    stream.WriteString(9, "pooled text");
    stream.WriteFixedString(10, "fixed");
    stream.Flush();
    const char raw[] = "hello space\0\x01\xff";
    space.Write(raw, static_cast<int>(sizeof raw - 1));
  }
  db.Flush();
  return sample;
}

namespace {
std::int64_t Quantity(const std::vector<unsigned char>& bytes, std::size_t offset) {
  return static_cast<std::int64_t>(BEDouble(bytes, offset) + 0.5);
}

// What the linkage entry of an extent holds: its length, its offset in the
// file and the handle of the next extent (0 for the last).
struct Entry {
  std::int64_t length, location;
  qvt_Handle next;
};

Entry ReadEntry(const std::vector<unsigned char>& bytes, qvt_Handle handle) {
  auto block = static_cast<std::size_t>(qvt_LinkageFirstBlock);
  for (std::uint32_t i = 0; i < handle / qvt_LinkageSlots; ++i) {
    block = static_cast<std::size_t>(Quantity(bytes, block + qvt_LinkageLocationOffset));
    if (block == 0) throw std::runtime_error("no such linkage block");
  }
  const std::size_t at = block + (handle % qvt_LinkageSlots) * qvt_LinkageEntryBytes;
  return {Quantity(bytes, at + qvt_LinkageLengthOffset), Quantity(bytes, at + qvt_LinkageLocationOffset),
          BE32(bytes, at + qvt_LinkageNextOffset)};
}
}  // namespace

std::vector<qvt_Handle> ExtentChain(const std::vector<unsigned char>& bytes, qvt_Handle handle) {
  std::vector<qvt_Handle> chain;
  for (qvt_Handle at = handle; at != 0 && chain.size() < 100000; at = ReadEntry(bytes, at).next)
    chain.push_back(at);
  return chain;
}

std::size_t FileOffsetOf(const std::vector<unsigned char>& bytes, qvt_Handle handle,
                         std::int64_t spaceOffset) {
  for (const qvt_Handle at : ExtentChain(bytes, handle)) {
    const Entry e = ReadEntry(bytes, at);
    if (spaceOffset < e.length) return static_cast<std::size_t>(e.location + spaceOffset);
    spaceOffset -= e.length;
  }
  throw std::runtime_error("offset beyond the space");
}

}  // namespace qvt_test
