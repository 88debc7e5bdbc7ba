#include "Connection.h"

namespace Connection {

std::string ConnectionString(const std::string& path) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path;
}

RecordsetHandle OpenRecordset(const std::string& path, const std::string& sql, bool disconnected) {
  // It closes when the call returns, unless an attached recordset still shares it.
  Engine::Database connection;
  connection.Open(ConnectionString(path));
  auto recordset = std::make_unique<Engine::Recordset>();
  recordset->Open(sql, connection, disconnected ? Engine::LockType::ReadOnly : Engine::LockType::Optimistic);
  if (disconnected) recordset->Detach();
  return recordset;
}

void ExecuteSql(const std::string& path, const std::string& sql) {
  Engine::Database connection;
  connection.Open(ConnectionString(path));
  connection.Execute(sql);
}

bool RecordsExist(const std::string& path, const std::string& sql) { return !OpenRecordset(path, sql, true)->IsEOF(); }

void CloseRecordset(RecordsetHandle& recordset) {
  // Released on every path: the last hold on an attached connection goes with it.
  const RecordsetHandle closing = std::move(recordset);
  if (closing && closing->State() == Engine::kStateOpen) closing->Close();
}

void CloseConnection(ConnectionHandle& connection) {
  const ConnectionHandle closing = std::move(connection);
  if (closing && closing->State() == Engine::kStateOpen) closing->Close();
}

}  // namespace Connection
