#include "Carrier.h"

#include <algorithm>
#include <array>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "AppInfo.h"
#include "Connection.h"
#include "Convert.h"
#include "DatabaseLocks.h"
#include "DBQuery.h"
#include "Engine.h"
#include "Files_.h"
#include "MsgBox_.h"
#include "RunError.h"
#include "Ui.h"
#include "Variant.h"

namespace Carrier {
namespace {

using Db::TrimSpaces;
using Db::Variant;
using Platform::RunError;

// Any failure that is not a RunError (out of memory, a library fault) is
// still handled by the trap that catches it, under this number.
using Platform::kErrInternal;
constexpr std::int32_t kErrBadFileName = Platform::kErrBadFileNameOrNumber;

constexpr std::size_t kMostZipDigits = 9;
constexpr std::int32_t kButtonFaceColor = -2147483633;  // 0x8000000F
constexpr const char* kZone6Condition = "Service = 'TARNVEL-GND'";

// Runs `body`, and answers the run-time error that ended it, if any: the
// error trap of a procedure, whose tail then runs on every path.
template <class Body>
std::optional<RunError> Trap(Body&& body) {
  try {
    body();
    return std::nullopt;
  } catch (const RunError& error) {
    return error;
  } catch (const std::exception& error) {
    return RunError(kErrInternal, error.what());
  } catch (...) {
    return RunError(kErrInternal, "An unexpected error has occurred.");
  }
}

void SetStatus(const std::string& text) { Platform::CurrentUi().SetStatusText(text); }

std::string Sep() { return std::string(1, Platform::AppInfo::PathSeparator()); }

using Platform::AppInfo::InProgramFolder;

std::string DataFolder() { return InProgramFolder("Data"); }

using Db::UpperAscii;

bool IsZipDigits(const std::string& zip) {
  return !zip.empty() && zip.size() <= kMostZipDigits &&
         std::all_of(zip.begin(), zip.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Chart files are Windows-1252; everything past them (status panel, SQL)
// is UTF-8.
std::string Cp1252ToUtf8(std::string bytes) {
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return bytes;  // plain ASCII reads the same in both
  static constexpr std::array<char32_t, 32> kHigh = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  out.reserve(bytes.size());
  for (const char raw : bytes) {
    const auto byte = static_cast<unsigned char>(raw);
    if (byte < 0x80) {
      out += raw;
      continue;
    }
    const char32_t code = byte < 0xA0 ? kHigh[byte - 0x80] : byte;
    if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

// The database names the chart file, so the name must not lead the program
// out of the Data folder.
void CheckChartPath(const std::string& chartPath) {
  const std::string prefix = DataFolder() + Sep();
  if (chartPath.compare(0, prefix.size(), prefix) != 0)
    throw RunError(kErrBadFileName, "The zone chart '" + chartPath + "' is not in the folder '" + DataFolder() + "'.");
  const std::string name = chartPath.substr(prefix.size());
  if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos)
    throw RunError(kErrBadFileName,
                   "The zone chart file name '" + name + "' is not a plain file name in the folder '" + DataFolder() + "'.");
}

void ShowCannotAddService(const std::string& serviceCode, const std::string& carrierName,
                          const std::string& databaseKind) {
  Platform::CurrentUi().MsgBox("You need the new " + carrierName + " '" + serviceCode +
                                   "' service table to be added to your " + carrierName + " " + databaseKind +
                                   " database to continue.\r\rPlease contact Mailvoro Support to update your " +
                                   carrierName + " " + databaseKind + " database...",
                               Platform::kMbOkOnly | Platform::kMbInformation, "Cannot Add the Service");
}

// A lookup's answer: whether a row was found, and whether the query failed
// (its box is then already shown).
struct Answer {
  bool found = false;
  bool failed = true;
};

Answer Lookup(const std::string& dbPath, const std::string& sql) {
  Answer answer;
  Trap([&] { answer.found = Connection::RecordsExist(dbPath, sql, "", answer.failed); });
  return answer;
}

Answer FindInMaster(const std::string& serviceCode, const std::string& hostDbPath) {
  return Lookup(hostDbPath, "Select [Service] From [Master] Where [Service] = '" + serviceCode + "'");
}

Answer FindInPanel(const std::string& serviceCode, const std::string& hostDbPath) {
  return Lookup(hostDbPath, "Select * From [Panel] Where " + AnyButtonIs("'" + serviceCode + "'"));
}

// The Run and the Report under way, if any.
Run* currentRun = nullptr;
Report* currentReport = nullptr;

// A carrier file to the host folder: prepared for the run's commit, or
// without a run copied at once.
bool CopyToShop(const std::string& source, const std::string& destination) {
  if (currentRun) return currentRun->Stage(source, destination);
  if (!Trap([&] { Files_::StagedCopy(source, destination, Db::kDatabaseLocks).Place(); })) return true;
  MsgBox_::ShowCopyFailed(source, destination);
  return false;
}

bool InstallSupportFile(const std::string& fileName, const std::string& targetPath) {
  const std::string source = InProgramFolder(fileName);
  if (!Files_::LocateFile(source, true)) return false;
  return CopyToShop(source, targetPath);
}

// A host step's failure: its box, and the item it leaves as it was.
void Refused(const std::string& itemName, const std::string& description, const std::string& failureText) {
  MsgBox_::ShowProcessFailed(description, failureText, "");
  Tell({.name = itemName, .result = "refused", .detail = description});
}

// The zone 6 columns of the service's record that its update will change,
// read just before it; a value that cannot be read counts as changing.
std::vector<Item::Change> Zone6Changes(const std::string& hostDbPath) {
  std::vector<Item::Change> changes;
  Connection::RecordsetHandle recordset = std::make_unique<Engine::Recordset>();
  std::string errorDescription;
  std::int32_t errorNumber = 0;
  const bool opened = Connection::OpenRecordset(hostDbPath, std::string("Select [ACTAP], [AP] From [Master] Where ") + kZone6Condition,
                                                recordset, errorDescription, errorNumber, true);
  for (const char* column : {"ACTAP", "AP"}) {
    std::string before = "?";
    Trap([&] {
      if (opened && !recordset->IsEOF()) before = Convert::FieldValue(recordset->Fields(column), Variant::Text("Null"), true).ToText();
    });
    if (before != "40") changes.push_back({column, before, "40"});
  }
  Connection::CloseRecordset(recordset);
  return changes;
}

}  // namespace

std::vector<MasterOverride> MasterOverrides(const std::string& serviceType, const std::string& serviceCode,
                                            const std::string& carrierName) {
  const auto n = [](std::int16_t v) { return Variant::Int16(v); };
  const std::vector<std::pair<std::string, Variant>> table = {
      {"Shipper#", n(0)},
      {"Carrier", Variant::Text(carrierName)},
      {"Type", Variant::Text(serviceType)},
      {"SERVICE", Variant::Text(serviceCode)},
      {"ZONE-TBL", Variant::Text(serviceCode)},
      {"DESCRIPTION", Variant::Text(serviceType)},
      {"PosDept", Variant::Text(serviceType)},
      {"UPSCODE", Variant::Text("SP")},
      {"ServiceIndicator", Variant::Text("")},
      {"ServiceIcon", Variant::Text("")},
      {"CANADA", Variant::Bool(false)},
      {"ACTCOD", n(7)},
      {"COD", n(7)},
      {"ACTDELC", n(2)},
      {"ACK", n(2)},
      {"ACTDELSIG", n(2)},
      {"ACK-S", n(2)},
      {"ACTFuel", n(4)},
      {"Fuel", n(4)},
      {"RETAIL", n(0)},
      {"ACTDVBASE", n(100)},
      {"DVRateUpTo", n(0)},
      {"DVRateUpToCost", n(0)},
      {"DVRateUpToCharge", n(0)},
      {"ACTDVINC", n(100)},
      {"ACTDECVAL", Variant::Double(0.5)},
      {"DV", Variant::Double(0.5)},
      {"ABResCost", n(0)},
      {"ABResCharge", n(0)},
      {"USEDIMWEIGHT", n(0)},
      {"SaturdayDelivery", n(0)},
      {"SaturdayPickup", n(0)},
      {"FreightService", n(0)},
      {"ResidentialService", n(0)},
      {"LetterExpress", n(0)},
      {"PopupEnabled", n(0)},
      {"DontRequireConsignee", n(0)},
      {"DontRequireShipper", n(0)},
      {"Disabled", n(0)},
      {"Kiosk", n(0)},
      {"AIR", n(0)},
      {"ABSATRED", n(25)},
      {"ABSATPURED", n(25)},
      {"ABSATBLACK", n(30)},
      {"ABSATPUBLACK", n(30)},
      {"ABCANUpToCostAP", n(34)},
      {"ABCANUpToChargeAP", n(34)},
      {"ABBlackResCost", n(38)},
      {"ABBlackResCharge", n(38)},
      {"ACTAP", n(40)},
      {"AP", n(40)},
  };
  std::vector<MasterOverride> overrides;
  overrides.reserve(table.size());
  for (const auto& [name, value] : table) overrides.push_back({UpperAscii(name), value});
  return overrides;
}

bool Changed(const std::vector<Item>& items) {
  static const char* const kChanges[] = {"added", "extended", "created", "replaced", "removed", "cleared"};
  return std::any_of(items.begin(), items.end(), [](const Item& item) {
    return std::find(std::begin(kChanges), std::end(kChanges), item.result) != std::end(kChanges);
  });
}

Report::Report() : outer_(currentReport) { currentReport = this; }

Report::~Report() { currentReport = outer_; }

void Tell(Item item) {
  if (!currentReport) return;
  auto& items = currentReport->Items();
  const auto same = std::find_if(items.begin(), items.end(), [&](const Item& i) { return i.name == item.name; });
  if (same != items.end()) *same = std::move(item);
  else items.push_back(std::move(item));
}

struct Run::Staged {
  std::string source, destination;
  std::unique_ptr<Files_::StagedCopy> copy;
};

Run::Run(const std::string& hostFolder) : lock_(hostFolder), outer_(currentRun) { currentRun = this; }

Run::~Run() {
  currentRun = outer_;
  if (committed_ && !ended_) {
    // Placed and never ended: the new files stay, as after a later failure.
    for (auto& staged : staged_) {
      try {
        staged.copy->Settle();
      } catch (...) {
      }
    }
  }
  if (!ended_) {
    try {
      TellFiles("not put in place: the run ended before the shop database was changed");
    } catch (...) {
    }
  }
}

bool Run::Stage(const std::string& source, const std::string& destination) {
  std::unique_ptr<Files_::StagedCopy> copy;
  const auto error =
      Trap([&] { copy = std::make_unique<Files_::StagedCopy>(source, destination, Db::kDatabaseLocks); });
  if (error) {
    MsgBox_::ShowCopyFailed(source, destination);
    Tell({.name = Files_::NameOf(destination), .result = "refused", .detail = error->Description()});
    return false;
  }
  staged_.push_back({source, destination, std::move(copy)});
  return true;
}

std::string Run::Prepared(const std::string& destination) const {
  for (const auto& staged : staged_)
    if (staged.destination == destination) return staged.copy->Path();
  return destination;
}

bool Run::Commit() {
  for (auto& staged : staged_) {
    try {
      staged.copy->Place();
    } catch (const RunError& error) {
      PutBack();
      MsgBox_::ShowCopyFailed(staged.source, staged.destination);
      Tell({.name = Files_::NameOf(staged.destination), .result = "refused", .detail = error.Description()});
      return false;
    }
  }
  committed_ = true;
  return true;
}

void Run::PutBack() {
  for (auto it = staged_.rbegin(); it != staged_.rend(); ++it) {
    try {
      it->copy->Restore();
    } catch (const RunError& error) {
      MsgBox_::ShowProcessFailed(error.Description(), "Failed to put back '" + it->destination + "'...", "");
    }
  }
}

void Run::End(bool hostChanged) {
  if (ended_) return;
  if (committed_ && !hostChanged) PutBack();
  for (auto& staged : staged_) {
    if (staged.copy->Placed()) staged.copy->Settle();
  }
  ended_ = true;
  TellFiles(committed_ ? "put back: the shop database was not changed"
                       : "not put in place: the run ended before the shop database was changed");
}

void Run::TellFiles(const char* notPlacedDetail) {
  const auto told = [](const std::string& name, const char* result) {
    return currentReport && std::any_of(currentReport->Items().begin(), currentReport->Items().end(),
                                        [&](const Item& i) { return i.name == name && i.result == result; });
  };
  for (const auto& staged : staged_) {
    const auto& copy = *staged.copy;
    Item item{.name = Files_::NameOf(staged.destination), .result = "unchanged"};
    if (told(item.name, "refused")) continue;  // its copy failed where it was put in place
    if (copy.Placed()) item.result = copy.Replaces() ? "replaced" : "created";
    else if (copy.Changes()) item.detail = notPlacedDetail;
    Tell(std::move(item));
  }
  // A chart whose zones database changed nothing in the shop was not installed.
  const bool placedAny = std::any_of(staged_.begin(), staged_.end(), [](const Staged& s) { return s.copy->Placed(); });
  const bool changesAny = std::any_of(staged_.begin(), staged_.end(), [](const Staged& s) { return s.copy->Changes(); });
  if (!placedAny && changesAny && told("chart", "imported")) {
    for (auto& item : currentReport->Items())
      if (item.name == "chart") item = {.name = "chart", .result = "none", .detail = item.detail + "; not installed", .rows = item.rows};
  }
}

std::string WorkingFile(const std::string& name) {
  static Files_::PrivateFolder folder("work");
  return folder.Path() + Sep() + name;
}

// Installation driver.

bool CheckServiceTables(const std::string& serviceCode, const std::string& carrierName,
                        const std::string& zonesDbPath, const std::string& servicesDbPath) {
  bool result = false;
  Trap([&] {
    if (!TableHasZones(serviceCode, zonesDbPath)) {
      ShowCannotAddService(serviceCode, carrierName, "Zones");
      return;
    }
    if (!TableHasRates(serviceCode, servicesDbPath)) {
      ShowCannotAddService(serviceCode, carrierName, "Services");
      return;
    }
    result = true;
  });
  return result;
}

bool AddCarrierService(const std::string& serviceType, const std::string& serviceDescription,
                       const std::string& serviceCode, const std::string& carrierName,
                       const std::string& templateService, const std::string& hostDbPath,
                       const std::string& zonesDbPath, const std::string& servicesDbPath) {
  bool masterResult = false;
  bool panelResult = false;
  bool hostChanged = false;
  // An error keeps the partial results as they stand; the steps have
  // already said what went wrong.
  Trap([&] {
    // The carrier's databases are checked as they will be put in place.
    if (!CheckServiceTables(serviceCode, carrierName, currentRun ? currentRun->Prepared(zonesDbPath) : zonesDbPath,
                            currentRun ? currentRun->Prepared(servicesDbPath) : servicesDbPath))
      return;
    const int answer = Platform::CurrentUi().MsgBox(
        "Would you like to add " + serviceType + " '" + serviceCode + "' service to your Mailvoro ?",
        Platform::kMbOkCancel | Platform::kMbQuestion, "New " + carrierName + " Service is Available!");
    if (answer != Platform::kAnswerOk) return;
    // The carrier's files take their places now, so that the record is
    // never without them.
    if (currentRun && !currentRun->Commit()) return;

    // A lookup that could not tell leaves its half alone, and the half
    // fails: nothing is added twice, and no failure reads as success.
    const Answer inMaster = FindInMaster(serviceCode, hostDbPath);
    if (inMaster.failed) Tell({.name = "record", .result = "unreadable", .detail = "the [Master] lookup failed"});
    masterResult = !inMaster.failed &&
                   (inMaster.found ? AddZone6(serviceType, serviceCode, carrierName, templateService, hostDbPath)
                                   : AddServiceToMaster(serviceType, serviceCode, carrierName, templateService,
                                                        hostDbPath));
    hostChanged = masterResult;
    const Answer inPanel = FindInPanel(serviceCode, hostDbPath);
    if (inPanel.failed) Tell({.name = "button", .result = "unreadable", .detail = "the [Panel] lookup failed"});
    if (!inPanel.failed && inPanel.found)
      Tell({.name = "button", .result = "unchanged"});
    const bool added = !inPanel.failed && !inPanel.found &&
                       AddServiceToPanel(serviceDescription, serviceCode, carrierName, hostDbPath);
    panelResult = !inPanel.failed && (inPanel.found || added);
    hostChanged = hostChanged || added;
  });
  // The files stay only where the host database changed.
  if (currentRun) currentRun->End(hostChanged);
  return masterResult && panelResult;
}

// Origin ZIP and the working zones database.

bool AskOriginZip(const std::string& carrierName, std::string& originZip) {
  Trap([&] {
    originZip = Platform::CurrentUi()
                    .InputBox("This utility will install " + carrierName +
                                  " service to your Mailvoro.\r\r\r\rPlease enter your zipcode of origin:",
                              "Install " + carrierName + "?")
                    .value_or("");
  });
  return !originZip.empty();
}

bool PrepareZoneDatabase(const std::string& carrierName, const std::string& emptyZonesFile,
                         const std::string& zonesFile, const std::string& serviceCode) {
  std::string originZip;
  if (!AskOriginZip(carrierName, originZip)) return false;

  const std::string emptyZonesPath = InProgramFolder(emptyZonesFile);
  std::string chartName;
  if (!ZoneChartForZip(emptyZonesPath, originZip, chartName)) {
    Platform::CurrentUi().MsgBox(
        originZip + " zip-code was not found in the list of available zip-codes to this service.",
        Platform::kMbOkOnly | Platform::kMbExclamation, "");
    return false;
  }

  const std::string zonesPath = WorkingFile(zonesFile);
  if (Trap([&] { Files_::StagedCopy(emptyZonesPath, zonesPath, Db::kDatabaseLocks).Place(); })) {
    MsgBox_::ShowCopyFailed(emptyZonesPath, zonesPath);
    return false;
  }

  return ImportZoneChart(DataFolder() + Sep() + chartName, zonesPath, serviceCode);
}

// The carrier's files.

bool CheckCarrierDatabases(const std::string& zonesDbPath, const std::string& servicesDbPath) {
  const std::string zonesSource = WorkingFile("TarnVel_Zones.mdb");
  const std::string servicesSource = InProgramFolder("TarnVel_Services.mdb");
  if (!Files_::LocateFile(zonesSource, true)) return false;
  if (!Files_::LocateFile(servicesSource, true)) return false;
  return CopyToShop(zonesSource, zonesDbPath) && CopyToShop(servicesSource, servicesDbPath);
}

bool InstallManifestReport(const std::string& targetPath) {
  return InstallSupportFile("TarnVelEODManifest.rpt", targetPath);
}

bool InstallLogo(const std::string& targetPath) { return InstallSupportFile("TarnVel.jpg", targetPath); }

bool InstallLabelLayout(const std::string& targetPath) {
  return InstallSupportFile("TarnVel_Generic.lab", targetPath);
}

// Lookups.

// The host lookups answer yes when they cannot tell, so that nothing is
// added twice; the carrier lookups ask whether the table can be read.

bool ServiceInMaster(const std::string& serviceCode, const std::string& hostDbPath) {
  const Answer answer = FindInMaster(serviceCode, hostDbPath);
  return answer.found || answer.failed;
}

std::string AnyButtonIs(const std::string& value) {
  std::string condition;
  for (int button = 1; button <= 7; ++button)
    condition += (button > 1 ? " Or [SV" : "[SV") + std::to_string(button) + "] = " + value;
  return condition;
}

bool ServiceInPanel(const std::string& serviceCode, const std::string& hostDbPath) {
  const Answer answer = FindInPanel(serviceCode, hostDbPath);
  return answer.found || answer.failed;
}

// Whether `column` of `tableName` can be read: an empty table counts.
bool TableCanBeRead(const std::string& tableName, const std::string& column, const std::string& dbPath) {
  const Answer answer = Lookup(dbPath, "Select Top 1 [" + column + "] From [" + tableName + "]");
  return answer.found || !answer.failed;
}

bool TableHasZones(const std::string& tableName, const std::string& zonesDbPath) {
  return TableCanBeRead(tableName, "ZONE", zonesDbPath);
}

bool TableHasRates(const std::string& tableName, const std::string& servicesDbPath) {
  return TableCanBeRead(tableName, "LBS", servicesDbPath);
}

// Zone chart import.

bool ZoneChartForZip(const std::string& dbPath, const std::string& zip, std::string& fileName) {
  fileName.clear();
  Connection::RecordsetHandle recordset;
  Trap([&] {
    // Only a number goes into the statement: anything else could change
    // what the query selects.
    const std::string digits = TrimSpaces(zip);
    if (!IsZipDigits(digits)) return;
    recordset = std::make_unique<Engine::Recordset>();
    std::string errorDescription;
    std::int32_t errorNumber = 0;
    const std::string sql = "Select [FileName] From [Zip2FileOfOrigin] Where [LOZIP] <= " + digits +
                            " And [HIZIP] >= " + digits;
    if (!Connection::OpenRecordset(dbPath, sql, recordset, errorDescription, errorNumber, true)) return;
    if (recordset->IsEOF()) return;
    std::string name =
        TrimSpaces(Convert::FieldValue(recordset->Fields("FileName"), Variant::Text(""), true).ToText());
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".csv") != 0) name += ".csv";
    fileName = name;
  });
  const bool result = !fileName.empty();
  Connection::CloseRecordset(recordset);
  return result;
}

bool SplitCsvLine(const std::string& line, std::string& field2, std::string& field3, std::string& field4,
                  std::string& errorDescription, std::int32_t& errorNumber) {
  field2.clear();
  field3.clear();
  field4.clear();
  bool enoughFields = false;
  const auto error = Trap([&] {
    // Only fields 2 to 4 are wanted, so only the first four commas count;
    // this runs for every chart line.
    constexpr auto npos = std::string::npos;
    const auto comma1 = line.find(',');
    const auto comma2 = comma1 == npos ? npos : line.find(',', comma1 + 1);
    const auto comma3 = comma2 == npos ? npos : line.find(',', comma2 + 1);
    if (comma3 == npos) return;
    const auto comma4 = line.find(',', comma3 + 1);
    field2.assign(line, comma1 + 1, comma2 - comma1 - 1);
    field3.assign(line, comma2 + 1, comma3 - comma2 - 1);
    field4.assign(line, comma3 + 1, comma4 == npos ? npos : comma4 - comma3 - 1);
    enoughFields = true;
  });
  errorDescription = error ? error->Description() : "";
  errorNumber = error ? error->Number() : 0;
  return enoughFields && errorNumber == 0;
}

bool ImportZoneChart(const std::string& chartPath, const std::string& zonesDbPath, const std::string& tableName) {
  Files_::InputFile file;
  std::string errorDescription;
  std::int32_t errorNumber = 0;
  // The zones database is the working copy just rebuilt from the empty one,
  // and nothing reads it until it is copied: its INSERTs need not wait for
  // the disk one by one, only the whole file before the import ends.
  Engine::ScratchFile scratch(zonesDbPath);
  std::int64_t rows = 0;
  const auto error = Trap([&] {
    CheckChartPath(chartPath);
    file.Open(chartPath);
    // Reused from line to line: a chart may hold many thousands.
    std::string line, field2, field3, field4, splitDescription, status;
    std::int32_t splitNumber = 0;
    while (!file.AtEnd()) {
      line = Cp1252ToUtf8(file.ReadLine());
      if (!SplitCsvLine(line, field2, field3, field4, splitDescription, splitNumber)) {
        // A malformed line ends the chart; the rows before it stand.
        MsgBox_::ShowProcessFailed("", "Failed to parse read line from Tarn-Vel 'csv' file...", "");
        break;
      }
      if (Db::IsNumericText(field2)) {
        // The fields go into the statement as they stand, so only numbers may.
        const std::string* notNumber = !Db::IsNumericText(field3)   ? &field3
                                       : !Db::IsNumericText(field4) ? &field4
                                                                    : nullptr;
        if (notNumber) {
          errorNumber = Platform::kErrTypeMismatch;
          errorDescription = "Type mismatch: field " + std::string(notNumber == &field3 ? "3" : "4") +
                             " of the line '" + line + "' is not a number.";
          MsgBox_::ShowProcessFailed(errorDescription, "Failed to import Tarn-Vel 'csv' file to Zone table...", "");
          break;
        }
        DBQuery::InsertSql("LOZIP", field2, DBQuery::kKindLiteral, true, false, tableName, false);
        DBQuery::InsertSql("HIZIP", field3, DBQuery::kKindLiteral, false, false, tableName, false);
        const std::string sql = DBQuery::InsertSql("ZONE", field4, DBQuery::kKindLiteral, false, true, tableName, false);
        if (!Connection::ExecuteSql(zonesDbPath, sql, errorDescription, errorNumber)) {
          MsgBox_::ShowProcessFailed(errorDescription, "Failed to import Tarn-Vel 'csv' file to Zone table...", "");
          break;
        }
        ++rows;
        Platform::CurrentUi().Progress("Importing zones", rows, -1);
      }
      status.assign(kImportingZones).append(line);
      SetStatus(status);
    }
    scratch.Flush();
  });
  Tell({.name = "chart", .result = !error && errorNumber == 0 ? "imported" : "refused", .detail = Files_::NameOf(chartPath), .rows = rows});
  if (error) MsgBox_::ShowProcessFailed(error->Description(), "Failed to read Tarn-Vel 'csv' file...", "");
  const bool result = !error && errorNumber == 0;
  Files_::CloseFile(file);
  return result;
}

// The changes to the host database.

bool AddServiceToPanel(const std::string& serviceDescription, const std::string& serviceCode,
                       const std::string& carrierName, const std::string& hostDbPath) {
  const std::string failureText = "Failed to add " + carrierName + " '" + serviceCode + "' service to Panel table...";
  bool result = false;
  Connection::RecordsetHandle recordset;
  const auto error = Trap([&] {
    recordset = std::make_unique<Engine::Recordset>();
    std::string errorDescription;
    std::int32_t errorNumber = 0;
    const bool opened = Connection::OpenRecordset(hostDbPath, "Select PanelIndex From [Panel] Order By PanelIndex DESC",
                                                  recordset, errorDescription, errorNumber, false);
    if (opened && !recordset->IsEOF()) {
      const std::int64_t next =
          std::int64_t{Convert::FieldValue(recordset->Fields("PanelIndex"), Variant::Int16(0), true).ToInt32()} + 1;
      if (next > std::numeric_limits<std::int32_t>::max()) throw RunError(Platform::kErrOverflow, "Overflow");

      using DBQuery::InsertSql, DBQuery::kKindLiteral, DBQuery::kKindText;
      InsertSql("PanelIndex", std::to_string(next), kKindLiteral, true, false, "Panel", false);
      InsertSql("BD1", serviceDescription, kKindText, false, false, "", false);
      InsertSql("SV1", serviceCode, kKindText, false, false, "", false);
      InsertSql("Domestic", "1", kKindLiteral, false, false, "", false);
      InsertSql("Icon", "4", kKindLiteral, false, false, "", false);
      InsertSql("Message", "Domestic", kKindText, false, false, "", false);
      InsertSql("ForeColor", "0", kKindLiteral, false, false, "", false);
      const std::string sql =
          InsertSql("BackColor", std::to_string(kButtonFaceColor), kKindLiteral, false, true, "", false);
      result = Connection::ExecuteSql(hostDbPath, sql, errorDescription, errorNumber);
      if (result) Tell({.name = "button", .result = "added", .detail = "PanelIndex " + std::to_string(next)});
    }
    if (errorNumber != 0) Refused("button", errorDescription, failureText);
  });
  if (error) {
    Refused("button", error->Description(), failureText);
    SetStatus(error->Description());
  }
  Connection::CloseRecordset(recordset);
  return result;
}

bool AddServiceToMaster(const std::string& serviceType, const std::string& serviceCode,
                        const std::string& carrierName, const std::string& templateService,
                        const std::string& hostDbPath) {
  const std::string failureText = "Failed to add " + carrierName + " '" + serviceCode + "' service to Master table...";
  bool result = false;
  Connection::RecordsetHandle templateRecords;
  Connection::RecordsetHandle targetRecords;
  const auto error = Trap([&] {
    const std::string sql = "Select Master.* From [Master] Where Service = '" + templateService + "'";
    std::string errorDescription;
    std::int32_t errorNumber = 0;
    templateRecords = std::make_unique<Engine::Recordset>();
    if (Connection::OpenRecordset(hostDbPath, sql, templateRecords, errorDescription, errorNumber, true)) {
      targetRecords = std::make_unique<Engine::Recordset>();
      if (Connection::OpenRecordset(hostDbPath, sql, targetRecords, errorDescription, errorNumber, false)) {
        const auto overrides = MasterOverrides(serviceType, serviceCode, carrierName);
        targetRecords->AddNew();
        for (int i = 0; i < templateRecords->FieldCount(); ++i) {
          Platform::CurrentUi().Progress("Adding service settings", i + 1, templateRecords->FieldCount());
          SetStatus(kAddingSettings + std::to_string(i) + " of " +
                    std::to_string(templateRecords->FieldCount()));
          const Engine::Field column = templateRecords->Fields(i);
          const std::string name = UpperAscii(column.Name());
          const auto match = std::find_if(overrides.begin(), overrides.end(),
                                          [&](const MasterOverride& o) { return o.upperName == name; });
          // A missing template record makes Value() raise "no current record".
          targetRecords->SetValue(i, match != overrides.end() ? match->value : column.Value());
        }
        targetRecords->Update();
        SetStatus("Finished adding service successfully!");
        result = true;
        Tell({.name = "record", .result = "added"});
      }
    }
    if (errorNumber != 0) Refused("record", errorDescription, failureText);
  });
  if (error) {
    Refused("record", error->Description(), failureText);
    SetStatus(error->Description());
  }
  Connection::CloseRecordset(templateRecords);
  Connection::CloseRecordset(targetRecords);
  return result;
}

bool AddZone6(const std::string& /*serviceType*/, const std::string& /*serviceCode*/,
              const std::string& /*carrierName*/, const std::string& /*templateService*/,
              const std::string& hostDbPath) {
  const std::string failureText = "Failed to add new Zone# 6 to Master table...";
  bool result = false;
  std::vector<Item::Change> changes;
  const auto error = Trap([&] {
    changes = Zone6Changes(hostDbPath);
    SetStatus("Adding new zone# 6 ...");
    DBQuery::UpdateSql("ACTAP", "40", DBQuery::kKindLiteral, true, false, "Master", kZone6Condition, false);
    const std::string sql =
        DBQuery::UpdateSql("AP", "40", DBQuery::kKindLiteral, false, true, "Master", kZone6Condition, false);
    std::string errorDescription;
    std::int32_t errorNumber = 0;
    if (Connection::ExecuteSql(hostDbPath, sql, errorDescription, errorNumber)) {
      SetStatus("Finished adding new Zone# 6 successfully!");
      result = true;
    }
    if (errorNumber != 0) Refused("record", errorDescription, failureText);
  });
  if (error) {
    Refused("record", error->Description(), failureText);
    SetStatus(error->Description());
  }
  if (result) Tell({.name = "record", .result = changes.empty() ? "unchanged" : "extended", .changes = changes});
  return result;
}

}  // namespace Carrier
