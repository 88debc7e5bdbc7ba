// Builds the text of INSERT and UPDATE statements one column at a time.
// Both builders share one statement under construction: a call with
// `first` starts it, a call with `last` returns it. Nothing is escaped.
#pragma once

#include <cstdint>
#include <string>

namespace DBQuery {

// How a value is delimited: text in apostrophes, a date between '#' (in
// apostrophes in the dbo dialect), anything else unchanged.
inline constexpr std::uint8_t kKindText = 1;
inline constexpr std::uint8_t kKindDate = 2;
inline constexpr std::uint8_t kKindLiteral = 3;

// INSERT INTO [table] ([c1], [c2]) VALUES (v1, v2) when `last`, else "".
std::string InsertSql(const std::string& column, const std::string& value, std::uint8_t kind, bool first, bool last,
                      const std::string& table, bool dboDialect);

// UPDATE [table] SET [c1] = v1, [c2] = v2 WHERE condition when `last`,
// else "". In the dbo dialect every '#' of the condition becomes an
// apostrophe.
std::string UpdateSql(const std::string& column, const std::string& value, std::uint8_t kind, bool first, bool last,
                      const std::string& table, const std::string& condition, bool dboDialect);

}  // namespace DBQuery
