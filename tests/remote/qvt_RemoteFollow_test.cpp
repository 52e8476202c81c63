// A remote reader following a writer: inside the writer's transaction its
// status is 4, after the flush 2, and its Snap takes up the new rows, array
// values and stream records exactly as a local reader's; a deleted file
// answers 3 and a re-created one 1.
#include <filesystem>
#include <string>
#include <vector>

#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_ReaderSemaphoreProxy.h"
#include "qvt_RemoteTestSupport.h"
#include "qvt_ToolSampleDatabase.h"
#include "utl_File.h"
#include <gtest/gtest.h>

namespace qvt_test {
namespace {

// Handles in creation order: the table (4), the int array (5), the stream (6).
constexpr qvt_Handle kTable = 4, kArray = 5, kStream = 6;

qvt_TableMetadata Rows() {
  qvt_TableMetadata rows("rows", 1);
  rows.DefineIntField("i");
  return rows;
}

// The writer adds a row, an array value and a stream record, each flushed,
// then flushes the database. The assistant is another process, so a
// writer in this one is a writer to it.
struct Writer {
  explicit Writer(const std::string& path)
      : db(qvt_Database::Create(qvt_File::Open(path, utl_FileAccessCreate, false), "ODB", "writer", 1)),
        table(db.Table(Rows(), -1, -1)),
        array(db.ArrayInt(1, -1, 0)),
        stream(db.TaggedStream(0)) {}
  void Add(int n) {
    table.NewRow().WriteFieldInt("i", n);
    array.Write(&n, 1);
    stream.WriteInt(n, n * 3);
    table.Flush();
    array.Flush();
    stream.Flush();
    db.Flush();
  }
  qvt_Database db;
  qvt_Table table;
  qvt_Array<int, 1> array;
  qvt_TaggedStream stream;
};

qvt_Database OpenBound(const qvt_File& file) {
  qvt_Database db = qvt_Database::Open(file, "");
  db.Bind();
  return db;
}

// A reader that keeps its objects open and takes up changes with Snap.
struct Reader {
  explicit Reader(const qvt_File& file)
      : db(OpenBound(file)),
        table(db.Table(kTable, -1, -1)),
        array(db.ArrayInt(kArray, -1, 0)),
        stream(db.TaggedStream(kStream, 0)) {}
  // Everything the reader sees, after a Snap of each object.
  std::string Refresh() {
    db.Snap();
    table.Snap();
    array.Snap();
    stream.Snap();
    std::string seen = "rows";
    for (int r = 0; r < table.Length(); ++r) seen += " " + std::to_string(table.ReadRow(r).ReadFieldInt("i"));
    seen += " array";
    std::vector<int> values(static_cast<std::size_t>(array.Length()) + 1);
    array.Seek(0);
    const int n = array.Read(values.data(), array.Length());
    for (int i = 0; i < n; ++i) seen += " " + std::to_string(values[static_cast<std::size_t>(i)]);
    while (stream.Next())
      records += " " + std::to_string(stream.GetID()) + "=" + std::to_string(stream.GetInt());
    return seen + " stream" + records;
  }
  qvt_Database db;
  qvt_Table table;
  qvt_Array<int, 1> array;
  qvt_TaggedStream stream;
  std::string records;
};

TEST(RemoteFollow, SeesTheWritersFlushesAsALocalReaderDoes) {
  RemoteEnvironment env(1, 1);  // 1 KiB pages: most changes land in pages already held
  ScratchDir dir;
  const std::string path = dir.File("run.odb");
  auto writer = std::make_unique<Writer>(path);
  writer->Add(0);
  writer->Add(1);
  Reader remote(qvt_File::Open(RemoteEnvironment::Url(path), ""));
  Reader local(qvt_File::Open(path, utl_FileAccessRead, true));
  EXPECT_EQ(remote.Refresh(), "rows 0 1 array 0 1 stream 0=0 1=3");
  for (int n = 2; n < 40; ++n) {
    {
      qvt_ReaderSemaphoreProxy transaction(writer->db);
      writer->Add(n);
      EXPECT_EQ(remote.db.FileStatus(), qvt_FileStatus::InTransaction);
    }
    EXPECT_EQ(remote.db.FileStatus(), qvt_FileStatus::Updated);
    EXPECT_EQ(local.db.FileStatus(), qvt_FileStatus::Updated);
    EXPECT_EQ(remote.Refresh(), local.Refresh()) << "after " << n;
    EXPECT_EQ(remote.db.FileStatus(), qvt_FileStatus::Unchanged);
  }
  EXPECT_NE(remote.Refresh().find(" 39 array"), std::string::npos);
  writer.reset();
  std::filesystem::remove(path);
  EXPECT_EQ(remote.db.FileStatus(), qvt_FileStatus::CheckFailed);
  WriteSampleDatabase(path, false);  // another creation time
  EXPECT_EQ(remote.db.FileStatus(), qvt_FileStatus::Recreated);
}

}  // namespace
}  // namespace qvt_test
