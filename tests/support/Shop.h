// For the suites that run whole installations: a shop per test, the runner as a bounded child process,
// another program's connection, snapshots of databases, folders and installations.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace TestSupport {

// The carrier's files that an installation copies next to the shop database.
inline const std::vector<std::string> kCopiedFiles = {"TarnVel_Zones.mdb", "TarnVel_Services.mdb",
                                                      "TarnVelEODManifest.rpt", "TarnVel.jpg", "TarnVel_Generic.lab"};

struct Run {            // what one run of addtarnvel-cli --json left behind
  int exitStatus = -1;  // -1 when it did not exit normally
  long peakKb = 0;      // the most memory it held at once (resident set)
  std::vector<nlohmann::json> events;
  std::string err;
  std::string Dump() const;        // for failure output: the exit status, the boxes' texts, stderr
  nlohmann::json Summary() const;  // the summary printed last; an empty object without one
  std::string ChartRows() const;   // the rows the summary says the chart import stored; empty without one
};

struct Child {  // a started program and the files its standard output and error go to
  pid_t pid = -1;
  std::string out, err;
};

// Starts `argv` (argv[0] looked up in PATH) with the runner's environment.
Child Start(const std::vector<std::string>& argv, const std::string& out, const std::string& err);
// Waits (killing it past 150 s or 2 GiB) and reads its transcript; removes regular output files.
Run Wait(const Child& child);
std::filesystem::path BuiltProgramFolder();                          // ATV_PROGRAM_DIR, or empty
std::vector<std::string> Cli(const std::vector<std::string>& args);  // the built runner with `args`

// A temporary folder of `program/` (the built carrier files and charts) and `shop/Mailvoro.mdb` (the demo).
class Shop {
 public:
  Shop();
  bool Ready() const { return why_.empty(); }  // false when the build has not made the files
  const std::string& Why() const { return why_; }

  std::filesystem::path Root() const { return dir_.Path(); }
  std::filesystem::path Program() const { return dir_.Path() / "program"; }
  std::filesystem::path Folder() const { return dir_.Path() / "shop"; }
  std::string Host() const { return (Folder() / "Mailvoro.mdb").string(); }
  std::string Zones() const { return (Folder() / "TarnVel_Zones.mdb").string(); }

  void Reset();  // a fresh demo shop at Host(), in an emptied folder
  // A run on `host` (Host() when empty) answering `zip` and OK, from `program` (Program() when empty).
  std::vector<std::string> Args(const std::string& zip = "10001", const std::string& host = "",
                                const std::string& program = "") const;
  Run RunCli(const std::vector<std::string>& args) const;

 private:
  TestSupport::TempDir dir_;
  std::string why_;
};

// A database's tables, schemas and rows in one text ("" for no file); a hot journal is rolled back first.
std::string DatabaseText(const std::string& path);
std::vector<std::string> Rows(const std::string& path, const std::string& sql);
// The first row of Rows(); "unreadable: " and why when it could not be read.
std::string Value(const std::string& path, const std::string& sql);

// Name -> mode and kind of every entry of a folder: a file's hash (its size past 64 MiB), a link's target,
// "<folder>" or "<special>" (never opened).
std::map<std::string, std::string> FolderContents(const std::filesystem::path& folder);

// What an installation changes in the shop of `host`: "master", "buttons", "panel rows", "zone rows" and
// each carrier file ("same" as in `program`, "differs", "missing", "a link" or "unreadable: ...").
std::map<std::string, std::string> Installed(const std::string& host, const std::filesystem::path& program);

}  // namespace TestSupport
