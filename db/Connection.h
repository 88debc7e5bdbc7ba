// The only road from the program to a database: every operation names its
// database by the path of its file, opens a connection of its own for that
// call, and reports how it went as a boolean plus, where the caller needs
// it, the error's number and description. No operation throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Engine.h"

namespace Connection {

// Owning recordset handle: the caller creates it, OpenRecordset opens it,
// CloseRecordset closes and resets it (a handle that goes out of scope is
// closed too).
using RecordsetHandle = std::unique_ptr<Engine::Recordset>;
using ConnectionHandle = std::unique_ptr<Engine::Database>;

// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" followed by `path`.
std::string ConnectionString(const std::string& path);

// Opens `recordset` on a new connection to `path`. With `disconnected` the
// recordset is read-only and detached before the return (no connection
// stays open); without, it is updatable and keeps its connection until
// CloseRecordset. True when the recordset is open. The error outputs are
// written on every return (0 and empty on success).
bool OpenRecordset(const std::string& path, const std::string& sql, RecordsetHandle& recordset,
                   std::string& errorDescription, std::int32_t& errorNumber, bool disconnected);

// Runs one statement on a new connection, closed before the return. True
// when it ran. Error outputs as OpenRecordset.
bool ExecuteSql(const std::string& path, const std::string& sql, std::string& errorDescription,
                std::int32_t& errorNumber);

// True when the query returns at least one row. When it cannot be run,
// shows the failure box (`failureText`, empty title, the error's
// description) and answers false with `failed` true.
bool RecordsExist(const std::string& path, const std::string& sql, const std::string& failureText, bool& failed);

// Closes and releases; true when no error was raised. A null handle is fine.
bool CloseRecordset(RecordsetHandle& recordset);
bool CloseConnection(ConnectionHandle& connection);

}  // namespace Connection
