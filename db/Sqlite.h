// The one wrapper of SQLite in the program: a connection, a statement and a
// transaction that let go of what they hold when they die, and the one
// translation of SQLite's result codes into the engine's numbered errors
// (EngineErrors.h). The raw handles stay reachable for the engine's hooks.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "RunError.h"
#include "ShortPath.h"

struct sqlite3;
struct sqlite3_stmt;

namespace Sqlite {

// The engine's error for SQLite's result `rc` (the connection's own message
// where there is one), said of the file at `path` and the statement `sql`.
Platform::RunError Error(sqlite3* db, int rc, const std::string& path, const std::string& sql);

// A connection to the database file at `path`, through a short alias when
// the path is too long for SQLite (ShortPath). Never creates a file unless
// `flags` ask for it.
class Database {
 public:
  explicit Database(const std::string& path) : path_(path), name_(path) {}
  ~Database() { Close(); }

  // SQLITE_OPEN_* `flags`; with `uriQuery`, the file is opened as a URI
  // with that query ("mode=ro"). Throws kErrCannotOpen or as Error().
  void Open(int flags, const std::string& uriQuery = "");
  void Close() { db_.reset(); }
  sqlite3* Get() const { return db_.get(); }
  const std::string& Path() const { return path_; }
  // The name SQLite opens: the alias, or the file's own path, links resolved.
  const std::string& Opened() const { return name_.Path(); }

  // Runs the program's own `sql`; throws as Error().
  void Run(const std::string& sql) const;
  // Error() for this file; a value the store function refused in the
  // running statement keeps its own number and description.
  Platform::RunError Failure(int rc, const std::string& sql = "") const;
  // Throws Failure() unless `rc` is SQLITE_OK, SQLITE_ROW or SQLITE_DONE.
  void Check(int rc, const std::string& sql = "") const;

  // Left by the store function (ColumnTypes); cleared as each statement starts.
  mutable std::optional<Platform::RunError> refused;

 private:
  struct Closer {
    void operator()(sqlite3* db) const;
  };
  std::string path_;
  ShortPath::Alias name_;  // outlives the connection
  std::unique_ptr<sqlite3, Closer> db_;
};

// One prepared statement; `shown` is the caller's text, for messages. Text after
// it throws kErrMultipleStatements, none at all kErrSyntax.
class Statement {
 public:
  Statement(const Database& db, const std::string& sql, const std::string& shown);
  Statement(const Database& db, const std::string& sql) : Statement(db, sql, sql) {}
  sqlite3_stmt* Get() const { return statement_.get(); }
  void Bind(int position, const std::string& text) const;
  void Check(int rc) const { db_->Check(rc, shown_); }
  // Steps once: true at a row, false at the end; throws as Failure().
  bool Step() const;
  // Steps to the end, dropping any rows, and resets for another run.
  void Run() const;
  // The text of column `column` of the current row ("" for Null).
  std::string Text(int column) const;

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* statement) const;
  };
  const Database* db_;
  std::string shown_;
  std::unique_ptr<sqlite3_stmt, Finalizer> statement_;
};

// BEGIN when made; rolled back when it dies uncommitted.
class Transaction {
 public:
  explicit Transaction(const Database& db) : db_(db) { db.Run("BEGIN"); }
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  // Throws as Error() when the commit fails, which leaves the rollback to the destructor.
  void Commit();

 private:
  const Database& db_;
  bool open_ = true;
};

// Copies the whole database of `from`, as its open transaction sees it,
// into `to` a few pages at a time while `goOn()` answers true; false when
// it stopped early. Throws as Error().
bool Copy(const Database& from, const Database& to, const std::function<bool()>& goOn);

}  // namespace Sqlite
