#include "TestSupport.h"

#include <sqlite3.h>

#include <cctype>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>

namespace TestSupport {
namespace {

using DbPtr = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;

DbPtr OpenOrThrow(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  DbPtr db(raw, sqlite3_close);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot open " + path + ": " + sqlite3_errstr(rc));
  return db;
}

}  // namespace

TempDir::TempDir() {
  std::random_device rd;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    auto candidate = std::filesystem::temp_directory_path() / ("atv-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(candidate)) path_ = candidate;
  }
  if (path_.empty()) throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  namespace fs = std::filesystem;
  std::error_code ec;
  // Read-only bits left by a test must not keep the folder alive.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

void CreateDatabase(const std::string& path, const std::string& sql) {
  auto db = OpenOrThrow(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  char* message = nullptr;
  if (sqlite3_exec(db.get(), ("PRAGMA journal_mode=DELETE;" + sql).c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message ? message : "unknown error";
    sqlite3_free(message);
    throw std::runtime_error("cannot create " + path + ": " + text);
  }
}

std::vector<std::string> QueryRows(const std::string& path, const std::string& sql, bool forWriting) {
  auto db = OpenOrThrow(path, forWriting ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
  sqlite3_busy_timeout(db.get(), 20000);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
    throw std::runtime_error("bad query " + sql + ": " + sqlite3_errmsg(db.get()));
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> stmt(raw, sqlite3_finalize);
  std::vector<std::string> rows;
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(stmt.get()); ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), i));
      row += (i ? "|" : "") + (text ? std::string(text, sqlite3_column_bytes(stmt.get(), i)) : std::string("NULL"));
    }
    rows.push_back(row);
  }
  if (rc != SQLITE_DONE) throw std::runtime_error(sql + ": " + sqlite3_errmsg(db.get()));
  return rows;
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  if (!(out << content)) throw std::runtime_error("cannot write " + path);
}

std::string TestName(const std::string& text) {
  std::string name;
  for (const char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)))
      name += c;
    else if (!name.empty() && name.back() != '_')
      name += '_';
  }
  while (name.ends_with('_')) name.pop_back();
  return name;
}

std::string ReadFile(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

}  // namespace TestSupport
