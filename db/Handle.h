// The engine's side of one open SQLite connection, shared by the Database and
// Recordset objects that use it and a scratch file's ScratchFile. Inside db/ only.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Dialect.h"
#include "Sqlite.h"

namespace Engine {

// Answers the dialect's questions about the file's columns.
struct Handle final : Dialect::Schema {
  explicit Handle(const std::string& path) : db(path) {}

  Sqlite::Database db;
  bool readOnly = false;
  dev_t device = 0;  // the file the connection was opened on
  ino_t inode = 0;
  mutable bool internal = false;  // the engine's own look at the schema is running
  // The scratch file's statements share one transaction, committed when the
  // ScratchFile flushes. Where a ROLLBACK (a conflict clause, a trigger) could
  // undo it whole, each statement commits on its own, so earlier rows stay.
  bool rollbacks = false;
  std::optional<Sqlite::Transaction> pending;
  // The statements run last: a chart's INSERTs differ only in their parameters.
  std::vector<std::pair<std::string, Sqlite::Statement>> prepared;

  // The statement for `statement`'s text, kept (noting a ROLLBACK in it),
  // with its parameters bound; `shown` is the caller's text.
  const Sqlite::Statement& Prepared(const Dialect::Statement& statement, const std::string& shown);
  // Runs `statement` (on the scratch file's shared connection, in its
  // transaction); a failure undoes that statement alone.
  void Write(const Sqlite::Statement& statement);
  // Throws kErrConstraint when the statement just run changed no row of `table`.
  void RequireStored(const std::string& table) const;
  void Commit();

  std::optional<int> ColumnType(const std::string& schema, const std::string& table,
                                const std::string& column) const override;
  std::vector<std::string> InsertColumns(const std::string& schema, const std::string& table) const override;
};

// The shared connection of the scratch file `path`; nullptr when no ScratchFile marks it.
std::shared_ptr<Handle>* ScratchSlot(const std::string& path);

}  // namespace Engine
