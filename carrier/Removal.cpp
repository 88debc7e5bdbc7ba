#include "Removal.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "AppInfo.h"
#include "ColumnTypes.h"
#include "Connection.h"
#include "DatabaseLocks.h"
#include "EngineErrors.h"
#include "MsgBox_.h"
#include "RunError.h"
#include "Snapshot.h"
#include "Ui.h"

namespace Removal {
namespace {

using Carrier::Attempt;
using Carrier::Item;
using Carrier::Result;
using Db::TextLiteral;
using Files_::Beside;
using Platform::RunError;
using Snapshot::Cell;
using Snapshot::Shown;

constexpr char kFailureText[] = "Failed to remove the service...";
constexpr std::size_t kDatabaseFiles = 2;  // the first two shop files are databases
constexpr int kButtons = 7;

// One file as step 1 found it, and its identity, so that step 4 removes only that one.
struct FileLook {
  Item item;
  struct stat identity {};
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Why the database at `path` holds no zone table (a ZONE column) or rate table (an LBS column) of the service;
// nothing when it does. Throws for any error but that the file is no database.
std::optional<std::string> DatabaseIsNotCarriers(const Carrier::Service& service, std::size_t index,
                                                 const std::string& path) {
  try {
    Snapshot::Reader reader(path);
    // A view or anything else under the table's name is not the carrier's.
    const bool carriers =
        reader.IsTable(service.code) &&
        reader.Query("SELECT count(*) FROM pragma_table_info(?) WHERE upper(name) = ?",
                     {service.code, index == 0 ? "ZONE" : "LBS"}).rows.at(0).at(0) == "1";
    reader.Finish();
    if (carriers) return std::nullopt;
    return (index == 0 ? "no zone table '" : "no rate table '") + service.code + "'";
  } catch (const RunError& error) {
    if (error.Number() != Engine::kErrNotADatabase) throw;
    return "not a database";
  }
}

// Step 1 for the shop file `index` of ShopFiles. Throws RunError when the file cannot be read to tell.
FileLook LookAt(const Carrier::Service& service, std::size_t index, const std::string& hostDbPath) {
  const std::string name = service.ShopFiles().at(index);
  const std::string path = Beside(hostDbPath, name);
  FileLook look{.item = {.name = name, .result = Result::Kept}};
  if (::lstat(path.c_str(), &look.identity) != 0) {
    if (errno != ENOENT)
      throw RunError(Platform::kErrPathFileAccess,
                     "Path/File access error: '" + path + "' cannot be looked at: " + std::strerror(errno) + ".");
    look.item = {.name = name, .result = Result::Unchanged, .detail = "absent"};
    return look;
  }
  const struct stat& info = look.identity;
  const std::string programPath = Platform::AppInfo::InProgramFolder(name);
  std::error_code ec;
  if (S_ISLNK(info.st_mode)) {
    look.item.detail = "a symbolic link";
  } else if (!S_ISREG(info.st_mode)) {
    look.item.detail = "not an ordinary file";
  } else if (std::filesystem::equivalent(programPath, path, ec)) {
    look.item.detail = "the program folder's own file";
  } else if (static_cast<std::uint64_t>(info.st_size) > Files_::kMostCarrierFileBytes) {
    look.item.detail = "larger than 64 MiB";
  } else if (index < kDatabaseFiles) {
    if (const auto why = DatabaseIsNotCarriers(service, index, path)) look.item.detail = *why;
  } else if (!Files_::LocateFile(programPath, false)) {
    look.item.detail = "the program folder has no ordinary file '" + name + "' to compare with";
  } else if (!Files_::SameBytes(path, programPath)) {
    look.item.detail = "differs from the program folder's";
  }
  if (look.item.detail.empty()) look.item.result = Result::Removed;  // once step 4 has done it
  return look;
}

void RemoveFile(FileLook& look, const std::string& path) {
  struct stat now {};
  const bool there = ::lstat(path.c_str(), &now) == 0;
  const std::string name = look.item.name;
  try {
    if (!there && errno == ENOENT) look.item = {.name = name, .result = Result::Unchanged, .detail = "absent"};
    // One that cannot be looked at is left to the removal to refuse.
    else if (there && !SameFile(now, look.identity))
      look.item = {.name = name, .result = Result::Kept, .detail = "changed after it was looked at"};
    else Files_::RemoveFileChecked(path, Db::kDatabaseLocks);
  } catch (const std::exception& error) {
    MsgBox_::ShowRemoveFailed(path);
    look.item = {.name = name, .result = Result::Refused, .detail = error.what()};
  }
}

struct Column {
  std::string name, type;
  Cell defaultValue;
};

// A declared default as an SQL literal: a number, a quoted text, TRUE or FALSE; nothing for Null and for any
// expression (the text comes from the file, so only such a literal goes into a statement).
std::optional<std::string> DefaultLiteral(const Cell& declared) {
  if (!declared) return std::nullopt;
  std::string text = *declared;
  while (true) {
    text = std::string(Db::Trim(text, Db::kSpaces));
    if (text.size() < 2 || text.front() != '(' || text.back() != ')') break;
    text = text.substr(1, text.size() - 2);
  }
  if (Db::EqualsNoCase(text, "TRUE")) return "1";
  if (Db::EqualsNoCase(text, "FALSE")) return "0";
  if (Db::IsNumericText(text)) return text;
  if (text.size() < 2 || text.front() != '\'' || text.back() != '\'') return std::nullopt;
  // One quoted text, every quote in it doubled, is already the literal.
  std::string inner = text.substr(1, text.size() - 2);
  for (auto at = inner.find("''"); at != std::string::npos; at = inner.find("''", at)) inner.erase(at, 2);
  if (inner.find_first_of(std::string("'\0", 2)) != std::string::npos) return std::nullopt;
  return text;
}

// What an installation stores in `column` of its [Panel] row, as a literal of what the declared type keeps.
std::optional<std::string> InstalledLiteral(const Column& column) {
  const auto values = Carrier::PanelInstallValues();
  const auto installed = std::find_if(values.begin(), values.end(), [&](const Carrier::ColumnValue& value) {
    return Db::UpperAscii(value.name) == Db::UpperAscii(column.name);
  });
  if (installed == values.end()) return std::nullopt;
  try {
    const Db::Variant stored =
        column.type.empty() ? installed->value
                            : ColumnTypes::ConvertForColumn(installed->value,
                                                            ColumnTypes::TypeFromDeclared(column.type.c_str()),
                                                            column.name);
    switch (stored.GetKind()) {
      case Db::Variant::Kind::Bool: return stored.ToBool() ? "-1" : "0";
      case Db::Variant::Kind::Int16: case Db::Variant::Kind::Int32: case Db::Variant::Kind::Byte:
      case Db::Variant::Kind::Double: case Db::Variant::Kind::Currency: return stored.ToText();
      case Db::Variant::Kind::Text: case Db::Variant::Kind::Date: return TextLiteral(stored.ToText());
      default: return std::nullopt;
    }
  } catch (const RunError&) {
    return std::nullopt;  // the column cannot hold it: no installation wrote it
  }
}

// "(c Is Null Or c = '' Or c Is DEFAULT)": the column holds nothing.
std::string IsEmpty(const Column& column) {
  const std::string name = Db::QuotedName(column.name);
  const auto literal = DefaultLiteral(column.defaultValue);
  return "(" + name + " Is Null Or " + name + " = ''" + (literal ? " Or " + name + " Is " + *literal : "") + ")";
}

// The statements of step 3, built from the table's own columns; throws when it has no PanelIndex.
struct PanelSql {
  std::string key{};          // the PanelIndex column, quoted
  std::string onlyService{};  // a row with nothing but the service in it, on some button
};

PanelSql BuildPanelSql(const std::vector<Column>& columns, const std::string& code) {
  const auto find = [&](const std::string& upperName) -> const Column* {
    for (const auto& column : columns)
      if (Db::UpperAscii(column.name) == upperName) return &column;
    return nullptr;
  };
  const Column* key = find("PANELINDEX");
  if (!key) throw RunError(Engine::kErrNoSuchColumn, "[Panel] has no column PanelIndex.");
  PanelSql sql{.key = Db::QuotedName(key->name), .onlyService = "(" + Carrier::AnyButtonIs(code) + ")"};
  std::set<const Column*> own = {key};  // PanelIndex and the buttons
  for (int button = 1; button <= kButtons; ++button) {
    const Column* sv = find("SV" + std::to_string(button));
    const Column* bd = find("BD" + std::to_string(button));
    own.insert({sv, bd});
    if (!sv) continue;  // the condition above names it: the query fails
    sql.onlyService += " And (" + Db::QuotedName(sv->name) + " = " + code + " Or (" + IsEmpty(*sv) +
                       (bd ? " And " + IsEmpty(*bd) : "") + "))";
  }
  const Column* sv1 = find("SV1");
  for (const auto& column : columns) {
    if (own.contains(&column)) continue;
    const auto installed = sv1 ? InstalledLiteral(column) : std::nullopt;
    sql.onlyService += " And (" + IsEmpty(column) +
                       (installed ? " Or (" + Db::QuotedName(sv1->name) + " = " + code + " And " +
                                        Db::QuotedName(column.name) + " Is " + *installed + ")"
                                  : "") +
                       ")";
  }
  return sql;
}

// One [Panel] row the condition selected: whether it goes whole, else the buttons that carry the service.
struct PanelRow {
  std::string key{};
  bool goes = false;
  std::vector<int> buttons{};
};

// What step 2 and 3 read, in one read of the shop database.
struct Found {
  std::optional<std::int64_t> records;
  std::string masterError;
  std::optional<std::vector<PanelRow>> rows;
  std::string panelError;
  PanelSql panel;
};

Found ReadShop(const std::string& hostDbPath, const std::string& code) {
  Found found;
  try {
    Snapshot::Reader reader(hostDbPath);
    try {
      const auto rows = reader.Query("SELECT count(*) FROM [Master] WHERE [Service] = " + code);
      found.records = std::stoll(rows.rows.at(0).at(0).value_or("0"));
    } catch (const RunError& error) {
      found.masterError = error.Description();
    }
    try {
      std::vector<Column> columns;
      reader.ForEachRow("SELECT name, type, dflt_value FROM pragma_table_info('Panel')", {},
                        [&](std::vector<Cell>&& row) {
                          columns.push_back({row.at(0).value_or(""), row.at(1).value_or(""), row.at(2)});
                        });
      found.panel = BuildPanelSql(columns, code);
      std::string select = "SELECT " + found.panel.key + ", coalesce(" + found.panel.onlyService + ", 0)";
      for (int button = 1; button <= kButtons; ++button)
        select += ", coalesce([SV" + std::to_string(button) + "] = " + code + ", 0)";
      select += " FROM [Panel] WHERE " + Carrier::AnyButtonIs(code) + " ORDER BY " + found.panel.key;
      found.rows.emplace();
      reader.ForEachRow(select, {}, [&](std::vector<Cell>&& row) {
        PanelRow one{.key = Shown(row.at(0)), .goes = row.at(1) == "1"};
        for (int button = 1; button <= kButtons; ++button)
          if (row.at(static_cast<std::size_t>(button) + 1) == "1") one.buttons.push_back(button);
        found.rows->push_back(std::move(one));
      });
    } catch (const RunError& error) {
      found.rows.reset();
      found.panelError = error.Description();
    }
    reader.Finish();
  } catch (const RunError& error) {
    // No read at all, or one whose rows may be mixed.
    found.records.reset();
    found.rows.reset();
    found.masterError = found.panelError = error.Description();
  }
  return found;
}

constexpr char kNotWhole[] = "the removal stopped: the shop database could not be read whole";

// Step 2. Both tables are read before either changes: a shop that cannot be read whole is left as it is, so
// that a rerun can finish; each unreadable table shows its box.
Item RemoveRecords(const Found& found, const std::string& hostDbPath, const std::string& code,
                   const std::string& failureText) {
  if (!found.records) {
    MsgBox_::ShowProcessFailed(found.masterError, failureText, "");
    return {.name = "record", .result = Result::Unreadable, .detail = found.masterError};
  }
  if (!found.rows) return {.name = "record", .result = Result::Unchanged, .detail = kNotWhole};
  if (*found.records == 0) return {.name = "record", .result = Result::Unchanged, .detail = "no record in [Master]"};
  const std::string sql = "DELETE FROM [Master] WHERE [Service] = " + code;
  if (const auto error = Attempt(failureText, [&] { Connection::ExecuteSql(hostDbPath, sql); }))
    return {.name = "record", .result = Result::Refused, .detail = *error};
  return {.name = "record", .result = Result::Removed,
          .detail = std::to_string(*found.records) + (*found.records == 1 ? " record" : " records")};
}

std::string Joined(const std::vector<std::string>& parts, const std::string& separator = ", ") {
  std::string text;
  for (const auto& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

// Step 3; `done` tells whether no button of the service is left.
Item RemoveButtons(const Found& found, const std::string& hostDbPath, const std::string& code,
                   const std::string& failureText, bool& done) {
  done = false;
  if (!found.rows) {
    MsgBox_::ShowProcessFailed(found.panelError, failureText, "");
    return {.name = "button", .result = Result::Unreadable, .detail = found.panelError};
  }
  if (!found.records) return {.name = "button", .result = Result::Unchanged, .detail = kNotWhole};
  if (found.rows->empty()) {
    done = true;
    return {.name = "button", .result = Result::Unchanged, .detail = "no [Panel] button carries the service"};
  }
  std::vector<std::string> removed;
  std::set<int> toClear;
  for (const auto& row : *found.rows) {
    if (row.goes) removed.push_back(row.key);
    else toClear.insert(row.buttons.begin(), row.buttons.end());
  }
  if (!removed.empty()) {
    const std::string sql = "DELETE FROM [Panel] WHERE " + found.panel.onlyService;
    if (const auto error = Attempt(failureText, [&] { Connection::ExecuteSql(hostDbPath, sql); }))
      return {.name = "button", .result = Result::Refused, .detail = *error};
  }
  // Button by button: a row is named cleared once all its buttons are.
  std::optional<std::string> error;
  int failedButton = kButtons + 1;  // the button whose clearing failed: it and those after stay
  for (const int button : toClear) {
    const std::string n = std::to_string(button);
    const std::string clear = "UPDATE [Panel] SET [BD" + n + "] = Null, [SV" + n + "] = Null WHERE [SV" + n + "] = ";
    error = Attempt(failureText, [&] { Connection::ExecuteSql(hostDbPath, clear + code); });
    if (error) {
      failedButton = button;
      break;
    }
  }
  done = !error;
  // "PanelIndex 5 (SV4), 6 (SV1, SV2)": the buttons of the rows left that were cleared, or not.
  const auto named = [&](bool cleared) -> std::string {
    std::vector<std::string> parts;
    for (const auto& row : *found.rows) {
      std::vector<std::string> buttons;
      for (const int button : row.buttons)
        if (!row.goes && (button < failedButton) == cleared) buttons.push_back("SV" + std::to_string(button));
      if (!buttons.empty()) parts.push_back(row.key + " (" + Joined(buttons) + ")");
    }
    return parts.empty() ? "" : "PanelIndex " + Joined(parts);
  };
  const std::string cleared = named(true);
  std::vector<std::string> parts;
  if (!removed.empty()) parts.push_back("removed PanelIndex " + Joined(removed));
  if (!cleared.empty()) parts.push_back("cleared " + cleared);
  if (error) parts.push_back("not cleared " + named(false) + ": " + *error);
  const bool changed = !removed.empty() || !cleared.empty();
  return {.name = "button", .result = !changed ? Result::Refused : removed.empty() ? Result::Cleared : Result::Removed,
          .detail = Joined(parts, "; ")};
}

// Brings the items of a run that stopped to all seven: the missing ones are unchanged, for `reason`.
void Complete(const Carrier::Service& service, const std::string& reason, std::vector<Item>& items) {
  std::vector<std::string> names = {"record", "button"};
  for (const auto& name : service.ShopFiles()) names.push_back(name);
  for (std::size_t i = items.size(); i < names.size(); ++i)
    items.push_back({.name = names[i], .result = Result::Unchanged, .detail = reason});
}

bool Failed(const Item& item) { return item.result == Result::Refused || item.result == Result::Unreadable; }

bool RemoveLocked(const Carrier::Service& service, const std::string& hostDbPath, std::vector<Item>& items) {
  const std::string what = "Failed to remove " + service.carrierName + " '" + service.code + "' service from ";
  const std::string code = TextLiteral(service.code);
  const auto files = service.ShopFiles();
  const Files_::FolderLock lock(Files_::FolderOfPath(hostDbPath));
  const int answer = Platform::CurrentUi().MsgBox(
      "Would you like to remove " + service.type + " '" + service.code + "' service from your Mailvoro ?",
      Platform::kMbOkCancel | Platform::kMbQuestion, "Remove " + service.carrierName + " Service?");
  if (answer != Platform::kAnswerOk) {
    Complete(service, "the operator cancelled", items);
    return false;
  }

  // 1. Every file is looked at before the shop changes.
  std::vector<FileLook> looks;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (const auto error = Attempt(kFailureText, [&] { looks.push_back(LookAt(service, i, hostDbPath)); })) {
      Complete(service, "the removal stopped: " + files[i] + " could not be read", items);
      items[2 + i] = {.name = files[i], .result = Result::Unreadable, .detail = *error};
      return false;
    }
  }

  const Found found = ReadShop(hostDbPath, code);
  items.push_back(RemoveRecords(found, hostDbPath, code, what + "Master table..."));
  bool buttonsDone = false;
  items.push_back(RemoveButtons(found, hostDbPath, code, what + "Panel table...", buttonsDone));
  if (!found.records || !found.rows) {
    Complete(service, kNotWhole, items);
    return false;
  }
  const bool shopDone = !Failed(items[0]) && buttonsDone;

  // 4. The files go only once nothing in the shop refers to them.
  bool filesDone = true;
  for (std::size_t i = 0; i < files.size(); ++i) {
    FileLook& look = looks[i];
    const bool carriers = look.item.result == Result::Removed;
    if (carriers && shopDone) RemoveFile(look, Beside(hostDbPath, files[i]));
    else if (carriers)
      look.item = {.name = files[i], .result = Result::Unchanged, .detail = "kept while the shop still refers to it"};
    filesDone = filesDone && !Failed(look.item);
    items.push_back(std::move(look.item));
  }
  return shopDone && filesDone;
}

}  // namespace

bool Remove(const Carrier::Service& service, const std::string& hostDbPath, std::vector<Item>& items) {
  bool removed = false;
  std::vector<Item> told;
  // A lock not had within a minute, or an error past every step's own handling.
  if (const auto error = Attempt(kFailureText, [&] { removed = RemoveLocked(service, hostDbPath, told); }))
    Complete(service, *error, told);
  items.insert(items.end(), told.begin(), told.end());
  return removed;
}

}  // namespace Removal
