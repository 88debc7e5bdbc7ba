// The only road from the program to a database: every operation names its database by the path of its file and
// opens a connection of its own for that call. A failure throws Platform::RunError with the engine's number.
#pragma once

#include <memory>
#include <string>

#include "Engine.h"

namespace Connection {

// Owning handles: one that goes out of scope is closed.
using RecordsetHandle = std::unique_ptr<Engine::Recordset>;
using ConnectionHandle = std::unique_ptr<Engine::Database>;

// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" followed by `path`.
std::string ConnectionString(const std::string& path);

// A recordset open on a new connection to `path`. With `disconnected` it is read-only and detached (no
// connection stays open); without, it is updatable and keeps its connection until it is closed.
RecordsetHandle OpenRecordset(const std::string& path, const std::string& sql, bool disconnected);

// Runs one statement on a new connection, closed before the return.
void ExecuteSql(const std::string& path, const std::string& sql);

// Whether the query returns at least one row.
bool RecordsExist(const std::string& path, const std::string& sql);

// Close and release; a null handle is fine.
void CloseRecordset(RecordsetHandle& recordset);
void CloseConnection(ConnectionHandle& connection);

}  // namespace Connection
