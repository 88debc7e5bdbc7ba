// dbquery: runs one statement of the program's SQL dialect on a database
// file and prints the result, or makes a new database file from a script.
#include <sqlite3.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "AppInfo.h"
#include "Connection.h"
#include "Dialect.h"
#include "Engine.h"
#include "Help.h"
#include "HelpFooter.h"
#include "RunError.h"
#include "Sqlite.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr std::int32_t kErrFileExists = 58;

int ReportError(std::int32_t number, const std::string& description) {
  std::cerr << "error " << number << ": " << description << "\n";
  return kExitError;
}

// Tabs and line breaks would break the table apart; a backslash is doubled, so nothing is ambiguous.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Shown(const Db::Variant& value) {
  using Kind = Db::Variant::Kind;
  switch (value.GetKind()) {
    case Kind::Null: return "Null";
    case Kind::Text: return Escaped(value.ToText());
    case Kind::Binary: return Db::HexLiteral(value.BinaryValue().data(), value.BinaryValue().size());
    default: return value.ToText();
  }
}

int RunStatement(const std::string& path, const std::string& sql) {
  if (Dialect::FirstKeyword(sql) != "SELECT") {
    Connection::ExecuteSql(path, sql);
    return kExitOk;
  }
  Connection::RecordsetHandle recordset = Connection::OpenRecordset(path, sql, true);
  std::ostringstream out;
  const int count = recordset->FieldCount();
  for (int i = 0; i < count; ++i) {
    const Engine::Field field = recordset->Fields(i);
    out << (i ? "\t" : "") << Escaped(field.Name()) << "(" << field.Type() << ")";
  }
  out << "\n";
  for (; !recordset->IsEOF(); recordset->MoveNext()) {
    for (int i = 0; i < count; ++i) out << (i ? "\t" : "") << Shown(recordset->Fields(i).Value());
    out << "\n";
  }
  std::cout << out.str();
  return kExitOk;
}

// The script runs whole in one transaction; one that fails leaves no file behind.
int InitDatabase(const std::string& path, const std::string& scriptPath) {
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
    return ReportError(kErrFileExists,
                       "The file " + Db::Quoted(path) + " already exists; --init makes new files only.");
  }
  std::ifstream scriptFile(scriptPath, std::ios::binary);
  if (!scriptFile || std::filesystem::is_directory(scriptPath, ec)) {
    return ReportError(Platform::kErrFileNotFound, "Could not find file " + Db::Quoted(scriptPath) + ".");
  }
  std::ostringstream script;
  script << scriptFile.rdbuf();

  std::optional<Platform::RunError> failure;
  try {
    Sqlite::Database db(path);
    db.Open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    const std::string all = "PRAGMA journal_mode=DELETE; BEGIN;\n" + script.str() + "\n;COMMIT;";
    char* message = nullptr;
    if (sqlite3_exec(db.Get(), all.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      failure.emplace(Engine::kErrEngine, "The script " + Db::Quoted(scriptPath) + " failed: " +
                                              (message ? message : "unknown error") + "; no database was made.");
    }
    sqlite3_free(message);
  } catch (const Platform::RunError& error) {
    failure = error;
  }
  if (!failure) return kExitOk;
  std::filesystem::remove(path, ec);
  std::filesystem::remove(path + "-journal", ec);
  return ReportError(failure->Number(), failure->Description());
}
}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Runs one SQL statement on a database file and prints its result, or makes a new database file.",
               "dbquery"};
  bool init = false;
  std::string path, text;
  app.set_help_flag("-h,--help", "Print this help and exit");
  app.set_version_flag("--version", "dbquery " + Platform::AppInfo::VersionText(), "Print the version and exit");
  app.add_flag("--init", init,
               "Make a new database file PATH from the script file SQL (plain SQLite SQL, run whole in one "
               "transaction); an existing file is never overwritten");
  app.add_option("PATH", path, "The database file")->required();
  app.add_option("SQL", text, "One statement; with --init, the path of the script file")->required();
  app.footer(kHelpFooter);
  App::UseHelpFormat(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (app.exit(error) == 0) return kExitOk;  // --help and --version
    std::cerr << "\n" << app.help();
    return kExitUsage;
  }
  try {
    return init ? InitDatabase(path, text) : RunStatement(path, text);
  } catch (const Platform::RunError& error) {
    return ReportError(error.Number(), error.Description());
  } catch (const std::exception& error) {
    return ReportError(Engine::kErrEngine, error.what());
  }
}
