#include "DBQuery.h"

#include <algorithm>

#include "Variant.h"

namespace DBQuery {

namespace {

std::string pendingColumns;
std::string pendingValues;
std::string pendingTable;
std::string pendingCondition;
bool pendingDbo = false;

void Start(const std::string& table, bool dboDialect) {
  pendingDbo = dboDialect;
  pendingTable = table;
  pendingColumns.clear();
  pendingValues.clear();
}

std::string Delimited(const std::string& value, std::uint8_t kind) {
  if (kind == kKindText || (kind == kKindDate && pendingDbo)) return Db::Quoted(value);
  return kind == kKindDate ? "#" + value + "#" : value;
}

}  // namespace

std::string InsertSql(const std::string& column, const std::string& value, std::uint8_t kind, bool first, bool last,
                      const std::string& table, bool dboDialect) {
  if (first) Start(table, dboDialect);
  const char* separator = last ? "" : ", ";
  pendingColumns.append("[").append(column).append("]").append(separator);
  pendingValues.append(Delimited(value, kind)).append(separator);
  if (!last) return {};
  const char* prefix = pendingDbo ? "INSERT INTO [dbo]." : "INSERT INTO ";
  return prefix + ("[" + pendingTable + "] (" + pendingColumns + ") VALUES (" + pendingValues + ")");
}

std::string UpdateSql(const std::string& column, const std::string& value, std::uint8_t kind, bool first, bool last,
                      const std::string& table, const std::string& condition, bool dboDialect) {
  if (first) {
    Start(table, dboDialect);
    pendingCondition = condition;
    if (dboDialect) std::replace(pendingCondition.begin(), pendingCondition.end(), '#', '\'');
  }
  pendingColumns.append("[").append(column).append("] = ").append(Delimited(value, kind)).append(last ? "" : ", ");
  if (!last) return {};
  const char* prefix = pendingDbo ? "UPDATE [dbo]." : "UPDATE ";
  return prefix + ("[" + pendingTable + "] SET " + pendingColumns + " WHERE " + pendingCondition);
}

}  // namespace DBQuery
