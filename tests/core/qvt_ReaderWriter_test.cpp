// A writer and a reader in two processes sharing one database file: the
// reader sees nothing new until the writer flushes, then Snap answers true
// once and new strings and spaces are found. Local files only: a compressed
// file keeps the segment holding the header decoded for its whole life, so
// its readers see the file as it was when they opened it.
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "nex_Exception.h"
#include "qvt_ChildProcess.h"
#include "qvt_DatabaseFixture.h"
#include "qvt_SpaceRepr.h"
#include "qvt_TestSupport.h"

using namespace qvt_test;

namespace {

constexpr int kTimeoutMs = 20000;

// Every answer of a reader ends in " #<n>" with n counting the answers, so
// that the writer can wait for exactly the answer it asked for.
void Answer(int* count, const std::string& text) {
  std::printf("%s #%d\n", text.c_str(), ++*count);
  std::fflush(stdout);
}

// The reader: opens the database and answers one line per command read on
// standard input: "snap", "string <offset>", "space <handle>", "quit".
int ReaderMain(const std::string& path) {
  qvt_File file = qvt_File::Open(path, 0, true);
  qvt_DatabaseReprFile db;
  db.Open(file, "TEST");
  int count = 0;
  Answer(&count, "opened flush=" + std::to_string(db.GetFlushCount()));
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "quit") return 0;
    try {
      if (command == "snap") {
        Answer(&count, std::string("snap=") + (db.Snap() ? "1" : "0"));
      } else if (command == "string") {
        long long offset = 0;
        in >> offset;
        Answer(&count, "string=" + db.StringPool().String(offset));
      } else if (command == "space") {
        unsigned handle = 0;
        in >> handle;
        std::unique_ptr<qvt_SpaceRepr> space(db.Space(handle, -1));
        const long long length = space->Length();
        Answer(&count, "space length=" + std::to_string(length) + " first=" + std::to_string(space->ReadInt()));
      } else {
        Answer(&count, "unknown command");
      }
    } catch (const nex_Exception& e) {
      Answer(&count, "error=" + e.AsString());
    }
  }
  return 0;
}

class ReaderWriterTest : public DatabaseFixture {
 protected:
  // Waits for the reader's answer number n and answers its text.
  std::string Expect(ChildProcess& reader, int n) {
    const std::string marker = " #" + std::to_string(n) + "\n";
    if (!reader.WaitForStdout(marker, kTimeoutMs)) return "no answer; stderr: " + reader.ErrSoFar();
    const std::string& out = reader.OutSoFar();
    const std::size_t end = out.find(marker);
    const std::size_t start = out.rfind('\n', end);
    return out.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
  }
  // Sends a command and answers the reader's reply to it.
  std::string Ask(ChildProcess& reader, const std::string& command) {
    EXPECT_TRUE(reader.WriteStdin(command + "\n"));
    return Expect(reader, ++m_Answers);
  }
  int m_Answers = 1;  // the reader's first answer comes unasked
};

TEST_F(ReaderWriterTest, ReaderSeesFlushesThroughSnapAndOneReload) {
  auto writer = Create();
  const utl_FileOffset alpha = writer->StringPool().StringOffset("alpha");
  writer->Flush();

  ChildProcess reader([this] { return ReaderMain(Path()); });
  ASSERT_EQ(Expect(reader, 1), "opened flush=1");
  EXPECT_EQ(Ask(reader, "snap"), "snap=0");
  EXPECT_EQ(Ask(reader, "string " + std::to_string(alpha)), "string=alpha");

  // New string and a new space, not yet flushed: invisible.
  const utl_FileOffset gamma = writer->StringPool().StringOffset("gamma");
  std::unique_ptr<qvt_SpaceRepr> space(writer->Space(-1));
  const qvt_Handle handle = space->Handle();
  space->WriteInt(4711);
  EXPECT_EQ(Ask(reader, "snap"), "snap=0");
  EXPECT_EQ(Ask(reader, "string " + std::to_string(gamma)),
            "error=qvt_StringManagerFile::String - String is not available.");
  EXPECT_EQ(Ask(reader, "space " + std::to_string(handle)),
            "error=***ERROR: Database is not valid. This may indicate that the database has been corrupted.");

  writer->Flush();
  EXPECT_EQ(Ask(reader, "snap"), "snap=1");
  EXPECT_EQ(Ask(reader, "snap"), "snap=0");
  EXPECT_EQ(Ask(reader, "string " + std::to_string(gamma)), "string=gamma");
  EXPECT_EQ(Ask(reader, "space " + std::to_string(handle)), "space length=4 first=4711");

  // The writer's close is one more flush.
  space.reset();
  writer.reset();
  EXPECT_EQ(Ask(reader, "snap"), "snap=1");
  EXPECT_EQ(Ask(reader, "snap"), "snap=0");
  reader.WriteStdin("quit\n");
  const ChildResult result = reader.Wait(kTimeoutMs);
  EXPECT_TRUE(result.Succeeded()) << result.err;
}

TEST_F(ReaderWriterTest, ReaderOpenSpaceFollowsGrowthAfterSnap) {
  auto writer = Create();
  std::unique_ptr<qvt_SpaceRepr> grower(writer->Space(-1));
  std::unique_ptr<qvt_SpaceRepr> other(writer->Space(-1));
  grower->WriteInt(1);
  other->WriteInt(9);
  writer->Flush();

  // The reader keeps one space object open across the writer's flushes.
  ChildProcess reader([this] {
    qvt_File file = qvt_File::Open(Path(), 0, true);
    qvt_DatabaseReprFile db;
    db.Open(file, "");
    std::unique_ptr<qvt_SpaceRepr> space(db.Space(4, -1));
    int count = 0;
    Answer(&count, "length=" + std::to_string(space->Length()));
    std::string line;
    while (std::getline(std::cin, line) && line != "quit") {
      const bool snapped = db.Snap();
      space->Seek(0);
      long long sum = 0;
      const long long length = space->Length();
      for (long long i = 0; i < length / 4; ++i) sum += space->ReadInt();
      Answer(&count, "snap=" + std::to_string(snapped ? 1 : 0) + " length=" + std::to_string(length) +
                         " sum=" + std::to_string(sum));
    }
    return 0;
  });
  ASSERT_EQ(Expect(reader, 1), "length=4");
  grower->WriteInt(2);  // chained behind the other space
  grower->WriteInt(3);
  EXPECT_EQ(Ask(reader, "go"), "snap=0 length=4 sum=1");
  writer->Flush();
  EXPECT_EQ(Ask(reader, "go"), "snap=1 length=12 sum=6");
  reader.WriteStdin("quit\n");
  EXPECT_TRUE(reader.Wait(kTimeoutMs).Succeeded());
}

}  // namespace
