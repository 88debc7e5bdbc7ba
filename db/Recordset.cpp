// Recordsets and their fields: the rows of one SELECT, read in full, and
// the new rows an updatable recordset stores.
#include <sqlite3.h>

#include "Dialect.h"
#include "Engine.h"
#include "Handle.h"

namespace Engine {

using Db::Quoted;

std::string Field::Name() const { return recordset_->columns_[recordset_->CheckedIndex(index_)].name; }

int Field::Type() const { return recordset_->columns_[recordset_->CheckedIndex(index_)].type; }

Db::Variant Field::Value() const {
  const Recordset& r = *recordset_;
  const auto index = static_cast<std::size_t>(r.CheckedIndex(index_));
  if (r.adding_) return r.newRow_[index];
  if (r.current_ >= r.rows_.size()) {
    Fail(kErrNoCurrentRecord, "There is no current record: the recordset is at its end (reading " +
                                  Quoted(r.columns_[index].name) + ").");
  }
  return r.rows_[r.current_][index];
}

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
  const Sqlite::Statement statement(handle.db, Dialect::Translate(sql, handle, true).sql, sql);
  sqlite3_stmt* stmt = statement.Get();

  const int count = sqlite3_column_count(stmt);
  std::vector<Column> columns(static_cast<std::size_t>(count));
  std::string table;
  bool oneTable = true;
  for (int i = 0; i < count; ++i) {
    Column& column = columns[static_cast<std::size_t>(i)];
    column.name = sqlite3_column_name(stmt, i);
    // -1 until the first value tells the type of a column declared with none.
    const char* declaredType = sqlite3_column_decltype(stmt, i);
    column.type = declaredType ? ColumnTypes::TypeFromDeclared(declaredType) : -1;
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
  while (statement.Step()) {
    std::vector<Db::Variant> row;
    row.reserve(columns.size());
    for (int i = 0; i < count; ++i) {
      const auto at = static_cast<std::size_t>(i);
      if (columns[at].type < 0 && firstStorage[at] == SQLITE_NULL) firstStorage[at] = sqlite3_column_type(stmt, i);
      row.push_back(ColumnTypes::ReadValue(sqlite3_column_value(stmt, i), columns[at].type));
    }
    rows.push_back(std::move(row));
  }
  // At its end the statement holds no lock.
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].type < 0) columns[i].type = ColumnTypes::TypeFromStorage(firstStorage[i]);
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

// Every other member is set again by Open() before anything reads it.
void Recordset::Close() {
  open_ = false;
  handle_.reset();
  columns_.clear();
  rows_.clear();
  adding_ = false;
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
    if (Db::EqualsNoCase(columns_[i].name, name)) return Field(*this, static_cast<int>(i));
  }
  Fail(kErrNoSuchColumn, "The column " + Quoted(name) + " is not in the recordset.");
}

void Recordset::AddNew() {
  RequireOpen();
  if (!handle_) Fail(kErrNotUpdatable, "The recordset is detached from its database; it cannot take new rows.");
  if (!updatable_) Fail(kErrNotUpdatable, "The recordset is read-only; it cannot take new rows.");
  if (adding_) Update();  // as the host does: a pending row is stored first
  newRow_.assign(columns_.size(), Db::Variant::Null());
  assigned_.assign(columns_.size(), false);
  adding_ = true;
}

void Recordset::SetValue(int index, const Db::Variant& value) {
  const Column& column = columns_[static_cast<std::size_t>(CheckedIndex(index))];
  if (!adding_) {
    Fail(kErrNotUpdatable, "No new row has been started; the column " + Quoted(column.name) + " cannot be set.");
  }
  if (column.tableColumn.empty()) {
    Fail(kErrNotUpdatable, "The column " + Quoted(column.name) + " is computed by the query and cannot be set.");
  }
  newRow_[static_cast<std::size_t>(index)] = ColumnTypes::ConvertForColumn(value, column.type, column.name);
  assigned_[static_cast<std::size_t>(index)] = true;
}

void Recordset::Update() {
  RequireOpen();
  if (!adding_) return;
  if (!updatable_ || !handle_) Fail(kErrNotUpdatable, "The recordset cannot store new rows.");
  Handle& handle = *handle_;
  if (handle.readOnly) throw Sqlite::Error(nullptr, SQLITE_READONLY, handle.db.Path(), "");
  std::string names, places;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!assigned_[i]) continue;
    names += (names.empty() ? "" : ", ") + Db::QuotedName(columns_[i].tableColumn);
    places += places.empty() ? "?" : ", ?";
  }
  const std::string into = "INSERT INTO " + Db::QuotedName(table_);
  const std::string sql = names.empty() ? into + " DEFAULT VALUES" : into + " (" + names + ") VALUES (" + places + ")";
  const Sqlite::Statement statement(handle.db, sql);
  int position = 0;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (assigned_[i]) ColumnTypes::Bind(statement, ++position, newRow_[i]);
  }
  handle.Write(statement);
  handle.RequireStored(table_);
  adding_ = false;
  rows_.push_back(std::move(newRow_));
  current_ = rows_.size() - 1;
}

}  // namespace Engine
