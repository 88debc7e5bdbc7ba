// Shared by the fault and corpus suites: a shop of its own per test (a
// private program folder and a fresh demo shop), the unattended runner
// started as a separate process, and snapshots that show whether a
// database or a folder changed.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace FaultSupport {

inline const std::string kFailedBox = "Add Service: Failed to add TARN-VEL service...";
inline const std::string kDoneBox = "Add Service: TARN-VEL service was added successfully !";
inline const std::string kCopyBox = "Can't Copy a File ...: AddTarnVel program has failed to copy file from:";

// What one run of addtarnvel-cli --json left behind.
struct Run {
  int exitStatus = -1;  // -1 when it did not exit normally
  std::vector<nlohmann::json> events;
  std::string err;
  // The message boxes, each as "title: text".
  std::vector<std::string> Boxes() const;
  bool StartsBox(const std::string& start) const;  // a box begins with `start`
  bool Mentions(const std::string& part) const;     // a box holds `part`
  std::string Dump() const;  // for failure output
};

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
  std::string Zones() const { return (Program() / "TarnVel_Zones.mdb").string(); }
  std::string ZoneRows() const;  // count of the working zones database's chart rows

  // Makes a fresh demo shop at Host(), removing what the folder held.
  void Reset();
  // Arguments of a run on `host` (Host() when empty) answering `zip` and OK.
  std::vector<std::string> Args(const std::string& zip = "10001", const std::string& host = "") const;
  Run RunCli(const std::vector<std::string>& args) const;
  // Starts the runner without waiting; its output goes to `outFile`.
  pid_t Start(const std::vector<std::string>& args, const std::string& outFile) const;

 private:
  TestSupport::TempDir dir_;
  std::string why_;
};

// Every table of a database with its schema and its rows, in one text;
// empty when it cannot be read. Opened for writing, so a hot journal left
// by a killed writer is rolled back first, as the next writer would.
std::string DatabaseText(const std::string& path);
// "ok" or SQLite's list of problems.
std::string IntegrityCheck(const std::string& path);
std::vector<std::string> Rows(const std::string& path, const std::string& sql);

// Name → size and hash of every entry in a folder (folders as "<folder>").
std::map<std::string, std::string> FolderContents(const std::filesystem::path& folder);

// The program folder of the build (ATV_PROGRAM_DIR), or empty.
std::filesystem::path BuiltProgramFolder();

}  // namespace FaultSupport
