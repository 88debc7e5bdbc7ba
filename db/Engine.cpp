#include "Engine.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <string_view>

#include "RunError.h"

namespace Engine {

struct Handle {
  struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  std::unique_ptr<sqlite3, Closer> db;
  std::string path;
  bool readOnly = false;
  dev_t device = 0;  // the file the connection was opened on
  ino_t inode = 0;
  // A scratch file's statements share one transaction, committed when the
  // connection is flushed or dropped, or when a statement fails.
  bool scratch = false;

  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Commit(); }
  // Commits the open transaction of a scratch file, if any; answers the
  // SQLite result.
  int Commit() {
    if (!db || sqlite3_get_autocommit(db.get())) return SQLITE_OK;
    return sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr);
  }
};

namespace {

using Platform::RunError;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

constexpr std::string_view kProvider = "Microsoft.Jet.OLEDB.4.0";
constexpr int kBusyTimeoutMs = 5000;
const char* const kScratchJournal = "PRAGMA journal_mode=MEMORY";

[[noreturn]] void Fail(std::int32_t number, const std::string& description) { throw RunError(number, description); }

using Db::EqualsNoCase;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || u >= 0x80;
}

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

// Everything SQLite reports funnels through here, so that every failure
// carries an engine number and a description naming the file, table or
// column concerned.
[[noreturn]] void ThrowSqliteError(sqlite3* db, int rc, const std::string& path, const std::string& sql) {
  const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  const auto after = [&](std::string_view prefix) { return message.substr(prefix.size()); };
  switch (rc & 0xff) {
    case SQLITE_BUSY: case SQLITE_LOCKED: Fail(kErrInUse, InUseText(path));
    case SQLITE_READONLY: Fail(kErrCannotOpen, ReadOnlyText(path));
    case SQLITE_CANTOPEN: case SQLITE_PERM:
      Fail(kErrCannotOpen, "The database " + Quote(path) + " cannot be opened for this operation (" + message + ").");
    case SQLITE_NOTADB: case SQLITE_CORRUPT:
      Fail(kErrNotADatabase, "The file " + Quote(path) + " is not a database, or it is damaged.");
    case SQLITE_CONSTRAINT:
      Fail(kErrConstraint, "The database " + Quote(path) + " refused the change (" + message + "); nothing was changed.");
    case SQLITE_FULL: Fail(kErrEngine, "The disk is full; the database " + Quote(path) + " could not be written.");
    case SQLITE_AUTH: Fail(kErrSyntax, "The statement " + Quote(sql) + " is not allowed.");
    case SQLITE_ERROR: break;
    default: Fail(kErrEngine, "The database " + Quote(path) + " reported an error: " + message + ".");
  }
  if (message.starts_with("no such table: ")) {
    std::string table = after("no such table: ");
    if (table.starts_with("main.")) table.erase(0, 5);
    Fail(kErrNoSuchTable, "The table " + Quote(table) + " does not exist in " + Quote(path) + ".");
  }
  if (message.starts_with("no such column: ")) {
    Fail(kErrNoSuchColumn, "The column " + Quote(after("no such column: ")) + " does not exist in " + Quote(path) + ".");
  }
  if (message.starts_with("table ") && message.find(" has no column named ") != std::string::npos) {
    const std::size_t at = message.find(" has no column named ");
    const std::string table = message.substr(6, at - 6);
    const std::string column = message.substr(at + 21);
    Fail(kErrNoSuchColumn, "The column " + Quote(column) + " does not exist in the table " + Quote(table) + " of " +
                               Quote(path) + ".");
  }
  if (message.find("syntax error") != std::string::npos || message.starts_with("incomplete input") ||
      message.starts_with("unrecognized token")) {
    Fail(kErrSyntax, "Syntax error in the statement " + Quote(sql) + " (" + message + ").");
  }
  Fail(kErrEngine, "The database " + Quote(path) + " could not run the statement " + Quote(sql) + ": " + message + ".");
}

void Check(const Handle& handle, int rc, const std::string& sql) {
  if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
  ThrowSqliteError(handle.db.get(), rc, handle.path, sql);
}

// The first keyword of a statement, upper-cased; leading white space,
// comments and parentheses are skipped.
std::string FirstKeyword(std::string_view sql) {
  std::size_t i = 0;
  while (i < sql.size()) {
    if (IsSpace(sql[i]) || sql[i] == '(') {
      ++i;
    } else if (sql.substr(i, 2) == "--") {
      i = sql.find('\n', i);
    } else if (sql.substr(i, 2) == "/*") {
      i = sql.find("*/", i + 2);
      if (i != std::string_view::npos) i += 2;
    } else {
      break;
    }
  }
  std::string word;
  while (i < sql.size() && IsWordChar(sql[i])) word += Upper(sql[i++]);
  return word;
}

// The statements the program has any use for; ATTACH, DETACH, PRAGMA,
// VACUUM, transaction control and the rest reach beyond one statement on
// one file and are refused.
bool IsAllowedStatement(const std::string& keyword) {
  for (const char* allowed : {"SELECT", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "ALTER"}) {
    if (keyword == allowed) return true;
  }
  return false;
}

// A second line of defence behind the keyword check, for whatever might
// reach these actions from inside an allowed statement.
int Authorize(void*, int action, const char*, const char*, const char*, const char*) {
  return (action == SQLITE_ATTACH || action == SQLITE_DETACH || action == SQLITE_PRAGMA) ? SQLITE_DENY : SQLITE_OK;
}

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

Statement PrepareChecked(const Handle& handle, const std::string& sql, bool query) {
  const std::string translated = TranslateSql(sql);
  const std::string keyword = FirstKeyword(translated);
  if (query ? keyword != "SELECT" : !IsAllowedStatement(keyword)) {
    Fail(kErrSyntax, query ? "Only a SELECT statement can open a recordset, not " + Quote(sql) + "."
                           : "The statement " + Quote(sql) +
                                 " is not allowed; only SELECT, INSERT, UPDATE, DELETE, CREATE, DROP and ALTER "
                                 "statements can be run.");
  }
  return Prepare(handle, translated, sql);
}

int TypeFromDeclared(const char* declared) {
  std::string word;
  for (const char* p = declared; *p && !IsSpace(*p) && *p != '('; ++p) word += Upper(*p);
  struct Entry {
    const char* name;
    int type;
  };
  static constexpr Entry kTypes[] = {
      {"TEXT", kTypeVarWChar}, {"VARCHAR", kTypeVarWChar}, {"CHAR", kTypeVarWChar}, {"NVARCHAR", kTypeVarWChar},
      {"NCHAR", kTypeVarWChar}, {"STRING", kTypeVarWChar}, {"MEMO", kTypeLongVarWChar},
      {"LONGTEXT", kTypeLongVarWChar}, {"NTEXT", kTypeLongVarWChar}, {"CLOB", kTypeLongVarWChar},
      {"BYTE", kTypeUnsignedTinyInt}, {"TINYINT", kTypeUnsignedTinyInt}, {"SHORT", kTypeSmallInt},
      {"SMALLINT", kTypeSmallInt}, {"LONG", kTypeInteger}, {"INTEGER", kTypeInteger}, {"INT", kTypeInteger},
      {"COUNTER", kTypeInteger}, {"AUTOINCREMENT", kTypeInteger}, {"SINGLE", kTypeSingle}, {"REAL", kTypeSingle},
      {"DOUBLE", kTypeDouble}, {"FLOAT", kTypeDouble}, {"NUMERIC", kTypeDouble}, {"DECIMAL", kTypeDouble},
      {"CURRENCY", kTypeCurrency}, {"MONEY", kTypeCurrency}, {"DATETIME", kTypeDate}, {"DATE", kTypeDate},
      {"TIME", kTypeDate}, {"TIMESTAMP", kTypeDate}, {"BIT", kTypeBoolean}, {"YESNO", kTypeBoolean},
      {"LOGICAL", kTypeBoolean}, {"BOOLEAN", kTypeBoolean}, {"GUID", kTypeGUID}, {"UNIQUEIDENTIFIER", kTypeGUID},
      {"BLOB", kTypeLongVarBinary}, {"LONGBINARY", kTypeLongVarBinary}, {"BINARY", kTypeLongVarBinary},
      {"VARBINARY", kTypeLongVarBinary}, {"IMAGE", kTypeLongVarBinary}};
  for (const auto& entry : kTypes) {
    if (word == entry.name) return entry.type;
  }
  return kTypeVarWChar;
}

int TypeFromStorage(int storage) {
  switch (storage) {
    case SQLITE_INTEGER: return kTypeInteger;
    case SQLITE_FLOAT: return kTypeDouble;
    case SQLITE_BLOB: return kTypeLongVarBinary;
    default: return kTypeVarWChar;
  }
}

bool IsTextType(int type) { return type == kTypeVarWChar || type == kTypeLongVarWChar || type == kTypeGUID; }

Db::Variant IntegerValue(std::int64_t value) {
  if (value >= INT32_MIN && value <= INT32_MAX) return Db::Variant::Int32(static_cast<std::int32_t>(value));
  return Db::Variant::Double(static_cast<double>(value));
}

// One stored value read by its column's type; a value that does not fit
// the type comes back as what it holds.
Db::Variant ReadValue(sqlite3_stmt* stmt, int index, int type) {
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_NULL: return Db::Variant::Null();
    case SQLITE_INTEGER: {
      const std::int64_t value = sqlite3_column_int64(stmt, index);
      switch (type) {
        case kTypeBoolean: return Db::Variant::Bool(value != 0);
        case kTypeCurrency: return Db::Variant::Currency(static_cast<double>(value));
        case kTypeDouble: case kTypeSingle: return Db::Variant::Double(static_cast<double>(value));
        case kTypeSmallInt:
          if (value >= INT16_MIN && value <= INT16_MAX) return Db::Variant::Int16(static_cast<std::int16_t>(value));
          break;
        case kTypeUnsignedTinyInt:
          if (value >= 0 && value <= 255) return Db::Variant::Byte(static_cast<std::uint8_t>(value));
          break;
        default:
          // Text columns declared with a numeric affinity (MEMO, STRING)
          // store number-like text as a number.
          if (IsTextType(type)) return Db::Variant::Text(std::to_string(value));
      }
      return IntegerValue(value);
    }
    case SQLITE_FLOAT: {
      const double value = sqlite3_column_double(stmt, index);
      if (type == kTypeBoolean) return Db::Variant::Bool(value != 0);
      if (type == kTypeCurrency) return Db::Variant::Currency(value);
      if (IsTextType(type)) return Db::Variant::Text(Db::Variant::Double(value).ToText());
      return Db::Variant::Double(value);
    }
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, index));
      const int size = sqlite3_column_bytes(stmt, index);
      return Db::Variant::Binary(bytes ? std::vector<std::uint8_t>(bytes, bytes + size) : std::vector<std::uint8_t>{});
    }
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
      std::string value(text ? text : "", text ? static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)) : 0);
      if (type == kTypeDate) {
        try {
          return Db::Variant::Date(value);
        } catch (const RunError&) {
          // not a date: read as the text it is
        }
      }
      return Db::Variant::Text(std::move(value));
    }
  }
}

std::string DescribeValue(const Db::Variant& value) {
  if (value.GetKind() == Db::Variant::Kind::Binary) return "(binary data)";
  return Quote(value.ToText());
}

// The value as the column's type stores it: the host's conversions, with
// failures naming the column.
Db::Variant ConvertForColumn(const Db::Variant& value, int type, const std::string& column) {
  using Db::Variant;
  if (value.IsEmpty() || value.IsNull()) return Variant::Null();
  const auto overflow = [&]() {
    Fail(Platform::kErrOverflow, "Overflow: the value " + DescribeValue(value) + " does not fit the column " +
                                     Quote(column) + ".");
  };
  try {
    switch (type) {
      case kTypeSmallInt: return Variant::Int16(value.ToInt16());
      case kTypeInteger: return Variant::Int32(value.ToInt32());
      case kTypeUnsignedTinyInt: {
        const std::int32_t number = value.ToInt32();
        if (number < 0 || number > 255) overflow();
        return Variant::Byte(static_cast<std::uint8_t>(number));
      }
      case kTypeSingle: case kTypeDouble: {
        const double number = value.ToDouble();
        if (type == kTypeSingle && (number > FLT_MAX || number < -FLT_MAX)) overflow();
        return Variant::Double(number);
      }
      case kTypeCurrency: {
        const double number = value.ToDouble();
        if (number > 922337203685477.5807 || number < -922337203685477.5808) overflow();
        return Variant::Currency(number);
      }
      case kTypeDate: return Variant::Date(value.ToDateText());
      case kTypeBoolean: return Variant::Bool(value.ToBool());
      case kTypeLongVarBinary:
        if (value.GetKind() == Variant::Kind::Binary) return value;
        if (value.GetKind() == Variant::Kind::Text) {
          const std::string text = value.ToText();
          return Variant::Binary(std::vector<std::uint8_t>(text.begin(), text.end()));
        }
        Fail(Platform::kErrTypeMismatch, "");
      default: return IsTextType(type) ? Variant::Text(value.ToText()) : value;
    }
  } catch (const RunError& error) {
    if (error.Number() == Platform::kErrOverflow) overflow();
    Fail(Platform::kErrTypeMismatch,
         "Type mismatch: the column " + Quote(column) + " cannot take the value " + DescribeValue(value) + ".");
  }
}

void Bind(const Handle& handle, sqlite3_stmt* stmt, int position, const Db::Variant& value, const std::string& sql) {
  using Kind = Db::Variant::Kind;
  int rc = SQLITE_OK;
  switch (value.GetKind()) {
    case Kind::Empty: case Kind::Null: rc = sqlite3_bind_null(stmt, position); break;
    case Kind::Int16: case Kind::Int32: case Kind::Byte: rc = sqlite3_bind_int64(stmt, position, value.ToInt32()); break;
    case Kind::Double: case Kind::Currency: rc = sqlite3_bind_double(stmt, position, value.ToDouble()); break;
    case Kind::Bool: rc = sqlite3_bind_int(stmt, position, value.ToBool() ? -1 : 0); break;
    case Kind::Binary: {
      const auto& bytes = value.BinaryValue();
      rc = sqlite3_bind_blob64(stmt, position, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
      break;
    }
    case Kind::Text: case Kind::Date: {
      const std::string text = value.ToText();
      rc = sqlite3_bind_text64(stmt, position, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    }
  }
  Check(handle, rc, sql);
}

std::string QuotedName(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
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

void AppendLimit(std::string& out, std::string_view limit, const char* separator) {
  if (!limit.empty()) out.append(separator).append("LIMIT ").append(limit);
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

std::string TranslateSql(const std::string& sql) {
  std::string out;
  out.reserve(sql.size() + 16);
  // One pending LIMIT per open parenthesis; [0] is the statement's own.
  std::vector<std::string_view> limits(1);
  bool expectTop = false;  // just after SELECT, SELECT DISTINCT or SELECT ALL
  const std::size_t n = sql.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = sql[i];
    const char next = i + 1 < n ? sql[i + 1] : '\0';
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const std::size_t close = sql.find(c == '[' ? ']' : c, i + 1);
      if (close == std::string::npos) {
        Fail(kErrSyntax, std::string(c == '\'' ? "A text" : "A name") + " in the statement " + Quote(sql) +
                             " is not closed.");
      }
      out.append(sql, i, close + 1 - i);
      i = close + 1;
      expectTop = false;
    } else if (c == '-' && next == '-') {
      const std::size_t end = sql.find('\n', i);
      const std::size_t stop = end == std::string::npos ? n : end;
      out.append(sql, i, stop - i);
      i = stop;
    } else if (c == '/' && next == '*') {
      const std::size_t end = sql.find("*/", i + 2);
      if (end == std::string::npos) Fail(kErrSyntax, "A comment in the statement " + Quote(sql) + " is not closed.");
      out.append(sql, i, end + 2 - i);
      i = end + 2;
    } else if (IsSpace(c)) {
      out += c;
      ++i;
    } else if (c == '#' && !(i > 0 && IsWordChar(sql[i - 1]))) {
      const std::size_t close = sql.find('#', i + 1);
      const auto stored = close == std::string::npos ? std::nullopt
                                                     : Db::StoredDateText(std::string_view(sql).substr(i + 1, close - i - 1));
      if (!stored) Fail(kErrSyntax, "Syntax error in a date in the statement " + Quote(sql) + ".");
      out.append("'").append(*stored).append("'");
      i = close + 1;
      expectTop = false;
    } else if (c == '(') {
      limits.emplace_back();
      out += c;
      ++i;
      expectTop = false;
    } else if (c == ')') {
      if (limits.size() > 1) {
        AppendLimit(out, limits.back(), " ");
        limits.pop_back();
      }
      out += c;
      ++i;
      expectTop = false;
    } else if (c == ';') {
      for (std::size_t k = i + 1; k < n; ++k) {
        if (!IsSpace(sql[k])) {
          Fail(kErrMultipleStatements,
               "Only one statement can be run at a time: " + Quote(sql) + " holds more; nothing was run.");
        }
      }
      break;
    } else if (IsWordChar(c)) {
      std::size_t end = i;
      while (end < n && IsWordChar(sql[end])) ++end;
      const std::string_view word = std::string_view(sql).substr(i, end - i);
      if (expectTop && EqualsNoCase(word, "TOP")) {
        std::size_t from = end;
        while (from < n && IsSpace(sql[from])) ++from;
        std::size_t to = from;
        while (to < n && IsDigit(sql[to])) ++to;
        std::size_t after = to;
        while (after < n && IsSpace(sql[after])) ++after;
        if (to == from || (to < n && IsWordChar(sql[to])) ||
            StartsWithNoCase(std::string_view(sql).substr(after), "PERCENT")) {
          Fail(kErrSyntax, "Syntax error in the statement " + Quote(sql) + ": Top must be followed by a number of rows.");
        }
        limits.back() = std::string_view(sql).substr(from, to - from);
        i = after;
        expectTop = false;
        continue;
      }
      expectTop = EqualsNoCase(word, "SELECT") ||
                  (expectTop && (EqualsNoCase(word, "DISTINCT") || EqualsNoCase(word, "ALL")));
      out.append(word);
      i = end;
    } else {
      out += c;
      ++i;
      expectTop = false;
    }
  }
  // A new line ends a trailing "--" comment, which would otherwise swallow the LIMIT.
  AppendLimit(out, limits.front(), "\n");
  return out;
}

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
  // SQLite is built to read "file:" names as URIs, which could name other
  // files or create one; "./" keeps such a path a plain file name.
  const std::string fileName = StartsWithNoCase(path, "file:") ? "./" + path : path;
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(fileName.c_str(), &raw, writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY,
                                 nullptr);
  handle->db.reset(raw);
  if (rc != SQLITE_OK) {
    if ((rc & 0xff) == SQLITE_CANTOPEN) Fail(kErrCannotOpen, "The database " + Quote(path) + " cannot be opened.");
    ThrowSqliteError(raw, rc, path, "");
  }
  sqlite3* db = handle->db.get();
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  // A scratch file's changes need not reach the disk one by one: ScratchFile
  // commits and flushes it once at the end. Every other file gets each
  // change on disk before the statement returns.
  RunSetup(*handle, scratch ? "PRAGMA synchronous=OFF" : "PRAGMA synchronous=FULL");
  // Opening is lazy: reading the schema is what shows a file is a database.
  RunSetup(*handle, "SELECT count(*) FROM sqlite_schema");
  if (writable) RunSetup(*handle, scratch ? kScratchJournal : "PRAGMA journal_mode=DELETE");
  // No other connection may read the file while its changes are pending.
  if (scratch && writable) RunSetup(*handle, "PRAGMA locking_mode=EXCLUSIVE");
  handle->scratch = scratch && writable;
  sqlite3_set_authorizer(db, Authorize, nullptr);
  handle_ = std::move(handle);
  path_ = path;
  if (scratch) scratch->handle = handle_;
}

void Database::Execute(const std::string& sql) {
  if (!handle_) Fail(kErrObjectClosed, "The connection is closed.");
  Statement statement = PrepareChecked(*handle_, sql, false);
  if (handle_->readOnly && !sqlite3_stmt_readonly(statement.get())) Fail(kErrCannotOpen, ReadOnlyText(path_));
  if (handle_->scratch && sqlite3_get_autocommit(handle_->db.get())) RunSetup(*handle_, "BEGIN");
  int rc;
  while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
  }
  // A failed statement undoes only itself; what ran before it is kept.
  if (rc != SQLITE_DONE && handle_->scratch) handle_->Commit();
  Check(*handle_, rc, sql);
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
  const Handle& handle = *connection.handle_;
  Statement statement = PrepareChecked(handle, sql, true);
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
    if (declaredType) column.type = TypeFromDeclared(declaredType);
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
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::vector<Db::Variant> row;
    row.reserve(columns.size());
    for (int i = 0; i < count; ++i) {
      const auto at = static_cast<std::size_t>(i);
      if (!declared[at] && firstStorage[at] == SQLITE_NULL) firstStorage[at] = sqlite3_column_type(stmt, i);
      row.push_back(ReadValue(stmt, i, declared[at] ? columns[at].type : -1));
    }
    rows.push_back(std::move(row));
  }
  Check(handle, rc, sql);
  statement.reset();  // no lock outlives the open
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (!declared[i]) columns[i].type = TypeFromStorage(firstStorage[i]);
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
  newRow_[static_cast<std::size_t>(index)] = ConvertForColumn(value, column.type, column.name);
  assigned_[static_cast<std::size_t>(index)] = true;
}

void Recordset::Update() {
  RequireOpen();
  if (!adding_) return;
  if (!updatable_ || !handle_) Fail(kErrNotUpdatable, "The recordset cannot store new rows.");
  if (handle_->readOnly) Fail(kErrCannotOpen, ReadOnlyText(handle_->path));
  std::string names, places;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!assigned_[i]) continue;
    names += (names.empty() ? "" : ", ") + QuotedName(columns_[i].tableColumn);
    places += places.empty() ? "?" : ", ?";
  }
  const std::string sql = names.empty() ? "INSERT INTO " + QuotedName(table_) + " DEFAULT VALUES"
                                        : "INSERT INTO " + QuotedName(table_) + " (" + names + ") VALUES (" + places + ")";
  sqlite3_stmt* raw = nullptr;
  Check(*handle_, sqlite3_prepare_v2(handle_->db.get(), sql.c_str(), -1, &raw, nullptr), sql);
  Statement statement(raw);
  int position = 0;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (assigned_[i]) Bind(*handle_, statement.get(), ++position, newRow_[i], sql);
  }
  Check(*handle_, sqlite3_step(statement.get()), sql);
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
    if (rc != SQLITE_OK) ThrowSqliteError(handle->db.get(), rc, handle->path, "COMMIT");
  }
  SyncFile(path_);
}

}  // namespace Engine
