// Read-only looks at a database file that other programs may be using: the
// rows of a few queries from one consistent state of the file, and a copy of
// that state through SQLite's backup API. Nothing is written to the file and
// no journal, log or shared-memory file is made beside it; those of a WAL
// file are only read (readonly_shm), so no byte, owner or time of change of
// any of them moves.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Snapshot {

// A cell as text (an integer "40", a real "0.5", a blob "X'00FF'"); nullopt for Null.
using Cell = std::optional<std::string>;

inline std::string Shown(const Cell& cell) { return cell ? *cell : "Null"; }

struct Rows {
  std::vector<std::string> columns;
  std::vector<std::vector<Cell>> rows;
};

struct Connection;

// One read of a database file, from one state of it until the object dies.
// A file with a rollback journal, or in WAL mode with its log there, is read
// under SQLite's read lock: writers wait (up to five seconds) and the read
// sees no half of their work. A WAL file without its log is read without
// locks, as a locked read would leave a log behind; Finish() then proves
// nobody changed it. A log there without its shared-memory file is refused
// (kErrCannotOpen). The whole read is bounded in time: past the limit the
// running statement is stopped and it throws kErrEngine, so that a view that
// never ends cannot hold the program. Throws Platform::RunError with the
// engine's numbers (EngineErrors.h) naming the file.
class Reader {
 public:
  static constexpr std::chrono::milliseconds kTimeLimit{10000};

  explicit Reader(const std::string& path, std::chrono::milliseconds timeLimit = kTimeLimit);
  ~Reader();

  // The rows of one SELECT, with `parameters` bound as text to its ?s.
  Rows Query(const std::string& sql, const std::vector<std::string>& parameters = {});
  // The same rows handed to `each` one at a time, in bounded memory; answers the column names.
  std::vector<std::string> ForEachRow(const std::string& sql, const std::vector<std::string>& parameters,
                                      const std::function<void(std::vector<Cell>&&)>& each);
  // The file's own ordinary tables in name order: no view, virtual or sqlite_ table.
  std::vector<std::string> Tables();
  // Whether `name` is one of Tables(), ASCII letter case aside: a view under a
  // table's name is never read as that table.
  bool IsTable(const std::string& name);
  // Writes the database as this read sees it to a new file `destination`, which must not exist yet.
  void CopyTo(const std::string& destination);
  // Ends the read; throws kErrInUse when the file changed under a read
  // made without locks (the rows read may then be mixed).
  void Finish();

 private:
  void Close();  // ends the read transaction and lets the file go; never throws
  std::unique_ptr<Connection> connection_;
};

}  // namespace Snapshot
