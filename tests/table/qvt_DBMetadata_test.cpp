// The metadata pool through the public database, and table classes alone.
#include "qvt_ObjectShapes.h"
#include "qvt_TablesFixture.h"

namespace {

using namespace qvt_test;

constexpr qvt_Handle kPoolHandle = 3;
const char kNoHandle[] = "***ERROR: Can't find metadata with handle.";

// Out of name order: indices follow the definitions, records the names.
qvt_TableMetadata ThreeFields(const std::string& name) {
  return Shape(name, {{"z", qvt_TypeString}, {"x", qvt_TypeInt}, {"y", qvt_TypeFloat}});
}

class MetadataPoolTest : public DatabaseKindTest {};

// Records land in bind order, once; reopened, a class is found by handle only once bound.
TEST_P(MetadataPoolTest, RecordsLandInBindOrderAndStoredClassesAreBoundByName) {
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
  ExpectRefusals({
      {[&] { db.GetTableMetadata(utl_FileOffset(52)); }, kNoHandle},
      {[&] { db.GetTableMetadata("A"); }, kNoHandle},
      {[&] { db.Bind(ThreeFields("C")); }, kReadOnly},
      {[&] { db.GetTableMetadata("Nope"); }, nope},
      {[&] { db.GetTableMetadataHandle("Nope"); }, nope},
  });
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
TEST_P(MetadataPoolTest, BindMergesTheCallersFieldsIntoAStoredClass) {
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
  ExpectRefusals({
      {[&] { row.WriteFieldInt("x", 1); }, "***ERROR: Can't find field: \"x\""},
      {[&] { row.ReadFieldInt("x"); }, "***ERROR: Can't find field: \"x\""},
      {[&] { row.WriteFieldInt(0, 1); }, "***ERROR: Can't find field by index: 0"},
  });
  row.WriteFieldString(2, "by index");
  EXPECT_EQ(row.ReadFieldString("z"), "by index");
}

TEST_P(MetadataPoolTest, DamagedPoolsAreCorrupt) {
  const std::function<void(qvt_Database&, qvt_Space&)> damages[] = {
      [](qvt_Database&, qvt_Space& pool) {  // a record length that cannot advance
        for (int v : {0, 0, 0}) pool.WriteInt(v);
      },
      [](qvt_Database&, qvt_Space& pool) {  // a negative one
        for (int v : {-48, 0, 0}) pool.WriteInt(v);
      },
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
      },
  };
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

INSTANTIATE_TEST_SUITE_P(Kinds, MetadataPoolTest, ::testing::ValuesIn(AllFileKinds()), KindParamName);

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
  EXPECT_EQ(other.Name(), "T");
  EXPECT_EQ(other.ClassVersion(), 3);
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
