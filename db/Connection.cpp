#include "Connection.h"

#include <exception>

#include "MsgBox_.h"
#include "RunError.h"

namespace Connection {

namespace {

struct ErrorReport {
  std::int32_t number = 0;  // never 0 once an error was raised
  std::string description;
};

// Runs `body` and turns whatever it throws into an error report, so that no
// operation of this module lets an exception reach its caller.
template <typename Body>
ErrorReport Trapped(Body&& body) noexcept {
  ErrorReport report;
  try {
    body();
    return report;
  } catch (const Platform::RunError& error) {
    report = {error.Number(), error.Description()};
  } catch (const std::exception& error) {
    report = {Engine::kErrEngine, error.what()};
  } catch (...) {
    report = {Engine::kErrEngine, "An unknown error occurred in the database engine."};
  }
  // Callers tell failure from success by the number alone.
  if (report.number == 0) {
    report.number = Engine::kErrEngine;
  }
  return report;
}

}  // namespace

std::string ConnectionString(const std::string& path) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path;
}

bool OpenRecordset(const std::string& path, const std::string& sql, RecordsetHandle& recordset,
                   std::string& errorDescription, std::int32_t& errorNumber, bool disconnected) {
  bool opened = false;
  bool openedHere = false;
  const ErrorReport report = Trapped([&] {
    // A caller that forgot to create the recordset gets one rather than a failure.
    if (!recordset) {
      recordset = std::make_unique<Engine::Recordset>();
    }
    if (recordset->State() == Engine::kStateOpen) {
      // Reopening would silently drop what the caller still holds in it.
      throw Platform::RunError(Engine::kErrEngine, "The recordset is already open.");
    }
    // The connection is this call's own: it closes when the call returns,
    // unless an attached recordset still shares it.
    Engine::Database connection;
    connection.Open(ConnectionString(path));
    if (connection.State() != Engine::kStateOpen) {
      return;
    }
    recordset->Open(sql, connection, disconnected ? Engine::LockType::ReadOnly : Engine::LockType::Optimistic);
    openedHere = true;
    if (disconnected) {
      recordset->Detach();
    }
    opened = recordset->State() == Engine::kStateOpen;
  });
  if (report.number != 0) {
    opened = false;
    // A failure leaves no connection behind, not even a half-opened recordset's.
    if (openedHere && recordset->State() == Engine::kStateOpen) {
      Trapped([&] { recordset->Close(); });
    }
  }
  errorNumber = report.number;
  errorDescription = report.description;
  return opened;
}

bool ExecuteSql(const std::string& path, const std::string& sql, std::string& errorDescription,
                std::int32_t& errorNumber) {
  bool ran = false;
  ConnectionHandle connection;
  const ErrorReport report = Trapped([&] {
    connection = std::make_unique<Engine::Database>();
    connection->Open(ConnectionString(path));
    if (connection->State() == Engine::kStateOpen) {
      connection->Execute(sql);
      ran = connection->State() == Engine::kStateOpen;
    }
  });
  errorNumber = report.number;
  errorDescription = report.description;
  CloseConnection(connection);
  return ran;
}

bool RecordsExist(const std::string& path, const std::string& sql, const std::string& failureText, bool& failed) {
  bool found = false;
  RecordsetHandle recordset = std::make_unique<Engine::Recordset>();
  std::string description;
  std::int32_t number = 0;
  const bool opened = OpenRecordset(path, sql, recordset, description, number, true);
  const ErrorReport report = Trapped([&] {
    if (opened) {
      found = !recordset->IsEOF();
    } else {
      MsgBox_::ShowProcessFailed(description, failureText, "");
    }
  });
  if (report.number != 0) {
    // Whatever went wrong here is a failure too: the caller must not take
    // it for "no rows".
    found = false;
    number = report.number;
    if (opened) {
      Trapped([&] { MsgBox_::ShowProcessFailed(report.description, failureText, ""); });
    }
  }
  failed = number != 0;
  CloseRecordset(recordset);
  return found;
}

bool CloseRecordset(RecordsetHandle& recordset) {
  if (!recordset) {
    return true;
  }
  const ErrorReport report = Trapped([&] {
    if (recordset->State() == Engine::kStateOpen) {
      recordset->Close();
    }
    recordset->Detach();
  });
  // Released on every path: the last hold on an attached connection goes with it.
  recordset.reset();
  return report.number == 0;
}

bool CloseConnection(ConnectionHandle& connection) {
  if (!connection) {
    return true;
  }
  const ErrorReport report = Trapped([&] {
    if (connection->State() == Engine::kStateOpen) {
      connection->Close();
    }
  });
  connection.reset();
  return report.number == 0;
}

}  // namespace Connection
