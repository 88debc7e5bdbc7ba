// The database layer against the case files (*.json) beside this file.
// A value is written "KIND:TEXT" (text, int16, int32, double, currency,
// date, bool, byte; binary:HEX) or "null" / "empty", and given back so.
// One recordset, one connection and one scratch file at a time are held
// between the calls of a case; the rs.* steps work on that recordset.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "Connection.h"
#include "Convert.h"
#include "DBQuery.h"
#include "Dialect.h"
#include "RunError.h"
#include "Scenario.h"

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

// What a case holds between its calls.
struct Held {
  Connection::RecordsetHandle recordset;
  Engine::Database connection;
  std::unique_ptr<Engine::ScratchFile> scratch;
} held;

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

std::string Reported(bool ok, std::int32_t number, const std::string& description) {
  return std::string(ok ? "true " : "false ") + std::to_string(number) + ": " + description;
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
       std::string description = "stale";
       std::int32_t number = -1;
       const bool ok = Connection::OpenRecordset(c.Path(a.at(0)), a.at(1), held.recordset, description, number, a.at(2) == "detached");
       return Results{Reported(ok, number, description)};
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
    {"rs.close", [](Ctx&, const Args&) { return Scenario::Bool(Connection::CloseRecordset(held.recordset)); }},
    {"connection.close", [](Ctx&, const Args& a) {
       Connection::ConnectionHandle handle = a.at(0) == "unopened" ? std::make_unique<Engine::Database>() : nullptr;
       return Results{Scenario::Bool(Connection::CloseConnection(handle))[0], handle ? "kept" : "released"};
     }},
    {"connection.string", [](Ctx&, const Args& a) { return Results{Connection::ConnectionString(a.at(0))}; }},
    {"executesql", [](Ctx& c, const Args& a) {
       std::string description = "stale";
       std::int32_t number = -1;
       const bool ok = Connection::ExecuteSql(c.Path(a.at(0)), a.at(1), description, number);
       return Results{Reported(ok, number, description)};
     }},
    // exists PATH SQL FAILURETEXT: found, then failed (twice).
    {"exists", [](Ctx& c, const Args& a) {
       // Run twice, `failed` set false then true before: it must be written.
       bool failed = false, again = true;
       const bool found = Connection::RecordsExist(c.Path(a.at(0)), a.at(1), a.at(2), failed);
       Connection::RecordsExist(c.Path(a.at(0)), a.at(1), a.at(2), again);
       return Results{Scenario::Bool(found)[0], Scenario::Bool(failed)[0], Scenario::Bool(again)[0]};
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
  }
}

}  // namespace
