// The installation of the carrier's service: ZoneChart.cpp, CarrierFiles.cpp (and the Run), HostChanges.cpp and
// Driver.cpp. A step answering false has already told the operator why, or the operator cancelled.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Files_.h"
#include "Variant.h"

namespace Carrier {

// The service and the carrier's files an installation brings into a shop.
struct Service {
  std::string code, type, description, carrierName;
  std::string templateService;  // the [Master] record the new one copies
  std::string emptyZonesFile, zonesFile, servicesFile;
  std::string manifestReportFile, logoFile, labelLayoutFile;
  // The five files beside the shop database: the zones and services databases, then the support files.
  std::vector<std::string> ShopFiles() const;
};

// What became of an item. A change: Added to Cleared. No change: Unchanged, Kept (a file not the carrier's),
// Refused (the step failed and changed nothing), Unreadable. The chart: Imported, None. A check: Ok to Differs.
enum class Result { Added, Extended, Created, Replaced, Removed, Cleared,
                    Unchanged, Kept, Refused, Unreadable, Imported, None, Ok, Missing, Differs };
// The result's word in the runner's summary: "added", "extended", ...
const char* Word(Result result);

// What a step did to one item of the shop: "record" ([Master]), "button" ([Panel]), a carrier file by its name,
// "chart".
struct Item {
  struct Change {
    std::string column{}, before{}, after{};
  };
  std::string name{};
  Result result = Result::Unchanged;
  std::string detail{};           // for a person: which row, why, which chart
  std::vector<Change> changes{};  // a changed record: each column, old and new
  std::int64_t rows = -1;         // the chart: rows imported into the zone table
};

// The statuses "Importing zones: LINE" and "Adding service settings I of N".
inline constexpr char kImportingZones[] = "Importing zones: ";
inline constexpr char kAddingSettings[] = "Adding service settings ";

// Whether any item says the shop changed.
bool Changed(const std::vector<Item>& items);

// The items the steps tell; a later item of a name replaces the earlier.
class Report {
 public:
  void Tell(Item item);
  std::vector<Item>& Items() { return items_; }

 private:
  std::vector<Item> items_;
};

// Runs `body`; when it throws, shows "Process has failed !" with `failureText` and the error's description,
// and answers the description.
std::optional<std::string> Attempt(const std::string& failureText, const std::function<void()>& body);

// One installation into the shop database at `hostDbPath`: holds the shop folder's installation lock, tells
// `report` what the steps do, and keeps the files the steps prepare beside their destinations until Commit(),
// just before the host database changes; End() then lets the old files go when the host database changed, or
// puts them back. Dying without Commit() leaves the folder as it was; committed and not ended, it keeps the new
// files. Throws Platform::RunError when the lock cannot be had.
class Run {
 public:
  Run(Service service, std::string hostDbPath, Report& report);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  const Service& Installed() const { return service_; }
  const std::string& HostDbPath() const { return hostDbPath_; }
  std::string ShopPath(const std::string& name) const;  // the file `name` beside the shop database
  Report& Told() { return report_; }

  // Copies `source` beside `destination` for Commit(); a failure shows the
  // copy box, is told as refused and answers false.
  bool Stage(const std::string& source, const std::string& destination);
  // Where the bytes prepared for `destination` can be read until Commit().
  std::string Prepared(const std::string& destination) const;
  // Puts every prepared file in place; a failure shows the copy box, puts
  // back what was placed, and answers false.
  bool Commit();
  void End(bool hostChanged);

 private:
  struct Staged;
  bool CopyFailed(const std::string& source, const std::string& destination, const std::string& description);
  void PutBack();
  void TellFiles(const char* notPlacedDetail);
  Service service_;
  std::string hostDbPath_;
  Report& report_;
  Files_::FolderLock lock_;
  std::vector<Staged> staged_;
  bool committed_ = false;
  bool ended_ = false;
};

// Checks the service tables of the prepared databases, asks the operator, then brings the service into [Master]
// (new record or zone 6) and onto a [Panel] button. True only when both are in place.
bool AddCarrierService(Run& run);

// The origin ZIP question, then the working zones database made afresh with that ZIP code's chart imported.
bool PrepareZoneDatabase(Run& run);
// The process's own copy of a carrier file, in a private folder no other user can open.
std::string WorkingFile(const std::string& name);
// The chart file (ending in ".csv") of a ZIP code of 1 to 9 digits, spaces around allowed; else nothing, silently.
std::optional<std::string> ZoneChartForZip(const std::string& dbPath, const std::string& zip);
// Reads only a plain file name in the program's Data folder; any other path, a file that is not an ordinary file
// and a line over Files_::kMostLineBytes are refused like an unreadable chart. A malformed line ends the import
// without making it fail; a failed INSERT, or a zone row with a field that is not a number, makes it fail.
bool ImportZoneChart(const std::string& chartPath, const std::string& zonesDbPath, const std::string& tableName,
                     Report& report);
// A chart line's fields 2 to 4 (low ZIP, high ZIP, zone); nothing for fewer than four fields, which ends the
// chart. A zone row has a number as field 2 (a header, a column name).
struct ChartLine {
  std::string field2, field3, field4;
  bool IsRow() const;
  int NotNumber() const;  // the first of fields 3 and 4 that is not a number, else 0
};
std::optional<ChartLine> SplitCsvLine(const std::string& line);

// The carrier's files (the zones database from its working copy) prepared for the run's commit.
bool CheckCarrierDatabases(Run& run);
bool InstallManifestReport(Run& run);
bool InstallLogo(Run& run);
bool InstallLabelLayout(Run& run);

// Lookups, each showing its box when the query fails: whether the service is in the host tables (nothing when
// the query failed), whether the carrier's table can be read.
std::optional<bool> ServiceInMaster(const std::string& serviceCode, const std::string& hostDbPath);
std::optional<bool> ServiceInPanel(const std::string& serviceCode, const std::string& hostDbPath);
bool TableHasZones(const std::string& tableName, const std::string& zonesDbPath);
bool TableHasRates(const std::string& tableName, const std::string& servicesDbPath);
// "[SV1] = VALUE Or ... Or [SV7] = VALUE", VALUE an SQL literal or a parameter mark.
std::string AnyButtonIs(const std::string& value);

// The changes to the host database, and the values they set: AddServiceToMaster's instead of the template's,
// AddServiceToPanel's beside the button.
bool AddServiceToMaster(Run& run);
bool AddZone6(Run& run);
bool AddServiceToPanel(Run& run);
struct ColumnValue {
  std::string name;
  Db::Variant value;
};
std::vector<ColumnValue> MasterOverrides(const Service& service);
std::vector<ColumnValue> PanelInstallValues();

}  // namespace Carrier
