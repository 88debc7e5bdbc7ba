// The host's SQL dialect: one statement of it turned into SQLite's (Top N,
// date literals between '#', one statement only), and every value an INSERT
// or UPDATE writes routed through the store function of ColumnTypes, so
// that a statement stores what a recordset assignment would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace Dialect {

// What the database declares, asked while a statement that writes is translated;
// `schema` is empty unless the statement names one. Either may throw Platform::RunError.
class Schema {
 public:
  // The type code of the declared type of `column`, or nullopt when the
  // column has no declared type or does not exist (SQLite then reports it).
  virtual std::optional<int> ColumnType(const std::string& schema, const std::string& table,
                                        const std::string& column) const = 0;
  // The columns an INSERT without a column list fills, in order.
  virtual std::vector<std::string> InsertColumns(const std::string& schema, const std::string& table) const = 0;

 protected:
  ~Schema() = default;
};

// A literal value the translation took out of the text.
using Parameter = std::variant<std::int64_t, std::string>;

struct Statement {
  std::string sql;                     // SQLite's text
  std::vector<Parameter> parameters;  // for its "?" in order
  std::string table;                   // the table an INSERT or UPDATE writes
  std::size_t rows = 0;                // rows an INSERT ... VALUES gives
};

// The first keyword of a statement, upper-cased, past white space, comments and parentheses.
std::string FirstKeyword(std::string_view sql);

// Turns one statement into SQLite's text. Text literals and bracketed names
// are never touched. Throws kErrSyntax or kErrMultipleStatements.
std::string TranslateSql(const std::string& sql);

// TranslateSql, and the checks and wrapping of a statement to run: a query
// must be a SELECT; any other statement SELECT, INSERT, UPDATE, DELETE,
// CREATE, DROP or ALTER. The values INSERT and UPDATE write go through the
// store function for every column `schema` declares; a one-literal value is
// taken out as a parameter, so that such statements share one prepared
// statement. Throws kErrSyntax.
Statement Translate(const std::string& sql, const Schema& schema, bool query);

}  // namespace Dialect
