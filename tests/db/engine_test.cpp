#include "Engine.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "Dialect.h"
#include "RunError.h"
#include "TestSupport.h"

namespace {

using Db::Variant;
using TestSupport::QueryRows;

constexpr const char* kHostSql = R"(
CREATE TABLE [Master] ([Service] TEXT(20) COLLATE NOCASE NOT NULL PRIMARY KEY, [Shipper#] LONG DEFAULT 0,
  [ACTAP] CURRENCY, [AP] CURRENCY, [Last Updated] DATETIME);
INSERT INTO [Master] VALUES ('FEDEX-GND', 12, 30, 30, '2009-01-02 00:00:00'),
  ('TARNVEL-GND', 0, 10, 10, '2009-01-02 10:30:00');
CREATE TABLE [TARNVEL-GND] ([LOZIP] LONG, [HIZIP] LONG, [ZONE] SHORT);
INSERT INTO [TARNVEL-GND] VALUES (1000, 1999, 4), (2000, 2999, 5), (3000, 3999, 5);
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

// Every row of an open recordset, values joined by '|', rows by ','.
std::string Rows(Engine::Recordset& recordset) {
  std::string rows;
  for (; !recordset.IsEOF(); recordset.MoveNext()) {
    for (int i = 0; i < recordset.FieldCount(); ++i) {
      const Variant value = recordset.Fields(i).Value();
      rows += (i ? "|" : rows.empty() ? "" : ",") + (value.IsNull() ? "NULL" : value.ToText());
    }
  }
  return rows;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { TestSupport::CreateDatabase(path_, kHostSql); }
  void Execute(const std::string& sql) {
    Engine::Database db;
    db.Open(ConnectionString(path_));
    db.Execute(sql);
  }
  std::vector<std::string> Check(const std::string& sql) const { return QueryRows(path_, sql); }

  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("Mailvoro.mdb");
};

// The statements the installation writes and the dialect around them: a
// query's rows, or the error; a statement's error, or what `check` (plain
// SQLite) then finds ("{db}" stands for the file's path).
TEST_F(EngineTest, DialectTable) {
  const struct {
    const char* sql;
    std::string expected;
    const char* check = nullptr;
  } rows[] = {
      {"Select [Service] From [Master] Where [Service] = 'tarnvel-gnd'", "TARNVEL-GND"},
      {"Select Top 1 [LBS] From [TARNVEL-GND]", "3265: The column 'LBS' does not exist in '{db}'."},
      {"Select [ZONE] From [TARNVEL-GND] Where [LOZIP] <= 01234 And [HIZIP] >= 01234", "4"},
      {"INSERT INTO [TARNVEL-GND] ([LOZIP], [HIZIP], [ZONE]) VALUES (005, 009, 2)", "5|9|2",
       "SELECT * FROM [TARNVEL-GND] WHERE [ZONE] = 2"},
      {"UPDATE [Master] SET [ACTAP] = 40, [AP] = 40 WHERE Service = 'TARNVEL-GND'", "TARNVEL-GND|40|40",
       "SELECT Service, ACTAP, AP FROM Master WHERE ACTAP = 40"},
      {"sElEcT Distinct tOp 2 [ZONE] fRoM [TARNVEL-GND] oRdEr bY 1 dEsC", "5,4"},
      {"Select [Service] From [Master] Where [ACTAP] = (Select Top 1 [ACTAP] From [Master] Order By [ACTAP] DESC)",
       "FEDEX-GND"},
      {"Select [Shipper#] From [Master] Where [Last Updated] = #1/2/2009#", "12"},
      {"Select [Service] From [Master] Where [Last Updated] > #2009-01-02#", "TARNVEL-GND"},
      {"UPDATE [Master] SET [ACTAP] = 1; DELETE FROM [Master]",
       "3142: Only one statement can be run at a time: 'UPDATE [Master] SET [ACTAP] = 1; DELETE FROM [Master]' holds "
       "more; nothing was run.",
       "SELECT Service FROM Master WHERE ACTAP = 1"},
      {"Select * From [Nope]", "3078: The table 'Nope' does not exist in '{db}'."},
      {"INSERT INTO [TARNVEL-GND] ([ZIP]) VALUES (1)",
       "3265: The column 'ZIP' does not exist in the table 'TARNVEL-GND' of '{db}'."},
      {"Select * From [Master] Where [Last Updated] = #2/30/2009#",
       "3075: Syntax error in a date in the statement 'Select * From [Master] Where [Last Updated] = #2/30/2009#'."},
      {"Select From Where", "3075: Syntax error in the statement 'Select From Where' (near \"From\": syntax error)."},
      {"ATTACH DATABASE 'other.db' AS other",
       "3075: The statement 'ATTACH DATABASE 'other.db' AS other' is not allowed; only SELECT, INSERT, UPDATE, "
       "DELETE, CREATE, DROP and ALTER statements can be run."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.sql);
    std::string got;
    const std::string sql = row.sql, error = ErrorOf([&] {
      Engine::Database db;
      db.Open(ConnectionString(path_));
      if (sql.starts_with("S") || sql.starts_with("s")) {
        Engine::Recordset recordset;
        recordset.Open(sql, db, Engine::LockType::ReadOnly);
        got = Rows(recordset);
      } else {
        db.Execute(sql);
      }
    });
    if (row.check) {  // what the file then holds; undone for the next row
      const auto found = Check(row.check);
      got = found.empty() ? "nothing" : found[0];
      std::filesystem::remove(path_);
      TestSupport::CreateDatabase(path_, kHostSql);
      EXPECT_TRUE(error == "no error" || found.empty()) << "nothing may have run";
    }
    if (error != "no error") got = error;
    if (const auto at = got.find(path_); at != std::string::npos) got.replace(at, path_.size(), "{db}");
    EXPECT_EQ(got, row.expected);
  }
}

TEST(TranslateSql, RewritesOnlyOutsideTextAndNames) {
  const std::pair<const char*, const char*> rows[] = {
      {"Select * From [T] Where D = #1/2/2009 1:05:09 pm#", "Select * From [T] Where D = '2009-01-02 13:05:09'"},
      {"Select [Top 1], '#1/2/2009#', [Shipper#] From [Top 1]", "Select [Top 1], '#1/2/2009#', [Shipper#] From [Top 1]"},
      {"Select 'it''s', [a]]b] From t", "Select 'it''s', [a]]b] From t"},
      {"Select Top 3 a From t -- last", "Select a From t -- last\nLIMIT 3"},
      {"Select x From t;", "Select x From t"},
  };
  for (const auto& [in, out] : rows) EXPECT_EQ(Dialect::TranslateSql(in), out) << in;
}

TEST(EngineOpen, ErrorsNameThePathAndTheReason) {
  TestSupport::TempDir dir;
  const std::string text = dir.File("notes.mdb"), empty = dir.File("empty.mdb"), locked = dir.File("locked.mdb");
  const std::string older = dir.File("older.mdb");
  TestSupport::WriteFile(text, "This is not a database, it is a note about one.\n");
  TestSupport::WriteFile(older, std::string("\0\1\0\0Standard ACE DB\0", 20) + std::string(2028, '\x5a'));
  TestSupport::WriteFile(empty, "");
  TestSupport::CreateDatabase(locked, "CREATE TABLE t (a)");
  ::chmod(locked.c_str(), 0);
  const std::pair<std::string, std::string> rows[] = {
      {"provider=MICROSOFT.JET.OLEDB.4.0;Data Source=" + dir.File("missing.mdb"),
       "3024: Could not find file '" + dir.File("missing.mdb") + "'."},
      {ConnectionString(dir.Path().string()),
       "3044: The path '" + dir.Path().string() + "' is a folder, not a database file."},
      {ConnectionString(text), "3343: The file '" + text + "' is not a database, or it is damaged."},
      {ConnectionString(empty), "3343: The file '" + empty + "' is not a database (it is empty)."},
      {ConnectionString(older), "3343: The file '" + older + "' is a shop database in the host's older desktop format "
                                "(\"Standard ACE DB\"); this program works on the SQLite form of the shop database only."},
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

TEST_F(EngineTest, DetachedRowsAndEndOfRows) {
  Engine::Recordset recordset, none;
  {
    Engine::Database db;
    db.Open(ConnectionString(path_));
    recordset.Open("Select [Service], [ACTAP] From [Master] Order By [Service]", db, Engine::LockType::ReadOnly);
    recordset.Detach();
    none.Open("Select Master.* From [Master] Where Service = 'NOPE'", db, Engine::LockType::ReadOnly);
    EXPECT_TRUE(none.State() == Engine::kStateOpen && none.IsEOF());
    EXPECT_EQ(none.FieldCount(), 5);
    EXPECT_EQ(ErrorOf([&] { none.Fields(0).Value(); }),
              "3021: There is no current record: the recordset is at its end (reading 'Service').");
  }
  EXPECT_FALSE(recordset.IsAttached());
  EXPECT_EQ(recordset.Fields("service").Value(), Variant::Text("FEDEX-GND"));
  EXPECT_EQ(recordset.Fields("ACTAP").Value(), Variant::Currency(30));
  EXPECT_EQ(recordset.Fields(1).Type(), ColumnTypes::kTypeCurrency);
  EXPECT_EQ(ErrorOf([&] { recordset.Fields("Zone"); }), "3265: The column 'Zone' is not in the recordset.");
  EXPECT_EQ(ErrorOf([&] { recordset.AddNew(); }),
            "3027: The recordset is detached from its database; it cannot take new rows.");
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
  recordset.Open("Select L, D, Y, B, M, 1 + 1, 2.5, NULL, x'00ff' From t", db, Engine::LockType::ReadOnly);
  const std::pair<int, Variant> expected[] = {
      {ColumnTypes::kTypeInteger, Variant::Text("abc")},      {ColumnTypes::kTypeDate, Variant::Text("next week")},
      {ColumnTypes::kTypeBoolean, Variant::Bool(true)},       {ColumnTypes::kTypeUnsignedTinyInt, Variant::Byte(255)},
      {ColumnTypes::kTypeLongVarWChar, Variant::Text("123")}, {ColumnTypes::kTypeInteger, Variant::Int32(2)},
      {ColumnTypes::kTypeDouble, Variant::Double(2.5)},       {ColumnTypes::kTypeVarWChar, Variant::Null()},
      {ColumnTypes::kTypeLongVarBinary, Variant::Binary({0, 255})},
  };
  ASSERT_EQ(recordset.FieldCount(), 9);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(recordset.Fields(i).Type(), expected[i].first) << i;
    EXPECT_EQ(recordset.Fields(i).Value(), expected[i].second) << i;
  }
}

// Another process holds a write transaction for `holdMs`, then commits;
// the returned process is to be waited for.
pid_t HoldWriteLock(const std::string& path, int holdMs) {
  int ready[2];
  if (::pipe(ready) != 0) throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid == 0) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "BEGIN IMMEDIATE; INSERT INTO [TARNVEL-GND] ([ZONE]) VALUES (99);", nullptr, nullptr, nullptr);
    (void)!::write(ready[1], "x", 1);
    ::usleep(static_cast<useconds_t>(holdMs) * 1000);
    ::_exit(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr));
  }
  char c;
  (void)!::read(ready[0], &c, 1);
  ::close(ready[0]);
  ::close(ready[1]);
  return pid;
}

// An open recordset blocks nobody; another program's short write lock is
// waited for, a long one ends as "in use" with nothing written.
TEST_F(EngineTest, LocksOfOtherConnections) {
  Engine::Database reader;
  reader.Open(ConnectionString(path_));
  Engine::Recordset recordset;
  recordset.Open("Select [ZONE] From [TARNVEL-GND] Order By [ZONE] DESC", reader, Engine::LockType::Optimistic);
  Execute("INSERT INTO [TARNVEL-GND] ([ZONE]) VALUES (13)");
  recordset.Close();

  pid_t holder = HoldWriteLock(path_, 1500);
  Execute("INSERT INTO [TARNVEL-GND] ([ZONE]) VALUES (14)");
  ::waitpid(holder, nullptr, 0);
  EXPECT_EQ(Check("SELECT ZONE FROM [TARNVEL-GND] WHERE ZONE > 12 ORDER BY 1"),
            (std::vector<std::string>{"13", "14", "99"}));

  holder = HoldWriteLock(path_, 6500);
  EXPECT_EQ(ErrorOf([&] { Execute("INSERT INTO [TARNVEL-GND] ([ZONE]) VALUES (15)"); }),
            "3045: The database '" + path_ + "' is in use by another program; try again when it is closed.");
  ::waitpid(holder, nullptr, 0);
  EXPECT_EQ(Check("SELECT count(*) FROM [TARNVEL-GND] WHERE ZONE = 15"), std::vector<std::string>{"0"});
}

TEST_F(EngineTest, ReadOnlyFileRefusesWritesAndChangesNothing) {
  ::chmod(path_.c_str(), 0444);
  const std::string before = TestSupport::ReadFile(path_);
  const std::string readOnly = "3051: The database '" + path_ + "' is read-only; the change was not saved.";
  EXPECT_EQ(ErrorOf([&] { Execute("UPDATE [Master] SET [ACTAP] = 40"); }), readOnly);
  Engine::Database db;
  db.Open(ConnectionString(path_));
  Engine::Recordset recordset;
  recordset.Open("Select [LOZIP] From [TARNVEL-GND]", db, Engine::LockType::Optimistic);
  EXPECT_EQ(recordset.Fields(0).Value(), Variant::Int32(1000));  // still readable
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

  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("mixed.mdb");
  Engine::Database db_;
  Engine::Recordset recordset_;
};

TEST_F(AddNewTest, PendingRowReadsBackAndOnlyUpdateStoresIt) {
  recordset_.AddNew();
  recordset_.SetValue(7, Variant::Text("never"));
  recordset_.Close();  // never stored: dropped
  recordset_.Open("Select * From [Mixed]", db_, Engine::LockType::Optimistic);
  recordset_.AddNew();
  recordset_.SetValue(0, Variant::Text("-3"));
  recordset_.SetValue(6, Variant::Bool(true));
  recordset_.SetValue(7, Variant::Text("key"));
  EXPECT_EQ(recordset_.Fields("s").Value(), Variant::Int16(-3));
  recordset_.Update();
  Engine::Recordset check;
  check.Open("Select * From [Mixed]", db_, Engine::LockType::ReadOnly);
  EXPECT_EQ(Rows(check), "-3|NULL|NULL|NULL|NULL|NULL|True|key|NULL");
}

TEST_F(AddNewTest, RefusedRowStoresNothing) {
  db_.Execute("INSERT INTO [Mixed] ([X]) VALUES ('key')");
  recordset_.AddNew();
  recordset_.SetValue(7, Variant::Text("KEY"));
  EXPECT_EQ(ErrorOf([&] { recordset_.Update(); }),
            "3022: The database '" + path_ +
                "' refused the change (UNIQUE constraint failed: Mixed.X); the statement stored nothing.");
  EXPECT_EQ(QueryRows(path_, "SELECT count(*) FROM Mixed"), std::vector<std::string>{"1"});
  Engine::Recordset readOnly;
  readOnly.Open("Select * From [Mixed]", db_, Engine::LockType::ReadOnly);
  EXPECT_EQ(ErrorOf([&] { readOnly.AddNew(); }), "3027: The recordset is read-only; it cannot take new rows.");
}

}  // namespace
