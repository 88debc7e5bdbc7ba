#include "Sqlite.h"

#include <sqlite3.h>

#include <string_view>

#include "EngineErrors.h"
#include "Variant.h"

namespace Sqlite {
namespace {

using Db::Quoted;
using Platform::RunError;

constexpr int kPagesPerCopyStep = 256;

// A "file:" name for SQLite with every byte that could end the path or
// start a parameter written as %XX.
std::string UriOf(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                       c == '/' || c == '.' || c == '-' || c == '_';
    uri += plain ? std::string(1, c) : std::string{'%', kHex[byte >> 4], kHex[byte & 15]};
  }
  return uri;
}

}  // namespace

RunError Error(sqlite3* db, int rc, const std::string& path, const std::string& sql) {
  const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  const auto after = [&](std::string_view prefix) { return message.substr(prefix.size()); };
  switch (rc & 0xff) {
    case SQLITE_BUSY: case SQLITE_LOCKED:
      return RunError(Engine::kErrInUse,
                      "The database " + Quoted(path) + " is in use by another program; try again when it is closed.");
    case SQLITE_READONLY:
      return RunError(Engine::kErrCannotOpen,
                      "The database " + Quoted(path) + " is read-only; the change was not saved.");
    case SQLITE_CANTOPEN: case SQLITE_PERM:
      return RunError(Engine::kErrCannotOpen,
                      "The database " + Quoted(path) + " cannot be opened for this operation (" + message + ").");
    case SQLITE_NOTADB: case SQLITE_CORRUPT:
      return RunError(Engine::kErrNotADatabase, "The file " + Quoted(path) + " is not a database, or it is damaged.");
    case SQLITE_CONSTRAINT:
      // Said of the statement alone: on a scratch file what ran before it stays.
      return RunError(Engine::kErrConstraint, "The database " + Quoted(path) + " refused the change (" + message +
                                                  "); the statement stored nothing.");
    case SQLITE_FULL:
      return RunError(Engine::kErrEngine, "The disk is full; the database " + Quoted(path) + " could not be written.");
    case SQLITE_AUTH: return RunError(Engine::kErrSyntax, "The statement " + Quoted(sql) + " is not allowed.");
    case SQLITE_ERROR: break;
    default:
      return RunError(Engine::kErrEngine, "The database " + Quoted(path) + " reported an error: " + message + ".");
  }
  if (message.starts_with("no such table: ")) {
    std::string table = after("no such table: ");
    if (table.starts_with("main.")) table.erase(0, 5);
    return RunError(Engine::kErrNoSuchTable, "The table " + Quoted(table) + " does not exist in " + Quoted(path) + ".");
  }
  if (message.starts_with("no such column: ")) {
    return RunError(Engine::kErrNoSuchColumn,
                    "The column " + Quoted(after("no such column: ")) + " does not exist in " + Quoted(path) + ".");
  }
  if (const std::size_t at = message.find(" has no column named ");
      message.starts_with("table ") && at != std::string::npos) {
    return RunError(Engine::kErrNoSuchColumn, "The column " + Quoted(message.substr(at + 21)) +
                                                  " does not exist in the table " + Quoted(message.substr(6, at - 6)) +
                                                  " of " + Quoted(path) + ".");
  }
  if (message.find("syntax error") != std::string::npos || message.starts_with("incomplete input") ||
      message.starts_with("unrecognized token")) {
    return RunError(Engine::kErrSyntax, "Syntax error in the statement " + Quoted(sql) + " (" + message + ").");
  }
  return RunError(Engine::kErrEngine, "The database " + Quoted(path) + " could not run the statement " + Quoted(sql) +
                                          ": " + message + ".");
}

void Database::Closer::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

void Database::Open(int flags, const std::string& uriQuery) {
  Close();
  const std::string name = uriQuery.empty() ? Opened() : UriOf(Opened()) + "?" + uriQuery;
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(name.c_str(), &raw, flags | (uriQuery.empty() ? 0 : SQLITE_OPEN_URI), name_.Vfs());
  db_.reset(raw);
  if ((rc & 0xff) == SQLITE_CANTOPEN) {
    throw RunError(Engine::kErrCannotOpen, "The database " + Quoted(path_) + " cannot be opened.");
  }
  Check(rc);
  sqlite3_extended_result_codes(raw, 1);
}

void Database::Run(const std::string& sql) const {
  Check(sqlite3_exec(Get(), sql.c_str(), nullptr, nullptr, nullptr), sql);
}

RunError Database::Failure(int rc, const std::string& sql) const {
  std::optional<RunError> own = std::move(refused);
  refused.reset();
  return own ? *own : Error(Get(), rc, path_, sql);
}

void Database::Check(int rc, const std::string& sql) const {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) throw Failure(rc, sql);
}

void Statement::Finalizer::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

Statement::Statement(const Database& db, const std::string& sql, const std::string& shown) : db_(&db), shown_(shown) {
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v2(db.Get(), sql.c_str(), static_cast<int>(sql.size()), &raw, &tail);
  statement_.reset(raw);
  db.Check(rc, shown);
  if (!raw) throw RunError(Engine::kErrSyntax, "The statement is empty.");
  if (sql.find_first_not_of(Db::kSpaces, static_cast<std::size_t>(tail - sql.data())) != std::string::npos) {
    throw RunError(Engine::kErrMultipleStatements,
                   "Only one statement can be run at a time: " + Quoted(shown) + " holds more; nothing was run.");
  }
}

void Statement::Bind(int position, const std::string& text) const {
  Check(sqlite3_bind_text64(Get(), position, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
}

bool Statement::Step() const {
  db_->refused.reset();
  const int rc = sqlite3_step(Get());
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) {
    const RunError failure = db_->Failure(rc, shown_);
    sqlite3_reset(Get());
    throw failure;
  }
  return false;
}

void Statement::Run() const {
  while (Step()) {
  }
  sqlite3_reset(Get());
}

std::string Statement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(Get(), column));
  return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(Get(), column))) : std::string();
}

Transaction::~Transaction() {
  if (open_) sqlite3_exec(db_.Get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
  db_.Run("COMMIT");
  open_ = false;
}

bool Copy(const Database& from, const Database& to, const std::function<bool()>& goOn) {
  std::unique_ptr<sqlite3_backup, int (*)(sqlite3_backup*)> backup(
      sqlite3_backup_init(to.Get(), "main", from.Get(), "main"), sqlite3_backup_finish);
  if (!backup) throw to.Failure(sqlite3_errcode(to.Get()));
  int rc = SQLITE_OK;
  while (rc == SQLITE_OK) {
    if (!goOn()) return false;
    rc = sqlite3_backup_step(backup.get(), kPagesPerCopyStep);
  }
  from.Check(rc);
  to.Check(sqlite3_backup_finish(backup.release()));
  return true;
}

}  // namespace Sqlite
