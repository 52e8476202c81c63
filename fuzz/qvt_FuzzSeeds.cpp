// Writes the fuzz targets' seed corpora, a folder each, from the tool tests' sample database.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_FileCache.h"
#include "qvt_RemoteMessages.h"
#include "qvt_TablesFixture.h"
#include "qvt_TestSupport.h"
#include "qvt_ToolSampleDatabase.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qvt_fuzz_seeds FOLDER\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path out = argv[1];
  for (const char* corpus :
       {"open_plain", "open_compressed", "compressed_mutator", "metadata", "assistant_reply"}) {
    fs::create_directories(out / corpus);
  }
  const std::string plain = (out / "open_plain" / "sample.odb").string();
  qvt_test::WriteSampleDatabase(plain, false);
  qvt_test::WriteSampleDatabase((out / "open_compressed" / "sample.odb").string(), true);
  fs::copy_file(out / "open_compressed" / "sample.odb", out / "compressed_mutator" / "sample.odb",
                fs::copy_options::overwrite_existing);

  // Each record of the metadata pool (handle 3) on its own, from its length word on.
  qvt_Database db = qvt_Database::Open(qvt_File::Open(plain.c_str(), 0, true), "");
  const std::vector<unsigned char> pool = qvt_test::SpaceBytes(db, 3);
  for (std::size_t at = 4, n = 0, length; at + 4 <= pool.size(); at += length, ++n) {
    length = qvt_test::BE32(pool, at);
    if (length == 0 || at + length > pool.size()) break;
    qvt_test::WriteAll((out / "metadata" / ("record" + std::to_string(n))).string(),
                       {pool.data() + at, pool.data() + at + length});
  }

  // The handshake, the size reply, then page 0 as often as it is asked for.
  const std::vector<unsigned char> file = qvt_test::ReadAll(plain);
  std::vector<unsigned char> reply;
  const auto putLE = [&reply](std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) reply.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  putLE(static_cast<std::uint16_t>(qvt_RemoteProtocol::kHandshakeWord), 2);
  putLE(0, 2);
  putLE(file.size(), 8);
  const std::size_t page = std::min<std::size_t>(file.size(), qvt_FileCache::Instance().PageSize());
  for (int i = 0; i < 3; ++i) {
    putLE(0, 2);
    putLE(page, 4);
    reply.insert(reply.end(), file.begin(), file.begin() + static_cast<long>(page));
  }
  qvt_test::WriteAll((out / "assistant_reply" / "sample").string(), reply);
  return 0;
}
