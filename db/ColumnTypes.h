// How values meet the columns of a database: the field type code of a
// declared column type, the conversion of a value to a column's type (the
// host's rules, for recordset assignments and statements alike), and the
// moves between a Variant and SQLite's own values.
#pragma once

#include <string>

#include "Sqlite.h"
#include "Variant.h"

struct sqlite3_value;

namespace ColumnTypes {

inline constexpr int kTypeSmallInt = 2;
inline constexpr int kTypeInteger = 3;
inline constexpr int kTypeSingle = 4;
inline constexpr int kTypeDouble = 5;
inline constexpr int kTypeCurrency = 6;
inline constexpr int kTypeDate = 7;
inline constexpr int kTypeBoolean = 11;
inline constexpr int kTypeUnsignedTinyInt = 17;
inline constexpr int kTypeGUID = 72;
inline constexpr int kTypeVarWChar = 202;
inline constexpr int kTypeLongVarWChar = 203;
inline constexpr int kTypeLongVarBinary = 205;

// Whether values of the type are text: text, long text and GUID columns.
inline bool IsTextType(int type) { return type == kTypeVarWChar || type == kTypeLongVarWChar || type == kTypeGUID; }

// The type code of a declared column type: its first word, any case, a
// size in parentheses ignored; a word the table does not know is text.
int TypeFromDeclared(const char* declared);
// The type code of a value without a declared type, by SQLite's storage class.
int TypeFromStorage(int storage);

// `value` as a column of type `type` stores it: Null and Empty as Null,
// Yes/No as -1 or 0, integers rounded half to even, dates in the stored form,
// text columns the value's text. Throws 6 or 13 naming `column`.
Db::Variant ConvertForColumn(const Db::Variant& value, int type, const std::string& column);

// A stored value (a column of the current row, a function's argument) read
// by its column's type (-1: no declared type); a value that does not fit
// the type comes back as what it holds.
Db::Variant ReadValue(sqlite3_value* stored, int type);

// Binds `value` to parameter `position`; a zero-length binary value binds as a
// zero-length blob, never as Null.
void Bind(const Sqlite::Statement& statement, int position, const Db::Variant& value);

// The SQL function through which statements write: kStoreFunction(value,
// type, 'column') gives `value` converted by ConvertForColumn, or fails the
// statement, its error left in the connection's `refused`.
inline constexpr const char* kStoreFunction = "store_as";
void RegisterStoreFunction(const Sqlite::Database& db);

}  // namespace ColumnTypes
