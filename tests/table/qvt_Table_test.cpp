// Tables, rows, table classes and the metadata pool on each file kind: byte layouts, seeded models,
// damaged records, refusals, Append, Flush, Snap, Extend and Truncate.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include "qvt_ChildProcess.h"
#include "qvt_ObjectShapes.h"
#include "qvt_ObjectTestSupport.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TablesFixture.h"

namespace {

using namespace qvt_test;

// The class of the layout example: a double, b int, c string.
qvt_TableMetadata AbcClass() {
  return Shape("ABC", {{"c", qvt_TypeString}, {"a", qvt_TypeDouble}, {"b", qvt_TypeInt}});
}

std::string NoRow(const char* method, int index, int length) {
  return std::string("qvt_TableRepr::") + method +
         " - Row does not exist for table 'ABC', index: " + std::to_string(index) +
         ", len: " + std::to_string(length);
}

class TableTest : public DatabaseKindTest {};

TEST_P(TableTest, RowLayoutIsBitmapThenPresentFieldsInNameOrder) {
  qvt_Database db = CreateDb();
  qvt_TableMetadata wide("Wide", 1);
  for (int i = 0; i < 33; ++i) wide.DefineIntField("f" + std::to_string(100 + i));
  wide.DefineHandleField("h");
  qvt_Handle abc, w;
  {
    qvt_Table table = db.Table(AbcClass(), 0, -1);
    abc = table.Handle();
    ASSERT_EQ(table.RowSize(), 24);
    qvt_Row row = table.NewRow();
    row.WriteFieldDouble("a", 1.5);
    row.WriteFieldInt("b", -7);
    row.WriteFieldString("c", "xyz");
    row.Nullify();
    EXPECT_EQ(table.Flush(), 1);
    // 34 fields take two bitmap ints; a handle is its value, then a zero word.
    qvt_Table wideTable = db.Table(wide, 0, -1);
    w = wideTable.Handle();
    EXPECT_EQ(wideTable.RowSize(), 8 + 33 * 4 + 8);
    qvt_Row wideRow = wideTable.NewRow();
    wideRow.WriteFieldInt("f132", 5);  // the 33rd name: bit 0 of the second int
    wideRow.WriteFieldInt("f100", 9);  // the first: bit 0 of the first int
    wideRow.WriteFieldHandle("h", 0x01020304u);
    EXPECT_EQ(wideRow.ReadFieldHandle("h"), 0x01020304u);
  }
  db.Flush();
  std::vector<unsigned char> bytes = SpaceBytes(db, abc);
  ASSERT_EQ(bytes.size(), 12u + 24u);
  // magic, flush count, class record; bitmap with bits 0, 1, 2 (a, b, c); a; b; c
  EXPECT_EQ((std::vector<std::uint32_t>{BE32(bytes, 0), BE32(bytes, 4), BE32(bytes, 8), BE32(bytes, 12),
                                        BE32(bytes, 24)}),
            (std::vector<std::uint32_t>{0xAAAFBBBEu, 1,
                                        static_cast<std::uint32_t>(db.GetTableMetadataHandle("ABC")), 7,
                                        static_cast<std::uint32_t>(-7)}));
  EXPECT_EQ(BEDouble(bytes, 16), 1.5);
  EXPECT_EQ(BEDouble(bytes, 28), static_cast<double>(StringReference(db, "xyz")));
  bytes = SpaceBytes(db, w);
  ASSERT_EQ(bytes.size(), 12u + 148u);
  EXPECT_EQ(Words(bytes, 12, 3), (std::vector<std::uint32_t>{1, 3, 9}));
  EXPECT_EQ(Words(bytes, 20 + 32 * 4, 3), (std::vector<std::uint32_t>{5, 0x01020304u, 0}));
}

// Rows of 20 bytes: 50 bytes make 3, 48 make 2; a cut row answers only what it holds.
TEST_P(TableTest, OpeningChecksAndRowCountsFromTheStoredBytes) {
  qvt_Database db = CreateDb();
  db.Bind(Shape("D", {{"d0", qvt_TypeDouble}, {"d1", qvt_TypeDouble}}));
  const auto mdOf = [&db](const char* name) { return static_cast<int>(db.GetTableMetadataHandle(name)); };
  const int md = mdOf("D");
  const unsigned char row[20] = {0, 0, 0, 3, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0x3F, 0xF0};  // both 1.0
  std::vector<unsigned char> rows;
  for (int r = 0; r < 3; ++r) rows.insert(rows.end(), row, row + 20);
  const qvt_Handle twoAndAHalf = SpaceOfWords(db, {kTableMagic, 1, md}, {rows.begin(), rows.begin() + 50});
  const qvt_Handle twoPointFour = SpaceOfWords(db, {kTableMagic, 1, md}, {rows.begin(), rows.begin() + 48});
  {
    qvt_Table t = db.Table(twoAndAHalf, 0, -1);
    EXPECT_EQ((std::vector<int>{t.Length(), t.GetFlushCount(), db.Table(twoPointFour, 0, -1).Length()}),
              (std::vector<int>{3, 1, 2}));
    qvt_Row whole = t.ReadRow(1);
    EXPECT_EQ((std::vector<double>{whole.ReadFieldDouble("d0"), whole.ReadFieldDouble("d1")}),
              (std::vector<double>{1.0, 1.0}));
    qvt_Row part = t.ReadRow(2);  // its bitmap and part of d0
    EXPECT_EQ(
        (std::vector<int>{part.DataIsPresent("d0"), part.DataIsPresent("d1"), part.FieldIsPresent("d0")}),
        (std::vector<int>{0, 0, 1}));
  }
  // A fixed-string field, as a damaged or foreign file might hold.
  MemoryIOS record;
  StoreRawRecord(record, "Fixed", 24, {{qvt_TypeFixedString, "f"}});
  const qvt_TableMetadata fixedClass(record, 1);
  const std::string prefix = "qvt_TableRepr::qvt_TableRepr: ";
  const std::string corrupt =
      prefix +
      "KELVOR Database table format is corrupt. This may indicate a corrupt database, or it may indicate "
      "that the analysis code preprocessor is still writing the database. \n If you suspect the latter "
      "possibility, please attempt to reopen the database when the preprocessor is complete.";
  const char* fixed =
      "qvt_TableRepr::Setup: An invalid field type for field 'f' has been specified for table 'Fixed'.";
  const qvt_Handle before = db.Space(-1).Handle();
  ExpectRefusals({{[&, h = SpaceOfWords(db, {kTableMagic, 0})] { db.Table(h, 0, -1); }, corrupt},
                  {[&, h = SpaceOfWords(db, {1, 2, 3, 4})] { db.Table(h, 0, -1); },
                   prefix + "Handle is not to a table object. This is not a valid KELVOR database."},
                  {[&] { db.Table(fixedClass, 0, -1); }, fixed},
                  // The class is stored by the refused Table above.
                  {[&] {
                     db.Table(SpaceOfWords(db, {kTableMagic, 1, mdOf("Fixed")}), 0, -1);
                   },
                   fixed}});
  EXPECT_EQ(db.Space(-1).Handle(), before + 4);  // three raw spaces, none for the refused table
  db.Bind(qvt_TableMetadata("Empty", 1));
  qvt_Table empty = db.Table("Empty", 0, -1);
  EXPECT_EQ((std::vector<int>{empty.RowSize(), empty.Length(), empty.Flush(),
                              db.Table(empty.Handle(), 0, -1).Length()}),
            (std::vector<int>{0, 0, 0, 0}));
  QVT_EXPECT_THROW_TEXT(empty.NewRow(), nex_TextException,
                        "qvt_TableRepr::NewRow - Table 'Empty' has no stored fields and holds no rows.");
}

TEST_P(TableTest, ReaderTableSnapTakesUpFlushedRows) {
  if (GetParam() == FileKind::Compressed)
    GTEST_SKIP() << "a compressed file keeps the segments it has read, header included, for its life";
  qvt_Database writer = CreateDb();
  qvt_Table written = writer.Table(AbcClass(), 0, -1);
  for (int i = 0; i < 10; ++i) written.NewRow().WriteFieldInt("b", i);
  written.Flush();
  writer.Flush();
  qvt_Database reader = OpenDb();
  reader.Bind(AbcClass());
  qvt_Table read = reader.Table(written.Handle(), 0, 4);
  EXPECT_EQ((std::vector<int>{read.Length(), read.ReadRow(2).ReadFieldInt("b")}), (std::vector<int>{10, 2}));
  qvt_Row held = read.ReadRow(3);
  EXPECT_EQ(read.Snap(), 0);  // nothing flushed since
  written.UpdateRow(2).WriteFieldInt("b", 200);
  written.UpdateRow(3).WriteFieldInt("b", 300);
  for (int i = 10; i < 15; ++i) written.NewRow().WriteFieldInt("b", i);
  EXPECT_EQ(written.Flush(), 2);
  EXPECT_EQ(read.Snap(), 0);  // the database has not flushed yet
  writer.Flush();
  EXPECT_EQ((std::vector<int>{reader.Snap(), read.Snap(), read.Length(), read.Snap()}),
            (std::vector<int>{1, 2, 15, 0}));
  // Row 2 is read again; the held row 3 stays as it was.
  EXPECT_EQ((std::vector<int>{read.ReadRow(2).ReadFieldInt("b"), held.ReadFieldInt("b"),
                              read.ReadRow(14).ReadFieldInt("b")}),
            (std::vector<int>{200, 3, 14}));
  // The table's count, read from the file, runs ahead of the reader's linkage; its rows do not.
  written.NewRow().WriteFieldInt("b", 15);
  written.Flush();
  writer.Flush();
  EXPECT_EQ(reader.Snap(), 1);
  written.NewRow().WriteFieldInt("b", 16);
  EXPECT_EQ(written.Flush(), 4);  // the database's flush is still to come
  EXPECT_EQ((std::vector<int>{read.Snap(), read.Length()}), (std::vector<int>{4, 16}));
  writer.Flush();
  EXPECT_EQ((std::vector<int>{reader.Snap(), read.Snap(), read.Length()}), (std::vector<int>{1, 4, 17}));
  // A writer that truncates: the reader's count never shrinks.
  written.Truncate(5);
  written.NewRow().WriteFieldInt("b", 5000);
  written.Flush();
  writer.Flush();
  EXPECT_EQ((std::vector<int>{reader.Snap(), read.Snap() > 0, read.Length()}), (std::vector<int>{1, 1, 17}));
}

// A row at the end is new, a negative index is the current row, an idle flush writes nothing.
TEST_P(TableTest, CurrentRowFlushTruncateAndExtend) {
  qvt_Database db = CreateDb();
  qvt_Table table = db.Table(AbcClass(), 0, 4);
  qvt_Row row = table.UpdateRow(0);
  EXPECT_EQ((std::vector<int>{row.Location(), table.Length(), table.Location(), row.DataIsPresent("a")}),
            (std::vector<int>{0, 1, 1, 0}));
  row.WriteFieldInt("b", 1);
  EXPECT_EQ(table.Flush(), 1);
  const std::vector<unsigned char> before = SpaceBytes(db, table.Handle());
  EXPECT_EQ((std::vector<int>{table.Flush(), table.Snap()}),
            (std::vector<int>{1, 0}));  // a writer never snaps
  EXPECT_EQ(SpaceBytes(db, table.Handle()), before);
  row.WriteFieldInt("b", 2);
  EXPECT_EQ(table.Flush(), 2);
  EXPECT_EQ(db.Table(table.Handle(), 0, -1).ReadRow(0).ReadFieldInt("b"), 2);
  for (int i = 1; i < 4; ++i) table.NewRow().WriteFieldInt("b", 10 + i);
  table.Seek(2);
  EXPECT_EQ(table.ReadRow(-1).ReadFieldInt("b"), 12);
  EXPECT_EQ((std::vector<int>{table.Location(), table.RowExists(-1), table.ReadRow(-1).ReadFieldInt("b")}),
            (std::vector<int>{3, 1, 13}));
  EXPECT_EQ((std::vector<int>{table.RowExists(-1), table.RowExists(3), table.RowExists(4)}),
            (std::vector<int>{0, 1, 0}));
  StderrCapture capture;
  QVT_EXPECT_THROW_TEXT(table.ReadRow(4), nex_TextException, NoRow("ReadRow", 4, 4));
  QVT_EXPECT_THROW_TEXT(table.UpdateRow(5), nex_TextException, NoRow("UpdateRow", 5, 4));
  table.Seek(-4);
  EXPECT_EQ(table.RowExists(-1), 0);
  ExpectRefusals({{[&] { table.ReadRow(-1); }, NoRow("ReadRow", -4, 4)},
                  {[&] { table.UpdateRow(-1); }, NoRow("UpdateRow", -4, 4)}});
  EXPECT_EQ(capture.Stop(), NoRow("ReadRow", 4, 4) + "\n" + NoRow("UpdateRow", 5, 4) + "\n" +
                                NoRow("ReadRow", -4, 4) + "\n" + NoRow("UpdateRow", -4, 4) + "\n");
  for (int i = 4; i < 10; ++i) table.NewRow().WriteFieldInt("b", 10 + i);
  qvt_Row kept = table.ReadRow(2);
  qvt_Row cut = table.ReadRow(7);
  table.Truncate(5);
  EXPECT_EQ((std::vector<int>{table.Length(), table.Location(), static_cast<int>(table.SpaceLength()),
                              kept.ReadFieldInt("b")}),
            (std::vector<int>{5, 0, 12 + 5 * 24, 12}));
  const char gone[] =
      "qvt_Row: The row no longer exists in table 'ABC': it was truncated away or its table was closed.";
  ExpectRefusals(
      {{[&] { cut.ReadFieldInt("b"); }, gone},
       {[&] { cut.Location(); }, gone},
       {[&] { table.Truncate(-1); }, "qvt_TableRepr::Truncate - Invalid row count -1 for table 'ABC'."}});
  table.NewRow().WriteFieldInt("b", 50);
  EXPECT_EQ(table.ReadRow(5).ReadFieldInt("b"), 50);
  table.Truncate(1);
  table.Flush();
  EXPECT_EQ(table.GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=1"}));
  table.Extend(100);
  EXPECT_GE(table.SpaceAllocation(), 12 + 101 * 24);
  table.Extend(0);
  EXPECT_EQ((std::vector<int>{table.Length(), static_cast<int>(table.SpaceLength())}),
            (std::vector<int>{1, 12 + 24}));
  qvt_Space other = db.Space(-1);
  other.WriteInt(1);
  for (int i = 0; i < 200; ++i) table.NewRow().WriteFieldInt("b", i);
  table.Flush();
  EXPECT_EQ(table.GetObjStatistics(), (std::vector<cow_String>{"Linkage_Count=2"}));
}

constexpr qvt_Handle kPoolHandle = 3;
const char kNoHandle[] = "***ERROR: Can't find metadata with handle.";

// Out of name order: indices follow the definitions, records the names.
qvt_TableMetadata ThreeFields(const std::string& name) {
  return Shape(name, {{"z", qvt_TypeString}, {"x", qvt_TypeInt}, {"y", qvt_TypeFloat}});
}

// Records land in bind order, once; reopened, a class is found by handle only once bound.
TEST_P(TableTest, RecordsLandInBindOrderAndStoredClassesAreBoundByName) {
  {
    qvt_Database db = CreateDb();
    db.Bind(ThreeFields("B"));
    db.Flush();
    std::unique_ptr<qvt_Database> reader;
    if (GetParam() == FileKind::Local) reader = std::make_unique<qvt_Database>(OpenDb());
    const qvt_TableMetadata& a = db.Bind(ThreeFields("A"));
    EXPECT_EQ(db.GetTableMetadataHandle("B"), 4);
    EXPECT_EQ(db.GetTableMetadataHandle("A"), 52);
    EXPECT_EQ(&db.GetTableMetadata(utl_FileOffset(52)), &a);
    EXPECT_EQ(a.GetFieldMD(qvt_FieldHandle(0)).Name(), "z");
    EXPECT_EQ(db.GetTableMetadataNames(), (std::vector<cow_String>{"A", "B"}));  // key order
    if (reader) {
      EXPECT_EQ((std::vector<int>{reader->HasTable("A"), reader->Snap()}), (std::vector<int>{0, 0}));
    }
    db.Flush();
    if (reader) {
      EXPECT_EQ((std::vector<int>{reader->Snap(), reader->HasTable("A"),
                                  static_cast<int>(reader->GetTableMetadataHandle("A")), reader->Snap()}),
                (std::vector<int>{1, 1, 52, 0}));
    }
    const std::vector<unsigned char> pool = SpaceBytes(db, kPoolHandle);
    ASSERT_EQ(pool.size(), 4u + 48u + 48u);
    // marker, length, then the types of x, y and z; B's record behind A's
    EXPECT_EQ((std::vector<std::uint32_t>{BE32(pool, 0), BE32(pool, 4), BE32(pool, 16), BE32(pool, 28),
                                          BE32(pool, 40), BE32(pool, 52)}),
              (std::vector<std::uint32_t>{0xFAAAEBBBu, 48, qvt_TypeInt, qvt_TypeFloat, qvt_TypeString, 48}));
    EXPECT_EQ(BEDouble(pool, 8), static_cast<double>(StringReference(db, "B")));
    EXPECT_EQ(&db.Bind(Shape("A", {{"q", qvt_TypeDouble}}, 9)), &a);
    EXPECT_EQ(&db.Bind(ThreeFields("A")), &a);
    db.Flush();
    EXPECT_EQ(SpaceBytes(db, kPoolHandle), pool);
  }
  qvt_Database db = OpenDb();
  EXPECT_EQ((std::vector<int>{db.HasTable("A"), db.HasTable("C"),
                              static_cast<int>(db.GetTableMetadataHandle("A"))}),
            (std::vector<int>{1, 0, 52}));
  const std::string nope = "***ERROR: Can't find table metadata, \"Nope\" in KELVOR database file.";
  ExpectRefusals({{[&] { db.GetTableMetadata(utl_FileOffset(52)); }, kNoHandle},
                  {[&] { db.GetTableMetadata("A"); }, kNoHandle},
                  {[&] { db.Bind(ThreeFields("C")); }, kReadOnly},
                  {[&] { db.GetTableMetadata("Nope"); }, nope},
                  {[&] { db.GetTableMetadataHandle("Nope"); }, nope}});
  EXPECT_FALSE(db.HasTable("C"));
  // Class versions come from the map as it is at Bind, or default to one.
  db.InsertInMapClassName2ClassVersion("A", 3);
  db.Bind();
  db.InsertInMapClassName2ClassVersion("A", 4);
  EXPECT_EQ(db.GetMapClassName2ClassVersion().at("A"), 3);
  const qvt_TableMetadata& a = db.GetTableMetadata("A");
  EXPECT_EQ((std::vector<int>{a.FieldCount(), a.ClassVersion(), db.GetTableMetadata("B").ClassVersion()}),
            (std::vector<int>{3, 3, 1}));
  EXPECT_EQ(a.GetFieldMD(qvt_FieldHandle(0)).Name(), "x");
  EXPECT_EQ(a.GetFieldMD(qvt_FieldHandle(2)).Type(), qvt_TypeString);
  // A new class takes the mapped version over its own.
  qvt_Database fresh = CreateDb("fresh.odb");
  fresh.InsertInMapClassName2ClassVersion("A", 7);
  EXPECT_EQ(fresh.Bind(ThreeFields("A")).ClassVersion(), 7);
  EXPECT_EQ(fresh.Bind(Shape("B", {{"n", qvt_TypeInt}}, 5)).ClassVersion(), 5);
}

// The caller's fields keep their indices, stored ones follow; unstored ones take no room.
TEST_P(TableTest, BindMergesTheCallersFieldsIntoAStoredClass) {
  {
    qvt_Database db = CreateDb();
    db.Table(Shape("S", {{"y", qvt_TypeFloat}, {"z", qvt_TypeString}}), 0, -1);
  }
  qvt_Database db = OpenDb("test.odb", false);
  const qvt_TableMetadata mismatched = Shape("S", {{"y", qvt_TypeInt}, {"z", qvt_TypeString}});
  QVT_EXPECT_THROW_TEXT(db.Bind(mismatched), nex_TextException, "***ERROR: Field type mismatch: y");
  QVT_EXPECT_THROW_TEXT(db.GetTableMetadata("S"), nex_TextException, kNoHandle);
  const qvt_TableMetadata& merged = db.Bind(Shape("S", {{"x", qvt_TypeInt}, {"y", qvt_TypeFloat}}, 2));
  // Copying into a shape storing a field only known here, or of another type, is refused.
  const qvt_TableMetadata full = ThreeFields("S");
  EXPECT_EQ((std::vector<int>{merged.ClassVersion(), full.CopyAllowed(merged), merged.CopyAllowed(full),
                              merged.CopyAllowed(mismatched)}),
            (std::vector<int>{2, 0, 3, 0}));
  db.Bind();  // keeps the merged object
  EXPECT_EQ(&db.GetTableMetadata("S"), &merged);
  qvt_Table table = db.Table(qvt_Handle(4), 0, -1);
  EXPECT_EQ((std::vector<int>{table.RowSize(), table.Index("x"), table.Index("y"), table.Index("z"),
                              table.Index("nothing"), table.Type("z"), table.Type("nothing")}),
            (std::vector<int>{4 + 4 + 8, 0, 1, 2, -1, qvt_TypeString, qvt_TypeNone}));
  qvt_Row row = table.NewRow();
  EXPECT_EQ((std::vector<int>{row.FieldIsPresent("x"), row.FieldIsPresent(0), row.FieldIsPresent("y")}),
            (std::vector<int>{0, 0, 1}));
  ExpectRefusals({{[&] { row.WriteFieldInt("x", 1); }, "***ERROR: Can't find field: \"x\""},
                  {[&] { row.ReadFieldInt("x"); }, "***ERROR: Can't find field: \"x\""},
                  {[&] { row.WriteFieldInt(0, 1); }, "***ERROR: Can't find field by index: 0"}});
  row.WriteFieldString(2, "by index");
  EXPECT_EQ(row.ReadFieldString("z"), "by index");
}

TEST_P(TableTest, DamagedPoolsAreCorrupt) {
  const std::function<void(qvt_Database&, qvt_Space&)> damages[] = {
      // A record length that cannot advance, a negative one.
      [](qvt_Database&, qvt_Space& pool) { pool.WriteInt(0), pool.WriteInt(0), pool.WriteInt(0); },
      [](qvt_Database&, qvt_Space& pool) { pool.WriteInt(-48), pool.WriteInt(0), pool.WriteInt(0); },
      [](qvt_Database& db, qvt_Space& pool) {  // one running an int past the pool's end
        db.Bind(ThreeFields("A"));
        db.Flush();
        pool.Seek(4);
        pool.WriteInt(52);
      },
      [](qvt_Database& db, qvt_Space& pool) {  // a class stored twice
        db.Bind(ThreeFields("A"));
        db.Flush();
        const std::vector<unsigned char> bytes = SpaceBytes(db, kPoolHandle);
        pool.Seek(pool.Length());
        pool.Write(reinterpret_cast<const char*>(bytes.data()) + 4, 48);
      }};
  for (const auto& damage : damages) {
    {
      qvt_Database db = CreateDb();
      qvt_Space pool = db.Space(kPoolHandle, -1);
      pool.Seek(pool.Length());
      damage(db, pool);
    }
    QVT_EXPECT_THROW_TEXT(OpenDb(), nex_TextException, kMetadataCorrupt);
  }
}

// The extreme values written below but the handle, read by name.
void ExpectExtremes(qvt_Row& row, const std::string& text) {
  EXPECT_EQ(std::make_tuple(row.ReadFieldInt("i"), row.ReadFieldFloat("f"), row.ReadFieldDouble("d"),
                            row.ReadFieldString("s")),
            std::make_tuple(std::numeric_limits<int>::min(), -0.15625f, std::nextafter(1.0, 2.0), text));
}

// Refusals store nothing; Erase removes data, not fields; a neutered string keeps its length.
TEST_P(TableTest, EveryTypeReadsBackAsWrittenAndCopiedAndEveryMisuseIsRefused) {
  const std::string text("nul\0inside", 10);
  const std::string absent =
      "qvt_RowImpl::PrepReadField: Attempt to access absent field data in ODB/CAE file (All:";
  {
    qvt_Database db = CreateDb();
    qvt_Database second = CreateDb("second.odb");
    qvt_Table table = db.Table(AllFieldTypes("All"), 0, -1);
    qvt_Row row = table.NewRow();
    row.WriteFieldInt("i", std::numeric_limits<int>::min());
    row.WriteFieldHandle("h", 0xFFFFFFFFu);
    row.WriteFieldFloat("f", -0.15625f);
    row.WriteFieldDouble("d", std::nextafter(1.0, 2.0));
    row.WriteFieldString("s", text);
    EXPECT_EQ(std::make_tuple(row.ReadFieldHandle(1), row.ReadFieldString(4)),
              std::make_tuple(0xFFFFFFFFu, text));
    qvt_Row other = table.NewRow();
    ExpectRefusals({{[&] { other.ReadFieldDouble("d"); }, absent + "d). File may be unreadable."},
                    {[&] { other.ReadFieldString(4); }, absent + "). File may be unreadable."},
                    {[&] { other.NeuterFieldString("s", "x"); }, absent + "s). File may be unreadable."},
                    {[&] { row.WriteFieldInt("f", 99); }, "***ERROR: Field type mismatch: \"f\""},
                    {[&] { row.WriteFieldInt(2, 99); }, "***ERROR: Field type mismatch by index: 2"},
                    {[&] { row.ReadFieldDouble("f"); }, "***ERROR: Field type mismatch: \"f\""},
                    {[&] { row.NeuterFieldString("d", "x"); }, "***ERROR: Field type mismatch: \"d\""},
                    {[&] { row.WriteFieldString("none", "x"); }, "***ERROR: Can't find field: \"none\""},
                    {[&] { row.Erase("nothing"); }, "***ERROR: Can't find field: \"nothing\""},
                    {[&] { row.Erase(9); }, "***ERROR: Can't find field by index: 9"}});
    EXPECT_EQ((std::vector<int>{row.FieldIsPresent("nothing"), row.DataIsPresent(9)}),
              (std::vector<int>{0, 0}));
    other.WriteFieldInt("i", 7);
    other.WriteFieldDouble("d", 1.0);
    other.Erase("i");
    EXPECT_EQ(
        (std::vector<int>{other.DataIsPresent("i"), other.FieldIsPresent("i"), other.DataIsPresent("d")}),
        (std::vector<int>{0, 1, 1}));
    other.Erase();
    EXPECT_EQ(other.DataIsPresent("d"), 0);
    // Copied here and into another pool; absent data copies nothing and modifies nothing.
    qvt_Table near = db.Table(AllFieldTypes("To"), 0, -1);
    qvt_Table far = second.Table(AllFieldTypes("To"), 0, -1);
    for (qvt_Table* to : {&near, &far}) {
      qvt_Row target = to->NewRow();
      for (const char* name : {"i", "f", "d", "s"}) target.CopyField(row, name);
      ExpectExtremes(target, text);
      QVT_EXPECT_THROW_TEXT(target.CopyField(row, "h"), nex_TextException,
                            "qvt_RowImpl::CopyField: Attempt to copy handle type field..  No can do.");
      const int flushes = to->Flush();
      target.CopyField(other, "i");
      EXPECT_EQ((std::vector<int>{target.DataIsPresent("h"), target.DataIsPresent("i"), to->Flush()}),
                (std::vector<int>{0, 1, flushes}));
    }
    qvt_Row neutered = table.NewRow();
    neutered.WriteFieldString("s", "secret");
    neutered.NeuterFieldString("s", "longer than before");
  }
  qvt_Database reader = OpenDb();
  reader.Bind();
  qvt_Table table = reader.Table(qvt_Handle(4), 0, -1);
  qvt_Row row = table.ReadRow(0);
  ExpectExtremes(row, text);
  EXPECT_EQ(row.ReadFieldHandle("h"), 0xFFFFFFFFu);
  EXPECT_EQ((std::vector<int>{row.Location(), static_cast<int>(row.FieldMetadataMap().size())}),
            (std::vector<int>{0, 5}));
  EXPECT_EQ(table.ReadRow(2).ReadFieldString("s"), "longer");
  ExpectRefusals({{[&] { row.WriteFieldInt("i", 2); }, kReadOnly},
                  {[&] { row.Erase("i"); }, kReadOnly},
                  {[&] { row.Erase(); }, kReadOnly},
                  {[&] { table.NewRow(); }, kReadOnly},
                  {[&] { table.UpdateRow(0); }, kReadOnly},
                  {[&] { table.Truncate(0); }, "***ERROR: Attempt to truncate read only table."}});
  EXPECT_EQ((std::vector<int>{row.ReadFieldInt("i"), table.Length()}),
            (std::vector<int>{std::numeric_limits<int>::min(), 3}));
  EXPECT_EQ(table.Flush(), table.GetFlushCount());
  table.Extend(10);  // nothing on a reader
}

// Held rows stay cached while others come and go; past their table, refused.
TEST_P(TableTest, HandlesShareOneRow) {
  qvt_Database db = CreateDb();
  qvt_Row a, b, c;
  {
    qvt_Table table = db.Table(AllFieldTypes("All"), 0, 1);
    a = table.NewRow();
    b = qvt_Row(a);
    b.WriteFieldInt("i", 5);
    EXPECT_EQ(a.ReadFieldInt("i"), 5);
    c = a;
    c = c;                                                // changes nothing
    for (int twice = 0; twice < 2; ++twice) a.Nullify();  // releasing nothing is harmless
    const char* none = "qvt_Row: The row handle does not refer to a row.";
    ExpectRefusals({{[&] { a.ReadFieldInt("i"); }, none}, {[&] { a.DataIsPresent("i"); }, none}});
    for (int k = 0; k < 20; ++k) table.NewRow().WriteFieldInt("i", k);
    for (int k = 0; k < 20; ++k) EXPECT_EQ(table.ReadRow(k + 1).ReadFieldInt("i"), k);
    EXPECT_EQ(c.ReadFieldInt("i"), 5);
    b = table.ReadRow(3);
    EXPECT_EQ((std::vector<int>{b.Location(), c.Location()}), (std::vector<int>{3, 0}));
  }
  const char gone[] =
      "qvt_Row: The row no longer exists in table 'All': it was truncated away or its table was closed.";
  ExpectRefusals({{[&] { c.ReadFieldInt("i"); }, gone}, {[&] { b.Erase(); }, gone}});
  EXPECT_EQ(db.Table(qvt_Handle(4), 0, -1).ReadRow(0).ReadFieldInt("i"), 5);
}

qvt_TableMetadata Plain(const std::string& name) {
  return Shape(name, {{"n", qvt_TypeInt}, {"v", qvt_TypeDouble}});
}

// The extra area sorts first, so the two shapes share no common prefix.
qvt_TableMetadata WithText(const std::string& name, bool extra) {
  std::vector<std::pair<std::string, int>> fields = {{"label", qvt_TypeString}, {"n", qvt_TypeInt}};
  if (extra) fields.insert(fields.end(), {{"area", qvt_TypeFloat}, {"v", qvt_TypeDouble}});
  return Shape(name, fields);
}

// Identical layouts copy by block, compatible ones row by row, strings pooled again.
TEST_P(TableTest, AppendCopiesBlocksOrRowsAndRefusesWhatItCannot) {
  {
    qvt_Database source = CreateDb("source.odb");
    qvt_Database target = CreateDb("target.odb");
    qvt_Table to = source.Table(Plain("To"), 0, -1);
    qvt_Table from = source.Table(Plain("From"), 0, -1);
    qvt_Table empty = source.Table(Plain("Empty"), 0, -1);
    for (int i = 0; i < 3; ++i) to.NewRow().WriteFieldInt("n", i);
    for (int i = 0; i < 500; ++i) {
      qvt_Row row = from.NewRow();
      row.WriteFieldInt("n", 1000 + i);
      if (i % 3) row.WriteFieldDouble("v", i * 0.5);
    }
    ASSERT_EQ(to.CopyAllowed(from), 1);
    for (qvt_Table* other : {&empty, &from, &to}) to.Append(*other);
    ASSERT_EQ((std::vector<int>{to.Length(), from.Length()}), (std::vector<int>{1006, 500}));
    for (int i = 0; i < 1006; ++i) {
      const int k = i % 503 - 3;  // the row of from, or before them, a row of to
      qvt_Row row = to.ReadRow(i);
      ASSERT_EQ(row.ReadFieldInt("n"), k < 0 ? k + 3 : 1000 + k) << i;
      ASSERT_EQ(row.DataIsPresent("v") ? row.ReadFieldDouble("v") : -1, k >= 0 && k % 3 ? k * 0.5 : -1) << i;
    }
    to.NewRow().WriteFieldInt("n", -1);
    qvt_Table wide = source.Table(WithText("Wide", true), 0, -1);
    qvt_Table same = source.Table(WithText("Narrow", false), 0, -1);
    for (int i = 0; i < 300; ++i) {
      const std::string label = i % 2 ? "shared" : "label " + std::to_string(i);
      for (qvt_Table* t : {&wide, &same}) {
        qvt_Row row = t->NewRow();
        row.WriteFieldString("label", label);
        row.WriteFieldInt("n", i);
        if (t == &wide) row.WriteFieldDouble("v", 2.0);
        if (i % 5 == 0) row.Erase("label");
      }
    }
    same.Append(same);
    qvt_Table text = target.Table(WithText("Narrow", false), 0, 3);
    target.Table(WithText("None", false), 0, -1);
    text.NewRow().WriteFieldString("label", "shared");
    ASSERT_EQ((std::vector<int>{text.CopyAllowed(wide), wide.CopyAllowed(text), text.CopyAllowed(same)}),
              (std::vector<int>{3, 0, 2}));
    for (qvt_Table* other : {&wide, &same}) text.Append(*other);
    EXPECT_EQ(text.ReadRow(1 + 7).ReadFieldString("label"), "shared");
    qvt_Table withHandle = source.Table(Shape("H", {{"h", qvt_TypeHandle}}), 0, -1);
    withHandle.NewRow().WriteFieldHandle("h", 5);
    const std::string incompatible = "qvt_TableRepr::Append - table being appended to \"";
    ExpectRefusals(
        {{[&] { wide.Append(text); }, incompatible + "Wide\" does not have compatible metadata."},
         {[&] { withHandle.Append(withHandle); }, incompatible + "H\" does not have compatible metadata."}});
  }
  qvt_Database source = OpenDb("source.odb");
  source.Bind();
  qvt_Table to = source.Table(qvt_Handle(4), 0, -1);
  ASSERT_EQ(to.Length(), 1007);
  EXPECT_EQ((std::vector<int>{to.ReadRow(1005).ReadFieldInt("n"), to.ReadRow(1006).ReadFieldInt("n")}),
            (std::vector<int>{1499, -1}));
  qvt_Database target = OpenDb("target.odb");
  target.Bind();
  qvt_Table back = target.Table(qvt_Handle(4), 0, -1);
  qvt_Table none = target.Table(qvt_Handle(5), 0, -1);
  QVT_EXPECT_THROW_TEXT(back.Append(back), nex_TextException,
                        "qvt_TableRepr::Append - Attempt to append to read only table.");
  back.Append(none);  // nothing to append: no refusal
  ASSERT_EQ(back.Length(), 901);
  EXPECT_EQ(back.RowSize(), 4 + 8 + 4);
  for (int i = 0; i < 900; ++i) {
    qvt_Row row = back.ReadRow(1 + i);
    ASSERT_EQ(row.ReadFieldInt("n"), i % 300);
    ASSERT_EQ(row.DataIsPresent("label") ? row.ReadFieldString("label") : "(absent)",
              i % 5 == 0 ? "(absent)"
              : i % 2    ? "shared"
                         : "label " + std::to_string(i % 300));
  }
}

// Writes the fields of value v by index (see AllFieldTypes), or else answers what the row holds
// otherwise (empty when nothing); the int is always there, bit k of mask leaves field k absent.
std::string WriteOrCheck(qvt_Row& row, int v, bool write) {
  const int i = v * 7 - 3;
  const qvt_Handle h = static_cast<qvt_Handle>(v) * 2654435761u;
  const float f = static_cast<float>(v) * 0.5f;
  const double d = v / 3.0;
  const std::string s = "word" + std::to_string((v * 31) % 1000);
  const unsigned mask = static_cast<unsigned>((v * 2654435761u) >> 27);
  const auto has = [mask](int field) { return field == 0 || ((mask >> field) & 1u) == 0; };
  if (write) {
    row.WriteFieldInt(0, i);
    if (has(1)) row.WriteFieldHandle(1, h);
    if (has(2)) row.WriteFieldFloat(2, f);
    if (has(3)) row.WriteFieldDouble(3, d);
    if (has(4)) row.WriteFieldString(4, s);
    return std::string();
  }
  if (row.ReadFieldInt(0) != i) return "int";
  for (int field = 1; field < 5; ++field)
    if (row.DataIsPresent(field) != (has(field) ? 1 : 0)) return "presence of " + std::to_string(field);
  if (has(1) && row.ReadFieldHandle(1) != h) return "handle";
  if (has(2) && row.ReadFieldFloat(2) != f) return "float";
  if (has(3) && row.ReadFieldDouble(3) != d) return "double";
  if (has(4) && row.ReadFieldString(4) != s) return "string";
  return std::string();
}

TEST_P(TableTest, RowsAgreeWithAModelThroughCachesUpdatesAndReopening) {
  constexpr int kBulk = 20000;
  const unsigned seed = 20240611u;
  for (int cacheSize : {0, 1, 2, 5, -1}) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed << ", cache " << cacheSize);
    std::mt19937 random(seed);
    std::vector<int> model;  // model[r]: the value row r was last written from
    const auto pick = [&] { return static_cast<int>(random() % model.size()); };
    const auto update = [&](qvt_Table& table, int r) {
      qvt_Row row = table.UpdateRow(r);
      row.Erase();
      model[static_cast<std::size_t>(r)] = static_cast<int>(random() % 100000);
      WriteOrCheck(row, model[static_cast<std::size_t>(r)], true);
    };
    const std::string name = "cache" + std::to_string(cacheSize + 1) + ".odb";
    {
      qvt_Database db = CreateDb(name);
      qvt_Table table = db.Table(AllFieldTypes("Mixed"), 8, cacheSize);
      for (int step = 0; step < kBulk + 600; ++step) {
        const int choice = step < kBulk ? 0 : static_cast<int>(random() % 4);
        if (choice == 0) {
          qvt_Row row = table.NewRow();
          model.push_back(step < kBulk ? step : static_cast<int>(random() % 100000));
          WriteOrCheck(row, model.back(), true);
          if (step == kBulk / 2) {
            // The cache writes back as it refills: most rows are stored unflushed.
            EXPECT_GT(table.SpaceLength(), static_cast<utl_FileOffset>(table.RowSize()) * step / 2);
            table.Flush();
          }
        } else if (choice == 1) {
          update(table, pick());
        } else if (choice == 2) {
          const int r = pick();
          qvt_Row row = table.ReadRow(r);
          ASSERT_EQ(WriteOrCheck(row, model[static_cast<std::size_t>(r)], false), "") << "row " << r;
        } else if (random() % 8 == 0) {
          table.Flush();
        }
      }
    }
    {
      qvt_Database db = OpenDb(name, false);
      db.Bind(AllFieldTypes("Mixed"));  // the caller's indices, whatever order the record has
      qvt_Table table = db.Table(qvt_Handle(4), 0, cacheSize);
      for (int k = 0; k < 2000; ++k) update(table, pick());
    }
    qvt_Database db = OpenDb(name);
    db.Bind(AllFieldTypes("Mixed"));
    qvt_Table table = db.Table(qvt_Handle(4), 0, cacheSize);
    ASSERT_EQ(table.Length(), static_cast<int>(model.size()));
    for (int r = 0; r < table.Length(); ++r) {
      qvt_Row row = table.ReadRow(-1);
      ASSERT_EQ(row.Location(), r);
      ASSERT_EQ(WriteOrCheck(row, model[static_cast<std::size_t>(r)], false), "") << "row " << r;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, TableTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

// An index wins over a name, an absent field answers a placeholder, a duplicate changes nothing.
TEST(TableMetadataTest, LookupsDuplicatesNaturalOrderCopiesAndFieldHandles) {
  qvt_TableMetadata md = Shape("T", {{"n", qvt_TypeInt}, {"s", qvt_TypeString}});
  EXPECT_NO_THROW(md.Verify(qvt_FieldHandle("nonsense", 0), qvt_TypeInt));
  for (const qvt_FieldHandle& absent : {qvt_FieldHandle("absent"), qvt_FieldHandle(5)}) {
    const qvt_FieldMetadata& none = md.GetFieldMD(absent);
    EXPECT_EQ(none.Name(), "novalue");
    EXPECT_EQ((std::vector<int>{none.Type(), none.Index(), none.Present()}),
              (std::vector<int>{qvt_TypeNone, -1, 1}));
  }
  QVT_EXPECT_THROW_TEXT(md.DefineDoubleField("n"), nex_TextException,
                        "***ERROR: Duplicate field metadata definition: \"n\"");
  EXPECT_EQ((std::vector<int>{md.FieldCount(), md.GetFieldMD(qvt_FieldHandle("n")).Type(),
                              md.DefineFloatField("b")}),
            (std::vector<int>{2, qvt_TypeInt, 2}));
  for (const bool natural : {true, false}) {
    atr_setNaturalOrder(natural);
    const qvt_TableMetadata ordered = Shape("T", {{"f10", qvt_TypeInt}, {"f2", qvt_TypeInt}});
    atr_setNaturalOrder(false);
    EXPECT_EQ(ordered.FieldMap().begin()->first, natural ? "f2" : "f10");
  }
  const qvt_TableMetadata shape = Shape("T", {{"z", qvt_TypeInt}, {"a", qvt_TypeInt}}, 3);
  qvt_TableMetadata other("U", 1);
  other = shape;
  EXPECT_EQ(std::make_tuple(other.Name(), other.ClassVersion()), std::make_tuple("T", 3));
  EXPECT_EQ(other.GetFieldMD(qvt_FieldHandle(0)).Name(), "z");
  EXPECT_EQ(&other.GetFieldMD(qvt_FieldHandle(1)), &other.GetFieldMD(qvt_FieldHandle("a")));
  const qvt_TableMetadata copied(shape);
  EXPECT_EQ(&copied.GetFieldMD(qvt_FieldHandle(1)), &copied.GetFieldMD(qvt_FieldHandle("a")));
  EXPECT_EQ(qvt_FieldHandle(cow_String("stress_"), "11", -1).Name(), "stress_11");
  EXPECT_EQ(qvt_FieldHandle(static_cast<const char*>(nullptr), -1).Name(), "");
}

TEST(TableMetadataTest, DamagedRecordsAreRefused) {
  MemoryIOS stream;
  for (int length : {0, -12, 11, 13, 23}) {
    StoreRawRecord(stream, "T", length, {});
    QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(stream, 1), nex_TextException, kMetadataCorrupt);
  }
  for (int code : {5, 11, -1, 0x7FFFFFFF}) {
    StoreRawRecord(stream, "T", 24, {{code, "a"}});
    QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(stream, 1), nex_TextException, kMetadataCorrupt);
  }
  StoreRawRecord(stream, "T", 36, {{qvt_TypeInt, "a"}, {qvt_TypeFloat, "a"}});
  QVT_EXPECT_THROW_TEXT(qvt_TableMetadata(stream, 1), nex_TextException,
                        "***ERROR: Duplicate field metadata definition: \"a\"");
  // Known codes that rows cannot hold are read; tables refuse them.
  StoreRawRecord(stream, "T", 24, {{qvt_TypeTaggedStream, "a"}});
  EXPECT_EQ(qvt_TableMetadata(stream, 1).GetFieldMD(qvt_FieldHandle("a")).Type(), qvt_TypeTaggedStream);
  // Cut short anywhere, a record ends the file or is corrupt.
  MemoryIOS whole;
  Shape("T", {{"a", qvt_TypeInt}, {"b", qvt_TypeInt}}).WriteTo(whole);
  for (std::size_t cut = 0; cut < whole.Bytes().size(); ++cut) {
    MemoryIOS shorter;
    shorter.Pool() = whole.Pool();
    shorter.Bytes().assign(whole.Bytes().begin(), whole.Bytes().begin() + static_cast<long>(cut));
    std::string text = "no exception";
    try {
      qvt_TableMetadata back(shorter, 1);
    } catch (const nex_TextException& e) {
      text = e.AsString();
    }
    EXPECT_TRUE(text == kEof || text == kMetadataCorrupt) << "cut at " << cut << ": " << text;
  }
}

}  // namespace
