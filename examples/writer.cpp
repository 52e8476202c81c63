// Example: an analysis writing its results. It creates a database with one
// table class, then adds one row per step; each step is a transaction that
// ends with a Flush, after which readers can see the new row.
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "qvt_Database.h"
#include "qvt_File.h"
#include "qvt_ReaderSemaphoreProxy.h"

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "results.odb";
  try {
    qvt_File file = qvt_File::Open(path, 2, false);  // 2: create (or empty) the file
    qvt_Database db = qvt_Database::Create(file, "DEMO", "example results", 0);

    qvt_TableMetadata shape("steps", 1);  // a table class: name, version, fields
    shape.DefineIntField("step");
    shape.DefineDoubleField("energy");
    shape.DefineStringField("status");
    {
      qvt_Table steps = db.Table(shape, 1024, -1);  // the first object: handle 4
      for (int step = 1; step <= 5; ++step) {
        {
          qvt_ReaderSemaphoreProxy transaction(db);  // readers hold off until it ends
          qvt_Row row = steps.NewRow();
          row.WriteFieldInt("step", step);
          row.WriteFieldDouble("energy", 0.5 * step * step);
          row.WriteFieldString("status", step == 5 ? "done" : "running");
          steps.Flush();  // the table's rows into the file...
          db.Flush();     // ...then the database: now readers see them
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }  // objects go before the last handle of their database
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writer: %s\n", e.what());
    return 1;
  }
  return 0;
}
