// qvtdb: the command line of the tool. Parses the subcommand and its options
// with CLI11, runs the one function of that subcommand, and turns every
// failure into one line on standard error and an exit status: 0 done, 1 a
// problem found (the library's message), 2 bad usage.
#include <CLI/CLI.hpp>
#include <exception>
#include <functional>
#include <iostream>
#include <new>
#include <string>

#include "nex_Exception.h"
#include "qvtdb_Tool.h"

namespace {

int Fail(const std::string& message, int status) {
  std::cout.flush();
  std::cerr << "qvtdb: " << qvtdb_OneLine(message) << std::endl;
  return status;
}

// Runs one subcommand; whatever it throws becomes one line and a status.
int Run(const std::function<int()>& command) {
  try {
    return command();
  } catch (const qvtdb_UsageError& e) {
    return Fail(e.what(), qvtdb_ExitUsage);
  } catch (const nex_Exception& e) {
    return Fail(e.AsString(), qvtdb_ExitProblem);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory", qvtdb_ExitProblem);
  } catch (const std::exception& e) {
    return Fail(e.what(), qvtdb_ExitProblem);
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qvtdb: look inside, check, convert and follow qvt result databases.", "qvtdb"};
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 done, 1 a problem found (printed on standard error), 2 bad usage.\n"
      "Run 'qvtdb SUBCOMMAND --help' for the options of one subcommand.");
  std::function<int()> command;

  std::string file;
  auto* info = app.add_subcommand("info", "Kind of file, header fields, statistics and objects by type.");
  info->add_option("FILE", file, "Database file")->required();
  info->callback([&] { command = [&] { return qvtdb_Info(file); }; });

  auto* ls = app.add_subcommand("ls", "Every object: handle, type, length, extents; class and rows of tables.");
  ls->add_option("FILE", file, "Database file")->required();
  ls->callback([&] { command = [&] { return qvtdb_Ls(file); }; });

  auto* classes = app.add_subcommand("classes", "Every table class with its fields and their types.");
  classes->add_option("FILE", file, "Database file")->required();
  classes->callback([&] { command = [&] { return qvtdb_Classes(file); }; });

  qvtdb_DumpOptions dump;
  auto* dumpCmd = app.add_subcommand(
      "dump", "One object: a table row by row, an array row by row, a tagged stream record by record, "
              "any other space as hex.");
  dumpCmd->add_option("FILE", dump.file, "Database file")->required();
  dumpCmd->add_option("HANDLE", dump.handle, "Object handle, decimal or 0x hexadecimal")->required();
  dumpCmd->add_option("--format", dump.format, "Output format")
      ->check(CLI::IsMember({"text", "csv", "json"}))
      ->capture_default_str();
  dumpCmd->add_option("--rows", dump.rows,
                      "Rows FIRST:LAST, counted from 0, both included; either end may be left out "
                      "(records of a tagged stream, 16-byte lines of a space)");
  dumpCmd->callback([&] { command = [&] { return qvtdb_Dump(dump); }; });

  std::string offset;
  auto* locate = app.add_subcommand("locate", "Which object holds the byte at a file offset.");
  locate->add_option("FILE", file, "Database file")->required();
  locate->add_option("OFFSET", offset, "File offset, decimal or 0x hexadecimal")->required();
  locate->callback([&] { command = [&] { return qvtdb_Locate(file, offset); }; });

  auto* unlock = app.add_subcommand(
      "unlock", "Remove the transaction lock a writer that died left beside FILE (refused while a writer holds FILE).");
  unlock->add_option("FILE", file, "Database file")->required();
  unlock->callback([&] { command = [&] { return qvtdb_Unlock(file); }; });

  auto* check = app.add_subcommand(
      "check", "Full structural check: header, linkage and extents, pools, and every object read to its "
               "end. Prints each problem and exits 1, or a one-line summary and exits 0.");
  check->add_option("FILE", file, "Database file")->required();
  check->callback([&] { command = [&] { return qvtdb_Check(file); }; });

  qvtdb_ConvertOptions convert;
  const char* progressHelp = "Progress bar on standard error: auto (when it is a terminal), always, never";
  auto* compress = app.add_subcommand("compress", "Copy a plain database into a new compressed file.");
  compress->add_option("SRC", convert.source, "Database to read")->required();
  compress->add_option("DST", convert.destination, "Compressed file to write")->required();
  compress->add_flag("--force", convert.force, "Overwrite DST when it exists");
  compress->add_option("--progress", convert.progress, progressHelp)
      ->check(CLI::IsMember({"auto", "always", "never"}))
      ->capture_default_str();
  compress->callback([&] {
    convert.compress = true;
    command = [&] { return qvtdb_Convert(convert); };
  });
  auto* decompress = app.add_subcommand("decompress", "Copy a compressed database into a new plain file.");
  decompress->add_option("SRC", convert.source, "Database to read")->required();
  decompress->add_option("DST", convert.destination, "Plain file to write")->required();
  decompress->add_flag("--force", convert.force, "Overwrite DST when it exists");
  decompress->add_option("--progress", convert.progress, progressHelp)
      ->check(CLI::IsMember({"auto", "always", "never"}))
      ->capture_default_str();
  decompress->callback([&] {
    convert.compress = false;
    command = [&] { return qvtdb_Convert(convert); };
  });

  qvtdb_WatchOptions watch;
  auto* watchCmd = app.add_subcommand(
      "watch", "Follow a database while it is written: status changes and what each refresh brought.");
  watchCmd->add_option("FILE", watch.file, "Database file")->required();
  watchCmd->add_option("--until-idle", watch.untilIdle,
                       "Stop after this many seconds without a change (default: until interrupted)")
      ->check(CLI::Range(0.0, 1e9));
  watchCmd->add_option("--interval", watch.intervalMs, "Milliseconds between two status checks")
      ->check(CLI::Range(1, 60000))
      ->capture_default_str();
  watchCmd->callback([&] { command = [&] { return qvtdb_Watch(watch); }; });

  qvtdb_DemoOptions demo;
  auto* demoCmd = app.add_subcommand(
      "demo", "Simulate an analysis writing a results database while a second process follows it.");
  demoCmd->add_option("FILE", demo.file, "Database to write (default: qvtdb-demo.odb in the current folder)");
  demoCmd->add_flag("--compressed", demo.compressed, "Write a compressed database");
  demoCmd->add_flag("--force", demo.force, "Overwrite FILE when it exists");
  demoCmd->add_option("--frames", demo.frames, "Number of frames to write")
      ->check(CLI::Range(1, 100000))
      ->capture_default_str();
  demoCmd->add_option("--interval", demo.intervalMs, "Milliseconds the writer pauses between frames")
      ->check(CLI::Range(0, 60000))
      ->capture_default_str();
  demoCmd->callback([&] { command = [&] { return qvtdb_Demo(demo); }; });

  // The demo's reader process; started by the demo itself.
  double readerTimeout = 60;
  auto* demoReader = app.add_subcommand("demo-reader", "The demo's following process.");
  demoReader->group("");
  demoReader->add_option("FILE", file, "Database file")->required();
  demoReader->add_option("--timeout", readerTimeout, "Seconds to wait for the writer")->check(CLI::Range(0.1, 1e6));
  demoReader->callback([&] { command = [&] { return qvtdb_DemoReader(file, readerTimeout); }; });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help answers 0; every other parse failure is bad usage.
    return app.exit(e) == 0 ? qvtdb_ExitOk : qvtdb_ExitUsage;
  }
  return Run(command);
}
