// A writer and a reader in two processes sharing one database file: the
// reader sees nothing new until the writer flushes, then Snap answers true
// once and new strings and spaces are found. Local files only: a compressed
// file keeps the segment holding the header decoded for its whole life, so
// its readers see the file as it was when they opened it.
#include <memory>
#include <sstream>
#include <string>

#include "nex_Exception.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_SpaceRepr.h"
#include "qvt_StatusChild.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

// The reader child: opens the database at its first command and answers
// "snap", "string <offset>" and "sum <handle>" (snap, then length and sum of
// the ints of a space object it keeps open across commands while the
// handle stays the same).
CommandedChild StartReader(const std::string& path) {
  auto db = std::make_shared<qvt_DatabaseReprFile>();
  auto kept = std::make_shared<std::unique_ptr<qvt_SpaceRepr>>();
  return CommandedChild([path, db, kept](const std::string& line) -> std::string {
    std::istringstream in(line);
    std::string command;
    long long argument = 0;
    in >> command >> argument;
    try {
      if (command == "open") {
        db->Open(qvt_File::Open(path, 0, true), "TEST");
        return "opened flush=" + std::to_string(db->GetFlushCount());
      }
      if (command == "snap") return std::string("snap=") + (db->Snap() ? "1" : "0");
      if (command == "string") return "string=" + db->StringPool().String(argument);
      if (command == "sum") {
        const qvt_Handle handle = static_cast<qvt_Handle>(argument);
        if (!*kept || (*kept)->Handle() != handle) kept->reset(db->Space(handle, -1));
        const bool snapped = db->Snap();
        (*kept)->Seek(0);
        long long sum = 0;
        const long long length = (*kept)->Length();
        for (long long i = 0; i < length / 4; ++i) sum += (*kept)->ReadInt();
        return "snap=" + std::to_string(snapped ? 1 : 0) + " length=" + std::to_string(length) +
               " sum=" + std::to_string(sum);
      }
      return "unknown command";
    } catch (const nex_Exception& e) {
      return "error=" + std::string(e.AsString().c_str());
    }
  });
}

// The reader keeps one space object open across the writer's flushes; the
// grown space is chained behind another, and found after the snap.
using ReaderWriterTest = DatabaseFixture;

TEST_F(ReaderWriterTest, ReaderSeesFlushesThroughSnapAndOneReload) {
  auto writer = Create();
  const utl_FileOffset alpha = writer->StringPool().StringOffset("alpha");
  std::unique_ptr<qvt_SpaceRepr> grower(writer->Space(-1));
  std::unique_ptr<qvt_SpaceRepr> other(writer->Space(-1));
  grower->WriteInt(1);
  other->WriteInt(9);
  writer->Flush();

  CommandedChild reader = StartReader(Path());
  ASSERT_EQ(reader.Ask("open"), "opened flush=1");
  EXPECT_EQ(reader.Ask("snap"), "snap=0");
  EXPECT_EQ(reader.Ask("string " + std::to_string(alpha)), "string=alpha");
  ASSERT_EQ(reader.Ask("sum 4"), "snap=0 length=4 sum=1");

  // A new string, a new space and growth, not yet flushed: invisible.
  const utl_FileOffset gamma = writer->StringPool().StringOffset("gamma");
  std::unique_ptr<qvt_SpaceRepr> space(writer->Space(-1));
  const qvt_Handle handle = space->Handle();
  space->WriteInt(4711);
  grower->WriteInt(2);
  grower->WriteInt(3);
  EXPECT_EQ(reader.Ask("snap"), "snap=0");
  EXPECT_EQ(reader.Ask("string " + std::to_string(gamma)),
            "error=qvt_StringManagerFile::String - String is not available.");
  EXPECT_EQ(reader.Ask("sum " + std::to_string(handle)),
            "error=***ERROR: Database is not valid. This may indicate that the database has been corrupted.");
  EXPECT_EQ(reader.Ask("sum 4"), "snap=0 length=4 sum=1");

  writer->Flush();
  EXPECT_EQ(reader.Ask("sum 4"), "snap=1 length=12 sum=6");
  EXPECT_EQ(reader.Ask("snap"), "snap=0");
  EXPECT_EQ(reader.Ask("string " + std::to_string(gamma)), "string=gamma");
  EXPECT_EQ(reader.Ask("sum " + std::to_string(handle)), "snap=0 length=4 sum=4711");

  // The writer's close is one more flush.
  space.reset();
  grower.reset();
  other.reset();
  writer.reset();
  EXPECT_EQ(reader.Ask("snap"), "snap=1");
  EXPECT_EQ(reader.Ask("snap"), "snap=0");
  EXPECT_TRUE(reader.Finish().Succeeded());
}

}  // namespace
