// The files the engine must open as they are: paths of thousands of bytes,
// in WAL mode or with a rollback journal. (A WAL file that the host
// application holds open is a row of the places case file.)
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "Engine.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Db::Variant;

std::string ConnectionString(const std::string& path) { return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path; }

// The host's file in WAL mode, at the end of a path of about 4,000 bytes
// (far over SQLite's own limit of 512), and beside it one with a rollback
// journal: each is written and read back, its journal beside it, while a
// second connection holds it open.
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
}

}  // namespace
