// A scratch file's statements skip the disk one by one; what they leave in
// the file, and what other files keep, must not change for it.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Engine.h"
#include "RunError.h"
#include "TestSupport.h"

namespace {

using TestSupport::QueryRows;
using Rows = std::vector<std::string>;

constexpr const char* kZonesSql = "CREATE TABLE [TARNVEL-GND] ([LOZIP] LONG, [HIZIP] LONG, [ZONE] SHORT);";

std::string ConnectionString(const std::string& path) { return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path; }

// Runs one statement on a connection of its own, as every caller does;
// answers "number: description" of the error, or "ok".
std::string Execute(const std::string& path, const std::string& sql) try {
  Engine::Database db;
  db.Open(ConnectionString(path));
  db.Execute(sql);
  return "ok";
} catch (const Platform::RunError& error) {
  return std::to_string(error.Number()) + ": " + error.Description();
}

// The zone rows as the engine reads them on a connection of its own.
Rows EngineRows(const std::string& path) {
  Engine::Database db;
  db.Open(ConnectionString(path));
  Engine::Recordset recordset;
  recordset.Open("Select [LOZIP], [ZONE] From [TARNVEL-GND] Order By [LOZIP]", db, Engine::LockType::ReadOnly);
  Rows rows;
  for (; !recordset.IsEOF(); recordset.MoveNext()) {
    rows.push_back(recordset.Fields(0).Value().ToText() + "|" + recordset.Fields(1).Value().ToText());
  }
  return rows;
}

std::string Insert(int loZip, int zone) {
  return "INSERT INTO [TARNVEL-GND] ([LOZIP], [HIZIP], [ZONE]) VALUES (" + std::to_string(loZip) + ", " +
         std::to_string(loZip + 99) + ", " + std::to_string(zone) + ")";
}

class ScratchFile : public ::testing::Test {
 protected:
  void SetUp() override { TestSupport::CreateDatabase(zones_, kZonesSql); }
  Rows FileRows(const std::string& path) const {
    return QueryRows(path, "SELECT LOZIP, ZONE FROM [TARNVEL-GND] ORDER BY LOZIP");
  }

  TestSupport::TempDir dir_;
  const std::string zones_ = dir_.File("TarnVel_Zones.mdb");
};

TEST_F(ScratchFile, RowsBeforeAFailureStayAndTheFlushedFileIsCompleteAlone) {
  {
    Engine::ScratchFile scratch(zones_);
    EXPECT_EQ(Execute(zones_, Insert(100, 2)), "ok");
    EXPECT_EQ(Execute(zones_, Insert(200, 3)), "ok");
    // Every connection of the program sees the rows at once.
    EXPECT_EQ(EngineRows(zones_), (Rows{"100|2", "200|3"}));
    EXPECT_EQ(Execute(zones_, "INSERT INTO [TARNVEL-GND] ([LOZIP], [ZONEX]) VALUES (300, 4)"),
              "3265: The column 'ZONEX' does not exist in the table 'TARNVEL-GND' of '" + zones_ + "'.");
    EXPECT_EQ(Execute(zones_, "INSERT INTO [TARNVEL-GND] ([LOZIP], [ZONE]) VALUES (300, 'x' + )").substr(0, 5),
              "3075:");
    EXPECT_EQ(EngineRows(zones_), (Rows{"100|2", "200|3"}));
    EXPECT_EQ(Execute(zones_, Insert(400, 5)), "ok");
    scratch.Flush();
    // After the flush the file alone is the whole database: a plain copy
    // of it holds every row, and no journal lies beside it.
    const std::string copy = dir_.File("copy.mdb");
    std::filesystem::copy_file(zones_, copy);
    EXPECT_EQ(FileRows(copy), (Rows{"100|2", "200|3", "400|5"}));
    EXPECT_FALSE(std::filesystem::exists(zones_ + "-journal"));
    // Still scratch after a flush: the next statement opens afresh.
    EXPECT_EQ(Execute(zones_, Insert(500, 6)), "ok");
  }
  EXPECT_EQ(QueryRows(zones_, "SELECT count(*) FROM [TARNVEL-GND]"), Rows{"4"});
}

TEST_F(ScratchFile, AFileReplacedByACopyIsReadAfreshNotThroughTheOldConnection) {
  const std::string empty = dir_.File("TarnVel_Zones_Empty.mdb");
  TestSupport::CreateDatabase(empty, std::string(kZonesSql) + "INSERT INTO [TARNVEL-GND] VALUES (900, 999, 8);");
  Engine::ScratchFile scratch(zones_);
  ASSERT_EQ(Execute(zones_, Insert(100, 2)), "ok");
  ASSERT_EQ(EngineRows(zones_), Rows{"100|2"});

  // Replaced the way the installation rebuilds it: a new file renamed over it.
  std::filesystem::copy_file(empty, zones_ + ".new");
  std::filesystem::rename(zones_ + ".new", zones_);
  EXPECT_EQ(EngineRows(zones_), Rows{"900|8"});
  EXPECT_EQ(Execute(zones_, Insert(200, 3)), "ok");
  scratch.Flush();
  EXPECT_EQ(FileRows(zones_), (Rows{"200|3", "900|8"}));

  // A file that is gone is an error as ever, and flushing it is fine.
  std::filesystem::remove(zones_);
  EXPECT_EQ(Execute(zones_, Insert(300, 4)), "3024: Could not find file '" + zones_ + "'.");
  EXPECT_NO_THROW(scratch.Flush());
}

TEST_F(ScratchFile, OtherFilesStillCommitEveryStatementAtOnce) {
  const std::string host = dir_.File("Mailvoro.mdb");
  TestSupport::CreateDatabase(host, kZonesSql);
  Engine::ScratchFile scratch(zones_);
  ASSERT_EQ(Execute(zones_, Insert(100, 2)), "ok");
  // Another program reads the host's change the moment the call returns,
  // and the host file is never left locked between calls.
  ASSERT_EQ(Execute(host, Insert(700, 7)), "ok");
  EXPECT_EQ(FileRows(host), Rows{"700|7"});
  EXPECT_FALSE(std::filesystem::exists(host + "-journal"));
  ASSERT_EQ(Execute(host, Insert(800, 8)), "ok");
  EXPECT_EQ(QueryRows(host, "SELECT count(*) FROM [TARNVEL-GND]"), Rows{"2"});
}

TEST_F(ScratchFile, AReadOnlyScratchFileRefusesChangesAsAnyOther) {
  std::filesystem::permissions(zones_, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  Engine::ScratchFile scratch(zones_);
  EXPECT_EQ(Execute(zones_, Insert(100, 2)),
            "3051: The database '" + zones_ + "' is read-only; the change was not saved.");
  EXPECT_EQ(EngineRows(zones_), Rows{});
  EXPECT_NO_THROW(scratch.Flush());
}

// A refused statement stores nothing, and the rows before it stay whatever
// conflict clause refused it, also past the bound at which the shared
// transaction commits on its own.
TEST(ScratchFileRefused, RowsBeforeTheRefusalStay) {
  const struct {
    const char* name;
    std::string schema;
    const char* refused;
    int before = 10;  // rows imported before the refusal
  } rows[] = {
      {"rollback clause, past the bound of a commit", "CREATE TABLE [TARNVEL-GND] ([LOZIP] LONG NOT NULL ON CONFLICT ROLLBACK, [HIZIP] LONG, [ZONE] SHORT)",
       "INSERT INTO [TARNVEL-GND] ([LOZIP]) VALUES (NULL)", 5100},
      {"rollback trigger",
       std::string(kZonesSql) + "CREATE TRIGGER [No9] BEFORE INSERT ON [TARNVEL-GND] WHEN new.[ZONE] = 9 BEGIN "
                                "SELECT RAISE(ROLLBACK, 'zone 9 is not served'); END;",
       "INSERT INTO [TARNVEL-GND] ([LOZIP], [ZONE]) VALUES (1, 9)"},
      {"abort clause", std::string(kZonesSql) + "CREATE UNIQUE INDEX [One] ON [TARNVEL-GND] ([LOZIP]);",
       "INSERT INTO [TARNVEL-GND] ([LOZIP]) VALUES (100)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSupport::TempDir dir;
    const std::string zones = dir.File("TarnVel_Zones.mdb");
    TestSupport::CreateDatabase(zones, row.schema);
    {
      Engine::ScratchFile scratch(zones);
      for (int zip = 100; zip < 100 + row.before; ++zip) ASSERT_EQ(Execute(zones, Insert(zip, 2)), "ok");
      const std::string error = Execute(zones, row.refused);
      EXPECT_TRUE(error.starts_with("3022: The database '" + zones + "' refused the change")) << error;
      EXPECT_TRUE(error.ends_with("; the statement stored nothing.")) << error;
      ASSERT_EQ(Execute(zones, Insert(9000, 3)), "ok");
    }
    EXPECT_EQ(QueryRows(zones, "SELECT count(*), max(LOZIP) FROM [TARNVEL-GND]"),
              Rows{std::to_string(row.before + 1) + "|9000"});
  }
}

}  // namespace
