// The scratch file: one shared connection and one transaction for the many
// one-statement calls of an import, and the prepared statements they reuse.
#include <sqlite3.h>

#include <algorithm>
#include <map>

#include "Engine.h"
#include "Handle.h"

namespace Engine {
namespace {

constexpr std::size_t kPreparedStatements = 8;

// The files marked by a live ScratchFile, each with its shared connection.
struct ScratchEntry {
  int marks = 0;
  std::shared_ptr<Handle> handle;
};

std::map<std::string, ScratchEntry>& ScratchFiles() {
  static std::map<std::string, ScratchEntry> files;
  return files;
}

}  // namespace

std::shared_ptr<Handle>* ScratchSlot(const std::string& path) {
  const auto it = ScratchFiles().find(path);
  return it == ScratchFiles().end() ? nullptr : &it->second.handle;
}

const Sqlite::Statement& Handle::Prepared(const Dialect::Statement& statement, const std::string& shown) {
  auto it = std::find_if(prepared.begin(), prepared.end(),
                         [&](const auto& kept) { return kept.first == statement.sql; });
  if (it == prepared.end()) {
    Sqlite::Statement fresh(db, statement.sql, shown);
    rollbacks = rollbacks || Db::UpperAscii(statement.sql).find("ROLLBACK") != std::string::npos;
    if (prepared.size() >= kPreparedStatements) prepared.erase(prepared.begin());
    it = prepared.emplace(prepared.end(), statement.sql, std::move(fresh));
  }
  const Sqlite::Statement& kept = it->second;
  int position = 0;
  for (const Dialect::Parameter& parameter : statement.parameters) {
    if (const auto* number = std::get_if<std::int64_t>(&parameter)) {
      kept.Check(sqlite3_bind_int64(kept.Get(), ++position, *number));
    } else {
      kept.Bind(++position, std::get<std::string>(parameter));
    }
  }
  return kept;
}

void Handle::Write(const Sqlite::Statement& statement) {
  if (const std::shared_ptr<Handle>* slot = ScratchSlot(db.Path()); slot && slot->get() == this) {
    if (rollbacks) {
      Commit();
    } else if (!pending) {
      pending.emplace(db);
    }
  }
  try {
    statement.Run();
  } catch (const Platform::RunError& error) {
    // Only a failure that ends the transaction itself (a full disk) takes earlier rows along.
    if (!pending || !sqlite3_get_autocommit(db.Get())) throw;
    pending.reset();
    throw Platform::RunError(error.Number(),
                             error.Description() + " The rows written before the failure could not be kept.");
  }
}

void Handle::Commit() {
  if (!pending) return;
  pending->Commit();
  pending.reset();
}

ScratchFile::ScratchFile(const std::string& path) : path_(path) { ++ScratchFiles()[path_].marks; }

ScratchFile::~ScratchFile() {
  try {
    Flush();
  } catch (...) {
    // A destructor cannot report it; Flush() called before does.
  }
  if (--ScratchFiles()[path_].marks == 0) ScratchFiles().erase(path_);
}

void ScratchFile::Flush() {
  std::shared_ptr<Handle>* slot = ScratchSlot(path_);
  if (!slot || !*slot) return;
  const std::shared_ptr<Handle> handle = std::move(*slot);  // closed when its last holder lets go
  handle->Commit();
}

}  // namespace Engine
