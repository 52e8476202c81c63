// Example: a post-processor following the writer's results while they are
// written. It opens the database read-only, then polls its status and
// refreshes with Snap, printing each new row, until the row marked "done".
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "qvt_Database.h"
#include "qvt_File.h"

namespace {

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

// The writer may not have created the file, or flushed it, yet: try again.
qvt_Database OpenWhenReady(const char* path) {
  for (int attempt = 0;; ++attempt) {
    try {
      qvt_Database db = qvt_Database::Open(qvt_File::Open(path, 0, true), "DEMO");
      if (db.HasTable("steps")) return db;
    } catch (const std::exception&) {
      if (attempt == 200) throw;
    }
    Pause();
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "results.odb";
  try {
    qvt_Database db = OpenWhenReady(path);
    db.Bind();  // every stored table class, so tables open by handle
    qvt_Table steps = db.Table(db.RootTableHandle(), -1, -1);
    int seen = 0;
    for (int idle = 0; idle < 200; ++idle) {
      for (; seen < steps.Length(); ++seen, idle = 0) {
        qvt_Row row = steps.ReadRow(seen);
        const cow_String status = row.ReadFieldString("status");
        std::printf("step %d: energy %.2f (%s)\n", row.ReadFieldInt("step"), row.ReadFieldDouble("energy"),
                    status.c_str());
        if (status == "done") return 0;
      }
      Pause();
      // Refresh only when the writer has flushed and is not inside a
      // transaction; the database first, then its objects.
      if (db.FileStatus() != qvt_FileStatus::InTransaction && db.Snap() == 1) steps.Snap();
    }
    std::fprintf(stderr, "reader: the writer stopped before it was done\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "reader: %s\n", e.what());
  }
  return 1;
}
