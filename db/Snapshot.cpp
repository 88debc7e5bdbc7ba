#include "Snapshot.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "EngineErrors.h"
#include "Sqlite.h"
#include "Variant.h"

namespace Snapshot {
namespace {

using Db::Quoted;
using Platform::RunError;
using Clock = std::chrono::steady_clock;

constexpr auto kBusyTimeout = std::chrono::milliseconds(5000);  // for one lock
constexpr auto kBusyPause = std::chrono::milliseconds(10);
constexpr int kOpsBetweenClockLooks = 1000;  // virtual machine steps
constexpr std::size_t kHeaderBytes = 100;
constexpr unsigned char kWalVersion = 2;  // header bytes 18 and 19 of a file in WAL mode

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// "10 seconds", "1 second", "0.25 seconds".
std::string SecondsText(std::chrono::milliseconds limit) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(limit.count()) / 1000.0);
  return std::string(text) + (limit == std::chrono::seconds(1) ? " second" : " seconds");
}

// The file's own ordinary tables: a virtual table has no pages of its own
// (rootpage 0) and its statement is kept as SQLite wrote it.
constexpr const char* kOwnTables =
    "type = 'table' AND rootpage > 0 AND sql NOT LIKE 'CREATE VIRTUAL TABLE %' "
    "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'";

// Run as root, SQLite's unix VFS gives every log and shared-memory file it
// opens its database's owner (fchown), which moves their time of change; while
// a Reader works on this thread the call is left out, the engine's writes keep it.
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

// The scope of one of the Reader's calls into SQLite.
struct Reading {
  Reading() { ++readsUnderWay; }
  ~Reading() { --readsUnderWay; }
};

}  // namespace

struct Connection {
  Connection(const std::string& path, std::chrono::milliseconds limit)
      : db(path), timeLimit(limit), deadline(Clock::now() + limit) {}
  Sqlite::Database db;
  bool unlocked = false;  // read without SQLite's locks
  struct stat identity {};  // of the file when an unlocked read began
  std::chrono::milliseconds timeLimit;
  Clock::time_point deadline;  // of the whole read
  bool stopped = false;        // a statement was stopped at the deadline
  std::optional<Sqlite::Transaction> read;  // never committed: it only reads

  [[noreturn]] void ThrowTimedOut() const {
    throw RunError(Engine::kErrEngine, "The database " + Quoted(db.Path()) + " took longer than " +
                                           SecondsText(timeLimit) +
                                           " to read, and the read was stopped; it may hold a view or a query "
                                           "that never ends.");
  }
  void CheckTime() const {
    if (Clock::now() >= deadline) ThrowTimedOut();
  }
  static int StopAtDeadline(void* context) {
    auto* connection = static_cast<Connection*>(context);
    connection->stopped = Clock::now() >= connection->deadline;
    return connection->stopped ? 1 : 0;
  }
  // Waits for a lock up to kBusyTimeout, never past the deadline.
  static int WaitForLock(void* context, int attempts) {
    const auto* connection = static_cast<const Connection*>(context);
    if (attempts * kBusyPause >= kBusyTimeout || Clock::now() + kBusyPause >= connection->deadline) return 0;
    std::this_thread::sleep_for(kBusyPause);
    return 1;
  }
};

Reader::Reader(const std::string& path, std::chrono::milliseconds timeLimit) {
  KeepOwnersDuringReads();
  const Reading reading;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    throw RunError(Engine::kErrFileNotFound, "Could not find file " + Quoted(path) + ".");
  if (!S_ISREG(info.st_mode)) throw RunError(Engine::kErrNotAFile, "The path " + Quoted(path) + " is not a file.");
  std::array<unsigned char, kHeaderBytes> header{};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  const ssize_t count = fd < 0 ? -1 : ::read(fd, header.data(), header.size());
  if (fd >= 0) ::close(fd);
  if (count < 0) throw RunError(Engine::kErrCannotOpen, "The file " + Quoted(path) + " cannot be read.");
  if (count != static_cast<ssize_t>(header.size()))
    throw RunError(Engine::kErrNotADatabase, "The file " + Quoted(path) + " is not a database.");
  connection_ = std::make_unique<Connection>(path, timeLimit);
  Connection& connection = *connection_;
  // SQLite looks for the log beside the file the name resolves to.
  const std::string& opened = connection.db.Opened();
  const bool logged = Exists(opened + "-wal");
  connection.unlocked = header[18] == kWalVersion && header[19] == kWalVersion && !logged;
  connection.identity = info;
  if (logged && !Exists(opened + "-shm"))
    throw RunError(Engine::kErrCannotOpen,
                   "The database " + Quoted(path) + " cannot be read: its write-ahead log is there without its "
                   "shared-memory file, which reading it would make. Opening the database once in its own program "
                   "puts that right.");
  connection.db.Open(SQLITE_OPEN_READONLY, connection.unlocked ? "immutable=1" : "mode=ro&readonly_shm=1");
  sqlite3* raw = connection.db.Get();
  sqlite3_db_config(raw, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_busy_handler(raw, Connection::WaitForLock, &connection);
  sqlite3_progress_handler(raw, kOpsBetweenClockLooks, Connection::StopAtDeadline, &connection);
  // Holds from the first row read to the end: every query sees one state.
  connection.read.emplace(connection.db);
  Query("SELECT count(*) FROM sqlite_schema");
}

Reader::~Reader() { Close(); }

void Reader::Close() {
  if (!connection_->db.Get()) return;
  const Reading reading;
  sqlite3_progress_handler(connection_->db.Get(), 0, nullptr, nullptr);
  connection_->read.reset();
  connection_->db.Close();
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
  try {
    const Sqlite::Statement statement(connection.db, sql);
    sqlite3_stmt* raw = statement.Get();
    for (std::size_t i = 0; i < parameters.size(); ++i) statement.Bind(static_cast<int>(i + 1), parameters[i]);
    std::vector<std::string> names;
    const int columns = sqlite3_column_count(raw);
    for (int c = 0; c < columns; ++c) names.emplace_back(sqlite3_column_name(raw, c));
    while (statement.Step()) {
      std::vector<Cell> row;
      for (int c = 0; c < columns; ++c) {
        switch (sqlite3_column_type(raw, c)) {
          case SQLITE_NULL: row.emplace_back(std::nullopt); break;
          case SQLITE_BLOB:
            row.emplace_back(::Db::HexLiteral(static_cast<const std::uint8_t*>(sqlite3_column_blob(raw, c)),
                                            static_cast<std::size_t>(sqlite3_column_bytes(raw, c))));
            break;
          default: row.emplace_back(statement.Text(c));
        }
      }
      each(std::move(row));
    }
    return names;
  } catch (const RunError&) {
    if (connection.stopped) connection.ThrowTimedOut();
    throw;
  }
}

std::vector<std::string> Reader::Tables() {
  std::vector<std::string> names;
  const std::string sql = std::string("SELECT name FROM sqlite_schema WHERE ") + kOwnTables + " ORDER BY name";
  for (const auto& row : Query(sql).rows) names.push_back(row[0].value_or(""));
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
  if (fd < 0) throw RunError(Engine::kErrCannotOpen, "The file " + Quoted(destination) + " cannot be made.");
  ::close(fd);
  Sqlite::Database target(destination);
  target.Open(SQLITE_OPEN_READWRITE);
  // A private copy: nothing to gain from waiting for the disk.
  target.Run("PRAGMA synchronous=OFF");
  if (!Sqlite::Copy(connection_->db, target, [&] { return Clock::now() < connection_->deadline; }))
    connection_->ThrowTimedOut();
}

void Reader::Finish() {
  if (!connection_->db.Get()) return;
  Close();
  if (!connection_->unlocked) return;
  struct stat info {};
  const std::string& path = connection_->db.Path();
  if (::stat(path.c_str(), &info) != 0 || !SameFile(info, connection_->identity))
    throw RunError(Engine::kErrInUse,
                   "The database " + Quoted(path) + " was changed by another program while it was read; try again.");
}

}  // namespace Snapshot
