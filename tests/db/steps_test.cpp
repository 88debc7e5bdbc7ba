// The database layer against the case files (*.json) beside this file.
// A value is written "KIND:TEXT" (text, int16, int32, double, currency,
// date, bool, byte; binary:HEX) or "null" / "empty", and given back so.
// One recordset, one connection and one scratch file at a time are held
// between the calls of a case; the rs.* steps work on that recordset. So
// are one read (snapshot.*) and one other program's connection (writer.*),
// a process of its own, as SQLite shares the shared memory of a file among
// the connections of one process.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "Connection.h"
#include "Convert.h"
#include "DBQuery.h"
#include "Dialect.h"
#include "RunError.h"
#include "Scenario.h"
#include "Snapshot.h"

namespace {

using Db::Variant;
using Scenario::Results;
using Args = std::vector<std::string>;
using Ctx = Scenario::Context;

Variant Value(const std::string& text) {
  const auto colon = text.find(':');
  const std::string kind = text.substr(0, colon), rest = colon == std::string::npos ? "" : text.substr(colon + 1);
  if (kind == "null") return Variant::Null();
  if (kind == "empty") return Variant();
  if (kind == "text") return Variant::Text(rest);
  if (kind == "int16") return Variant::Int16(static_cast<std::int16_t>(std::stoi(rest)));
  if (kind == "int32") return Variant::Int32(std::stoi(rest));
  if (kind == "double") return Variant::Double(std::stod(rest));
  if (kind == "currency") return Variant::Currency(std::stod(rest));
  if (kind == "date") return Variant::Date(rest);
  if (kind == "bool") return Variant::Bool(rest == "true");
  if (kind == "byte") return Variant::Byte(static_cast<std::uint8_t>(std::stoi(rest)));
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < rest.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(rest.substr(i, 2), nullptr, 16)));
  return Variant::Binary(bytes);
}

std::string Shown(const Variant& v) {
  static const char* const kinds[] = {"empty", "null", "text", "int16", "int32", "double", "currency", "date", "bool", "byte", "binary"};
  const std::string kind = kinds[static_cast<int>(v.GetKind())];
  if (v.IsEmpty() || v.IsNull()) return kind;
  if (v.GetKind() != Variant::Kind::Binary) return kind + ":" + v.ToText();
  std::string hex;
  for (const auto byte : v.BinaryValue()) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", byte);
    hex += two;
  }
  return kind + ":" + hex;
}

// "error N" for a run-time error, else what `f` gives.
template <class F>
std::string Outcome(F f) try {
  return f();
} catch (const Platform::RunError& e) {
  return "error " + std::to_string(e.Number());
}

// Another program's connection to a database: a child process that runs
// each statement sent to it and answers SQLite's message ("" when it ran).
// It ends when its pipe closes, and within two minutes whatever happens.
class Writer {
 public:
  explicit Writer(const std::string& path) {
    int commands[2], replies[2];
    if (::pipe(commands) != 0 || ::pipe(replies) != 0) throw std::runtime_error("no pipe");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("no fork");
    if (pid_ == 0) {
      ::close(commands[1]);
      ::close(replies[0]);
      ::alarm(120);
      sqlite3* db = nullptr;
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
      sqlite3_busy_timeout(db, 5000);
      for (std::string sql; ReadText(commands[0], sql);) {
        const std::string reply = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK ? "" : sqlite3_errmsg(db);
        if (::write(replies[1], reply.c_str(), reply.size() + 1) < 0) break;
      }
      sqlite3_close(db);
      ::_exit(0);
    }
    ::close(commands[0]);
    ::close(replies[1]);
    commands_ = commands[1];
    replies_ = replies[0];
  }
  ~Writer() {
    ::close(commands_);
    ::close(replies_);
    int status = 0;
    for (int i = 0; i < 1000 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  std::string Run(const std::string& sql) {
    if (::write(commands_, sql.c_str(), sql.size() + 1) < 0) return "the writer is gone";
    pollfd ready{replies_, POLLIN, 0};
    std::string reply;
    if (::poll(&ready, 1, 20000) != 1 || !ReadText(replies_, reply)) return "no answer from the writer";
    return reply;
  }

 private:
  // One text ended by a NUL; false at the end of the pipe.
  static bool ReadText(int fd, std::string& text) {
    text.clear();
    for (char c; ::read(fd, &c, 1) == 1;) {
      if (c == '\0') return true;
      text += c;
    }
    return false;
  }
  pid_t pid_ = -1;
  int commands_ = -1, replies_ = -1;
};

// A file's bytes, owner and times of change, to tell whether anything
// moved; "(none)" for no file.
std::string Stamp(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "(none)";
  return std::to_string(std::hash<std::string>{}(TestSupport::ReadFile(path))) + " " + std::to_string(info.st_size) +
         " bytes, owner " + std::to_string(info.st_uid) + ":" + std::to_string(info.st_gid) + ", modified " +
         std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) + ", changed " +
         std::to_string(info.st_ctim.tv_sec) + "." + std::to_string(info.st_ctim.tv_nsec);
}

// What a case holds between its calls.
struct Held {
  Connection::RecordsetHandle recordset;
  Engine::Database connection;
  std::unique_ptr<Engine::ScratchFile> scratch;
  std::unique_ptr<Snapshot::Reader> reader;
  std::chrono::steady_clock::time_point readerMade;
  std::unique_ptr<Writer> writer;
  std::map<std::string, std::string> stamps;
} held;

Results Cells(const Snapshot::Rows& rows) {
  Results lines;
  for (const auto& row : rows.rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) line += (i ? "|" : "") + row[i].value_or("NULL");
    lines.push_back(line);
  }
  return lines;
}

Engine::Database& Connect(Ctx& c, const std::string& path) {
  held.connection.Close();
  held.connection.Open(Connection::ConnectionString(c.Path(path)));
  return held.connection;
}

Results Rows(Engine::Recordset& rs) {
  Results rows;
  for (; !rs.IsEOF(); rs.MoveNext()) {
    std::string row;
    for (int i = 0; i < rs.FieldCount(); ++i) {
      const Variant value = rs.Fields(i).Value();
      row += (i ? "|" : "") + (value.IsNull() ? std::string("NULL") : value.ToText());
    }
    rows.push_back(row);
  }
  return rows;
}

Engine::Field FieldOf(const std::string& nameOrIndex) {
  const bool index = !nameOrIndex.empty() && std::isdigit(static_cast<unsigned char>(nameOrIndex[0]));
  return index ? held.recordset->Fields(std::stoi(nameOrIndex)) : held.recordset->Fields(nameOrIndex);
}

// "true 0: " when `call` ran, else "false N: DESCRIPTION" for the error it threw.
template <class Call>
std::string Reported(Call call) try {
  call();
  return "true 0: ";
} catch (const Platform::RunError& e) {
  return "false " + std::to_string(e.Number()) + ": " + e.Description();
}

const Scenario::Steps kSteps = {
    // exec PATH SQL: one statement on a connection of its own.
    {"exec", [](Ctx& c, const Args& a) {
       Engine::Database db;
       db.Open(Connection::ConnectionString(c.Path(a.at(0))));
       db.Execute(a.at(1));
       return Results{};
     }},
    // select PATH SQL: every row of a read-only recordset, values joined by '|'.
    {"select", [](Ctx& c, const Args& a) {
       Engine::Database db;
       db.Open(Connection::ConnectionString(c.Path(a.at(0))));
       Engine::Recordset rs;
       rs.Open(a.at(1), db, Engine::LockType::ReadOnly);
       return Rows(rs);
     }},
    // open CONNECTIONSTRING: the connection's state afterwards.
    {"open", [](Ctx&, const Args& a) {
       Engine::Database db;
       try {
         db.Open(a.at(0));
       } catch (const Platform::RunError& e) {
         return Results{std::to_string(e.Number()) + ": " + e.Description(), std::to_string(db.State())};
       }
       return Results{std::to_string(db.State())};
     }},
    {"translate", [](Ctx&, const Args& a) { return Results{Dialect::TranslateSql(a.at(0))}; }},
    // rs.open PATH SQL detached|attached|readonly: through Connection, or
    // read-only on the held connection.
    {"rs.open", [](Ctx& c, const Args& a) {
       if (a.at(2) == "readonly") {
         held.recordset = std::make_unique<Engine::Recordset>();
         held.recordset->Open(a.at(1), Connect(c, a.at(0)), Engine::LockType::ReadOnly);
         return Results{};
       }
       return Results{Reported([&] { held.recordset = Connection::OpenRecordset(c.Path(a.at(0)), a.at(1), a.at(2) == "detached"); })};
     }},
    {"rs.new", [](Ctx&, const Args&) { held.recordset = std::make_unique<Engine::Recordset>(); return Results{}; }},
    // rs.state: "none", or state, attached or not, at the end or not.
    {"rs.state", [](Ctx&, const Args&) {
       const auto& rs = held.recordset;
       return Results{!rs ? "none" : std::to_string(rs->State()) + (rs->IsAttached() ? " attached" : " detached") +
                                         (rs->State() && rs->IsEOF() ? " eof" : "")};
     }},
    {"rs.rows", [](Ctx&, const Args&) { return Rows(*held.recordset); }},
    {"rs.count", [](Ctx&, const Args&) { return Results{std::to_string(held.recordset->FieldCount())}; }},
    {"rs.next", [](Ctx&, const Args&) { held.recordset->MoveNext(); return Results{}; }},
    // rs.field NAME|INDEX: its type and value.
    {"rs.field", [](Ctx&, const Args& a) {
       const Engine::Field field = FieldOf(a.at(0));
       return Results{std::to_string(field.Type()), Shown(field.Value())};
     }},
    // rs.convert NAME DEFAULT trim|keep: the field through Convert.
    {"rs.convert", [](Ctx&, const Args& a) {
       return Results{Shown(Convert::FieldValue(FieldOf(a.at(0)), Value(a.at(1)), a.at(2) == "trim"))};
     }},
    {"rs.addnew", [](Ctx&, const Args&) { held.recordset->AddNew(); return Results{}; }},
    // rs.set INDEX VALUE...
    {"rs.set", [](Ctx&, const Args& a) {
       for (std::size_t i = 0; i + 1 < a.size(); i += 2) held.recordset->SetValue(std::stoi(a[i]), Value(a[i + 1]));
       return Results{};
     }},
    {"rs.update", [](Ctx&, const Args&) { held.recordset->Update(); return Results{}; }},
    {"rs.close", [](Ctx&, const Args&) { Connection::CloseRecordset(held.recordset); return Results{"true"}; }},
    {"connection.close", [](Ctx&, const Args& a) {
       Connection::ConnectionHandle handle = a.at(0) == "unopened" ? std::make_unique<Engine::Database>() : nullptr;
       Connection::CloseConnection(handle);
       return Results{"true", handle ? "kept" : "released"};
     }},
    {"connection.string", [](Ctx&, const Args& a) { return Results{Connection::ConnectionString(a.at(0))}; }},
    {"executesql", [](Ctx& c, const Args& a) {
       return Results{Reported([&] { Connection::ExecuteSql(c.Path(a.at(0)), a.at(1)); })};
     }},
    // exists PATH SQL: whether a row was found, or the error.
    {"exists", [](Ctx& c, const Args& a) {
       bool found = false;
       return Results{Reported([&] { found = Connection::RecordsExist(c.Path(a.at(0)), a.at(1)); }), Scenario::Bool(found)[0]};
     }},
    {"scratch", [](Ctx& c, const Args& a) { held.scratch = std::make_unique<Engine::ScratchFile>(c.Path(a.at(0))); return Results{}; }},
    {"scratch.flush", [](Ctx&, const Args&) { held.scratch->Flush(); return Results{}; }},
    // zones PATH FIRST COUNT ZONE: COUNT zone rows from FIRST, one statement each.
    {"zones", [](Ctx& c, const Args& a) {
       for (int zip = std::stoi(a.at(1)), end = zip + std::stoi(a.at(2)); zip < end; ++zip)
         Connect(c, a.at(0)).Execute("INSERT INTO [TARNVEL-GND] ([LOZIP], [HIZIP], [ZONE]) VALUES (" + std::to_string(zip) +
                                     ", " + std::to_string(zip + 99) + ", " + a.at(3) + ")");
       held.connection.Close();
       return Results{};
     }},
    {"rename", [](Ctx& c, const Args& a) { std::filesystem::rename(c.Path(a.at(0)), c.Path(a.at(1))); return Results{}; }},
    {"remove", [](Ctx& c, const Args& a) { std::filesystem::remove(c.Path(a.at(0))); return Results{}; }},
    {"scratch.end", [](Ctx&, const Args&) { held.scratch.reset(); return Results{}; }},
    // snapshot PATH [MILLISECONDS]: a read of PATH, with a time limit of its own.
    {"snapshot", [](Ctx& c, const Args& a) {
       held.reader.reset();
       held.readerMade = std::chrono::steady_clock::now();
       held.reader = a.size() > 1 ? std::make_unique<Snapshot::Reader>(c.Path(a[0]), std::chrono::milliseconds(std::stoi(a[1])))
                                  : std::make_unique<Snapshot::Reader>(c.Path(a.at(0)));
       return Results{};
     }},
    {"snapshot.rows", [](Ctx&, const Args& a) { return Cells(held.reader->Query(a.at(0), Args(a.begin() + 1, a.end()))); }},
    {"snapshot.tables", [](Ctx&, const Args&) { return held.reader->Tables(); }},
    {"snapshot.istable", [](Ctx&, const Args& a) { return Scenario::Bool(held.reader->IsTable(a.at(0))); }},
    {"snapshot.copy", [](Ctx& c, const Args& a) { held.reader->CopyTo(c.Path(a.at(0))); return Results{}; }},
    {"snapshot.finish", [](Ctx&, const Args&) { held.reader->Finish(); return Results{}; }},
    {"snapshot.end", [](Ctx&, const Args&) { held.reader.reset(); return Results{}; }},
    // snapshot.within MILLISECONDS: whether the read was made less than that ago.
    {"snapshot.within", [](Ctx&, const Args& a) {
       return Scenario::Bool(std::chrono::steady_clock::now() - held.readerMade < std::chrono::milliseconds(std::stoi(a.at(0))));
     }},
    // writer PATH SQL: another program's connection to PATH that ran SQL; writer.run SQL: more.
    {"writer", [](Ctx& c, const Args& a) {
       held.writer.reset();
       held.writer = std::make_unique<Writer>(c.Path(a.at(0)));
       return Results{held.writer->Run(a.at(1))};
     }},
    {"writer.run", [](Ctx&, const Args& a) { return Results{held.writer->Run(a.at(0))}; }},
    {"writer.end", [](Ctx&, const Args&) { held.writer.reset(); return Results{}; }},
    // mark P: notes P's bytes, owner and times; unchanged P: whether they are still so.
    {"mark", [](Ctx& c, const Args& a) { held.stamps[c.Path(a.at(0))] = Stamp(c.Path(a.at(0))); return Results{}; }},
    {"unchanged", [](Ctx& c, const Args& a) {
       const std::string now = Stamp(c.Path(a.at(0))), before = held.stamps.at(c.Path(a.at(0)));
       return Results{now == before ? "unchanged" : "was " + before + ", is " + now};
     }},
    // variant VALUE: as text, 16-bit, 32-bit, double, boolean and date.
    {"variant", [](Ctx&, const Args& a) {
       const Variant v = Value(a.at(0));
       return Results{Outcome([&] { return v.ToText(); }), Outcome([&] { return std::to_string(v.ToInt16()); }),
                      Outcome([&] { return std::to_string(v.ToInt32()); }),
                      Outcome([&] { return Variant::Double(v.ToDouble()).ToText(); }),
                      Outcome([&] { return std::string(v.ToBool() ? "True" : "False"); }),
                      Outcome([&] { return v.ToDateText(); })};
     }},
    {"numeric", [](Ctx&, const Args& a) { return Scenario::Bool(Db::IsNumericText(a.at(0))); }},
    // insert|update COLUMN VALUE KIND first|- last|- TABLE [CONDITION] dbo|-
    {"insert", [](Ctx&, const Args& a) {
       return Results{DBQuery::InsertSql(a.at(0), a.at(1), static_cast<std::uint8_t>(std::stoi(a.at(2))), a.at(3) == "first",
                                         a.at(4) == "last", a.at(5), a.at(6) == "dbo")};
     }},
    {"update", [](Ctx&, const Args& a) {
       return Results{DBQuery::UpdateSql(a.at(0), a.at(1), static_cast<std::uint8_t>(std::stoi(a.at(2))), a.at(3) == "first",
                                         a.at(4) == "last", a.at(5), a.at(6), a.at(7) == "dbo")};
     }},
};

TEST(Db, Cases) {
  for (const char* file : {"engine", "connection", "values", "scratch"}) {
    SCOPED_TRACE(file);
    Scenario::RunFile(ATV_CASES_DIR "/" + std::string(file) + ".json", kSteps);
    held.recordset.reset();
    held.connection.Close();
    held.scratch.reset();
    held.reader.reset();
    held.writer.reset();
    held.stamps.clear();
  }
}

}  // namespace
