#include "Connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TestSupport.h"

namespace {

using Platform::UiEvent;
using TestSupport::QueryRows;

constexpr const char* kHostSql = R"(
  CREATE TABLE [Panel] (PanelIndex INTEGER, SV1 TEXT COLLATE NOCASE, SV7 TEXT COLLATE NOCASE);
  INSERT INTO [Panel] VALUES (1, 'FEDEX-GND', NULL), (2, 'UPS-GND', 'TARNVEL-GND');
  CREATE TABLE [Master] (Service TEXT COLLATE NOCASE, AP INTEGER);
  INSERT INTO [Master] VALUES ('FEDEX-GND', 10);
)";

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { TestSupport::CreateDatabase(host_, kHostSql); }

  // Everything the Ui was asked to show, which for these operations should
  // be nothing but RecordsExist's failure box.
  const std::vector<UiEvent>& Shown() const { return ui_.Events(); }

  TestSupport::TempDir dir_;
  std::string host_ = dir_.File("Mailvoro.mdb");
  Platform::ScriptedUi ui_;
  Platform::UiInstallation installation_{ui_};
};

std::string Describe(std::int32_t number, const std::string& description) {
  return "error " + std::to_string(number) + ": " + description;
}

TEST(ConnectionString, AppendsThePathVerbatim) {
  struct Case {
    const char* name;
    std::string path;
  };
  const std::vector<Case> cases = {
      {"WindowsPath", "C:\\Mailvoro\\Mailvoro.mdb"},
      {"PathWithSpacesIsNotQuoted", "/opt/My Shop/Mail voro.mdb"},
      {"EmptyPathGivesThePrefixAlone", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Connection::ConnectionString(c.path), "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + c.path);
  }
}

TEST_F(ConnectionTest, OpenRecordsetFailuresReportTheErrorAndShowNothing) {
  std::filesystem::create_directory(dir_.File("folder.mdb"));
  TestSupport::WriteFile(dir_.File("notes.mdb"), "this is not a database, just some text long enough to matter\n");
  struct Case {
    const char* name;
    std::string path;
    std::string sql;
    bool disconnected;
    std::int32_t number;
    std::string mentioned;  // the description names what failed
  };
  const std::vector<Case> cases = {
      {"MissingFile", dir_.File("Missing.mdb"), "Select * From [Panel]", true, Engine::kErrFileNotFound,
       dir_.File("Missing.mdb")},
      {"PathIsAFolder", dir_.File("folder.mdb"), "Select * From [Panel]", true, Engine::kErrNotAFile, "folder.mdb"},
      {"FileIsNotADatabase", dir_.File("notes.mdb"), "Select * From [Panel]", true, Engine::kErrNotADatabase,
       "notes.mdb"},
      {"MissingTable", host_, "Select Top 1 [ZONE] From [TARNVEL-GND]", true, Engine::kErrNoSuchTable,
       "TARNVEL-GND"},
      {"MissingColumn", host_, "Select [LBS] From [Master]", false /* attached */, Engine::kErrNoSuchColumn, "LBS"},
      {"BadSyntax", host_, "Select From Where", true, Engine::kErrSyntax, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Connection::RecordsetHandle recordset = std::make_unique<Engine::Recordset>();
    std::string description = "stale";
    std::int32_t number = 0;
    EXPECT_FALSE(Connection::OpenRecordset(c.path, c.sql, recordset, description, number, c.disconnected));
    EXPECT_EQ(number, c.number) << description;
    EXPECT_FALSE(description.empty());
    EXPECT_NE(description, "stale");
    EXPECT_NE(description.find(c.mentioned), std::string::npos) << description;
    ASSERT_TRUE(recordset);
    EXPECT_EQ(recordset->State(), Engine::kStateClosed);
    EXPECT_FALSE(recordset->IsAttached());
    EXPECT_TRUE(Connection::CloseRecordset(recordset));
  }
  EXPECT_TRUE(Shown().empty());
}

TEST_F(ConnectionTest, DetachedRowsStayReadableWithoutTheFile) {
  Connection::RecordsetHandle recordset = std::make_unique<Engine::Recordset>();
  std::string description = "stale";
  std::int32_t number = 99;
  ASSERT_TRUE(Connection::OpenRecordset(host_, "Select * From [Panel] Order By [PanelIndex] DESC", recordset,
                                        description, number, true))
      << Describe(number, description);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(description, "");
  EXPECT_FALSE(recordset->IsAttached());
  // With no connection left, the file can go and the rows stay.
  std::filesystem::remove(host_);
  ASSERT_FALSE(recordset->IsEOF());
  EXPECT_EQ(recordset->Fields("PanelIndex").Value(), Db::Variant::Int32(2));
  EXPECT_EQ(recordset->Fields(2).Value(), Db::Variant::Text("TARNVEL-GND"));
  recordset->MoveNext();
  EXPECT_EQ(recordset->Fields("sv1").Value(), Db::Variant::Text("FEDEX-GND"));
  EXPECT_TRUE(recordset->Fields("SV7").Value().IsNull());
  recordset->MoveNext();
  EXPECT_TRUE(recordset->IsEOF());
  EXPECT_TRUE(Connection::CloseRecordset(recordset));
  EXPECT_FALSE(recordset);
}

TEST_F(ConnectionTest, SelectWithoutRowsOpensAtEnd) {
  Connection::RecordsetHandle recordset;  // forgotten by the caller: created by the call
  std::string description;
  std::int32_t number = 0;
  ASSERT_TRUE(Connection::OpenRecordset(host_, "Select * From [Master] Where [Service] = 'TARNVEL-GND'", recordset,
                                        description, number, true))
      << Describe(number, description);
  ASSERT_TRUE(recordset);
  EXPECT_EQ(recordset->State(), Engine::kStateOpen);
  EXPECT_TRUE(recordset->IsEOF());
  EXPECT_TRUE(Connection::CloseRecordset(recordset));
}

TEST_F(ConnectionTest, OpenRecordsetKeepsAnAlreadyOpenRecordset) {
  Connection::RecordsetHandle recordset = std::make_unique<Engine::Recordset>();
  std::string description;
  std::int32_t number = 0;
  ASSERT_TRUE(Connection::OpenRecordset(host_, "Select * From [Master]", recordset, description, number, true));
  EXPECT_FALSE(Connection::OpenRecordset(host_, "Select * From [Panel]", recordset, description, number, true));
  EXPECT_NE(number, 0);
  EXPECT_EQ(description, "The recordset is already open.");
  ASSERT_EQ(recordset->State(), Engine::kStateOpen);
  EXPECT_EQ(recordset->Fields("Service").Value(), Db::Variant::Text("FEDEX-GND"));
}

TEST_F(ConnectionTest, RecordsExistShowsTheBoxOnlyWhenTheQueryFails) {
  struct Case {
    const char* name;
    std::string path;
    std::string sql;
    std::string failureText;
    bool found;
    bool failed;
    std::string boxText;  // prefix of the prompt; empty when no box is expected
  };
  const std::string missing = dir_.File("Missing.mdb");
  const std::vector<Case> cases = {
      {"RowFound", host_, "Select [Service] From [Master] Where [Service] = 'fedex-gnd'", "", true, false, ""},
      {"RowInLastColumn", host_, "Select * From [Panel] Where [SV1] = 'TARNVEL-GND' Or [SV7] = 'TARNVEL-GND'", "",
       true, false, ""},
      {"NoRow", host_, "Select [Service] From [Master] Where [Service] = 'TARNVEL-GND'", "", false, false, ""},
      {"MissingTable", host_, "Select Top 1 [LBS] From [TARNVEL-GND]", "", false, true,
       "Process has failed !\r\rThe following error has occurred:\r"},
      {"MissingFile", missing, "Select [Service] From [Master] Where [Service] = 'TARNVEL-GND'", "", false, true,
       "Process has failed !\r\rThe following error has occurred:\r"},
      {"OwnFailureText", host_, "Select [Nope] From [Master]", "Cannot read [Master].", false, true,
       "Cannot read [Master].\r\rThe following error has occurred:\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui_.Clear();
    // The description the box must end with, as OpenRecordset reports it.
    Connection::RecordsetHandle probe = std::make_unique<Engine::Recordset>();
    std::string description;
    std::int32_t number = 0;
    Connection::OpenRecordset(c.path, c.sql, probe, description, number, true);
    Connection::CloseRecordset(probe);

    bool failed = !c.failed;
    EXPECT_EQ(Connection::RecordsExist(c.path, c.sql, c.failureText, failed), c.found);
    EXPECT_EQ(failed, c.failed);
    if (c.boxText.empty()) {
      EXPECT_TRUE(Shown().empty());
      continue;
    }
    ASSERT_EQ(Shown().size(), 1u);
    const UiEvent& box = Shown()[0];
    EXPECT_EQ(box.kind, UiEvent::Kind::Message);
    EXPECT_FALSE(description.empty());
    EXPECT_EQ(box.text, c.boxText + description);
    EXPECT_EQ(box.title, "Process has failed !");
    EXPECT_EQ(box.style, 48);
  }
}

TEST_F(ConnectionTest, ExecuteSqlStoresTheChange) {
  struct Case {
    const char* name;
    std::string sql;
    std::vector<std::string> master;  // [Master] afterwards
  };
  const std::vector<Case> cases = {
      {"UpdateMatchingNoRowStillRuns", "UPDATE [Master] SET [AP] = 40 WHERE Service = 'TARNVEL-GND'",
       {"FEDEX-GND|10"}},
      {"Update", "UPDATE [Master] SET [AP] = 40 WHERE Service = 'fedex-gnd'", {"FEDEX-GND|40"}},
      {"Insert", "INSERT INTO [Master] ([Service], [AP]) VALUES ('TARNVEL-GND', 7)", {"FEDEX-GND|10", "TARNVEL-GND|7"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestSupport::TempDir dir;
    const std::string path = dir.File("Mailvoro.mdb");
    TestSupport::CreateDatabase(path, kHostSql);
    std::string description = "stale";
    std::int32_t number = 99;
    EXPECT_TRUE(Connection::ExecuteSql(path, c.sql, description, number)) << Describe(number, description);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(description, "");
    EXPECT_EQ(QueryRows(path, "SELECT Service, AP FROM Master ORDER BY Service"), c.master);
  }
  EXPECT_TRUE(Shown().empty());
}

TEST_F(ConnectionTest, ExecuteSqlFailuresWriteNothing) {
  const std::string readOnly = dir_.File("ReadOnly.mdb");
  TestSupport::CreateDatabase(readOnly, kHostSql);
  std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  struct Case {
    const char* name;
    std::string path;
    std::string sql;
    std::int32_t number;  // 0: any non-zero number
  };
  const std::vector<Case> cases = {
      {"MissingFile", dir_.File("Missing.mdb"), "UPDATE [Master] SET [AP] = 1", Engine::kErrFileNotFound},
      {"MissingTable", host_, "INSERT INTO [TARNVEL-GND] ([LOZIP]) VALUES (1)", Engine::kErrNoSuchTable},
      {"MissingColumn", host_, "UPDATE [Master] SET [ACTAP] = 40 WHERE Service = 'FEDEX-GND'",
       Engine::kErrNoSuchColumn},
      {"ApostropheEndsTheLiteralEarly", host_, "INSERT INTO [Master] ([Service]) VALUES ('O'Brien')", 0},
      {"SecondStatementIsRefused", host_, "UPDATE [Master] SET [AP] = 1; DELETE FROM [Master]",
       Engine::kErrMultipleStatements},
      {"ReadOnlyFile", readOnly, "UPDATE [Master] SET [AP] = 1", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string description;
    std::int32_t number = 0;
    EXPECT_FALSE(Connection::ExecuteSql(c.path, c.sql, description, number));
    if (c.number != 0) {
      EXPECT_EQ(number, c.number) << description;
    } else {
      EXPECT_NE(number, 0) << description;
    }
    EXPECT_FALSE(description.empty());
  }
  EXPECT_EQ(QueryRows(host_, "SELECT Service, AP FROM Master"), std::vector<std::string>{"FEDEX-GND|10"});
  EXPECT_EQ(QueryRows(readOnly, "SELECT Service, AP FROM Master"), std::vector<std::string>{"FEDEX-GND|10"});
  EXPECT_FALSE(std::filesystem::exists(dir_.File("Missing.mdb")));
  EXPECT_TRUE(Shown().empty());
}

TEST_F(ConnectionTest, AttachedRecordsetLetsAStatementRunAndStillAddsRows) {
  Connection::RecordsetHandle panel = std::make_unique<Engine::Recordset>();
  std::string description;
  std::int32_t number = 0;
  ASSERT_TRUE(Connection::OpenRecordset(host_, "Select * From [Panel] Order By [PanelIndex] DESC", panel,
                                        description, number, false))
      << Describe(number, description);
  EXPECT_TRUE(panel->IsAttached());

  ASSERT_TRUE(Connection::ExecuteSql(host_, "INSERT INTO [Panel] ([PanelIndex], [SV1]) VALUES (3, 'TARNVEL-GND')",
                                     description, number))
      << Describe(number, description);
  EXPECT_EQ(panel->Fields("PanelIndex").Value(), Db::Variant::Int32(2));

  // The connection OpenRecordset made outlives the call while the recordset holds it.
  panel->AddNew();
  panel->SetValue(0, Db::Variant::Int16(4));
  panel->SetValue(1, Db::Variant::Text("DHL-GND"));
  panel->Update();
  EXPECT_TRUE(Connection::CloseRecordset(panel));
  EXPECT_FALSE(panel);
  EXPECT_EQ(QueryRows(host_, "SELECT PanelIndex, SV1 FROM Panel ORDER BY PanelIndex"),
            (std::vector<std::string>{"1|FEDEX-GND", "2|UPS-GND", "3|TARNVEL-GND", "4|DHL-GND"}));
}

TEST(CloseRecordset, NullOrNeverOpenedIsFine) {
  Connection::RecordsetHandle none;
  EXPECT_TRUE(Connection::CloseRecordset(none));
  EXPECT_FALSE(none);

  Connection::RecordsetHandle unopened = std::make_unique<Engine::Recordset>();
  EXPECT_TRUE(Connection::CloseRecordset(unopened));
  EXPECT_FALSE(unopened);

  Connection::ConnectionHandle connection;
  EXPECT_TRUE(Connection::CloseConnection(connection));
  connection = std::make_unique<Engine::Database>();
  EXPECT_TRUE(Connection::CloseConnection(connection));
  EXPECT_FALSE(connection);
}

}  // namespace
