#include "Engine.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string_view>

#include "Dialect.h"
#include "RunError.h"
#include "ShortPath.h"

namespace Engine {
namespace {

struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

}  // namespace

struct Handle {
  struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  std::unique_ptr<ShortPath::Alias> name;  // what SQLite opened; outlives the connection
  std::unique_ptr<sqlite3, Closer> db;
  std::string path;
  bool readOnly = false;
  dev_t device = 0;  // the file the connection was opened on
  ino_t inode = 0;
  // A scratch file's statements share one transaction, committed when the
  // connection is flushed or dropped, when a statement fails, or when the
  // statements kept to run again grow too many.
  bool scratch = false;
  std::vector<Dialect::Statement> replay;  // statements of the open transaction
  std::size_t replayBytes = 0;
  // The statements run last, prepared: a chart's INSERTs differ only in
  // their parameters. Finalized before the connection closes.
  std::vector<std::pair<std::string, Statement>> prepared;
  bool internal = false;  // the engine's own look at the schema is running
  std::optional<Platform::RunError> failure;  // the store function's, in the running statement

  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Commit(); }
  // Commits the open transaction of a scratch file, if any; answers the
  // SQLite result.
  int Commit() {
    replay.clear();
    replayBytes = 0;
    if (!db || sqlite3_get_autocommit(db.get())) return SQLITE_OK;
    return sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr);
  }
};

namespace {

using Platform::RunError;

constexpr std::string_view kProvider = "Microsoft.Jet.OLEDB.4.0";
constexpr int kBusyTimeoutMs = 5000;
// A scratch transaction is committed when the statements it would run
// again reach either bound.
constexpr std::size_t kReplayStatements = 4096;
constexpr std::size_t kReplayBytes = 1 << 20;
constexpr std::size_t kPreparedStatements = 8;

[[noreturn]] void Fail(std::int32_t number, const std::string& description) { throw RunError(number, description); }

using Db::EqualsNoCase;
using Db::IsSpace;
using Db::QuotedName;
using Db::StartsWithNoCase;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

std::string InUseText(const std::string& path) {
  return "The database " + Quote(path) + " is in use by another program; try again when it is closed.";
}

std::string ReadOnlyText(const std::string& path) {
  return "The database " + Quote(path) + " is read-only; the change was not saved.";
}

std::string NothingStoredText(const std::string& path, const std::string& table) {
  return "The table " + Quote(table) + " of " + Quote(path) +
         " stored no row: a trigger or a conflict clause of the table ignored it.";
}

// Everything SQLite reports funnels through here, so that every failure
// carries an engine number and a description naming the file, table or
// column concerned.
RunError SqliteError(sqlite3* db, int rc, const std::string& path, const std::string& sql) {
  const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  const auto after = [&](std::string_view prefix) { return message.substr(prefix.size()); };
  switch (rc & 0xff) {
    case SQLITE_BUSY: case SQLITE_LOCKED: return RunError(kErrInUse, InUseText(path));
    case SQLITE_READONLY: return RunError(kErrCannotOpen, ReadOnlyText(path));
    case SQLITE_CANTOPEN: case SQLITE_PERM:
      return RunError(kErrCannotOpen,
                      "The database " + Quote(path) + " cannot be opened for this operation (" + message + ").");
    case SQLITE_NOTADB: case SQLITE_CORRUPT:
      return RunError(kErrNotADatabase, "The file " + Quote(path) + " is not a database, or it is damaged.");
    case SQLITE_CONSTRAINT:
      // Said of the statement alone: on a scratch file what ran before it stays.
      return RunError(kErrConstraint, "The database " + Quote(path) + " refused the change (" + message +
                                          "); the statement stored nothing.");
    case SQLITE_FULL: return RunError(kErrEngine, "The disk is full; the database " + Quote(path) + " could not be written.");
    case SQLITE_AUTH: return RunError(kErrSyntax, "The statement " + Quote(sql) + " is not allowed.");
    case SQLITE_ERROR: break;
    default: return RunError(kErrEngine, "The database " + Quote(path) + " reported an error: " + message + ".");
  }
  if (message.starts_with("no such table: ")) {
    std::string table = after("no such table: ");
    if (table.starts_with("main.")) table.erase(0, 5);
    return RunError(kErrNoSuchTable, "The table " + Quote(table) + " does not exist in " + Quote(path) + ".");
  }
  if (message.starts_with("no such column: ")) {
    return RunError(kErrNoSuchColumn,
                    "The column " + Quote(after("no such column: ")) + " does not exist in " + Quote(path) + ".");
  }
  if (message.starts_with("table ") && message.find(" has no column named ") != std::string::npos) {
    const std::size_t at = message.find(" has no column named ");
    const std::string table = message.substr(6, at - 6);
    const std::string column = message.substr(at + 21);
    return RunError(kErrNoSuchColumn, "The column " + Quote(column) + " does not exist in the table " +
                                          Quote(table) + " of " + Quote(path) + ".");
  }
  if (message.find("syntax error") != std::string::npos || message.starts_with("incomplete input") ||
      message.starts_with("unrecognized token")) {
    return RunError(kErrSyntax, "Syntax error in the statement " + Quote(sql) + " (" + message + ").");
  }
  return RunError(kErrEngine,
                  "The database " + Quote(path) + " could not run the statement " + Quote(sql) + ": " + message + ".");
}

void Check(const Handle& handle, int rc, const std::string& sql) {
  if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
  throw SqliteError(handle.db.get(), rc, handle.path, sql);
}

// The error that ended a statement's step: a value the store function could
// not convert keeps its own number and description.
RunError StepError(Handle& handle, int rc, const std::string& sql) {
  std::optional<RunError> failure = std::move(handle.failure);
  handle.failure.reset();
  return failure ? *failure : SqliteError(handle.db.get(), rc, handle.path, sql);
}

// Steps a statement to its end, dropping any rows; answers the last result.
int StepThrough(Handle& handle, sqlite3_stmt* statement) {
  handle.failure.reset();
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
  }
  return rc;
}

// A second line of defence behind the keyword check, for whatever might
// reach these actions from inside an allowed statement; only the engine's
// own look at a table's columns may read a pragma.
int Authorize(void* data, int action, const char*, const char*, const char*, const char*) {
  if (action == SQLITE_ATTACH || action == SQLITE_DETACH) return SQLITE_DENY;
  return action == SQLITE_PRAGMA && !static_cast<const Handle*>(data)->internal ? SQLITE_DENY : SQLITE_OK;
}

// The declared column types the dialect asks for while it translates a
// statement that writes.
class HandleSchema final : public Dialect::Schema {
 public:
  explicit HandleSchema(Handle& handle) : handle_(handle) {}

  std::optional<int> ColumnType(const std::string& schema, const std::string& table,
                                const std::string& column) const override {
    const char* declared = nullptr;
    const int rc = sqlite3_table_column_metadata(handle_.db.get(), schema.empty() ? nullptr : schema.c_str(),
                                                 table.c_str(), column.c_str(), &declared, nullptr, nullptr,
                                                 nullptr, nullptr);
    // SQLITE_ERROR: no such table or column, which the statement reports
    // itself. Any other failure (a lock held too long) must not let a
    // value through unconverted.
    if (rc != SQLITE_OK && rc != SQLITE_ERROR) throw SqliteError(handle_.db.get(), rc, handle_.path, "");
    if (rc != SQLITE_OK || !declared || !*declared) return std::nullopt;
    return ColumnTypes::TypeFromDeclared(declared);
  }

  std::vector<std::string> InsertColumns(const std::string& schema, const std::string& table) const override {
    const std::string sql = schema.empty() ? "SELECT name FROM pragma_table_xinfo(?1) WHERE hidden = 0"
                                           : "SELECT name FROM pragma_table_xinfo(?1, ?2) WHERE hidden = 0";
    struct Internal {
      Handle& handle;
      explicit Internal(Handle& h) : handle(h) { handle.internal = true; }
      ~Internal() { handle.internal = false; }
    } internal(handle_);
    sqlite3_stmt* raw = nullptr;
    Check(handle_, sqlite3_prepare_v2(handle_.db.get(), sql.c_str(), -1, &raw, nullptr), sql);
    const Statement statement(raw);
    sqlite3_bind_text(raw, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    if (!schema.empty()) sqlite3_bind_text(raw, 2, schema.c_str(), -1, SQLITE_TRANSIENT);
    std::vector<std::string> columns;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
      columns.emplace_back(name ? name : "");
    }
    Check(handle_, rc, sql);
    return columns;
  }

 private:
  Handle& handle_;
};

Statement Prepare(const Handle& handle, const std::string& translated, const std::string& original) {
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v2(handle.db.get(), translated.c_str(), static_cast<int>(translated.size()), &raw,
                                    &tail);
  Statement statement(raw);
  Check(handle, rc, original);
  if (!statement) Fail(kErrSyntax, "The statement is empty.");
  for (const char* p = tail; p && p < translated.data() + translated.size(); ++p) {
    if (!IsSpace(*p)) {
      Fail(kErrMultipleStatements,
           "Only one statement can be run at a time: " + Quote(original) + " holds more; nothing was run.");
    }
  }
  return statement;
}

// The statement prepared for `statement`'s text, the one kept from before
// or a new one kept from now on, with its parameters bound.
sqlite3_stmt* Prepared(Handle& handle, const Dialect::Statement& statement, const std::string& original) {
  auto& kept = handle.prepared;
  auto it = std::find_if(kept.begin(), kept.end(), [&](const auto& entry) { return entry.first == statement.sql; });
  if (it == kept.end()) {
    Statement fresh = Prepare(handle, statement.sql, original);
    if (kept.size() >= kPreparedStatements) kept.erase(kept.begin());
    it = kept.emplace(kept.end(), statement.sql, std::move(fresh));
  }
  sqlite3_stmt* stmt = it->second.get();
  int position = 0;
  for (const Dialect::Parameter& parameter : statement.parameters) {
    ++position;
    const int rc = std::holds_alternative<std::int64_t>(parameter)
                       ? sqlite3_bind_int64(stmt, position, std::get<std::int64_t>(parameter))
                       : sqlite3_bind_text64(stmt, position, std::get<std::string>(parameter).data(),
                                             std::get<std::string>(parameter).size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    Check(handle, rc, original);
  }
  return stmt;
}

// Steps a prepared statement to its end and resets it; the error that
// ended it, if any, is in `error`.
int Run(Handle& handle, sqlite3_stmt* stmt, const std::string& original, std::optional<RunError>& error) {
  const int rc = StepThrough(handle, stmt);
  if (rc != SQLITE_DONE) error = StepError(handle, rc, original);
  sqlite3_reset(stmt);
  return rc;
}

std::string PathFromConnectionString(const std::string& connectionString) {
  const std::size_t semicolon = connectionString.find(';');
  const std::string_view provider = Trim(std::string_view(connectionString).substr(0, semicolon));
  if (!StartsWithNoCase(provider, "Provider=")) {
    Fail(kErrBadConnectionString, "The connection string " + Quote(connectionString) + " names no provider.");
  }
  const std::string_view name = Trim(provider.substr(9));
  if (!EqualsNoCase(name, kProvider)) {
    Fail(kErrBadConnectionString, "The provider " + Quote(std::string(name)) + " is not known; only " +
                                      std::string(kProvider) + " can open a database.");
  }
  const std::string_view rest =
      semicolon == std::string::npos ? std::string_view() : std::string_view(connectionString).substr(semicolon + 1);
  constexpr std::string_view kDataSource = "Data Source=";
  if (!StartsWithNoCase(rest, kDataSource)) {
    Fail(kErrBadConnectionString, "The connection string " + Quote(connectionString) + " names no Data Source.");
  }
  return std::string(rest.substr(kDataSource.size()));
}

// Setting up a new connection needs statements the program itself may not
// run, so they go straight to SQLite before the authorizer is installed.
void RunSetup(const Handle& handle, const char* sql) {
  Check(handle, sqlite3_exec(handle.db.get(), sql, nullptr, nullptr, nullptr), sql);
}

// The host's older desktop-database format names itself at byte 4 of its
// first page.
std::optional<std::string> OlderDesktopFormat(const std::string& path) {
  char header[19] = {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const ssize_t got = fd < 0 ? -1 : ::pread(fd, header, sizeof header, 0);
  if (fd >= 0) ::close(fd);
  const std::string name(header + 4, 15);
  if (got != static_cast<ssize_t>(sizeof header) || (name != "Standard Jet DB" && name != "Standard ACE DB")) {
    return std::nullopt;
  }
  return name;
}

// Opening is lazy: reading the schema is what shows a file is a database.
void ReadSchema(const Handle& handle) {
  const char* sql = "SELECT count(*) FROM sqlite_schema";
  const int rc = sqlite3_exec(handle.db.get(), sql, nullptr, nullptr, nullptr);
  if ((rc & 0xff) == SQLITE_NOTADB) {
    if (const auto format = OlderDesktopFormat(handle.path)) {
      Fail(kErrNotADatabase, "The file " + Quote(handle.path) + " is a shop database in the host's older desktop "
                             "format (\"" + *format + "\"); this program works on the SQLite form of the shop "
                             "database only.");
    }
  }
  Check(handle, rc, sql);
}

// A file in WAL mode stays in it: switching would need the file to itself
// and would change it for the host application. Any other file is written
// with a rollback journal beside it, a scratch file with one in memory.
void SetJournal(const Handle& handle, bool scratch) {
  sqlite3_stmt* raw = nullptr;
  Check(handle, sqlite3_prepare_v2(handle.db.get(), "PRAGMA journal_mode", -1, &raw, nullptr), "PRAGMA journal_mode");
  const Statement statement(raw);
  const int rc = sqlite3_step(raw);
  Check(handle, rc, "PRAGMA journal_mode");
  const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
  if (rc == SQLITE_ROW && mode && EqualsNoCase(mode, "wal")) return;
  RunSetup(handle, scratch ? "PRAGMA journal_mode=MEMORY" : "PRAGMA journal_mode=DELETE");
}

// Commits what the handle holds open; a failed commit is an error.
void CommitOrThrow(Handle& handle) {
  if (const int rc = handle.Commit(); rc != SQLITE_OK) throw SqliteError(handle.db.get(), rc, handle.path, "COMMIT");
}

// A failure that ended the scratch file's shared transaction (a conflict
// clause or trigger that rolls back) took the statements before it along:
// they run again. What ran is then committed.
void KeepEarlierStatements(Handle& handle) {
  sqlite3* db = handle.db.get();
  if (sqlite3_get_autocommit(db) && !handle.replay.empty()) {
    const std::vector<Dialect::Statement> replay = std::move(handle.replay);
    handle.replay.clear();
    RunSetup(handle, "BEGIN");
    for (const Dialect::Statement& statement : replay) {
      std::optional<RunError> error;
      Run(handle, Prepared(handle, statement, statement.sql), statement.sql, error);
      if (error) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        Fail(error->Number(), error->Description() + " The rows written before the failure could not be kept.");
      }
    }
  }
  CommitOrThrow(handle);
}

// Keeps a scratch statement that ran, to run again should a later failure
// end the transaction; commits when the kept statements reach their bound.
void Remember(Handle& handle, Dialect::Statement&& statement) {
  handle.replayBytes += statement.sql.size() + 16 * statement.parameters.size();
  for (const Dialect::Parameter& parameter : statement.parameters) {
    if (const auto* text = std::get_if<std::string>(&parameter)) handle.replayBytes += text->size();
  }
  handle.replay.push_back(std::move(statement));
  if (handle.replay.size() >= kReplayStatements || handle.replayBytes >= kReplayBytes) CommitOrThrow(handle);
}

// The files marked by a live ScratchFile, each with the one connection its
// callers share. A connection is reused only while the path still names the
// file it was opened on, with the same permission to write.
struct ScratchEntry {
  std::string path;
  int marks = 0;
  std::shared_ptr<Handle> handle;
};

std::vector<ScratchEntry>& ScratchFiles() {
  static std::vector<ScratchEntry> files;
  return files;
}

ScratchEntry* FindScratch(const std::string& path) {
  for (auto& entry : ScratchFiles()) {
    if (entry.path == path) return &entry;
  }
  return nullptr;
}

// Forces what the file holds to the disk. A file that is gone has nothing
// left to keep.
void SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return;
    Fail(kErrCannotOpen, "The database " + Quote(path) + " cannot be opened to be written to disk.");
  }
  const int rc = ::fsync(fd);
  ::close(fd);
  if (rc != 0) Fail(kErrEngine, "The database " + Quote(path) + " could not be written to disk.");
}

}  // namespace

Database::~Database() = default;

void Database::Open(const std::string& connectionString) {
  Close();
  const std::string path = PathFromConnectionString(connectionString);
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) {
    if (!path.empty() && errno == EACCES) {
      Fail(kErrCannotOpen, "The file " + Quote(path) + " cannot be read: permission denied.");
    }
    Fail(kErrFileNotFound, "Could not find file " + Quote(path) + ".");
  }
  if (S_ISDIR(info.st_mode)) Fail(kErrNotAFile, "The path " + Quote(path) + " is a folder, not a database file.");
  if (!S_ISREG(info.st_mode)) Fail(kErrNotADatabase, "The file " + Quote(path) + " is not a database.");
  if (info.st_size == 0) Fail(kErrNotADatabase, "The file " + Quote(path) + " is not a database (it is empty).");
  // The mode bits decide, not access(): as root every file passes access().
  if ((info.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) == 0) {
    Fail(kErrCannotOpen, "The file " + Quote(path) + " cannot be read: permission denied.");
  }
  const bool writable = (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;

  ScratchEntry* scratch = FindScratch(path);
  if (scratch && scratch->handle && scratch->handle->device == info.st_dev && scratch->handle->inode == info.st_ino &&
      scratch->handle->readOnly == !writable) {
    handle_ = scratch->handle;
    path_ = path;
    return;
  }

  auto handle = std::make_shared<Handle>();
  handle->path = path;
  handle->readOnly = !writable;
  handle->device = info.st_dev;
  handle->inode = info.st_ino;
  handle->name = std::make_unique<ShortPath::Alias>(path);
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(handle->name->Path().c_str(), &raw,
                                 writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, handle->name->Vfs());
  handle->db.reset(raw);
  if (rc != SQLITE_OK) {
    if ((rc & 0xff) == SQLITE_CANTOPEN) Fail(kErrCannotOpen, "The database " + Quote(path) + " cannot be opened.");
    throw SqliteError(raw, rc, path, "");
  }
  sqlite3* db = handle->db.get();
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  // A scratch file's changes need not reach the disk one by one: ScratchFile
  // commits and flushes it once at the end. Every other file gets each
  // change on disk before the statement returns, WAL or not.
  ReadSchema(*handle);
  RunSetup(*handle, scratch ? "PRAGMA synchronous=OFF" : "PRAGMA synchronous=FULL");
  if (writable) SetJournal(*handle, scratch != nullptr);
  // No other connection may read the file while its changes are pending.
  if (scratch && writable) RunSetup(*handle, "PRAGMA locking_mode=EXCLUSIVE");
  handle->scratch = scratch && writable;
  Check(*handle, ColumnTypes::RegisterStoreFunction(db, &handle->failure), "");
  sqlite3_set_authorizer(db, Authorize, handle.get());
  handle_ = std::move(handle);
  path_ = path;
  if (scratch) scratch->handle = handle_;
}

void Database::Execute(const std::string& sql) {
  if (!handle_) Fail(kErrObjectClosed, "The connection is closed.");
  Handle& handle = *handle_;
  Dialect::Statement translated = Dialect::Translate(sql, HandleSchema(handle), false);
  sqlite3_stmt* stmt = Prepared(handle, translated, sql);
  if (handle.readOnly && !sqlite3_stmt_readonly(stmt)) Fail(kErrCannotOpen, ReadOnlyText(path_));
  if (handle.scratch && sqlite3_get_autocommit(handle.db.get())) RunSetup(handle, "BEGIN");
  std::optional<RunError> error;
  Run(handle, stmt, sql, error);
  if (error) {
    // A failed statement undoes only itself; what ran before it is kept.
    if (handle.scratch) KeepEarlierStatements(handle);
    throw *error;
  }
  if (translated.rows > 0 && sqlite3_changes(handle.db.get()) == 0) {
    Fail(kErrConstraint, NothingStoredText(path_, translated.table));
  }
  if (handle.scratch) Remember(handle, std::move(translated));
}

int Database::State() const { return handle_ ? kStateOpen : kStateClosed; }

void Database::Close() { handle_.reset(); }

std::string Field::Name() const { return recordset_->columns_[recordset_->CheckedIndex(index_)].name; }

int Field::Type() const { return recordset_->columns_[recordset_->CheckedIndex(index_)].type; }

Db::Variant Field::Value() const {
  const Recordset& r = *recordset_;
  const auto index = static_cast<std::size_t>(r.CheckedIndex(index_));
  if (r.adding_) return r.newRow_[index];
  if (r.current_ >= r.rows_.size()) {
    Fail(kErrNoCurrentRecord, "There is no current record: the recordset is at its end (reading '" +
                                  r.columns_[index].name + "').");
  }
  return r.rows_[r.current_][index];
}

Recordset::~Recordset() = default;

void Recordset::RequireOpen() const {
  if (!open_) Fail(kErrObjectClosed, "The recordset is closed.");
}

int Recordset::CheckedIndex(int index) const {
  RequireOpen();
  if (index < 0 || static_cast<std::size_t>(index) >= columns_.size()) {
    Fail(kErrNoSuchColumn, "The recordset has no column number " + std::to_string(index) + ".");
  }
  return index;
}

void Recordset::Open(const std::string& sql, Database& connection, LockType lockType) {
  Close();
  if (!connection.handle_) Fail(kErrObjectClosed, "The connection is closed.");
  Handle& handle = *connection.handle_;
  Statement statement = Prepare(handle, Dialect::Translate(sql, HandleSchema(handle), true).sql, sql);
  sqlite3_stmt* stmt = statement.get();

  const int count = sqlite3_column_count(stmt);
  std::vector<Column> columns(static_cast<std::size_t>(count));
  std::vector<bool> declared(columns.size());
  std::string table;
  bool oneTable = true;
  for (int i = 0; i < count; ++i) {
    Column& column = columns[static_cast<std::size_t>(i)];
    column.name = sqlite3_column_name(stmt, i);
    const char* declaredType = sqlite3_column_decltype(stmt, i);
    declared[static_cast<std::size_t>(i)] = declaredType != nullptr;
    if (declaredType) column.type = ColumnTypes::TypeFromDeclared(declaredType);
    const char* tableName = sqlite3_column_table_name(stmt, i);
    const char* origin = sqlite3_column_origin_name(stmt, i);
    if (tableName && origin) {
      column.tableColumn = origin;
      if (table.empty()) table = tableName;
      oneTable = oneTable && table == tableName;
    }
  }

  std::vector<std::vector<Db::Variant>> rows;
  std::vector<int> firstStorage(columns.size(), SQLITE_NULL);
  handle.failure.reset();
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::vector<Db::Variant> row;
    row.reserve(columns.size());
    for (int i = 0; i < count; ++i) {
      const auto at = static_cast<std::size_t>(i);
      if (!declared[at] && firstStorage[at] == SQLITE_NULL) firstStorage[at] = sqlite3_column_type(stmt, i);
      row.push_back(ColumnTypes::ReadValue(stmt, i, declared[at] ? columns[at].type : -1));
    }
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) throw StepError(handle, rc, sql);
  statement.reset();  // no lock outlives the open
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (!declared[i]) columns[i].type = ColumnTypes::TypeFromStorage(firstStorage[i]);
  }

  handle_ = connection.handle_;
  columns_ = std::move(columns);
  rows_ = std::move(rows);
  current_ = 0;
  table_ = oneTable ? table : std::string();
  updatable_ = lockType == LockType::Optimistic && !table_.empty();
  open_ = true;
}

void Recordset::Detach() { handle_.reset(); }

void Recordset::Close() {
  open_ = false;
  handle_.reset();
  table_.clear();
  columns_.clear();
  rows_.clear();
  current_ = 0;
  updatable_ = false;
  adding_ = false;
  newRow_.clear();
  assigned_.clear();
}

bool Recordset::IsEOF() const {
  RequireOpen();
  return current_ >= rows_.size();
}

void Recordset::MoveNext() {
  RequireOpen();
  if (current_ >= rows_.size()) Fail(kErrNoCurrentRecord, "There is no current record: the recordset is at its end.");
  ++current_;
}

int Recordset::FieldCount() const {
  RequireOpen();
  return static_cast<int>(columns_.size());
}

Field Recordset::Fields(int index) const { return Field(*this, CheckedIndex(index)); }

Field Recordset::Fields(const std::string& name) const {
  RequireOpen();
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (EqualsNoCase(columns_[i].name, name)) return Field(*this, static_cast<int>(i));
  }
  Fail(kErrNoSuchColumn, "The column " + Quote(name) + " is not in the recordset.");
}

void Recordset::AddNew() {
  RequireOpen();
  if (!updatable_ || !handle_) {
    Fail(kErrNotUpdatable, !handle_ ? std::string("The recordset is detached from its database; it cannot take new rows.")
                                    : std::string("The recordset is read-only; it cannot take new rows."));
  }
  if (adding_) Update();  // as the host does: a pending row is stored first
  newRow_.assign(columns_.size(), Db::Variant::Null());
  assigned_.assign(columns_.size(), false);
  adding_ = true;
}

void Recordset::SetValue(int index, const Db::Variant& value) {
  const Column& column = columns_[static_cast<std::size_t>(CheckedIndex(index))];
  if (!adding_) Fail(kErrNotUpdatable, "No new row has been started; the column " + Quote(column.name) + " cannot be set.");
  if (column.tableColumn.empty()) {
    Fail(kErrNotUpdatable, "The column " + Quote(column.name) + " is computed by the query and cannot be set.");
  }
  newRow_[static_cast<std::size_t>(index)] = ColumnTypes::ConvertForColumn(value, column.type, column.name);
  assigned_[static_cast<std::size_t>(index)] = true;
}

void Recordset::Update() {
  RequireOpen();
  if (!adding_) return;
  if (!updatable_ || !handle_) Fail(kErrNotUpdatable, "The recordset cannot store new rows.");
  Handle& handle = *handle_;
  if (handle.readOnly) Fail(kErrCannotOpen, ReadOnlyText(handle.path));
  // Bound values cannot be run again from the text: a scratch file's
  // pending statements are committed first, and the row commits at once.
  if (handle.scratch) CommitOrThrow(handle);
  std::string names, places;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!assigned_[i]) continue;
    names += (names.empty() ? "" : ", ") + QuotedName(columns_[i].tableColumn);
    places += places.empty() ? "?" : ", ?";
  }
  const std::string sql = names.empty() ? "INSERT INTO " + QuotedName(table_) + " DEFAULT VALUES"
                                        : "INSERT INTO " + QuotedName(table_) + " (" + names + ") VALUES (" + places + ")";
  sqlite3_stmt* raw = nullptr;
  Check(handle, sqlite3_prepare_v2(handle.db.get(), sql.c_str(), -1, &raw, nullptr), sql);
  Statement statement(raw);
  int position = 0;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (assigned_[i]) Check(handle, ColumnTypes::Bind(statement.get(), ++position, newRow_[i]), sql);
  }
  Check(handle, sqlite3_step(statement.get()), sql);
  if (sqlite3_changes(handle.db.get()) == 0) Fail(kErrConstraint, NothingStoredText(handle.path, table_));
  // The stored row joins the recordset and becomes the current row.
  adding_ = false;
  rows_.push_back(std::move(newRow_));
  current_ = rows_.size() - 1;
  newRow_.clear();
  assigned_.clear();
}

ScratchFile::ScratchFile(const std::string& path) : path_(path) {
  ScratchEntry* entry = FindScratch(path_);
  if (!entry) entry = &ScratchFiles().emplace_back(ScratchEntry{path_, 0, nullptr});
  ++entry->marks;
}

ScratchFile::~ScratchFile() {
  try {
    Flush();
  } catch (...) {
    // A destructor cannot report it; Flush() called before does.
  }
  auto& files = ScratchFiles();
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (it->path == path_ && --it->marks == 0) {
      files.erase(it);
      break;
    }
  }
}

void ScratchFile::Flush() {
  ScratchEntry* entry = FindScratch(path_);
  if (entry && entry->handle) {
    const std::shared_ptr<Handle> handle = std::move(entry->handle);
    const int rc = handle->Commit();
    if (rc != SQLITE_OK) throw SqliteError(handle->db.get(), rc, handle->path, "COMMIT");
  }
  SyncFile(path_);
}

}  // namespace Engine
