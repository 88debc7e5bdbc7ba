// Connections: opening a file by its connection string, and running one
// statement of the host's dialect on it.
#include "Engine.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "Dialect.h"
#include "Handle.h"

namespace Engine {
namespace {

using Db::EqualsNoCase;
using Db::Quoted;
using Db::StartsWithNoCase;

constexpr std::string_view kProvider = "Microsoft.Jet.OLEDB.4.0";
constexpr int kBusyTimeoutMs = 5000;

// A second defence behind the keyword check, for these actions inside an allowed
// statement; only the engine's own look at a table's columns may read a pragma.
int Authorize(void* data, int action, const char*, const char*, const char*, const char*) {
  if (action == SQLITE_ATTACH || action == SQLITE_DETACH) return SQLITE_DENY;
  return action == SQLITE_PRAGMA && !static_cast<const Handle*>(data)->internal ? SQLITE_DENY : SQLITE_OK;
}

std::string PathFromConnectionString(const std::string& connectionString) {
  const std::size_t semicolon = connectionString.find(';');
  const std::string_view provider = Db::Trim(std::string_view(connectionString).substr(0, semicolon), Db::kSpaces);
  if (!StartsWithNoCase(provider, "Provider=")) {
    Fail(kErrBadConnectionString, "The connection string " + Quoted(connectionString) + " names no provider.");
  }
  const std::string_view name = Db::Trim(provider.substr(9), Db::kSpaces);
  if (!EqualsNoCase(name, kProvider)) {
    Fail(kErrBadConnectionString, "The provider " + Quoted(std::string(name)) + " is not known; only " +
                                      std::string(kProvider) + " can open a database.");
  }
  const std::string_view rest =
      semicolon == std::string::npos ? std::string_view() : std::string_view(connectionString).substr(semicolon + 1);
  constexpr std::string_view kDataSource = "Data Source=";
  if (!StartsWithNoCase(rest, kDataSource)) {
    Fail(kErrBadConnectionString, "The connection string " + Quoted(connectionString) + " names no Data Source.");
  }
  return std::string(rest.substr(kDataSource.size()));
}

// The host's older desktop-database format names itself at byte 4 of its first page.
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
void ReadSchema(const Sqlite::Database& db) {
  const char* sql = "SELECT count(*) FROM sqlite_schema";
  const int rc = sqlite3_exec(db.Get(), sql, nullptr, nullptr, nullptr);
  if ((rc & 0xff) == SQLITE_NOTADB) {
    if (const auto format = OlderDesktopFormat(db.Path())) {
      Fail(kErrNotADatabase, "The file " + Quoted(db.Path()) + " is a shop database in the host's older desktop "
                             "format (\"" + *format + "\"); this program works on the SQLite form of the shop "
                             "database only.");
    }
  }
  db.Check(rc, sql);
}

// A file in WAL mode stays in it: switching would need the file to itself and
// change it for the host. Others get a journal beside them, a scratch file in memory.
void SetJournal(const Sqlite::Database& db, bool scratch) {
  const Sqlite::Statement statement(db, "PRAGMA journal_mode");
  if (statement.Step() && EqualsNoCase(statement.Text(0), "wal")) return;
  db.Run(scratch ? "PRAGMA journal_mode=MEMORY" : "PRAGMA journal_mode=DELETE");
}

}  // namespace

std::optional<int> Handle::ColumnType(const std::string& schema, const std::string& table,
                                      const std::string& column) const {
  const char* declared = nullptr;
  const int rc = sqlite3_table_column_metadata(db.Get(), schema.empty() ? nullptr : schema.c_str(), table.c_str(),
                                               column.c_str(), &declared, nullptr, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK && rc != SQLITE_ERROR) throw db.Failure(rc);
  if (rc != SQLITE_OK || !declared || !*declared) return std::nullopt;
  return ColumnTypes::TypeFromDeclared(declared);
}

std::vector<std::string> Handle::InsertColumns(const std::string& schema, const std::string& table) const {
  struct Internal {
    const Handle& handle;
    explicit Internal(const Handle& h) : handle(h) { handle.internal = true; }
    ~Internal() { handle.internal = false; }
  } internal(*this);
  const Sqlite::Statement statement(db, schema.empty()
                                            ? "SELECT name FROM pragma_table_xinfo(?1) WHERE hidden = 0"
                                            : "SELECT name FROM pragma_table_xinfo(?1, ?2) WHERE hidden = 0");
  statement.Bind(1, table);
  if (!schema.empty()) statement.Bind(2, schema);
  std::vector<std::string> columns;
  while (statement.Step()) columns.push_back(statement.Text(0));
  return columns;
}

void Handle::RequireStored(const std::string& table) const {
  if (sqlite3_changes(db.Get()) != 0) return;
  Fail(kErrConstraint, "The table " + Quoted(table) + " of " + Quoted(db.Path()) +
                           " stored no row: a trigger or a conflict clause of the table ignored it.");
}

void Database::Open(const std::string& connectionString) {
  Close();
  const std::string path = PathFromConnectionString(connectionString);
  const std::string unreadable = "The file " + Quoted(path) + " cannot be read: permission denied.";
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) {
    if (!path.empty() && errno == EACCES) Fail(kErrCannotOpen, unreadable);
    Fail(kErrFileNotFound, "Could not find file " + Quoted(path) + ".");
  }
  if (S_ISDIR(info.st_mode)) Fail(kErrNotAFile, "The path " + Quoted(path) + " is a folder, not a database file.");
  if (!S_ISREG(info.st_mode)) Fail(kErrNotADatabase, "The file " + Quoted(path) + " is not a database.");
  if (info.st_size == 0) Fail(kErrNotADatabase, "The file " + Quoted(path) + " is not a database (it is empty).");
  // The mode bits decide, not access(): as root every file passes access().
  if ((info.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) == 0) Fail(kErrCannotOpen, unreadable);
  const bool writable = (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;

  // Shared while the path names the file it was opened on, with the same permission to write.
  std::shared_ptr<Handle>* shared = ScratchSlot(path);
  if (shared && *shared && (*shared)->device == info.st_dev && (*shared)->inode == info.st_ino &&
      (*shared)->readOnly == !writable) {
    handle_ = *shared;
    return;
  }

  auto handle = std::make_shared<Handle>(path);
  handle->readOnly = !writable;
  handle->device = info.st_dev;
  handle->inode = info.st_ino;
  const Sqlite::Database& db = handle->db;
  handle->db.Open(writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
  sqlite3_busy_timeout(db.Get(), kBusyTimeoutMs);
  sqlite3_db_config(db.Get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  // Nothing reads a scratch file until it is copied: its changes need not
  // reach the disk one by one. Every other file's do, WAL or not.
  ReadSchema(db);
  db.Run(shared ? "PRAGMA synchronous=OFF" : "PRAGMA synchronous=FULL");
  if (writable) SetJournal(db, shared != nullptr);
  handle->rollbacks =
      shared && writable && Sqlite::Statement(db, "SELECT 1 FROM sqlite_schema WHERE sql LIKE '%ROLLBACK%'").Step();
  ColumnTypes::RegisterStoreFunction(db);
  sqlite3_set_authorizer(db.Get(), Authorize, handle.get());
  handle_ = std::move(handle);
  if (shared) *shared = handle_;
}

void Database::Execute(const std::string& sql) {
  if (!handle_) Fail(kErrObjectClosed, "The connection is closed.");
  Handle& handle = *handle_;
  const Dialect::Statement translated = Dialect::Translate(sql, handle, false);
  const Sqlite::Statement& statement = handle.Prepared(translated, sql);
  if (handle.readOnly && !sqlite3_stmt_readonly(statement.Get())) {
    throw Sqlite::Error(nullptr, SQLITE_READONLY, handle.db.Path(), sql);
  }
  handle.Write(statement);
  if (translated.rows > 0) handle.RequireStored(translated.table);
}

}  // namespace Engine
