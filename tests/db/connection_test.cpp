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

// Only RecordsExist may show a box; the other tests check none was shown.
class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { TestSupport::CreateDatabase(host_, kHostSql); }
  std::vector<std::string> Master() const { return QueryRows(host_, "SELECT Service, AP FROM Master ORDER BY 1"); }

  TestSupport::TempDir dir_;
  std::string host_ = dir_.File("Mailvoro.mdb"), missing_ = dir_.File("Missing.mdb");
  std::string description_ = "stale";
  std::int32_t number_ = 99;
  Platform::ScriptedUi ui_;
  Platform::UiInstallation installation_{ui_};
};

TEST_F(ConnectionTest, FailuresReportTheErrorAndWriteNothing) {
  const std::string readOnly = dir_.File("ReadOnly.mdb");
  TestSupport::CreateDatabase(readOnly, kHostSql);
  std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  struct Case {
    const char* name;
    bool open;  // OpenRecordset, else ExecuteSql
    std::string path, sql;
    std::int32_t number;    // 0: any non-zero number
    std::string mentioned;  // the description names what failed
    bool disconnected = true;
  };
  const std::vector<Case> cases = {
      {"OpenMissingFile", true, missing_, "Select * From [Panel]", Engine::kErrFileNotFound, missing_},
      {"OpenMissingColumnAttached", true, host_, "Select [LBS] From [Master]", Engine::kErrNoSuchColumn, "LBS", false},
      {"ExecuteMissingTable", false, host_, "DELETE FROM [TARNVEL-GND]", Engine::kErrNoSuchTable, "TARNVEL-GND"},
      {"ExecuteMissingColumn", false, host_, "UPDATE [Master] SET [ACTAP] = 40", Engine::kErrNoSuchColumn, "ACTAP"},
      {"ExecuteSecondStatement", false, host_, "UPDATE [Master] SET [AP] = 1; DELETE FROM [Master]",
       Engine::kErrMultipleStatements, "DELETE"},
      {"ExecuteReadOnlyFile", false, readOnly, "UPDATE [Master] SET [AP] = 1", 0, readOnly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    description_ = "stale";
    if (c.open) {
      Connection::RecordsetHandle recordset = std::make_unique<Engine::Recordset>();
      EXPECT_FALSE(Connection::OpenRecordset(c.path, c.sql, recordset, description_, number_, c.disconnected));
      ASSERT_TRUE(recordset);
      EXPECT_TRUE(recordset->State() == Engine::kStateClosed && !recordset->IsAttached());
      EXPECT_TRUE(Connection::CloseRecordset(recordset));
    } else {
      EXPECT_FALSE(Connection::ExecuteSql(c.path, c.sql, description_, number_));
    }
    EXPECT_TRUE(c.number ? number_ == c.number : number_ != 0) << number_;
    EXPECT_NE(description_.find(c.mentioned), std::string::npos) << description_;
  }
  EXPECT_EQ(Master(), std::vector<std::string>{"FEDEX-GND|10"});
  EXPECT_EQ(QueryRows(readOnly, "SELECT Service, AP FROM Master"), std::vector<std::string>{"FEDEX-GND|10"});
  EXPECT_FALSE(std::filesystem::exists(missing_));
  EXPECT_TRUE(ui_.Events().empty());
}

TEST_F(ConnectionTest, DetachedRowsStayReadableWithoutTheFile) {
  Connection::RecordsetHandle recordset;  // forgotten by the caller: created by the call
  ASSERT_TRUE(Connection::OpenRecordset(host_, "Select * From [Panel] Order By [PanelIndex] DESC", recordset,
                                        description_, number_, true))
      << description_;
  EXPECT_EQ(std::to_string(number_) + description_, "0");
  std::filesystem::remove(host_);
  ASSERT_TRUE(recordset && !recordset->IsAttached() && !recordset->IsEOF());
  EXPECT_EQ(recordset->Fields(2).Value(), Db::Variant::Text("TARNVEL-GND"));
  recordset->MoveNext();
  EXPECT_EQ(recordset->Fields("sv1").Value(), Db::Variant::Text("FEDEX-GND"));
  EXPECT_TRUE(recordset->Fields("SV7").Value().IsNull());
  recordset->MoveNext();
  EXPECT_TRUE(recordset->IsEOF());
  // A second open on the same handle is refused and keeps what it holds.
  EXPECT_FALSE(Connection::OpenRecordset(dir_.File("x.mdb"), "Select 1", recordset, description_, number_, true));
  EXPECT_EQ(description_, "The recordset is already open.");
  EXPECT_NE(number_, 0);
  EXPECT_EQ(recordset->State(), Engine::kStateOpen);
  EXPECT_TRUE(Connection::CloseRecordset(recordset));
  EXPECT_FALSE(recordset);
  EXPECT_EQ(Connection::ConnectionString("/opt/My Shop/a.mdb"),
            "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/opt/My Shop/a.mdb");
}

TEST_F(ConnectionTest, RecordsExistShowsTheBoxOnlyWhenTheQueryFails) {
  const struct {
    const char* name;
    std::string path, sql, failureText;
    bool found, failed;
    std::string boxText;  // the prompt before the description; empty: no box
  } cases[] = {
      {"RowFound", host_, "Select * From [Panel] Where [SV1] = 'tarnvel-gnd' Or [SV7] = 'tarnvel-gnd'", "", true, false,
       ""},
      {"NoRow", host_, "Select [Service] From [Master] Where [Service] = 'TARNVEL-GND'", "", false, false, ""},
      {"MissingFile", missing_, "Select [Service] From [Master]", "", false, true,
       "Process has failed !\r\rThe following error has occurred:\r"},
      {"OwnFailureText", host_, "Select [Nope] From [Master]", "Cannot read [Master].", false, true,
       "Cannot read [Master].\r\rThe following error has occurred:\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui_.Clear();
    // The description the box must end with, as OpenRecordset reports it.
    Connection::RecordsetHandle probe;
    std::string description;
    Connection::OpenRecordset(c.path, c.sql, probe, description, number_, true);
    Connection::CloseRecordset(probe);

    bool failed = !c.failed;
    EXPECT_EQ(Connection::RecordsExist(c.path, c.sql, c.failureText, failed), c.found);
    EXPECT_EQ(failed, c.failed);
    ASSERT_EQ(ui_.Events().size(), c.boxText.empty() ? 0u : 1u);
    if (c.boxText.empty()) continue;
    const UiEvent& box = ui_.Events()[0];
    EXPECT_EQ(box.kind, UiEvent::Kind::Message);
    EXPECT_EQ(box.title + "|" + std::to_string(box.style) + "|" + box.text,
              "Process has failed !|48|" + c.boxText + description);
  }
}

// The connection OpenRecordset makes outlives the call while the recordset
// holds it, and lets a statement of another connection run meanwhile.
TEST_F(ConnectionTest, ExecuteSqlBesideAnAttachedRecordset) {
  Connection::RecordsetHandle panel;
  ASSERT_TRUE(Connection::OpenRecordset(host_, "Select * From [Panel]", panel, description_, number_, false));
  EXPECT_TRUE(panel->IsAttached());
  for (const char* sql : {"UPDATE [Master] SET [AP] = 40 WHERE Service = 'fedex-gnd'",
                          "INSERT INTO [Master] ([Service], [AP]) VALUES ('TARNVEL-GND', 7)"}) {
    EXPECT_TRUE(Connection::ExecuteSql(host_, sql, description_, number_)) << description_;
    EXPECT_EQ(std::to_string(number_) + description_, "0");
  }
  panel->AddNew();
  panel->SetValue(0, Db::Variant::Int16(4));
  panel->Update();
  EXPECT_TRUE(Connection::CloseRecordset(panel));
  EXPECT_EQ(Master(), (std::vector<std::string>{"FEDEX-GND|40", "TARNVEL-GND|7"}));
  EXPECT_EQ(QueryRows(host_, "SELECT PanelIndex FROM Panel ORDER BY 1"), (std::vector<std::string>{"1", "2", "4"}));
  EXPECT_TRUE(ui_.Events().empty());
}

// Closing what is not there, or was never opened, is no error.
TEST(CloseRecordset, NullOrNeverOpenedIsFine) {
  Connection::RecordsetHandle none, unopened = std::make_unique<Engine::Recordset>();
  Connection::ConnectionHandle noConnection, unopenedConnection = std::make_unique<Engine::Database>();
  EXPECT_TRUE(Connection::CloseRecordset(none) && Connection::CloseRecordset(unopened));
  EXPECT_TRUE(Connection::CloseConnection(noConnection) && Connection::CloseConnection(unopenedConnection));
  EXPECT_FALSE(unopened || unopenedConnection);
}

}  // namespace
