// The installation of the carrier's service, one file per step: the zone
// chart (ZoneChart.cpp), the carrier's files and the run that puts them in
// place (CarrierFiles.cpp), the changes to the host database
// (HostChanges.cpp) and the driver (Driver.cpp). Every step answers true
// or false; false means it has already told the operator why, or the
// operator cancelled.
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
  std::vector<std::string> supportFiles;  // the manifest report, the logo, the label layout
  // The five files beside the shop database: the zones and services databases, then the support files.
  std::vector<std::string> ShopFiles() const;
};

// What became of an item. A change: Added, Extended, Created, Replaced,
// Removed, Cleared. No change: Unchanged, Kept (a removal leaves a file
// that is not the carrier's), Refused (the step failed and changed
// nothing), Unreadable (what the item is could not be read). The chart:
// Imported, None. A check: Ok, Missing, Differs.
enum class Result { Added, Extended, Created, Replaced, Removed, Cleared,
                    Unchanged, Kept, Refused, Unreadable, Imported, None, Ok, Missing, Differs };
// The result's word in the runner's summary: "added", "extended", ...
const char* Word(Result result);

// What a step did to one item of the shop, told as it happens: the [Master]
// record ("record"), the [Panel] button ("button"), each carrier file by
// its name, and the zone chart ("chart").
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

// The progress statuses of the steps: "Importing zones: LINE" for each
// chart line, "Adding service settings I of N" for each template column.
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

// The one way a step fails with a box: runs `body`; when it throws, shows
// "Process has failed !" with `failureText` and the error's description,
// and answers the description. Nothing when the body ran through.
std::optional<std::string> Attempt(const std::string& failureText, const std::function<void()>& body);

// One installation of `service` into the shop database at `hostDbPath`
// while the object lives: it holds the shop folder's installation lock,
// tells what the steps do to `report`, and keeps the carrier's files the
// steps prepare beside their destinations. They take their places only at
// Commit(), just before the host database changes; End() then lets the old
// files go when the host database changed, or puts them back. A Run that
// dies without Commit() leaves the folder as it was; committed and not
// ended, it keeps the new files. Throws Platform::RunError when the lock
// cannot be had.
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

// The driver: checks the service tables of the carrier's databases as they
// will be put in place, asks the operator, then brings the service into
// [Master] (new record or zone 6) and onto a [Panel] button. True only
// when both halves are in place.
bool AddCarrierService(Run& run);

// The zone chart: the origin ZIP question, then the working zones database
// made afresh from the empty one with the chart of that ZIP code imported.
bool PrepareZoneDatabase(Run& run);
// The process's own copy of a carrier file in a private folder no other
// user can open: the working zones database is rebuilt there by each run.
std::string WorkingFile(const std::string& name);
// The chart file of a ZIP code of 1 to 9 digits (spaces around allowed),
// always ending in ".csv"; nothing, silently, for any other text.
std::optional<std::string> ZoneChartForZip(const std::string& dbPath, const std::string& zip);
// Reads only a plain file name in the program folder's Data folder; any
// other path is refused like an unreadable chart, and so are a file that
// is not an ordinary file and a line over Files_::kMostLineBytes. A
// malformed line ends the import without making it fail; a failed INSERT,
// or a zone row with a field that is not a number, makes it fail.
bool ImportZoneChart(const std::string& chartPath, const std::string& zonesDbPath, const std::string& tableName,
                     Report& report);
// One chart line's fields 2 to 4 (low ZIP, high ZIP, zone); nothing for a
// line of fewer than four fields, which ends the chart. It is a zone row
// when its second field is a number (a header's is a column name).
struct ChartLine {
  std::string field2, field3, field4;
  bool IsRow() const;
  int NotNumber() const;  // the first of fields 3 and 4 that is not a number, else 0
};
std::optional<ChartLine> SplitCsvLine(const std::string& line);

// The carrier's files, from the program folder (the zones database from
// its working copy), prepared for the run's commit beside the shop.
bool CheckCarrierDatabases(Run& run);
bool InstallSupportFiles(Run& run);

// Lookups, each showing its box when the query fails: whether the service
// is in the host tables (nothing when the query failed), whether the
// carrier's table can be read.
std::optional<bool> FindInMaster(const std::string& serviceCode, const std::string& hostDbPath);
std::optional<bool> FindInPanel(const std::string& serviceCode, const std::string& hostDbPath);
bool TableHasZones(const std::string& tableName, const std::string& zonesDbPath);
bool TableHasRates(const std::string& tableName, const std::string& servicesDbPath);
// "[SV1] = VALUE Or ... Or [SV7] = VALUE": a [Panel] row that carries VALUE
// (an SQL literal or a parameter mark) on one of its buttons.
std::string AnyButtonIs(const std::string& value);

// The changes to the host database, and the columns they set to values of
// their own: AddServiceToMaster's instead of the template's,
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
