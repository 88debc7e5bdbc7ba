// The error numbers of the database engine, which Platform::RunError
// carries for every failure of a connection, a recordset or a read.
#pragma once

#include <cstdint>
#include <string>

#include "RunError.h"

namespace Engine {

using Platform::kErrNoCurrentRecord;                      // field read at the end
inline constexpr std::int32_t kErrFileNotFound = 3024;      // no file at the path
inline constexpr std::int32_t kErrNotAFile = 3044;          // the path names a folder
inline constexpr std::int32_t kErrCannotOpen = 3051;        // the file cannot be read (or written)
inline constexpr std::int32_t kErrInUse = 3045;             // another process holds the file locked
inline constexpr std::int32_t kErrNoSuchTable = 3078;       // a table the statement names is missing
inline constexpr std::int32_t kErrNoSuchColumn = 3265;      // a column the statement names is missing
inline constexpr std::int32_t kErrSyntax = 3075;            // the statement is not valid SQL
inline constexpr std::int32_t kErrMultipleStatements = 3142;  // text after the end of the statement
inline constexpr std::int32_t kErrConstraint = 3022;        // a key or constraint refused the change
inline constexpr std::int32_t kErrNotUpdatable = 3027;      // the recordset cannot take new rows
inline constexpr std::int32_t kErrBadConnectionString = 3706;  // provider not known
inline constexpr std::int32_t kErrNotADatabase = 3343;      // the file is not a database
inline constexpr std::int32_t kErrEngine = 3146;            // any other failure of the engine
inline constexpr std::int32_t kErrObjectClosed = 3704;      // the connection or recordset is closed

// Throws Platform::RunError with `number` and `description`.
[[noreturn]] inline void Fail(std::int32_t number, const std::string& description) {
  throw Platform::RunError(number, description);
}

}  // namespace Engine
