// The database engine: connections, recordsets and fields over SQLite files,
// speaking the host's dialect (Dialect), storing values by their columns'
// declared types (ColumnTypes). A failure throws Platform::RunError with a
// number of EngineErrors.h, naming the file, table or column concerned.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ColumnTypes.h"
#include "EngineErrors.h"
#include "Variant.h"

namespace Engine {

inline constexpr int kStateClosed = 0;
inline constexpr int kStateOpen = 1;

enum class LockType { ReadOnly, Optimistic };

struct Handle;  // an open SQLite connection, shared by its holders (Handle.h)

class Database {
 public:
  Database() = default;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=PATH" (provider
  // name in any case). Never creates a file. A file whose permission bits
  // allow no writing is opened read-only; a WAL file stays in WAL mode.
  void Open(const std::string& connectionString);
  // Runs one statement; its change is on disk when this returns (on a
  // scratch file, see ScratchFile, when the file is flushed). Values are
  // written as SetValue converts them; an INSERT ... VALUES that stores
  // no row (a trigger ignored it) throws kErrConstraint.
  void Execute(const std::string& sql);
  int State() const { return handle_ ? kStateOpen : kStateClosed; }
  void Close() { handle_.reset(); }

 private:
  friend class Recordset;
  std::shared_ptr<Handle> handle_;
};

// Marks the database file at `path` (as the connection string names it) as
// scratch work while the object lives: a working copy rebuilt on every run
// in a private folder, read by nothing until it is copied. Its connections
// share one SQLite connection and one transaction; a failed statement undoes
// only itself, whatever its conflict clause, and the rows before it stay.
// Flush() (or the destructor) commits and closes the connection. A killed run
// may leave the file damaged; the next run rebuilds it. The shared connection
// is dropped when the path comes to name another file. For one thread.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& path);
  ~ScratchFile();  // flushes; errors are dropped
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Throws as the engine does when the commit fails; a file gone is fine.
  void Flush();

 private:
  std::string path_;
};

class Recordset;

class Field {
 public:
  Field(const Recordset& recordset, int index) : recordset_(&recordset), index_(index) {}
  std::string Name() const;
  int Type() const;
  // The current row's value; throws kErrNoCurrentRecord at the end.
  Db::Variant Value() const;

 private:
  const Recordset* recordset_;
  int index_;
};

// The rows of one SELECT, read in full when it opens (client-side,
// forward-only). Holds no lock once open. An attached, optimistic recordset
// over one table can add rows.
class Recordset {
 public:
  Recordset() = default;
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  void Open(const std::string& sql, Database& connection, LockType lockType);
  // Lets go of the connection; rows stay readable.
  void Detach();
  bool IsAttached() const { return handle_ != nullptr; }
  int State() const { return open_ ? kStateOpen : kStateClosed; }
  // Closes the recordset; a new row never stored is dropped.
  void Close();

  bool IsEOF() const;
  void MoveNext();
  int FieldCount() const;
  Field Fields(int index) const;                 // throws kErrNoSuchColumn out of range
  Field Fields(const std::string& name) const;   // any letter case

  // Starts a new row, all Null.
  void AddNew();
  // Sets column `index` of the new row, as ColumnTypes::ConvertForColumn converts it.
  void SetValue(int index, const Db::Variant& value);
  // Stores the new row with one INSERT; whole or not at all. A row that a
  // trigger ignores throws kErrConstraint.
  void Update();

 private:
  friend class Field;
  void RequireOpen() const;
  int CheckedIndex(int index) const;
  struct Column {
    std::string name;        // as the query names it
    std::string tableColumn; // the table's column it comes from, empty for an expression
    int type = ColumnTypes::kTypeVarWChar;
  };
  std::shared_ptr<Handle> handle_;
  bool open_ = false;
  std::string table_;  // the one table of an updatable recordset
  std::vector<Column> columns_;
  std::vector<std::vector<Db::Variant>> rows_;
  std::size_t current_ = 0;
  bool updatable_ = false;
  bool adding_ = false;
  std::vector<Db::Variant> newRow_;
  std::vector<bool> assigned_;  // columns of the new row given a value
};

}  // namespace Engine
