#include "Engine.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>

#include "RunError.h"
#include "TestSupport.h"

namespace {

using Db::Variant;
using TestSupport::QueryRows;

constexpr const char* kHostSql = R"(
CREATE TABLE [Master] ([Service] TEXT(20) COLLATE NOCASE NOT NULL PRIMARY KEY, [Shipper#] LONG DEFAULT 0,
  [ZONE-TBL] TEXT(30) COLLATE NOCASE, [ACTAP] CURRENCY, [AP] CURRENCY, [Last Updated] DATETIME);
INSERT INTO [Master] VALUES ('FEDEX-GND', 12, 'FEDEX-GND', 30, 30, '2009-01-02 00:00:00');
INSERT INTO [Master] VALUES ('TARNVEL-GND', 0, 'TARNVEL-GND', 10, 10, '2009-01-02 10:30:00');
CREATE TABLE [Panel] ([PanelIndex] SHORT, [BD1] TEXT COLLATE NOCASE, [SV1] TEXT COLLATE NOCASE,
  [SV2] TEXT COLLATE NOCASE, [SV3] TEXT COLLATE NOCASE, [SV4] TEXT COLLATE NOCASE, [SV5] TEXT COLLATE NOCASE,
  [SV6] TEXT COLLATE NOCASE, [SV7] TEXT COLLATE NOCASE, [Domestic] SHORT, [Icon] SHORT, [Message] TEXT COLLATE NOCASE,
  [ForeColor] LONG, [BackColor] LONG);
INSERT INTO [Panel] VALUES (3, 'Air', 'UPS-AIR', '', '', '', '', '', '', 1, 2, 'Domestic', 0, 0);
INSERT INTO [Panel] VALUES (12, 'Ground', 'UPS-GND', 'FEDEX-GND', 'tarnvel-gnd', '', '', '', '', 1, 2, 'Domestic', 0,
  -2147483633);
CREATE TABLE [TARNVEL-GND] ([LOZIP] LONG, [HIZIP] LONG, [ZONE] SHORT);
INSERT INTO [TARNVEL-GND] VALUES (10, 19, 4), (20, 29, 5), (30, 39, 5);
CREATE TABLE [Zip2FileOfOrigin] ([LOZIP] LONG, [HIZIP] LONG, [FileName] TEXT COLLATE NOCASE);
INSERT INTO [Zip2FileOfOrigin] VALUES (1000, 1999, 'TarnVel_010'), (2000, 2999, 'TarnVel_020');
CREATE TABLE [Top 1] ([Order#] LONG, [Select] TEXT COLLATE NOCASE);
INSERT INTO [Top 1] VALUES (1, '#1/2/2009#'), (2, 'Top 5');
)";

std::string ConnectionString(const std::string& path) { return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path; }

// "number: description" of the error `body` raises, or "no error".
std::string ErrorOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const Platform::RunError& error) {
    return std::to_string(error.Number()) + ": " + error.Description();
  }
  return "no error";
}

std::string Rendered(const Variant& value) { return value.IsNull() ? "NULL" : value.ToText(); }

// Every row of an open recordset, values joined by '|'.
std::vector<std::string> Rows(Engine::Recordset& recordset) {
  std::vector<std::string> rows;
  for (; !recordset.IsEOF(); recordset.MoveNext()) {
    std::string row;
    for (int i = 0; i < recordset.FieldCount(); ++i) row += (i ? "|" : "") + Rendered(recordset.Fields(i).Value());
    rows.push_back(row);
  }
  return rows;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { TestSupport::CreateDatabase(path_, kHostSql); }
  std::vector<std::string> Select(const std::string& sql, Engine::LockType lock = Engine::LockType::ReadOnly) {
    Engine::Database db;
    db.Open(ConnectionString(path_));
    Engine::Recordset recordset;
    recordset.Open(sql, db, lock);
    return Rows(recordset);
  }
  void Execute(const std::string& sql) {
    Engine::Database db;
    db.Open(ConnectionString(path_));
    db.Execute(sql);
  }

  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("Mailvoro.mdb");
};

// Every statement text the installation writes, and the dialect around it,
// against a real file. A row either lists the query's rows, or runs a
// statement and lists what `check` (plain SQLite) then finds, or names the
// error it must raise ("{db}" stands for the file's path).
TEST_F(EngineTest, DialectTable) {
  struct Row {
    const char* name;
    const char* sql;
    std::vector<std::string> expected;
    const char* check = nullptr;
    const char* error = nullptr;
  };
  const std::vector<Row> rows = {
      {"service lookup", "Select [Service] From [Master] Where [Service] = 'TARNVEL-GND'", {"TARNVEL-GND"}},
      {"text compare ignores case", "Select [Service] From [Master] Where [Service] = 'tarnvel-gnd'", {"TARNVEL-GND"}},
      {"panel lookup",
       "Select * From [Panel] Where [SV1] = 'TARNVEL-GND' Or [SV2] = 'TARNVEL-GND' Or [SV3] = 'TARNVEL-GND' Or [SV4] = "
       "'TARNVEL-GND' Or [SV5] = 'TARNVEL-GND' Or [SV6] = 'TARNVEL-GND' Or [SV7] = 'TARNVEL-GND'",
       {"12|Ground|UPS-GND|FEDEX-GND|tarnvel-gnd|||||1|2|Domestic|0|-2147483633"}},
      {"zones check", "Select Top 1 [ZONE] From [TARNVEL-GND]", {"4"}},
      {"rates check on a table without LBS", "Select Top 1 [LBS] From [TARNVEL-GND]", {}, nullptr,
       "3265: The column 'LBS' does not exist in '{db}'."},
      {"zip with a leading zero compares as a number",
       "Select [FileName] From [Zip2FileOfOrigin] Where [LOZIP] <= 01234 And [HIZIP] >= 01234", {"TarnVel_010"}},
      {"zone import insert", "INSERT INTO [TARNVEL-GND] ([LOZIP], [HIZIP], [ZONE]) VALUES (005, 009, 2)",
       {"5|9|2"}, "SELECT [LOZIP], [HIZIP], [ZONE] FROM [TARNVEL-GND] WHERE [ZONE] = 2"},
      {"panel index", "Select PanelIndex From [Panel] Order By PanelIndex DESC", {"12", "3"}},
      {"panel insert",
       "INSERT INTO [Panel] ([PanelIndex], [BD1], [SV1], [Domestic], [Icon], [Message], [ForeColor], [BackColor]) "
       "VALUES (13, 'Tarn-Vel Ground', 'TARNVEL-GND', 1, 4, 'Domestic', 0, -2147483633)",
       {"13|Tarn-Vel Ground|TARNVEL-GND|1|4|Domestic|0|-2147483633"},
       "SELECT PanelIndex, BD1, SV1, Domestic, Icon, Message, ForeColor, BackColor FROM Panel WHERE PanelIndex = 13"},
      {"template query", "Select Master.* From [Master] Where Service = 'FEDEX-GND'",
       {"FEDEX-GND|12|FEDEX-GND|30|30|2009-01-02 00:00:00"}},
      {"zone 6 update", "UPDATE [Master] SET [ACTAP] = 40, [AP] = 40 WHERE Service = 'TARNVEL-GND'",
       {"FEDEX-GND|30|30", "TARNVEL-GND|40|40"}, "SELECT Service, ACTAP, AP FROM Master ORDER BY Service"},
      {"top with where and order by", "Select Top 2 [LOZIP] From [TARNVEL-GND] Where [ZONE] > 0 Order By [LOZIP] DESC",
       {"30", "20"}},
      {"top after distinct", "Select Distinct Top 2 [ZONE] From [TARNVEL-GND] Order By [ZONE] DESC", {"5", "4"}},
      {"top in a subquery",
       "Select [Service] From [Master] Where [ACTAP] = (Select Top 1 [ACTAP] From [Master] Order By [ACTAP] DESC)",
       {"FEDEX-GND"}},
      {"keywords in mixed case", "sElEcT tOp 1 [ZONE] fRoM [TARNVEL-GND] oRdEr bY [ZONE] dEsC", {"5"}},
      {"date literal m/d/yyyy", "Select [Service] From [Master] Where [Last Updated] = #1/2/2009#", {"FEDEX-GND"}},
      {"date literal with time", "Select [Service] From [Master] Where [Last Updated] = #1/2/2009 10:30 AM#",
       {"TARNVEL-GND"}},
      {"date literal yyyy-mm-dd", "Select [Service] From [Master] Where [Last Updated] > #2009-01-02#",
       {"TARNVEL-GND"}},
      {"dialect inside text stays text", "Select [Order#] From [Top 1] Where [Select] = '#1/2/2009#' Or [Select] = "
                                         "'Top 5'",
       {"1", "2"}},
      {"bracketed names with # - and spaces",
       "Select [Shipper#], [ZONE-TBL], [Last Updated] From [Master] Where [Service] = 'FEDEX-GND'",
       {"12|FEDEX-GND|2009-01-02 00:00:00"}},
      {"one final semicolon", "Select [ZONE] From [TARNVEL-GND] Where [LOZIP] = 10; ", {"4"}},
      {"second statement refused, nothing ran", "UPDATE [Master] SET [ACTAP] = 1; DELETE FROM [Master]",
       {"FEDEX-GND|30", "TARNVEL-GND|10"}, "SELECT Service, ACTAP FROM Master ORDER BY Service",
       "3142: Only one statement can be run at a time: 'UPDATE [Master] SET [ACTAP] = 1; DELETE FROM [Master]' holds "
       "more; nothing was run."},
      {"missing table", "Select * From [Nope]", {}, nullptr, "3078: The table 'Nope' does not exist in '{db}'."},
      {"missing column in insert", "INSERT INTO [TARNVEL-GND] ([ZIP]) VALUES (1)", {}, nullptr,
       "3265: The column 'ZIP' does not exist in the table 'TARNVEL-GND' of '{db}'."},
      {"bad date literal", "Select * From [Master] Where [Last Updated] = #2/30/2009#", {}, nullptr,
       "3075: Syntax error in a date in the statement 'Select * From [Master] Where [Last Updated] = #2/30/2009#'."},
      {"syntax error", "Select From Where", {}, nullptr,
       "3075: Syntax error in the statement 'Select From Where' (near \"From\": syntax error)."},
      {"attach refused", "ATTACH DATABASE 'other.db' AS other", {}, nullptr,
       "3075: The statement 'ATTACH DATABASE 'other.db' AS other' is not allowed; only SELECT, INSERT, UPDATE, "
       "DELETE, CREATE, DROP and ALTER statements can be run."},
      {"pragma refused", "PRAGMA writable_schema = 1", {}, nullptr,
       "3075: The statement 'PRAGMA writable_schema = 1' is not allowed; only SELECT, INSERT, UPDATE, DELETE, CREATE, "
       "DROP and ALTER statements can be run."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(path_);
    TestSupport::CreateDatabase(path_, kHostSql);
    const std::string sql = row.sql;
    const bool query = sql.starts_with("Select") || sql.starts_with("sElEcT");
    std::vector<std::string> got;
    const std::string error = ErrorOf([&] {
      if (query) {
        got = Select(sql);
      } else {
        Execute(sql);
      }
    });
    if (row.error) {
      std::string expected = row.error;
      if (const auto at = expected.find("{db}"); at != std::string::npos) expected.replace(at, 4, path_);
      EXPECT_EQ(error, expected);
    } else {
      EXPECT_EQ(error, "no error");
    }
    if (row.check) got = QueryRows(path_, row.check);
    if (!row.error || row.check) {
      EXPECT_EQ(got, row.expected);
    }
  }
}

TEST(TranslateSql, RewritesOnlyOutsideTextAndNames) {
  const std::pair<const char*, const char*> rows[] = {
      {"Select Top 1 [ZONE] From [T]", "Select [ZONE] From [T]\nLIMIT 1"},
      {"Select * From [T] Where D = #1/2/2009 1:05:09 pm#", "Select * From [T] Where D = '2009-01-02 13:05:09'"},
      {"Select [Top 1], '#1/2/2009#', [Shipper#] From [Top 1]", "Select [Top 1], '#1/2/2009#', [Shipper#] From [Top 1]"},
      {"Select 'it''s', [a]]b] From t", "Select 'it''s', [a]]b] From t"},
      {"Select Top 3 a From t -- last", "Select a From t -- last\nLIMIT 3"},
      {"Select x From t;", "Select x From t"},
  };
  for (const auto& [in, out] : rows) EXPECT_EQ(Engine::TranslateSql(in), out) << in;
}

// Whatever the text, the translation ends: a result or a syntax error.
TEST(TranslateSql, NeverCrashesOnArbitraryText) {
  std::mt19937 random(7);
  const std::string alphabet = "SELECT top 1#/:-[]'\";()*x \n\0\xff";
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 60, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    try {
      Engine::TranslateSql(text);
    } catch (const Platform::RunError& error) {
      EXPECT_TRUE(error.Number() == Engine::kErrSyntax || error.Number() == Engine::kErrMultipleStatements);
    }
  }
}

TEST(EngineOpen, ErrorsNameThePathAndTheReason) {
  TestSupport::TempDir dir;
  const std::string text = dir.File("notes.mdb"), empty = dir.File("empty.mdb"), locked = dir.File("locked.mdb");
  TestSupport::WriteFile(text, "This is not a database, it is a note about one.\n");
  TestSupport::WriteFile(empty, "");
  TestSupport::CreateDatabase(locked, "CREATE TABLE t (a)");
  ::chmod(locked.c_str(), 0);
  const std::pair<std::string, std::string> rows[] = {
      {ConnectionString(dir.File("missing.mdb")), "3024: Could not find file '" + dir.File("missing.mdb") + "'."},
      {ConnectionString(dir.Path().string()),
       "3044: The path '" + dir.Path().string() + "' is a folder, not a database file."},
      {ConnectionString(text), "3343: The file '" + text + "' is not a database, or it is damaged."},
      {ConnectionString(empty), "3343: The file '" + empty + "' is not a database (it is empty)."},
      {ConnectionString(locked), "3051: The file '" + locked + "' cannot be read: permission denied."},
      {"Provider=SQLOLEDB;Data Source=" + text,
       "3706: The provider 'SQLOLEDB' is not known; only Microsoft.Jet.OLEDB.4.0 can open a database."},
      {"Data Source=" + text, "3706: The connection string 'Data Source=" + text + "' names no provider."},
  };
  for (const auto& [connection, expected] : rows) {
    Engine::Database db;
    EXPECT_EQ(ErrorOf([&] { db.Open(connection); }), expected);
    EXPECT_EQ(db.State(), Engine::kStateClosed);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing.mdb")));  // opening never creates a file
}

TEST_F(EngineTest, ProviderNameInAnyCase) {
  Engine::Database db;
  db.Open("provider=MICROSOFT.JET.OLEDB.4.0;Data Source=" + path_);
  EXPECT_EQ(db.State(), Engine::kStateOpen);
}

TEST_F(EngineTest, DetachedRowsOutliveTheirConnection) {
  Engine::Recordset recordset;
  {
    Engine::Database db;
    db.Open(ConnectionString(path_));
    recordset.Open("Select [Service], [ACTAP] From [Master] Order By [Service]", db, Engine::LockType::ReadOnly);
    recordset.Detach();
  }
  EXPECT_FALSE(recordset.IsAttached());
  EXPECT_EQ(recordset.Fields("service").Value(), Variant::Text("FEDEX-GND"));
  EXPECT_EQ(recordset.Fields("ACTAP").Value(), Variant::Currency(30));
  EXPECT_EQ(recordset.Fields(1).Type(), Engine::kTypeCurrency);
  EXPECT_EQ(ErrorOf([&] { recordset.Fields("Zone"); }), "3265: The column 'Zone' is not in the recordset.");
  EXPECT_EQ(ErrorOf([&] { recordset.AddNew(); }),
            "3027: The recordset is detached from its database; it cannot take new rows.");
}

TEST_F(EngineTest, NoRowsOpensAtEndAndValueThere) {
  Engine::Database db;
  db.Open(ConnectionString(path_));
  Engine::Recordset recordset;
  recordset.Open("Select Master.* From [Master] Where Service = 'NOPE'", db, Engine::LockType::ReadOnly);
  EXPECT_EQ(recordset.State(), Engine::kStateOpen);
  EXPECT_TRUE(recordset.IsEOF());
  EXPECT_EQ(recordset.FieldCount(), 6);
  EXPECT_EQ(ErrorOf([&] { recordset.Fields(0).Value(); }),
            "3021: There is no current record: the recordset is at its end (reading 'Service').");
}

// Declared types decide the Variant kind; a value that does not fit its
// column, and an expression, are read as what they hold.
TEST(EngineRead, TypesFromDeclarationOrValue) {
  TestSupport::TempDir dir;
  const std::string path = dir.File("odd.mdb");
  TestSupport::CreateDatabase(path, "CREATE TABLE t ([L] LONG, [D] DATETIME, [Y] YESNO, [B] BYTE, [M] MEMO);"
                                    "INSERT INTO t VALUES ('abc', 'next week', 1, 255, 123);");
  Engine::Database db;
  db.Open(ConnectionString(path));
  Engine::Recordset recordset;
  recordset.Open("Select L, D, Y, B, M, 1 + 1, 2.5, 'x', NULL, x'00ff' From t", db, Engine::LockType::ReadOnly);
  const std::pair<int, Variant> expected[] = {
      {Engine::kTypeInteger, Variant::Text("abc")},       {Engine::kTypeDate, Variant::Text("next week")},
      {Engine::kTypeBoolean, Variant::Bool(true)},        {Engine::kTypeUnsignedTinyInt, Variant::Byte(255)},
      {Engine::kTypeLongVarWChar, Variant::Text("123")},  {Engine::kTypeInteger, Variant::Int32(2)},
      {Engine::kTypeDouble, Variant::Double(2.5)},        {Engine::kTypeVarWChar, Variant::Text("x")},
      {Engine::kTypeVarWChar, Variant::Null()},           {Engine::kTypeLongVarBinary, Variant::Binary({0, 255})},
  };
  ASSERT_EQ(recordset.FieldCount(), 10);
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(recordset.Fields(i).Name());
    EXPECT_EQ(recordset.Fields(i).Type(), expected[i].first);
    EXPECT_EQ(recordset.Fields(i).Value(), expected[i].second);
  }
}

TEST_F(EngineTest, OpenRecordsetDoesNotBlockAWriteFromAnotherConnection) {
  Engine::Database reader;
  reader.Open(ConnectionString(path_));
  Engine::Recordset recordset;
  recordset.Open("Select PanelIndex From [Panel] Order By PanelIndex DESC", reader, Engine::LockType::Optimistic);
  const auto start = std::chrono::steady_clock::now();
  Execute("INSERT INTO [Panel] ([PanelIndex]) VALUES (13)");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(QueryRows(path_, "SELECT count(*) FROM Panel"), std::vector<std::string>{"3"});
}

// A separate process holds a write transaction for `holdMs`, then commits.
class LockHolder {
 public:
  LockHolder(const std::string& path, int holdMs) {
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      sqlite3* db = nullptr;
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
      sqlite3_exec(db, "BEGIN IMMEDIATE; INSERT INTO [Panel] ([PanelIndex]) VALUES (99);", nullptr, nullptr, nullptr);
      (void)!::write(ready[1], "x", 1);
      ::usleep(static_cast<useconds_t>(holdMs) * 1000);
      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_close(db);
      ::_exit(0);
    }
    char c;
    (void)!::read(ready[0], &c, 1);
    ::close(ready[0]);
    ::close(ready[1]);
  }
  ~LockHolder() { ::waitpid(pid_, nullptr, 0); }

 private:
  pid_t pid_ = -1;
};

TEST_F(EngineTest, WriteWaitsForAShortLockOfAnotherProcess) {
  LockHolder holder(path_, 1500);
  Execute("INSERT INTO [Panel] ([PanelIndex]) VALUES (13)");
  EXPECT_EQ(QueryRows(path_, "SELECT PanelIndex FROM Panel WHERE PanelIndex > 12 ORDER BY 1"),
            (std::vector<std::string>{"13", "99"}));
}

TEST_F(EngineTest, WriteGivesUpOnALongLockAsInUse) {
  const auto start = std::chrono::steady_clock::now();
  {
    LockHolder holder(path_, 6500);
    EXPECT_EQ(ErrorOf([&] { Execute("INSERT INTO [Panel] ([PanelIndex]) VALUES (13)"); }),
              "3045: The database '" + path_ + "' is in use by another program; try again when it is closed.");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4900));
  }
  EXPECT_EQ(QueryRows(path_, "SELECT count(*) FROM Panel WHERE PanelIndex = 13"), std::vector<std::string>{"0"});
}

TEST_F(EngineTest, ReadOnlyFileRefusesWritesAndChangesNothing) {
  ::chmod(path_.c_str(), 0444);
  const std::string before = TestSupport::ReadFile(path_);
  const std::string readOnly = "3051: The database '" + path_ + "' is read-only; the change was not saved.";
  EXPECT_EQ(ErrorOf([&] { Execute("UPDATE [Master] SET [ACTAP] = 40"); }), readOnly);
  EXPECT_EQ(Select("Select Top 1 [ZONE] From [TARNVEL-GND]"), std::vector<std::string>{"4"});  // still readable
  Engine::Database db;
  db.Open(ConnectionString(path_));
  Engine::Recordset recordset;
  recordset.Open("Select [LOZIP] From [TARNVEL-GND]", db, Engine::LockType::Optimistic);
  recordset.AddNew();
  recordset.SetValue(0, Variant::Int16(1));
  EXPECT_EQ(ErrorOf([&] { recordset.Update(); }), readOnly);
  EXPECT_EQ(TestSupport::ReadFile(path_), before);
}

class AddNewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestSupport::CreateDatabase(
        path_, "CREATE TABLE [Mixed] ([S] SHORT, [L] LONG, [B] BYTE, [D] DOUBLE, [C] CURRENCY, [T] DATETIME, "
               "[Y] YESNO, [X] TEXT(20) COLLATE NOCASE PRIMARY KEY, [M] MEMO COLLATE NOCASE)");
    db_.Open(ConnectionString(path_));
    recordset_.Open("Select * From [Mixed]", db_, Engine::LockType::Optimistic);
  }
  std::vector<std::string> Stored() { return QueryRows(path_, "SELECT * FROM Mixed"); }

  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("mixed.mdb");
  Engine::Database db_;
  Engine::Recordset recordset_;
};

// Each value goes into one column of a new row; "typeof|value" is what the
// file then holds, or the error names the column and nothing is stored.
TEST_F(AddNewTest, ConversionsIntoEveryColumnType) {
  enum { S, L, B, D, C, T, Y, X, M };
  struct Row {
    const char* name;
    int column;
    Variant value;
    std::string expected;
  };
  const Row rows[] = {
      {"short into SHORT", S, Variant::Int16(40), "integer|40"},
      {"numeric text into LONG", L, Variant::Text(" 12 "), "integer|12"},
      {"double into SHORT rounds half to even", S, Variant::Double(2.5), "integer|2"},
      {"boolean into LONG", L, Variant::Bool(true), "integer|-1"},
      {"double into CURRENCY", C, Variant::Double(0.5), "real|0.5"},
      {"CURRENCY keeps 4 decimals", C, Variant::Double(1.23456789), "real|1.2346"},
      {"boolean into DOUBLE", D, Variant::Bool(false), "real|0.0"},
      {"short into TEXT", X, Variant::Int16(7), "text|7"},
      {"double into TEXT", X, Variant::Double(0.5), "text|0.5"},
      {"boolean into TEXT", X, Variant::Bool(true), "text|True"},
      {"text True into YESNO", Y, Variant::Text("True"), "integer|-1"},
      {"text false into YESNO", Y, Variant::Text("false"), "integer|0"},
      {"number into YESNO", Y, Variant::Int16(5), "integer|-1"},
      {"m/d/yyyy into DATETIME", T, Variant::Text("1/2/2009"), "text|2009-01-02 00:00:00"},
      {"number into DATETIME", T, Variant::Int16(0), "text|1899-12-30 00:00:00"},
      {"text into MEMO", M, Variant::Text("a\rb"), "text|a\rb"},
      {"Null stores NULL", L, Variant::Null(), "null|NULL"},
      {"Empty stores NULL", S, Variant(), "null|NULL"},
      {"SP into CURRENCY", C, Variant::Text("SP"), "13: Type mismatch: the column 'C' cannot take the value 'SP'."},
      {"empty text into LONG", L, Variant::Text(""), "13: Type mismatch: the column 'L' cannot take the value ''."},
      {"maybe into YESNO", Y, Variant::Text("maybe"), "13: Type mismatch: the column 'Y' cannot take the value 'maybe'."},
      {"text into DATETIME", T, Variant::Text("soon"), "13: Type mismatch: the column 'T' cannot take the value 'soon'."},
      {"70000 into SHORT", S, Variant::Int32(70000), "6: Overflow: the value '70000' does not fit the column 'S'."},
      {"300 into BYTE", B, Variant::Text("300"), "6: Overflow: the value '300' does not fit the column 'B'."},
      {"-1 into BYTE", B, Variant::Int16(-1), "6: Overflow: the value '-1' does not fit the column 'B'."},
  };
  const char* names[] = {"S", "L", "B", "D", "C", "T", "Y", "X", "M"};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    db_.Execute("DELETE FROM [Mixed]");
    recordset_.Open("Select * From [Mixed]", db_, Engine::LockType::Optimistic);
    recordset_.AddNew();
    if (row.column != X) recordset_.SetValue(X, Variant::Text("key"));
    const std::string error = ErrorOf([&] {
      recordset_.SetValue(row.column, row.value);
      recordset_.Update();
    });
    recordset_.Close();
    const std::string column = names[row.column];
    const auto stored =
        QueryRows(path_, "SELECT typeof([" + column + "]) || '|' || ifnull([" + column + "], 'NULL') FROM Mixed");
    if (error == "no error") {
      EXPECT_EQ(stored, std::vector<std::string>{row.expected});
    } else {
      EXPECT_EQ(error, row.expected);
      EXPECT_TRUE(stored.empty());
    }
  }
}

TEST_F(AddNewTest, StoredRowReadsBackInItsTypes) {
  recordset_.AddNew();
  recordset_.SetValue(0, Variant::Text("-3"));
  recordset_.SetValue(6, Variant::Bool(true));
  recordset_.SetValue(7, Variant::Text("key"));
  EXPECT_EQ(recordset_.Fields("s").Value(), Variant::Int16(-3));  // the pending row
  recordset_.Update();
  Engine::Recordset check;
  check.Open("Select * From [Mixed]", db_, Engine::LockType::ReadOnly);
  EXPECT_EQ(Rows(check), std::vector<std::string>{"-3|NULL|NULL|NULL|NULL|NULL|True|key|NULL"});
}

TEST_F(AddNewTest, RowNeverStoredIsDroppedAtClose) {
  recordset_.AddNew();
  recordset_.SetValue(7, Variant::Text("key"));
  recordset_.Close();
  EXPECT_TRUE(Stored().empty());
}

TEST_F(AddNewTest, ConstraintRefusalStoresNothingMore) {
  db_.Execute("INSERT INTO [Mixed] ([X]) VALUES ('key')");
  recordset_.AddNew();
  recordset_.SetValue(7, Variant::Text("KEY"));
  EXPECT_EQ(ErrorOf([&] { recordset_.Update(); }),
            "3022: The database '" + path_ +
                "' refused the change (UNIQUE constraint failed: Mixed.X); nothing was changed.");
  EXPECT_EQ(Stored().size(), 1u);
}

TEST_F(AddNewTest, ReadOnlyRecordsetCannotAdd) {
  Engine::Recordset readOnly;
  readOnly.Open("Select * From [Mixed]", db_, Engine::LockType::ReadOnly);
  EXPECT_EQ(ErrorOf([&] { readOnly.AddNew(); }), "3027: The recordset is read-only; it cannot take new rows.");
}

}  // namespace
