// Read-only looks at a database file that other programs may be using at
// the same moment: the rows of a few queries, all from one consistent state
// of the file, and a consistent copy of the whole file through SQLite's
// backup API. Nothing is ever written to the file, and no journal,
// write-ahead log or shared-memory file is made beside it. The write-ahead
// log and shared-memory file of a file in WAL mode are only read: the
// shared memory is mapped read-only (SQLite's readonly_shm; the log's index
// is then read into memory of this process), so no byte, owner or time of
// change of any of them moves (reading moves only their time of access).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Snapshot {

// A cell as text (an integer "40", a real "0.5", a blob "X'00FF'"), or
// nullopt for Null.
using Cell = std::optional<std::string>;

// A cell as a person reads it: its text, or "Null".
inline std::string Shown(const Cell& cell) { return cell ? *cell : "Null"; }

struct Rows {
  std::vector<std::string> columns;
  std::vector<std::vector<Cell>> rows;
};

struct Connection;

// One read of a database file, from one state of it until the object dies.
// A file in rollback-journal mode, or in WAL mode while its write-ahead log
// is there, is read under SQLite's own read lock, so writers wait for the
// read (up to the engine's usual five seconds) and the read sees no half of
// their work. A WAL file whose log is not there (nobody has it open) is read
// without locks, since a locked read would leave a log and a shared-memory
// file behind; Finish() then proves that nobody changed it meanwhile.
// A file in WAL mode whose log is there without its shared-memory file is
// refused (kErrCannotOpen), as it could not be read without making one.
// All the work of one read, from its start until Finish(), is bounded in
// time: past the limit the running statement is stopped and the read
// throws kErrEngine, so that a view or a query that never ends under a
// table's name cannot hold the program. Throws Platform::RunError with the
// engine's numbers (EngineErrors.h) naming the file.
class Reader {
 public:
  // How long one read may take in all.
  static constexpr std::chrono::milliseconds kTimeLimit{10000};

  explicit Reader(const std::string& path, std::chrono::milliseconds timeLimit = kTimeLimit);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // The rows of one SELECT, with `parameters` bound as text to its ?s.
  Rows Query(const std::string& sql, const std::vector<std::string>& parameters = {});
  // The same rows handed to `each` one at a time, so that a table of any
  // size is read in bounded memory; answers the column names.
  std::vector<std::string> ForEachRow(const std::string& sql, const std::vector<std::string>& parameters,
                                      const std::function<void(std::vector<Cell>&&)>& each);
  // The names of the file's own ordinary tables, in name order: no view,
  // virtual table or SQLite's own sqlite_ table.
  std::vector<std::string> Tables();
  // Whether `name` is one of Tables(), letter case aside (ASCII, as SQLite
  // compares names), so that a view or anything else under a table's name
  // is never read as that table.
  bool IsTable(const std::string& name);
  // Writes the whole database as this read sees it to a new file at
  // `destination`, which must not exist yet.
  void CopyTo(const std::string& destination);
  // Ends the read; throws kErrInUse when the file changed under a read
  // made without locks (the rows read may then be mixed).
  void Finish();

 private:
  void Close();  // ends the read transaction and lets the file go; never throws
  std::unique_ptr<Connection> connection_;
};

}  // namespace Snapshot
