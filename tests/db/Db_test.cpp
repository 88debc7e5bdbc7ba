// The database layer as tables, one per module: each row a database a.mdb made from SQL, one call, what it gave.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>

#include "Connection.h"
#include "Convert.h"
#include "DBQuery.h"
#include "Dialect.h"
#include "Shop.h"
#include "Snapshot.h"

namespace {

namespace fs = std::filesystem;
using Db::Variant;
using Dir = TestSupport::TempDir;
using Call = std::function<std::string(const Dir&)>;
struct Row {
  std::string name, schema;
  Call call;
  std::string want;
};

const std::string kHost =
    "CREATE TABLE [Master] ([Service] TEXT(20) COLLATE NOCASE NOT NULL PRIMARY KEY, [Shipper#] LONG DEFAULT 0,"
    " [ACTAP] CURRENCY, [AP] CURRENCY, [Last Updated] DATETIME); INSERT INTO [Master] VALUES"
    " ('FEDEX-GND', 12, 30, 30, '2009-01-02 00:00:00'), ('TARNVEL-GND', 0, 10, 10, '2009-01-02 10:30:00');"
    "CREATE TABLE [TARNVEL-GND] ([LOZIP] LONG, [HIZIP] LONG, [ZONE] SHORT);"
    "INSERT INTO [TARNVEL-GND] VALUES (1000, 1999, 4), (2000, 2999, 5), (3000, 3999, 5);";
const std::string kTyped =
    "CREATE TABLE [W] ([K] LONG PRIMARY KEY, [S] SHORT, [L] LONG, [B] BYTE, [C] CURRENCY, [T] DATETIME, [Y] YESNO,"
    " [X] TEXT COLLATE NOCASE, [G] BLOB, [M] MEMO COLLATE NOCASE); CREATE TRIGGER [Ignore] BEFORE INSERT ON [W]"
    " WHEN new.[K] = 99 BEGIN SELECT RAISE(IGNORE); END; INSERT INTO [W] ([K]) VALUES (1);"
    "INSERT INTO [W] ([K], [X], [M], [T], [Y]) VALUES (2, '  a b  ', char(9) || 'x' || char(9), '2009-01-02', -1);";
const std::string kZones = "CREATE TABLE [TARNVEL-GND] ([LOZIP] LONG UNIQUE, [HIZIP] LONG, [ZONE] SHORT);";
const std::string kRollback =
    "CREATE TABLE [TARNVEL-GND] ([LOZIP] LONG, [HIZIP] LONG, [ZONE] SHORT NOT NULL ON CONFLICT ROLLBACK)";

std::string Path(const Dir& d) { return d.File("a.mdb"); }
template <class F>
std::string Caught(F f) try {  // what `f` gives ("" for nothing), or the error it ends with
  if constexpr (std::is_void_v<decltype(f())>) {
    f();
    return "";
  } else {
    return f();
  }
} catch (const Platform::RunError& e) {
  return "error " + std::to_string(e.Number());
}
std::string Joined(const std::vector<std::string>& rows) {
  std::string text;
  for (const auto& row : rows) text += (text.empty() ? "" : ",") + row;
  return text;
}
std::string Query(const std::string& path, const std::string& sql) {  // straight through SQLite
  return Joined(TestSupport::QueryRows(path, sql));
}
std::string Shown(const Variant& v) {  // "kind:text"
  static const char* const kinds[] = {"empty",    "null", "text", "int16", "int32", "double",
                                      "currency", "date", "bool", "byte",  "binary"};
  const std::string kind = kinds[static_cast<int>(v.GetKind())] + std::string(":");
  if (v.IsNull() || v.IsEmpty()) return kind;
  if (v.GetKind() != Variant::Kind::Binary) return kind + v.ToText();
  return kind + Db::HexLiteral(v.BinaryValue().data(), v.BinaryValue().size());
}
// The rows from the current one to the end, each field "type kind:value" when `typed`, else its text.
std::string Rows(Engine::Recordset& rs, bool typed = false) {
  std::vector<std::string> rows;
  for (; !rs.IsEOF(); rs.MoveNext())
    for (int i = 0; i < rs.FieldCount(); ++i)
      rows.push_back(typed ? std::to_string(rs.Fields(i).Type()) + " " + Shown(rs.Fields(i).Value())
                           : Caught([&] { return rs.Fields(i).Value().ToText(); }));
  return Joined(rows);
}
// `sql` through Connection: a query's values, or the error; then the rows of `check`.
Call Sql(std::string sql, std::string check = "") {
  return [=](const Dir& d) {
    const std::string got = Caught([&] {
      if (Dialect::FirstKeyword(sql) == "SELECT") return Rows(*Connection::OpenRecordset(Path(d), sql, true));
      Connection::ExecuteSql(Path(d), sql);
      return std::string();
    });
    return check.empty() ? got : got + ";" + Query(Path(d), check);
  };
}
Row Written(std::string c, std::string value, std::string stored) {  // what INSERT stores in column `c` given `value`
  const std::string insert = "INSERT INTO [W] ([K], [" + c + "]) VALUES (3, " + value + ")";
  const std::string check = "SELECT typeof([" + c + "]) || '|' || quote([" + c + "]) FROM W WHERE K = 3";
  return {"written to " + c + ": " + value, kTyped, Sql(insert, check),
          stored.starts_with("error") ? stored + ";" : ";" + stored};
}
// Opens `file` beside three files that are no database, with `provider`: its state, and how many files are there.
Call Open(std::string file, std::string provider = "Provider=Microsoft.Jet.OLEDB.4.0;") {
  return [=](const Dir& d) {
    TestSupport::WriteFile(d.File("notes.mdb"), "Not a database.\n");
    TestSupport::WriteFile(d.File("empty.mdb"), "");
    TestSupport::CreateDatabase(d.File("locked.mdb"), "CREATE TABLE t (a)");
    fs::permissions(d.File("locked.mdb"), fs::perms::none);
    Engine::Database db;
    const std::string got = Caught([&] { db.Open(provider + "Data Source=" + d.File(file)); });
    return got + " " + std::to_string(db.State()) + " " +
           std::to_string(std::distance(fs::directory_iterator(d.Path()), {}));
  };
}

class Database : public testing::TestWithParam<Row> {};
TEST_P(Database, Holds) {
  const Dir d;
  if (!GetParam().schema.empty()) TestSupport::CreateDatabase(Path(d), GetParam().schema);
  EXPECT_EQ(Caught([&] { return GetParam().call(d); }), GetParam().want);
}

// The engine and its dialect: SQL text in, values or an error number out, then what the file holds.
// clang-format off
const Row kEngine[] = {
    {"text compares without case", kHost, Sql("Select [Service] From [Master] Where [Service] = 'tarnvel-gnd'"), "TARNVEL-GND"},
    {"a missing column", kHost, Sql("Select Top 1 [LBS] From [TARNVEL-GND]"), "error 3265"},
    {"Top and Distinct in any case", kHost, Sql("sElEcT Distinct tOp 2 [ZONE] fRoM [TARNVEL-GND] oRdEr bY 1 dEsC"), "5,4"},
    {"Top in a subquery", kHost, Sql("Select [Service] From [Master] Where [ACTAP] = (Select Top 1 [ACTAP] From [Master] Order By [ACTAP] DESC)"), "FEDEX-GND"},
    {"a stored date between hashes", kHost, Sql("Select [Service] From [Master] Where [Last Updated] > #2009-01-02#"), "TARNVEL-GND"},
    {"two statements run none", kHost, Sql("UPDATE [Master] SET [ACTAP] = 1; DELETE FROM [Master]", "SELECT count(*) FROM Master WHERE ACTAP = 1"), "error 3142;0"},
    {"a missing table", kHost, Sql("Select * From [Nope]"), "error 3078"},
    {"a date that is none", kHost, Sql("Select * From [Master] Where [Last Updated] = #2/30/2009#"), "error 3075"},
    {"a syntax error", kHost, Sql("Select From Where"), "error 3075"},
    {"a statement of no allowed kind", kHost, Sql("ANALYZE"), "error 3075"},
    {"a read-only file refuses a change", kHost, [](const Dir& d) { fs::permissions(Path(d), fs::perms(0444)); return Sql("UPDATE [Master] SET [AP] = 1", "SELECT sum(AP) FROM Master")(d); }, "error 3051;40"},
    {"the dialect is rewritten outside texts and names", "", [](const Dir&) { return Dialect::TranslateSql("Select [Top 1], '#1/2/2009#', 'it''s', [a]]b] From t Where D = #1/2/2009 1:05:09 pm#"); }, "Select [Top 1], '#1/2/2009#', 'it''s', [a]]b] From t Where D = '2009-01-02 13:05:09'"},
    {"a Top before a comment", "", [](const Dir&) { return Dialect::TranslateSql("Select Top 3 a From t -- last"); }, "Select a From t -- last\nLIMIT 3"},
    Written("L", "' 12 '", "integer|12"),
    Written("S", "2.5", "integer|2"),
    Written("C", "1.23456789", "real|1.2346"),
    Written("X", "5", "text|'5'"),
    Written("Y", "'True'", "integer|-1"),
    Written("T", "#1/2/2009#", "text|'2009-01-02 00:00:00'"),
    Written("L", "NULL", "null|NULL"),
    Written("C", "'SP'", "error 13"),
    Written("S", "70000", "error 6"),
    Written("B", "-1", "error 6"),
    Written("S", "(SELECT 70000)", "error 6"),
    {"a row a trigger ignores", kTyped, Sql("INSERT INTO [W] ([K], [L]) VALUES (99, 1)"), "error 3022"},
    {"an update that does not fit changes nothing", kTyped, Sql("UPDATE [W] SET [S] = 70000 WHERE [K] = 1", "SELECT typeof(S) FROM W WHERE K = 1"), "error 6;null"},
    {"a missing file", "", Open("missing.mdb", "provider=MICROSOFT.JET.OLEDB.4.0;"), "error 3024 0 3"},
    {"a folder", "", Open("."), "error 3044 0 3"},
    {"a text file", "", Open("notes.mdb"), "error 3343 0 3"},
    {"an empty file", "", Open("empty.mdb"), "error 3343 0 3"},
    {"an unreadable file", "", Open("locked.mdb"), "error 3051 0 3"},
    {"another provider", "", Open("notes.mdb", "Provider=SQLOLEDB;"), "error 3706 0 3"},
    {"a database", kHost, Open("a.mdb"), " 1 4"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Engine, Database, testing::ValuesIn(kEngine), TestSupport::RowName);

// Recordsets and the connections Connection opens for each call.
std::string Detached(const Dir& d) {  // read to its end after its file is gone, then read past the end
  auto rs = Connection::OpenRecordset(Path(d), "Select [Service], [ACTAP] From [Master] Order By 1 DESC", true);
  TestSupport::WriteFile(Path(d), "gone");
  const std::string rows = std::to_string(rs->State()) + std::to_string(rs->IsAttached()) + " " + Rows(*rs, true);
  return rows + " " + std::to_string(rs->IsEOF()) + Caught([&] { return Shown(rs->Fields("actap").Value()); });
}
std::string Empty(const Dir& d) {  // an empty result: its fields, one it lacks, a new row
  auto rs = Connection::OpenRecordset(Path(d), "Select Master.* From [Master] Where Service = 'NOPE'", true);
  const std::string got = std::to_string(rs->FieldCount()) + Caught([&] { return Shown(rs->Fields("Zone").Value()); });
  return got + Caught([&] { rs->AddNew(); });
}
// A new row through an attached recordset, beside a statement: read before Update (or none), then the rows stored.
std::string Added(const Dir& d, bool update) {
  auto rs = Connection::OpenRecordset(Path(d), "Select * From [TARNVEL-GND]", false);
  Connection::ExecuteSql(Path(d), "DELETE FROM [TARNVEL-GND] WHERE ZONE = 5");
  rs->AddNew();
  rs->SetValue(0, Variant::Text("-3"));
  rs->SetValue(2, Variant::Bool(true));
  const std::string got =
      Shown(rs->Fields("lozip").Value()) + " " + Query(Path(d), "SELECT count(*) FROM [TARNVEL-GND]");
  if (update) rs->Update();
  Connection::CloseRecordset(rs);
  Connection::CloseRecordset(rs);  // closing nothing
  return got + " " + Query(Path(d), "SELECT * FROM [TARNVEL-GND]") + (rs ? " kept" : "");
}
std::string TakenKey(const Dir& d) {
  auto rs = Connection::OpenRecordset(Path(d), "Select * From [W]", false);
  rs->AddNew();
  rs->SetValue(0, Variant::Int16(1));
  return Caught([&] { rs->Update(); }) + ";" + Query(Path(d), "SELECT count(*) FROM W");
}
// clang-format off
const Row kConnection[] = {
    {"a detached recordset stays readable without its file, to its end", kHost, Detached, "10 202 text:TARNVEL-GND,6 currency:10,202 text:FEDEX-GND,6 currency:30 1error 3021"},
    {"an empty result is at its end with its fields", kHost, Empty, "5error 3265error 3027"},
    {"declared types decide the kind; an odd value or an expression is read as it is", "CREATE TABLE t (L LONG, D DATETIME, Y YESNO, B BYTE, M MEMO); INSERT INTO t VALUES ('abc', 'next week', 1, 255, 123)", [](const Dir& d) { return Rows(*Connection::OpenRecordset(Path(d), "Select L, D, Y, B, M, 1 + 1, 2.5, NULL, x'00ff' From t", true), true); },
     "3 text:abc,7 text:next week,11 bool:True,17 byte:255,203 text:123,3 int32:2,5 double:2.5,202 null:,205 binary:X'00FF'"},
    {"an attached recordset adds a row beside a statement", kHost, [](const Dir& d) { return Added(d, true); }, "int32:-3 1 1000|1999|4,-3|NULL|-1"},
    {"a new row never updated is not stored", kHost, [](const Dir& d) { return Added(d, false); }, "int32:-3 1 1000|1999|4"},
    {"a new row with a taken key", kTyped, TakenKey, "error 3022;2"},
    {"a lookup finds none", kHost, [](const Dir& d) { return std::to_string(Connection::RecordsExist(Path(d), "Select * From [Master] Where [Service] = 'UPS'")); }, "0"},
    {"a lookup finds a row in any case", kHost, [](const Dir& d) { return std::to_string(Connection::RecordsExist(Path(d), "Select * From [Master] Where [Service] = 'tarnvel-gnd'")); }, "1"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Connection, Database, testing::ValuesIn(kConnection), TestSupport::RowName);

// A scratch file: rows of one transaction, kept before a statement that fails, however it fails.
void Zone(const Dir& d, int zip, const std::string& file = "a.mdb") {
  Connection::ExecuteSql(d.File(file),
                         "INSERT INTO [TARNVEL-GND] (LOZIP, ZONE) VALUES (" + std::to_string(zip) + ", 2)");
}
std::string Zips(const std::string& path) { return Query(path, "SELECT LOZIP FROM [TARNVEL-GND] ORDER BY 1"); }
// Rows 100 and 200, `failing` (its error), row 300, all in one scratch file's life; then the rows the file holds.
Call Kept(std::string failing) {
  return [=](const Dir& d) {
    std::optional<Engine::ScratchFile> scratch(std::in_place, Path(d));
    Zone(d, 100);
    Zone(d, 200);
    const std::string failed = Sql(failing)(d);
    Zone(d, 300);
    scratch.reset();
    return failed + " " + Zips(Path(d));
  };
}
// What a flush leaves (and whether a journal), a row in another file at once, then the scratch file at its end.
std::string Flushed(const Dir& d) {
  TestSupport::CreateDatabase(d.File("z.mdb"), kZones);
  std::optional<Engine::ScratchFile> scratch(std::in_place, Path(d));
  Zone(d, 100);
  scratch->Flush();
  const std::string flushed = Zips(Path(d)) + std::to_string(fs::exists(Path(d) + "-journal"));
  Zone(d, 200);
  Zone(d, 700, "z.mdb");
  const std::string other = Zips(d.File("z.mdb"));
  scratch.reset();
  return flushed + " " + other + " " + Zips(Path(d));
}
// The rows of a file replaced under a scratch file; a row and a flush once it is gone.
std::string Replaced(const Dir& d) {
  Engine::ScratchFile scratch(Path(d));
  Zone(d, 100);
  TestSupport::CreateDatabase(d.File("b.mdb"), kZones + "INSERT INTO [TARNVEL-GND] VALUES (900, 999, 8)");
  fs::rename(d.File("b.mdb"), Path(d));
  Zone(d, 200);
  scratch.Flush();
  const std::string rows = Zips(Path(d));
  fs::remove(Path(d));
  const std::string written = Caught([&] { Zone(d, 300); });
  return rows + " " + written + Caught([&] { scratch.Flush(); });
}
// clang-format off
const Row kScratch[] = {
    {"rows before an abort clause stay", kZones, Kept("INSERT INTO [TARNVEL-GND] ([LOZIP]) VALUES (100)"), "error 3022 100,200,300"},
    {"rows before a rollback clause stay", kRollback, Kept("INSERT INTO [TARNVEL-GND] ([LOZIP]) VALUES (1)"), "error 3022 100,200,300"},
    {"rows before a statement that rolls back stay", kZones, Kept("INSERT OR ROLLBACK INTO [TARNVEL-GND] ([LOZIP]) VALUES (100)"), "error 3022 100,200,300"},
    {"the flushed file is complete alone, other files commit at once, the rest is flushed at the end", kZones, Flushed, "1000 700 100,200"},
    {"a file replaced is read afresh; a file gone is an error", kZones, Replaced, "200,900 error 3024"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(ScratchFile, Database, testing::ValuesIn(kScratch), TestSupport::RowName);

// Values: each kind as text, 16-bit, 32-bit, double, boolean and date; a Null field converted; statements built.
Call Conv(std::function<Variant()> make) {
  return [=](const Dir&) {
    const Variant v = make();  // one that cannot be made throws as the row's outcome
    return Caught([&] { return v.ToText(); }) + "|" + Caught([&] { return std::to_string(v.ToInt16()); }) + "|" +
           Caught([&] { return std::to_string(v.ToInt32()); }) + "|" +
           Caught([&] { return Variant::Double(v.ToDouble()).ToText(); }) + "|" +
           Caught([&] { return std::to_string(v.ToBool()); }) + "|" + Caught([&] { return v.ToDateText(); });
  };
}
Call Of(Variant v) {
  return Conv([=] { return v; });
}
Call Date(std::string text) {
  return Conv([=] { return Variant::Date(text); });
}
std::string Dbl(double v) { return Variant::Double(v).ToText(); }
Call Converted(int k, std::string c, Variant fallback, bool trim = true) {  // field `c` of row `k` of W
  return [=](const Dir& d) {
    auto rs = Connection::OpenRecordset(Path(d), "Select * From [W] Where K = " + std::to_string(k), true);
    return Shown(Convert::FieldValue(rs->Fields(c), fallback, trim));
  };
}
std::string NullDate(const Dir& d) {  // "now" when a Null date converts to the current time
  const std::string before = Variant::Now().ToText(), got = Converted(1, "T", Variant())(d);
  return got.starts_with("date:") && before <= got.substr(5) && got.substr(5) <= Variant::Now().ToText() ? "now" : got;
}
Call Numeric(std::vector<std::string> texts) {  // whether each text is numeric
  return [=](const Dir&) {
    std::string flags;
    for (const auto& t : texts) flags += std::to_string(Db::IsNumericText(t));
    return flags;
  };
}
// clang-format off
const Row kValues[] = {
    {"Empty", "", Of(Variant()), "|0|0|0|0|error 13"},
    {"Null", "", Of(Variant::Null()), "error 94|error 94|error 94|error 94|error 94|error 94"},
    {"the largest 16-bit number", "", Of(Variant::Int32(32767)), "32767|32767|32767|32767|1|1989-09-16 00:00:00"},
    {"a half rounds to even", "", Of(Variant::Double(2.5)), "2.5|2|2|2.5|1|1900-01-01 12:00:00"},
    {"a double past 32 bits", "", Of(Variant::Double(3e9)), "3000000000|error 6|error 6|3000000000|1|error 6"},
    {"doubles in full between tiny and huge", "", [](const Dir&) { return Joined({Dbl(0.1), Dbl(-0.0), Dbl(123456789012345.0), Dbl(1e15), Dbl(1.5e-7)}); }, "0.1,0,123456789012345,1e+15,1.5e-07"},
    {"currency to four places", "", Of(Variant::Currency(1.23456)), "1.2346|1|1|1.2346|1|1899-12-31 05:37:49"},
    {"True", "", Of(Variant::Bool(true)), "True|-1|-1|-1|1|1899-12-29 00:00:00"},
    {"numeric text", "", Of(Variant::Text(" 12.5 ")), " 12.5 |12|12|12.5|1|error 13"},
    {"true text", "", Of(Variant::Text("tRUE")), "tRUE|error 13|error 13|error 13|1|error 13"},
    {"noon as text", "", Of(Variant::Text("12/31/2009 12:30 PM")), "12/31/2009 12:30 PM|error 13|error 13|error 13|error 13|2009-12-31 12:30:00"},
    {"a day that is none", "", Of(Variant::Text("2/30/2009")), "2/30/2009|error 13|error 13|error 13|error 13|error 13"},
    {"a date", "", Date("2009-01-02 06:00:00"), "2009-01-02 06:00:00|error 6|39815|39815.25|error 13|2009-01-02 06:00:00"},
    {"a date alone is midnight", "", Date("2000-02-29"), "2000-02-29 00:00:00|error 6|36585|36585|error 13|2000-02-29 00:00:00"},
    {"a leap day that is none", "", Date("2009-02-29 00:00:00"), "error 13"},
    {"numeric texts, then texts that are not", "", Numeric({"0", " -12 ", "+3.", ".5", "1e5", "1.5E-3", "", " ", ".", "-", "1.2.3", "1e", "0x10", "12a", "1,5"}), "111111000000000"},
    {"a Null field gives its default", kTyped, Converted(1, "L", Variant::Int32(7)), "int32:7"},
    {"a Null field converts by its kind: text to empty, Yes/No to False, a number to 0", kTyped, [](const Dir& d) { return Converted(1, "X", Variant())(d) + Converted(1, "Y", Variant::Text(""))(d) + Converted(1, "C", Variant())(d); }, "text:bool:Falseint16:0"},
    {"a Null date converts to the current date and time", kTyped, NullDate, "now"},
    {"text is trimmed of spaces only", kTyped, [](const Dir& d) { return Converted(2, "X", Variant())(d) + Converted(2, "M", Variant())(d) + Converted(2, "x", Variant(), false)(d); }, "text:a btext:\tx\ttext:  a b  "},
    {"a field past the end gives the default", kTyped, Converted(99, "X", Variant::Int16(3)), "int16:3"},
    {"an insert", "", [](const Dir&) { return Joined({DBQuery::InsertSql("A", "O'Brien", 1, true, false, "T", false), DBQuery::InsertSql("B", "1/2/2009", 2, false, false, "X", false), DBQuery::InsertSql("C", "5", 3, false, true, "Junk", false)}); }, "INSERT INTO [T] ([A], [B], [C]) VALUES ('O'Brien', #1/2/2009#, 5)"},
    {"an insert in the dbo dialect", "", [](const Dir&) { return Joined({DBQuery::InsertSql("A", "x", 1, true, false, "T", true), DBQuery::InsertSql("B", "1/2/2009", 2, false, true, "J", false)}); }, "INSERT INTO [dbo].[T] ([A], [B]) VALUES ('x', '1/2/2009')"},
    {"an update", "", [](const Dir&) { return Joined({DBQuery::UpdateSql("A", "1/2/2009", 2, true, false, "T", "[Shipper#] = 3 And D < #1/2/2009#", false), DBQuery::UpdateSql("B", "40", 3, false, true, "J", "Junk = #1#", false)}); }, "UPDATE [T] SET [A] = #1/2/2009#, [B] = 40 WHERE [Shipper#] = 3 And D < #1/2/2009#"},
    {"an update in the dbo dialect", "", [](const Dir&) { return DBQuery::UpdateSql("A", "x", 1, true, true, "T", "[Shipper#] = 3 And D < #1/2/2009#", true); }, "UPDATE [dbo].[T] SET [A] = 'x' WHERE [Shipper'] = 3 And D < '1/2/2009'"},
    {"a new statement drops what was pending", "", [](const Dir&) { return Joined({DBQuery::UpdateSql("X", "1", 3, true, false, "U", "", false), DBQuery::InsertSql("A", "2", 3, true, true, "T", false)}); }, "INSERT INTO [T] ([A]) VALUES (2)"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Values, Database, testing::ValuesIn(kValues), TestSupport::RowName);

// Another program's connection: a child that runs the next statement at each Step(), answering SQLite's code.
struct Writer {
  int ask[2], done[2];
  pid_t pid = (::pipe(ask) | ::pipe(done)) != 0 ? -1 : ::fork();
  Writer(const std::string& path, std::vector<std::string> statements) {
    if (pid < 0) throw std::runtime_error("no child");
    if (pid > 0) return;
    sqlite3* db = nullptr;
    ::close(ask[1]);  // so that the parent's end of it ends the child
    ::alarm(60);
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    for (char c = 0; ::read(ask[0], &c, 1) == 1 && !statements.empty(); statements.erase(statements.begin())) {
      c = static_cast<char>(sqlite3_exec(db, statements.front().c_str(), nullptr, nullptr, nullptr));
      if (::write(done[1], &c, 1) != 1) break;
    }
    ::_exit(0);
  }
  ~Writer() {
    ::close(ask[1]);
    ::waitpid(pid, nullptr, 0);
  }
  int Step() {
    char c = 1;
    return ::write(ask[1], &c, 1) == 1 && ::read(done[0], &c, 1) == 1 ? c : -1;
  }
};

// A read of a WAL file another program writes sees one state, and moves no byte or time of its files; nor does a copy.
// A log left without its shared memory is refused.
TEST(Snapshot, SeesOneStateAndMovesNothing) {
  const Dir d, copies;
  const std::string path = d.File("a.mdb");
  const auto stamps = [&] {  // each file's size, bytes and times of change
    std::string text;
    for (const auto& [name, content] : TestSupport::FolderContents(d.Path())) {
      struct stat s {};
      ::stat(d.File(name).c_str(), &s);
      text += name + content + std::to_string(s.st_mtim.tv_nsec) + std::to_string(s.st_ctim.tv_nsec) + " ";
    }
    return text;
  };
  TestSupport::CreateDatabase(path, "PRAGMA journal_mode=WAL; CREATE TABLE [M] ([S]); INSERT INTO [M] VALUES ('A');");
  {
    Writer writer(path, {"PRAGMA wal_autocheckpoint=0; INSERT INTO [M] VALUES ('B')", "INSERT INTO [M] VALUES ('C')"});
    ASSERT_EQ(writer.Step(), SQLITE_OK);
    Snapshot::Reader reader(path);
    EXPECT_EQ(reader.Query("SELECT count(*), x'0fa0' FROM [M]").rows.at(0),
              (std::vector<Snapshot::Cell>{"2", "X'0FA0'"}));
    ASSERT_EQ(writer.Step(), SQLITE_OK);
    const std::string before = stamps();
    EXPECT_EQ(reader.Query("SELECT count(*) FROM [M]").rows.at(0).at(0), "2");
    reader.CopyTo(copies.File("copy.mdb"));
    reader.Finish();
    EXPECT_EQ(Snapshot::Reader(path).Query("SELECT count(*) FROM [M]").rows.at(0).at(0), "3");
    EXPECT_EQ(before, stamps());
    EXPECT_EQ(Query(copies.File("copy.mdb"), "SELECT count(*) FROM [M]"), "2");
    for (const std::string file : {"", "-wal"}) fs::copy_file(path + file, copies.File("left.mdb") + file);
  }
  EXPECT_EQ(Caught([&] { Snapshot::Reader(copies.File("left.mdb")); }), "error 3051");
}

// A view that never ends, under a table's name, is no table, and a read of it stops at the read's time limit.
const std::string kEndless =
    "CREATE TABLE [TARNVEL-AIR] ([LOZIP] LONG); CREATE VIRTUAL TABLE [Zone Map] USING rtree(id, lo, hi); CREATE VIEW"
    " [TARNVEL-GND] AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT n AS LOZIP FROM r;";
TEST(Snapshot, EndlessViewIsNoTableAndStops) {
  const Dir d;
  TestSupport::CreateDatabase(d.File("z.mdb"), kEndless);
  const std::string before = TestSupport::ReadFile(d.File("z.mdb"));
  const auto start = std::chrono::steady_clock::now();
  Snapshot::Reader reader(d.File("z.mdb"), std::chrono::milliseconds(300));
  EXPECT_EQ(Joined(reader.Tables()), "TARNVEL-AIR,Zone Map_node,Zone Map_parent,Zone Map_rowid");
  EXPECT_TRUE(reader.IsTable("tarnvel-air") && !reader.IsTable("TARNVEL-GND") && !reader.IsTable("Zone Map"));
  EXPECT_EQ(Caught([&] { reader.Query("SELECT count(*) FROM [TARNVEL-GND]"); }), "error 3146");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(Caught([&] { reader.CopyTo(d.File("c.mdb")); }), "error 3146");
  EXPECT_EQ(TestSupport::ReadFile(d.File("z.mdb")), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(d.Path()), {}), 1) << "no copy is left";
}

}  // namespace
