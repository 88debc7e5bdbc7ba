// Shared by the suites that run whole installations: a shop of its own per test (a private program folder
// and a fresh demo shop), the runner as a separate process under bounds of time and memory, another
// program's connection to a database, and snapshots that show whether a database, folder or installation changed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TestSupport.h"

struct sqlite3;

namespace TestSupport {

// The carrier's files that an installation copies next to the shop database.
inline const std::vector<std::string> kCopiedFiles = {"TarnVel_Zones.mdb", "TarnVel_Services.mdb",
                                                      "TarnVelEODManifest.rpt", "TarnVel.jpg", "TarnVel_Generic.lab"};

// What one run of addtarnvel-cli --json left behind.
struct Run {
  int exitStatus = -1;  // -1 when it did not exit normally
  long peakKb = 0;      // the most memory it held at once (resident set)
  std::vector<nlohmann::json> events;
  std::string err;
  // The message boxes, each as "title: text".
  std::vector<std::string> Boxes() const;
  std::string Dump() const;  // for failure output
  // The summary the run printed last (mode, outcome, exit, changed, items); an empty object without one.
  nlohmann::json Summary() const;
  // The rows the summary says the chart import stored; empty without one.
  std::string ChartRows() const;
};

// Bounds of one run: a run past either is killed, and `err` says why.
struct Limits {
  std::chrono::seconds time{150};
  long memoryMb = 2048;
};

// A started program and the files its standard output and error go to.
struct Child {
  pid_t pid = -1;
  std::string out, err;
};

// Starts `argv` (argv[0] looked up in PATH) with the runner's environment.
Child Start(const std::vector<std::string>& argv, const std::string& out, const std::string& err);
// Waits for the child within `limits` and reads its transcript; regular
// output files are removed.
Run Wait(const Child& child, const Limits& limits = {});
// The program folder of the build (ATV_PROGRAM_DIR), or empty.
std::filesystem::path BuiltProgramFolder();
// The built runner's command line with `args`.
std::vector<std::string> Cli(const std::vector<std::string>& args);

// A temporary folder holding `program/` (a copy of the built program
// folder's carrier files and charts) and `shop/Mailvoro.mdb` (the demo
// shop). Skips the test when the built files are not there.
class Shop {
 public:
  Shop();
  // False when the build has not made the files; the reason is in Why().
  bool Ready() const { return why_.empty(); }
  const std::string& Why() const { return why_; }

  std::filesystem::path Root() const { return dir_.Path(); }
  std::filesystem::path Program() const { return dir_.Path() / "program"; }
  std::filesystem::path Folder() const { return dir_.Path() / "shop"; }
  std::string Host() const { return (Folder() / "Mailvoro.mdb").string(); }
  std::string Zones() const { return (Folder() / "TarnVel_Zones.mdb").string(); }

  // Makes a fresh demo shop at Host(), removing what the folder held.
  void Reset();
  // Arguments of a run on `host` (Host() when empty) answering `zip` and
  // OK, with the carrier's files from `program` (Program() when empty).
  std::vector<std::string> Args(const std::string& zip = "10001", const std::string& host = "",
                                const std::string& program = "") const;
  Run RunCli(const std::vector<std::string>& args, const Limits& limits = {}) const;

 private:
  TestSupport::TempDir dir_;
  std::string why_;
};

// Another program's connection to a database, holding whatever `sql`
// leaves open (a transaction; nothing for an idle connection) until End().
class Holder {
 public:
  Holder(const std::string& path, const std::string& sql);
  ~Holder();
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  const std::string& Error() const { return error_; }  // empty when `sql` ran
  // Runs `sql` and closes the connection; answers SQLite's message ("not an error" when it ran).
  std::string End(const std::string& sql = "COMMIT");

 private:
  sqlite3* db_ = nullptr;
  std::string error_;
};

// Every table of a database with its schema and its rows, in one text;
// empty when it cannot be read. Opened for writing, so a hot journal left
// by a killed writer is rolled back first, as the next writer would.
std::string DatabaseText(const std::string& path);
std::vector<std::string> Rows(const std::string& path, const std::string& sql);
// The first row of Rows(), or what kept it from being read ("ok" for a
// whole database's "PRAGMA integrity_check").
std::string Value(const std::string& path, const std::string& sql);

// Name → mode and what it is of every entry in a folder: a file's size and hash (only the size past 64 MiB),
// a link's target, "<folder>" or "<special>" (never opened).
std::map<std::string, std::string> FolderContents(const std::filesystem::path& folder);

// What an installation changes in the shop of `host`: "master" and
// "buttons" (the rows that carry the service), "panel rows" (how many),
// "zone rows" (of the shop's zones database) and each carrier file ("same"
// as in `program`, "differs", "missing" or "a link").
std::map<std::string, std::string> Installed(const std::string& host, const std::filesystem::path& program);

}  // namespace TestSupport
