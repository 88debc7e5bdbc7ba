// The host database: the lookups, the [Master] record (new, or zone 6 on the one there) and the [Panel] button.
#include <algorithm>
#include <limits>

#include "Carrier.h"
#include "Connection.h"
#include "Convert.h"
#include "DBQuery.h"
#include "RunError.h"
#include "Ui.h"

namespace Carrier {
namespace {

using Db::Variant;

constexpr const char* kZone6Condition = "Service = 'TARNVEL-GND'";

void SetStatus(const std::string& text) { Platform::CurrentUi().SetStatusText(text); }

std::optional<bool> Lookup(const std::string& dbPath, const std::string& sql) {
  std::optional<bool> found;
  Attempt("", [&] { found = Connection::RecordsExist(dbPath, sql); });
  return found;
}

// A change to the host database: it fails as Attempt tells, its item told refused. The error also goes to the
// status panel unless the body had set `statement`: a statement the database refused is told by the box alone.
bool HostStep(Run& run, const char* item, const std::string& failureText,
              const std::function<void(bool& statement)>& body) {
  bool statement = false;
  const auto error = Attempt(failureText, [&] { body(statement); });
  if (!error) return true;
  if (!statement) SetStatus(*error);
  run.Told().Tell({.name = item, .result = Result::Refused, .detail = *error});
  return false;
}

// The zone 6 columns its update will change, read just before it; one that cannot be read counts as changing.
std::vector<Item::Change> Zone6Changes(const std::string& hostDbPath) {
  std::vector<Item::Change> changes = {{"ACTAP", "?", "40"}, {"AP", "?", "40"}};
  try {
    const auto recordset = Connection::OpenRecordset(
        hostDbPath, std::string("Select [ACTAP], [AP] From [Master] Where ") + kZone6Condition, true);
    for (auto& change : changes)
      if (!recordset->IsEOF())
        change.before = Convert::FieldValue(recordset->Fields(change.column), Variant::Text("Null"), true).ToText();
  } catch (const std::exception&) {
  }
  std::erase_if(changes, [](const Item::Change& change) { return change.before == "40"; });
  return changes;
}

}  // namespace

std::vector<ColumnValue> MasterOverrides(const Service& service) {
  const auto n = [](std::int16_t v) { return Variant::Int16(v); };
  const auto text = [](const std::string& v) { return Variant::Text(v); };
  return {{"Shipper#", n(0)}, {"Carrier", text(service.carrierName)}, {"Type", text(service.type)},
          {"SERVICE", text(service.code)}, {"ZONE-TBL", text(service.code)}, {"DESCRIPTION", text(service.type)},
          {"PosDept", text(service.type)}, {"UPSCODE", text("SP")}, {"ServiceIndicator", text("")},
          {"ServiceIcon", text("")}, {"CANADA", Variant::Bool(false)}, {"ACTCOD", n(7)}, {"COD", n(7)},
          {"ACTDELC", n(2)}, {"ACK", n(2)}, {"ACTDELSIG", n(2)}, {"ACK-S", n(2)}, {"ACTFuel", n(4)}, {"Fuel", n(4)},
          {"RETAIL", n(0)}, {"ACTDVBASE", n(100)}, {"DVRateUpTo", n(0)}, {"DVRateUpToCost", n(0)},
          {"DVRateUpToCharge", n(0)}, {"ACTDVINC", n(100)}, {"ACTDECVAL", Variant::Double(0.5)},
          {"DV", Variant::Double(0.5)}, {"ABResCost", n(0)}, {"ABResCharge", n(0)}, {"USEDIMWEIGHT", n(0)},
          {"SaturdayDelivery", n(0)}, {"SaturdayPickup", n(0)}, {"FreightService", n(0)},
          {"ResidentialService", n(0)}, {"LetterExpress", n(0)}, {"PopupEnabled", n(0)},
          {"DontRequireConsignee", n(0)}, {"DontRequireShipper", n(0)}, {"Disabled", n(0)}, {"Kiosk", n(0)},
          {"AIR", n(0)}, {"ABSATRED", n(25)}, {"ABSATPURED", n(25)}, {"ABSATBLACK", n(30)},
          {"ABSATPUBLACK", n(30)}, {"ABCANUpToCostAP", n(34)}, {"ABCANUpToChargeAP", n(34)},
          {"ABBlackResCost", n(38)}, {"ABBlackResCharge", n(38)}, {"ACTAP", n(40)}, {"AP", n(40)}};
}

std::vector<ColumnValue> PanelInstallValues() {
  return {{"Domestic", Variant::Int32(1)},
          {"Icon", Variant::Int32(4)},
          {"Message", Variant::Text("Domestic")},
          {"ForeColor", Variant::Int32(0)},
          {"BackColor", Variant::Int32(-2147483633)}};  // the button face colour, 0x8000000F
}

std::optional<bool> ServiceInMaster(const std::string& serviceCode, const std::string& hostDbPath) {
  return Lookup(hostDbPath, "Select [Service] From [Master] Where [Service] = " + Db::TextLiteral(serviceCode));
}

std::optional<bool> ServiceInPanel(const std::string& serviceCode, const std::string& hostDbPath) {
  return Lookup(hostDbPath, "Select * From [Panel] Where " + AnyButtonIs(Db::TextLiteral(serviceCode)));
}

std::string AnyButtonIs(const std::string& value) {
  std::string condition;
  for (int button = 1; button <= 7; ++button)
    condition += (button > 1 ? " Or [SV" : "[SV") + std::to_string(button) + "] = " + value;
  return condition;
}

bool TableHasZones(const std::string& tableName, const std::string& zonesDbPath) {
  return Lookup(zonesDbPath, "Select Top 1 [ZONE] From [" + tableName + "]").has_value();
}

bool TableHasRates(const std::string& tableName, const std::string& servicesDbPath) {
  return Lookup(servicesDbPath, "Select Top 1 [LBS] From [" + tableName + "]").has_value();
}

bool AddServiceToPanel(Run& run) {
  const Service& service = run.Installed();
  bool added = false;
  HostStep(run, "button", "Failed to add " + service.carrierName + " '" + service.code + "' service to Panel table...",
           [&](bool& statement) {
             statement = true;
             const auto recordset = Connection::OpenRecordset(
                 run.HostDbPath(), "Select PanelIndex From [Panel] Order By PanelIndex DESC", false);
             statement = false;
             if (recordset->IsEOF()) return;  // no row to follow
             const std::int64_t next =
                 std::int64_t{Convert::FieldValue(recordset->Fields("PanelIndex"), Variant::Int16(0), true).ToInt32()} + 1;
             if (next > std::numeric_limits<std::int32_t>::max())
               throw Platform::RunError(Platform::kErrOverflow, "Overflow");

             using DBQuery::InsertSql, DBQuery::kKindLiteral, DBQuery::kKindText;
             InsertSql("PanelIndex", std::to_string(next), kKindLiteral, true, false, "Panel", false);
             InsertSql("BD1", service.description, kKindText, false, false, "", false);
             std::string sql = InsertSql("SV1", service.code, kKindText, false, false, "", false);
             const auto values = PanelInstallValues();
             for (const auto& [name, value] : values)
               sql = InsertSql(name, value.ToText(), value.GetKind() == Variant::Kind::Text ? kKindText : kKindLiteral,
                               false, &value == &values.back().value, "", false);
             statement = true;
             Connection::ExecuteSql(run.HostDbPath(), sql);
             added = true;
             run.Told().Tell({.name = "button", .result = Result::Added, .detail = "PanelIndex " + std::to_string(next)});
           });
  return added;
}

bool AddServiceToMaster(Run& run) {
  const Service& service = run.Installed();
  return HostStep(
      run, "record", "Failed to add " + service.carrierName + " '" + service.code + "' service to Master table...",
      [&](bool& statement) {
        const std::string sql =
            "Select Master.* From [Master] Where Service = " + Db::TextLiteral(service.templateService);
        statement = true;
        const auto templateRecords = Connection::OpenRecordset(run.HostDbPath(), sql, true);
        const auto targetRecords = Connection::OpenRecordset(run.HostDbPath(), sql, false);
        statement = false;
        const auto overrides = MasterOverrides(service);
        targetRecords->AddNew();
        const int count = templateRecords->FieldCount();
        Platform::CurrentUi().Progress("Adding service settings", 0, -1);
        for (int i = 0; i < count; ++i) {
          Platform::CurrentUi().Progress("Adding service settings", i + 1, count);
          SetStatus(kAddingSettings + std::to_string(i) + " of " + std::to_string(count));
          const Engine::Field column = templateRecords->Fields(i);
          const std::string name = Db::UpperAscii(column.Name());
          const auto match = std::find_if(overrides.begin(), overrides.end(),
                                          [&](const ColumnValue& o) { return Db::UpperAscii(o.name) == name; });
          // A missing template record makes Value() raise "no current record".
          targetRecords->SetValue(i, match != overrides.end() ? match->value : column.Value());
        }
        targetRecords->Update();
        SetStatus("Finished adding service successfully!");
        run.Told().Tell({.name = "record", .result = Result::Added});
      });
}

bool AddZone6(Run& run) {
  std::vector<Item::Change> changes;
  const bool done = HostStep(run, "record", "Failed to add new Zone# 6 to Master table...", [&](bool& statement) {
    changes = Zone6Changes(run.HostDbPath());
    SetStatus("Adding new zone# 6 ...");
    DBQuery::UpdateSql("ACTAP", "40", DBQuery::kKindLiteral, true, false, "Master", kZone6Condition, false);
    const std::string sql =
        DBQuery::UpdateSql("AP", "40", DBQuery::kKindLiteral, false, true, "Master", kZone6Condition, false);
    statement = true;
    Connection::ExecuteSql(run.HostDbPath(), sql);
    statement = false;
    SetStatus("Finished adding new Zone# 6 successfully!");
  });
  if (done) run.Told().Tell({.name = "record", .result = changes.empty() ? Result::Unchanged : Result::Extended, .changes = changes});
  return done;
}

}  // namespace Carrier
