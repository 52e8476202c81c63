// The metadata pool through the public database: records byte for byte,
// binding new and stored classes, class versions, names, and damaged pools.
#include <gtest/gtest.h>

#include "nex_Exception.h"
#include "qvt_Database.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"

namespace {

using qvt_test::BE32;
using qvt_test::DatabaseKindTest;
using qvt_test::SpaceBytes;

constexpr qvt_Handle kPoolHandle = 3;
const char* kCorrupt = "***ERROR: Metadata is corrupt in KELVOR database file.";

qvt_TableMetadata ThreeFields(const std::string& name) {
  qvt_TableMetadata md(name, 1);
  md.DefineIntField("x");
  md.DefineFloatField("y");
  md.DefineStringField("z");
  return md;
}

class MetadataPoolTest : public DatabaseKindTest {
 protected:
  // Appends raw ints to the metadata pool of a new database and closes it.
  void CreateWithPoolInts(const std::vector<int>& ints) {
    qvt_Database db = CreateDb();
    qvt_Space pool = db.Space(kPoolHandle, -1);
    pool.Seek(pool.Length());
    for (int v : ints) pool.WriteInt(v);
  }
};

TEST_P(MetadataPoolTest, FirstRecordsLandAtFourAndFiftyTwo) {
  qvt_Database db = CreateDb();
  const qvt_TableMetadata& a = db.Bind(ThreeFields("A"));
  EXPECT_EQ(db.GetTableMetadataHandle("A"), 4);
  EXPECT_EQ(&db.GetTableMetadata(utl_FileOffset(4)), &a);
  db.Bind(ThreeFields("B"));
  EXPECT_EQ(db.GetTableMetadataHandle("B"), 52);
  db.Flush();

  const std::vector<unsigned char> pool = SpaceBytes(db, kPoolHandle);
  ASSERT_EQ(pool.size(), 4u + 48u + 48u);
  EXPECT_EQ(BE32(pool, 0), 0xFAAAEBBBu);
  EXPECT_EQ(BE32(pool, 4), 48u);
  EXPECT_EQ(BE32(pool, 16), static_cast<std::uint32_t>(qvt_TypeInt));    // x
  EXPECT_EQ(BE32(pool, 28), static_cast<std::uint32_t>(qvt_TypeFloat));  // y
  EXPECT_EQ(BE32(pool, 40), static_cast<std::uint32_t>(qvt_TypeString)); // z
  EXPECT_EQ(BE32(pool, 52), 48u);
  EXPECT_EQ(qvt_test::BEDoubleAt(pool, 8), static_cast<double>(qvt_test::StringReference(db, "A")));
}

TEST_P(MetadataPoolTest, BindingABoundClassAnswersTheSameObjectAndWritesNothing) {
  qvt_Database db = CreateDb();
  const qvt_TableMetadata& first = db.Bind(ThreeFields("A"));
  db.Flush();
  const std::vector<unsigned char> before = SpaceBytes(db, kPoolHandle);
  qvt_TableMetadata other("A", 9);
  other.DefineDoubleField("q");
  EXPECT_EQ(&db.Bind(other), &first);
  EXPECT_EQ(&db.Bind(ThreeFields("A")), &first);
  db.Flush();
  EXPECT_EQ(SpaceBytes(db, kPoolHandle), before);
}

TEST_P(MetadataPoolTest, StoredClassIsKnownByNameButNotByHandleUntilBound) {
  { CreateDb().Bind(ThreeFields("A")); }
  qvt_Database db = OpenDb();
  EXPECT_TRUE(db.HasTable("A"));
  EXPECT_FALSE(db.HasTable("B"));
  EXPECT_EQ(db.GetTableMetadataHandle("A"), 4);
  QVT_EXPECT_THROW_TEXT(db.GetTableMetadata(utl_FileOffset(4)), nex_TextException,
                        "***ERROR: Can't find metadata with handle.");
  QVT_EXPECT_THROW_TEXT(db.GetTableMetadata("A"), nex_TextException, "***ERROR: Can't find metadata with handle.");
  db.Bind();
  const qvt_TableMetadata& a = db.GetTableMetadata("A");
  EXPECT_EQ(a.FieldCount(), 3);
  EXPECT_EQ(a.ClassVersion(), 1);
  EXPECT_EQ(a.GetFieldMD(qvt_FieldHandle(0)).Name(), "x");
  EXPECT_EQ(a.GetFieldMD(qvt_FieldHandle(2)).Type(), qvt_TypeString);
  QVT_EXPECT_THROW_TEXT(db.GetTableMetadata("Nope"), nex_TextException,
                        "***ERROR: Can't find table metadata, \"Nope\" in KELVOR database file.");
  QVT_EXPECT_THROW_TEXT(db.GetTableMetadataHandle("Nope"), nex_TextException,
                        "***ERROR: Can't find table metadata, \"Nope\" in KELVOR database file.");
}

TEST_P(MetadataPoolTest, ClassVersionsComeFromTheMapOrDefaultToOne) {
  {
    qvt_Database db = CreateDb();
    db.Bind(ThreeFields("A"));
    db.Bind(ThreeFields("B"));
  }
  qvt_Database db = OpenDb();
  db.InsertInMapClassName2ClassVersion("A", 3);
  db.Bind();
  db.InsertInMapClassName2ClassVersion("A", 4);
  EXPECT_EQ(db.GetMapClassName2ClassVersion().at("A"), 3);
  EXPECT_EQ(db.GetTableMetadata("A").ClassVersion(), 3);
  EXPECT_EQ(db.GetTableMetadata("B").ClassVersion(), 1);
}

TEST_P(MetadataPoolTest, NewClassTakesTheMappedVersionOverItsOwn) {
  qvt_Database db = CreateDb();
  db.InsertInMapClassName2ClassVersion("A", 7);
  qvt_TableMetadata md = ThreeFields("A");
  EXPECT_EQ(db.Bind(md).ClassVersion(), 7);
  qvt_TableMetadata b("B", 5);
  b.DefineIntField("n");
  EXPECT_EQ(db.Bind(b).ClassVersion(), 5);
}

TEST_P(MetadataPoolTest, NamesComeInKeyOrder) {
  qvt_Database db = CreateDb();
  db.Bind(ThreeFields("B"));
  db.Bind(ThreeFields("A"));
  EXPECT_EQ(db.GetTableMetadataNames(), (std::vector<cow_String>{"A", "B"}));
}

TEST_P(MetadataPoolTest, BindMergesTheCallersFieldsIntoAStoredClass) {
  {
    qvt_Database db = CreateDb();
    qvt_TableMetadata stored("S", 1);
    stored.DefineFloatField("y");
    stored.DefineDoubleField("z");
    db.Bind(stored);
  }
  qvt_Database db = OpenDb();
  qvt_TableMetadata mismatched("S", 1);
  mismatched.DefineIntField("y");
  QVT_EXPECT_THROW_TEXT(db.Bind(mismatched), nex_TextException, "***ERROR: Field type mismatch: y");
  QVT_EXPECT_THROW_TEXT(db.GetTableMetadata("S"), nex_TextException, "***ERROR: Can't find metadata with handle.");

  qvt_TableMetadata wanted("S", 2);
  wanted.DefineIntField("x");
  wanted.DefineFloatField("y");
  const qvt_TableMetadata& merged = db.Bind(wanted);
  EXPECT_EQ(merged.GetFieldMD(qvt_FieldHandle("x")).Index(), 0);
  EXPECT_EQ(merged.GetFieldMD(qvt_FieldHandle("x")).Present(), 0);
  EXPECT_EQ(merged.GetFieldMD(qvt_FieldHandle("y")).Index(), 1);
  EXPECT_EQ(merged.GetFieldMD(qvt_FieldHandle("y")).Present(), 1);
  EXPECT_EQ(merged.GetFieldMD(qvt_FieldHandle("z")).Index(), 2);
  EXPECT_EQ(merged.GetFieldMD(qvt_FieldHandle("z")).Present(), 1);
  EXPECT_EQ(merged.ClassVersion(), 2);
  // Bind() afterwards keeps the merged object.
  db.Bind();
  EXPECT_EQ(&db.GetTableMetadata("S"), &merged);
}

TEST_P(MetadataPoolTest, ReadOnlyDatabaseCannotStoreANewClass) {
  { CreateDb(); }
  qvt_Database db = OpenDb();
  QVT_EXPECT_THROW_TEXT(db.Bind(ThreeFields("A")), nex_TextException,
                        "The output database was opened as read-only. Modification of data is not permitted.");
  EXPECT_FALSE(db.HasTable("A"));
}

TEST_P(MetadataPoolTest, RecordLengthThatCannotAdvanceIsCorrupt) {
  CreateWithPoolInts({0, 0, 0});
  QVT_EXPECT_THROW_TEXT(OpenDb(), nex_TextException, kCorrupt);
}

TEST_P(MetadataPoolTest, NegativeRecordLengthIsCorrupt) {
  CreateWithPoolInts({-48, 0, 0});
  QVT_EXPECT_THROW_TEXT(OpenDb(), nex_TextException, kCorrupt);
}

TEST_P(MetadataPoolTest, RecordRunningPastThePoolIsCorrupt) {
  {
    qvt_Database db = CreateDb();
    db.Bind(ThreeFields("A"));
    db.Flush();
    qvt_Space pool = db.Space(kPoolHandle, -1);
    pool.Seek(4);
    pool.WriteInt(52);  // one int beyond the pool's end
  }
  QVT_EXPECT_THROW_TEXT(OpenDb(), nex_TextException, kCorrupt);
}

TEST_P(MetadataPoolTest, ClassStoredTwiceIsCorrupt) {
  {
    qvt_Database db = CreateDb();
    db.Bind(ThreeFields("A"));
    db.Flush();
    // A second copy of A's record behind the first.
    std::vector<unsigned char> pool = SpaceBytes(db, kPoolHandle);
    qvt_Space space = db.Space(kPoolHandle, -1);
    space.Seek(space.Length());
    space.Write(reinterpret_cast<const char*>(pool.data()) + 4, 48);
  }
  QVT_EXPECT_THROW_TEXT(OpenDb(), nex_TextException, kCorrupt);
}

TEST_P(MetadataPoolTest, ReaderFindsClassesAddedAfterItOpened) {
  if (GetParam() == qvt_test::FileKind::Compressed) {
    GTEST_SKIP() << "a compressed file keeps the segments it has read, header included, for its life";
  }
  qvt_Database writer = CreateDb();
  writer.Bind(ThreeFields("A"));
  writer.Flush();
  qvt_Database reader = OpenDb();
  EXPECT_FALSE(reader.HasTable("B"));
  writer.Bind(ThreeFields("B"));
  EXPECT_EQ(reader.Snap(), 0);  // not flushed yet
  writer.Flush();
  EXPECT_EQ(reader.Snap(), 1);
  EXPECT_TRUE(reader.HasTable("B"));
  EXPECT_EQ(reader.GetTableMetadataHandle("B"), 52);
  EXPECT_EQ(reader.Snap(), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MetadataPoolTest, ::testing::ValuesIn(qvt_test::TestedFileKinds()),
                         qvt_test::FileKindParamName);

}  // namespace
