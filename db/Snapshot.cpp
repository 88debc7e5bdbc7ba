#include "Snapshot.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <mutex>
#include <thread>

#include "EngineErrors.h"
#include "RunError.h"
#include "ShortPath.h"
#include "Variant.h"

namespace Snapshot {
namespace {

using Platform::RunError;
using Clock = std::chrono::steady_clock;

constexpr auto kBusyTimeout = std::chrono::milliseconds(5000);  // for one lock
constexpr auto kBusyPause = std::chrono::milliseconds(10);
constexpr int kOpsBetweenClockLooks = 1000;  // virtual machine steps
constexpr int kPagesPerCopyStep = 256;
constexpr std::size_t kHeaderBytes = 100;
constexpr unsigned char kWalVersion = 2;  // header bytes 18 and 19 of a file in WAL mode

std::string Quote(const std::string& text) { return "'" + text + "'"; }

struct CloseDb {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct Finalize {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Db = std::unique_ptr<sqlite3, CloseDb>;
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

[[noreturn]] void Throw(sqlite3* db, int rc, const std::string& path) {
  const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      throw RunError(Engine::kErrInUse, "The database " + Quote(path) + " is in use by another program: " + message);
    case SQLITE_NOTADB:
      throw RunError(Engine::kErrNotADatabase, "The file " + Quote(path) + " is not a database.");
    case SQLITE_CANTOPEN:
      throw RunError(Engine::kErrCannotOpen, "The database " + Quote(path) + " cannot be opened.");
    default:
      throw RunError(Engine::kErrEngine, "The database " + Quote(path) + " cannot be read: " + message);
  }
}

// A "file:" name for SQLite with every byte that could end the path or
// start a parameter written as %XX.
std::string UriOf(const std::string& path) {
  std::string uri = "file:";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                       c == '/' || c == '.' || c == '-' || c == '_';
    if (plain) {
      uri += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      uri += escaped;
    }
  }
  return uri;
}

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec modified {};
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

FileIdentity IdentityOf(const struct stat& info) { return {info.st_dev, info.st_ino, info.st_size, info.st_mtim}; }

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

void Run(sqlite3* db, const char* sql, const std::string& path) {
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Throw(db, rc, path);
}

// "10 seconds", "1 second", "0.25 seconds".
std::string SecondsText(std::chrono::milliseconds limit) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(limit.count()) / 1000.0);
  return std::string(text) + (limit == std::chrono::seconds(1) ? " second" : " seconds");
}

// Run as root, SQLite's unix VFS gives every write-ahead log and
// shared-memory file it opens the owner of its database (fchown), which
// moves the file's time of change even when the owner is already right. A
// read changes nothing, so while a Reader works on this thread the call is
// left out; every other connection (the engine's writes) keeps it.
thread_local int readsUnderWay = 0;
sqlite3_syscall_ptr systemFchown = nullptr;

int FchownOutsideReads(int fd, uid_t owner, gid_t group) {
  if (readsUnderWay > 0) return 0;
  return reinterpret_cast<int (*)(int, uid_t, gid_t)>(systemFchown)(fd, owner, group);
}

void KeepOwnersDuringReads() {
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_vfs* unixVfs = sqlite3_vfs_find("unix");
    if (!unixVfs || unixVfs->iVersion < 3 || !unixVfs->xGetSystemCall || !unixVfs->xSetSystemCall) return;
    systemFchown = unixVfs->xGetSystemCall(unixVfs, "fchown");
    if (systemFchown)
      unixVfs->xSetSystemCall(unixVfs, "fchown", reinterpret_cast<sqlite3_syscall_ptr>(&FchownOutsideReads));
  });
}

// Marks the scope of one of the Reader's calls into SQLite.
struct Reading {
  Reading() { ++readsUnderWay; }
  ~Reading() { --readsUnderWay; }
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;
};

}  // namespace

struct Connection {
  std::string path;
  std::unique_ptr<ShortPath::Alias> name;  // what SQLite opened; outlives the connection
  Db db;
  bool unlocked = false;  // read without SQLite's locks
  FileIdentity identity;  // of the file when an unlocked read began
  std::chrono::milliseconds timeLimit{};
  Clock::time_point deadline;  // of the whole read
  bool stopped = false;        // a statement was stopped at the deadline

  [[noreturn]] void ThrowTimedOut() const {
    throw RunError(Engine::kErrEngine, "The database " + Quote(path) + " took longer than " + SecondsText(timeLimit) +
                                           " to read, and the read was stopped; it may hold a view or a query "
                                           "that never ends.");
  }
  void CheckTime() const {
    if (Clock::now() >= deadline) ThrowTimedOut();
  }
  // Throws for `rc`, as the time limit when it stopped the statement.
  [[noreturn]] void Fail(int rc) const {
    if ((rc & 0xff) == SQLITE_INTERRUPT && stopped) ThrowTimedOut();
    Throw(db.get(), rc, path);
  }
};

namespace {

// SQLite's progress handler: stops the running statement at the deadline.
int StopAtDeadline(void* context) {
  auto* connection = static_cast<Connection*>(context);
  if (Clock::now() < connection->deadline) return 0;
  connection->stopped = true;
  return 1;
}

// SQLite's busy handler: waits for a lock up to kBusyTimeout, never past
// the deadline; a lock not had then is the file being in use.
int WaitForLock(void* context, int attempts) {
  const auto* connection = static_cast<const Connection*>(context);
  if (attempts * kBusyPause >= kBusyTimeout || Clock::now() + kBusyPause >= connection->deadline) return 0;
  std::this_thread::sleep_for(kBusyPause);
  return 1;
}

}  // namespace

Reader::Reader(const std::string& path, std::chrono::milliseconds timeLimit)
    : connection_(std::make_unique<Connection>()) {
  KeepOwnersDuringReads();
  const Reading reading;
  connection_->path = path;
  connection_->timeLimit = timeLimit;
  connection_->deadline = Clock::now() + timeLimit;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    throw RunError(Engine::kErrFileNotFound, "Could not find file " + Quote(path) + ".");
  if (!S_ISREG(info.st_mode)) throw RunError(Engine::kErrNotAFile, "The path " + Quote(path) + " is not a file.");
  std::array<unsigned char, kHeaderBytes> header{};
  {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw RunError(Engine::kErrCannotOpen, "The file " + Quote(path) + " cannot be read.");
    const ssize_t count = ::read(fd, header.data(), header.size());
    ::close(fd);
    if (count < 0) throw RunError(Engine::kErrCannotOpen, "The file " + Quote(path) + " cannot be read.");
    if (count != static_cast<ssize_t>(header.size()))
      throw RunError(Engine::kErrNotADatabase, "The file " + Quote(path) + " is not a database.");
  }
  // SQLite looks for the log and the shared memory beside the file the
  // name resolves to.
  connection_->name = std::make_unique<ShortPath::Alias>(path);
  const std::string& opened = connection_->name->Path();
  const bool logged = Exists(opened + "-wal");
  connection_->unlocked = header[18] == kWalVersion && header[19] == kWalVersion && !logged;
  connection_->identity = IdentityOf(info);
  if (logged && !Exists(opened + "-shm"))
    throw RunError(Engine::kErrCannotOpen,
                   "The database " + Quote(path) + " cannot be read: its write-ahead log is there without its "
                   "shared-memory file, which reading it would make. Opening the database once in its own program "
                   "puts that right.");

  sqlite3* raw = nullptr;
  // mode=ro: the file is opened read-only; readonly_shm=1: so is the
  // shared-memory file of a file in WAL mode.
  const std::string uri = UriOf(opened) + (connection_->unlocked ? "?immutable=1" : "?mode=ro&readonly_shm=1");
  const int rc = sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, connection_->name->Vfs());
  connection_->db.reset(raw);
  if (rc != SQLITE_OK) Throw(raw, rc, path);
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_busy_handler(raw, WaitForLock, connection_.get());
  sqlite3_progress_handler(raw, kOpsBetweenClockLooks, StopAtDeadline, connection_.get());
  // The read transaction starts with the first row read and holds until
  // the end, so every query sees the same state.
  Run(raw, "BEGIN", path);
  Query("SELECT count(*) FROM sqlite_schema");
}

Reader::~Reader() {
  if (connection_) Close();
}

void Reader::Close() {
  if (!connection_->db) return;
  const Reading reading;
  sqlite3_progress_handler(connection_->db.get(), 0, nullptr, nullptr);
  sqlite3_exec(connection_->db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  connection_->db.reset();
}

Rows Reader::Query(const std::string& sql, const std::vector<std::string>& parameters) {
  Rows result;
  result.columns = ForEachRow(sql, parameters, [&](std::vector<Cell>&& row) { result.rows.push_back(std::move(row)); });
  return result;
}

std::vector<std::string> Reader::ForEachRow(const std::string& sql, const std::vector<std::string>& parameters,
                                            const std::function<void(std::vector<Cell>&&)>& each) {
  const Reading reading;
  Connection& connection = *connection_;
  connection.CheckTime();
  sqlite3* db = connection.db.get();
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
  Statement statement(raw);
  if (rc != SQLITE_OK) connection.Fail(rc);
  for (std::size_t i = 0; i < parameters.size(); ++i)
    sqlite3_bind_text(raw, static_cast<int>(i + 1), parameters[i].c_str(), static_cast<int>(parameters[i].size()),
                      SQLITE_TRANSIENT);
  std::vector<std::string> names;
  const int columns = sqlite3_column_count(raw);
  for (int c = 0; c < columns; ++c) names.emplace_back(sqlite3_column_name(raw, c));
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    std::vector<Cell> row;
    for (int c = 0; c < columns; ++c) {
      switch (sqlite3_column_type(raw, c)) {
        case SQLITE_NULL: row.emplace_back(std::nullopt); break;
        case SQLITE_BLOB:
          row.emplace_back(::Db::HexLiteral(static_cast<const std::uint8_t*>(sqlite3_column_blob(raw, c)),
                                          static_cast<std::size_t>(sqlite3_column_bytes(raw, c))));
          break;
        default: {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, c));
          row.emplace_back(std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(raw, c))));
        }
      }
    }
    each(std::move(row));
  }
  if (rc != SQLITE_DONE) connection.Fail(rc);
  return names;
}

namespace {

// The rows of sqlite_schema that are the file's own ordinary tables. A
// virtual table has no pages of its own (rootpage 0) and its statement is
// kept as SQLite wrote it; a view can only be a 'view'.
constexpr const char* kOwnTables =
    "type = 'table' AND rootpage > 0 AND sql NOT LIKE 'CREATE VIRTUAL TABLE %' "
    "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'";

}  // namespace

std::vector<std::string> Reader::Tables() {
  std::vector<std::string> names;
  for (const auto& row : Query(std::string("SELECT name FROM sqlite_schema WHERE ") + kOwnTables + " ORDER BY name").rows)
    names.push_back(row[0].value_or(""));
  return names;
}

bool Reader::IsTable(const std::string& name) {
  return !Query(std::string("SELECT 1 FROM sqlite_schema WHERE ") + kOwnTables + " AND name = ? COLLATE NOCASE", {name})
              .rows.empty();
}

void Reader::CopyTo(const std::string& destination) {
  const Reading reading;
  connection_->CheckTime();
  const int fd = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) throw RunError(Engine::kErrCannotOpen, "The file " + Quote(destination) + " cannot be made.");
  ::close(fd);
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(UriOf(destination).c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, nullptr);
  Db target(raw);
  if (rc != SQLITE_OK) Throw(raw, rc, destination);
  // A private copy: nothing to gain from waiting for the disk.
  Run(raw, "PRAGMA synchronous=OFF", destination);
  sqlite3_backup* backup = sqlite3_backup_init(raw, "main", connection_->db.get(), "main");
  if (!backup) Throw(raw, sqlite3_errcode(raw), destination);
  // A few pages at a time, looking at the clock in between; every step
  // reads the state this read began with, as its transaction is open.
  bool late = false;
  do {
    late = Clock::now() >= connection_->deadline;
  } while (!late && (rc = sqlite3_backup_step(backup, kPagesPerCopyStep)) == SQLITE_OK);
  const int finished = sqlite3_backup_finish(backup);
  if (late) connection_->ThrowTimedOut();
  if (rc != SQLITE_DONE) Throw(connection_->db.get(), rc, connection_->path);
  if (finished != SQLITE_OK) Throw(raw, finished, destination);
}

void Reader::Finish() {
  if (!connection_->db) return;
  Close();
  if (!connection_->unlocked) return;
  struct stat info {};
  const std::string& path = connection_->path;
  if (::stat(path.c_str(), &info) != 0 || !(IdentityOf(info) == connection_->identity))
    throw RunError(Engine::kErrInUse,
                   "The database " + Quote(path) + " was changed by another program while it was read; try again.");
}

}  // namespace Snapshot
