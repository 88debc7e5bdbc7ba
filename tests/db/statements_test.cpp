// What a value becomes in its column, written by an INSERT, an UPDATE and a
// recordset alike; and the files the engine must open as they are: a path
// of thousands of bytes, a WAL file that another connection holds open.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Engine.h"
#include "RunError.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Db::Variant;
using Rows = std::vector<std::string>;

std::string ConnectionString(const std::string& path) { return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path; }

// "number: description" of the error `body` raises, or "ok".
std::string Outcome(const std::function<void()>& body) {
  try {
    body();
  } catch (const Platform::RunError& error) {
    return std::to_string(error.Number()) + ": " + error.Description();
  }
  return "ok";
}

class StatementsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestSupport::CreateDatabase(
        path_, "CREATE TABLE [W] ([K] LONG PRIMARY KEY, [S] SHORT, [L] LONG, [B] BYTE, [C] CURRENCY, [T] DATETIME, "
               "[Y] YESNO, [X] TEXT COLLATE NOCASE, [G] BLOB);"
               "CREATE TRIGGER [Ignore] BEFORE INSERT ON [W] WHEN new.[K] = 99 BEGIN SELECT RAISE(IGNORE); END;");
    db_.Open(ConnectionString(path_));
  }
  // "typeof|quote" of column `column` in row `key`, or "no row".
  std::string Stored(const std::string& column, int key) const {
    const Rows rows = TestSupport::QueryRows(
        path_, "SELECT typeof([" + column + "]) || '|' || quote([" + column + "]) FROM W WHERE K = " +
                   std::to_string(key));
    return rows.empty() ? "no row" : rows[0];
  }

  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("typed.mdb");
  Engine::Database db_;
};

// Each value goes into its column by an INSERT (row 2), an UPDATE of row 1
// and a recordset's new row (row 3): all three store the same, or all three
// fail with the same error naming the column and store nothing.
TEST_F(StatementsTest, EveryWriteConvertsToTheDeclaredType) {
  const struct {
    const char* column;
    const char* sql;  // the value as a statement writes it; nullptr: the recordset alone
    Variant value;    // as a recordset assignment; Empty: the statements alone
    std::string stored;
  } rows[] = {
      {"L", "' 12 '", Variant::Text(" 12 "), "integer|12"},
      {"S", "2.5", Variant::Double(2.5), "integer|2"},
      {"L", "0500.5", Variant::Double(500.5), "integer|500"},
      {"L", nullptr, Variant::Bool(true), "integer|-1"},
      {"C", "1.23456789", Variant::Double(1.23456789), "real|1.2346"},
      {"X", "5", Variant::Int16(5), "text|'5'"},
      {"X", nullptr, Variant::Bool(true), "text|'True'"},
      {"Y", "'True'", Variant::Text("True"), "integer|-1"},
      {"Y", "40", Variant::Int16(40), "integer|-1"},
      {"Y", "0", Variant::Int16(0), "integer|0"},
      {"T", "#1/2/2009#", Variant::Text("1/2/2009"), "text|'2009-01-02 00:00:00'"},
      {"T", "0", Variant::Int16(0), "text|'1899-12-30 00:00:00'"},
      {"L", "NULL", Variant::Null(), "null|NULL"},
      {"G", "x''", Variant::Binary({}), "blob|X''"},
      {"S", "(SELECT 3 + 0.5)", Variant(), "integer|4"},
      {"C", "'SP'", Variant::Text("SP"), "13: Type mismatch: the column 'C' cannot take the value 'SP'."},
      {"L", "''", Variant::Text(""), "13: Type mismatch: the column 'L' cannot take the value ''."},
      {"Y", "'maybe'", Variant::Text("maybe"), "13: Type mismatch: the column 'Y' cannot take the value 'maybe'."},
      {"T", "'soon'", Variant::Text("soon"), "13: Type mismatch: the column 'T' cannot take the value 'soon'."},
      {"S", "70000", Variant::Int32(70000), "6: Overflow: the value '70000' does not fit the column 'S'."},
      {"B", "-1", Variant::Int16(-1), "6: Overflow: the value '-1' does not fit the column 'B'."},
      {"L", "1e400", Variant(), "6: Overflow: the value 'inf' does not fit the column 'L'."},
      {"S", "(SELECT 70000)", Variant(), "6: Overflow: the value '70000' does not fit the column 'S'."},
  };
  const std::string columns = "KSLBCTYXG";
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.column) + " = " + (row.sql ? row.sql : row.value.ToText()));
    db_.Execute("DELETE FROM [W]");
    db_.Execute("INSERT INTO [W] ([K]) VALUES (1)");
    const bool fails = row.stored.find(": ") != std::string::npos;
    const auto check = [&](const std::string& outcome, int key, const std::string& untouched) {
      EXPECT_EQ(outcome, fails ? row.stored : "ok") << "row " << key;
      EXPECT_EQ(Stored(row.column, key), fails ? untouched : row.stored) << "row " << key;
    };
    if (row.sql) {
      const std::string column = std::string("[") + row.column + "]";
      check(Outcome([&] { db_.Execute("INSERT INTO [W] ([K], " + column + ") VALUES (2, " + row.sql + ")"); }), 2,
            "no row");
      check(Outcome([&] { db_.Execute("UPDATE [W] SET " + column + " = " + row.sql + " WHERE [K] = 1"); }), 1,
            "null|NULL");
    }
    if (row.value.IsEmpty()) continue;
    Engine::Recordset recordset;
    recordset.Open("Select * From [W]", db_, Engine::LockType::Optimistic);
    check(Outcome([&] {
            recordset.AddNew();
            recordset.SetValue(0, Variant::Int16(3));
            recordset.SetValue(static_cast<int>(columns.find(row.column[0])), row.value);
            recordset.Update();
          }),
          3, "no row");
  }
}

TEST_F(StatementsTest, ARowATriggerIgnoresIsAnError) {
  const std::string ignored = "3022: The table 'W' of '" + path_ +
                              "' stored no row: a trigger or a conflict clause of the table ignored it.";
  EXPECT_EQ(Outcome([&] { db_.Execute("INSERT INTO [W] ([K], [L]) VALUES (99, 1)"); }), ignored);
  Engine::Recordset recordset;
  recordset.Open("Select [K] From [W]", db_, Engine::LockType::Optimistic);
  EXPECT_EQ(Outcome([&] {
              recordset.AddNew();
              recordset.SetValue(0, Variant::Int16(99));
              recordset.Update();
            }),
            ignored);
  // An UPDATE that matches no row is no failure.
  EXPECT_EQ(Outcome([&] { db_.Execute("UPDATE [W] SET [L] = 1 WHERE [K] = 99"); }), "ok");
}

// The host's file in WAL mode, at the end of a path of about 4,000 bytes
// (far over SQLite's own limit of 512), and beside it one with a rollback
// journal: each is written and read back, its journal beside it, and a
// WAL file stays in WAL mode although another connection holds it open.
TEST(EngineFiles, LongPathsAndWalFilesOpenAsTheyAre) {
  TestSupport::TempDir dir, aliases;
  ::setenv("TMPDIR", aliases.Path().c_str(), 1);
  fs::path folder = dir.Path();
  while (folder.string().size() < 3950) folder /= std::string(250, 'd');
  fs::create_directories(folder);
  for (const char* mode : {"DELETE", "WAL"}) {
    SCOPED_TRACE(mode);
    const std::string made = dir.File(std::string(mode) + ".mdb");
    const std::string path = (folder / (std::string(mode) + ".mdb")).string();
    TestSupport::CreateDatabase(made, std::string("PRAGMA journal_mode=") + mode + "; CREATE TABLE [T] ([V] LONG);");
    fs::rename(made, path);
    ASSERT_GT(path.size(), 3950u);

    sqlite3* raw = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr), SQLITE_CANTOPEN) << "too long";
    sqlite3_close(raw);
    Engine::Database db;
    db.Open(ConnectionString(path));
    db.Execute("INSERT INTO [T] ([V]) VALUES (7)");
    // The WAL lies beside the real file while the connection is open.
    EXPECT_EQ(fs::exists(path + "-wal"), std::string(mode) == "WAL");
    Engine::Database second;  // a second connection while the first is open
    second.Open(ConnectionString(path));
    second.Execute("INSERT INTO [T] ([V]) VALUES (8)");
    Engine::Recordset recordset;
    recordset.Open("Select Sum([V]) From [T]", second, Engine::LockType::ReadOnly);
    EXPECT_EQ(recordset.Fields(0).Value(), Variant::Int32(15));
    db.Close();
    second.Close();
    recordset.Close();
    EXPECT_FALSE(fs::exists(path + "-journal"));
    EXPECT_EQ(TestSupport::ReadFile(path).substr(18, 2), std::string(mode) == "WAL" ? "\2\2" : "\1\1");
    EXPECT_TRUE(fs::is_empty(aliases.Path())) << "every alias is removed with its connection";
  }
  ::unsetenv("TMPDIR");

  // An idle connection of the host application to its WAL file does not
  // stop a write, and the file stays in WAL mode.
  const std::string host = dir.File("host.mdb");
  TestSupport::CreateDatabase(host, "PRAGMA journal_mode=WAL; CREATE TABLE [T] ([V] LONG);");
  sqlite3* idle = nullptr;
  ASSERT_EQ(sqlite3_open(host.c_str(), &idle), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(idle, "SELECT count(*) FROM T", nullptr, nullptr, nullptr), SQLITE_OK);
  Engine::Database db;
  db.Open(ConnectionString(host));
  EXPECT_EQ(Outcome([&] { db.Execute("INSERT INTO [T] ([V]) VALUES (1)"); }), "ok");
  db.Close();
  EXPECT_EQ(TestSupport::QueryRows(host, "PRAGMA journal_mode"), Rows{"wal"});
  sqlite3_close(idle);
}

}  // namespace
