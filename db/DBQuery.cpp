#include "DBQuery.h"

#include "Variant.h"

namespace DBQuery {

namespace {

// The statement under construction, shared by both builders so that a
// first call of either one discards whatever the other had pending.
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
  switch (kind) {
    case kKindText:
      return Db::Quoted(value);
    case kKindDate:
      return pendingDbo ? Db::Quoted(value) : "#" + value + "#";
    default:
      return value;
  }
}

}  // namespace

std::string InsertSql(const std::string& column, const std::string& value, std::uint8_t kind, bool first, bool last,
                      const std::string& table, bool dboDialect) {
  if (first) {
    Start(table, dboDialect);
  }
  const std::string delimited = Delimited(value, kind);
  if (!last) {
    pendingColumns += "[" + column + "], ";
    pendingValues += delimited + ", ";
    return {};
  }
  pendingColumns += "[" + column + "]";
  pendingValues += delimited;
  const char* prefix = pendingDbo ? "INSERT INTO [dbo]." : "INSERT INTO ";
  return prefix + ("[" + pendingTable + "] (" + pendingColumns + ") VALUES (" + pendingValues + ")");
}

std::string UpdateSql(const std::string& column, const std::string& value, std::uint8_t kind, bool first, bool last,
                      const std::string& table, const std::string& condition, bool dboDialect) {
  if (first) {
    Start(table, dboDialect);
    pendingCondition = condition;
    if (dboDialect) {
      for (char& c : pendingCondition) {
        if (c == '#') {
          c = '\'';
        }
      }
    }
  }
  pendingColumns += "[" + column + "] = " + Delimited(value, kind);
  if (!last) {
    pendingColumns += ", ";
    return {};
  }
  const char* prefix = pendingDbo ? "UPDATE [dbo]." : "UPDATE ";
  return prefix + ("[" + pendingTable + "] SET " + pendingColumns + " WHERE " + pendingCondition);
}

}  // namespace DBQuery
