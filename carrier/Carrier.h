// The installation of the carrier's service: the origin ZIP question and
// the zone chart import, the carrier's files, the service lookups, the
// operator's confirmation, the [Master] record, the zone 6 extension and
// the [Panel] button. Every step answers true or false; false means it has
// already told the operator why, or the operator cancelled.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Files_.h"
#include "Variant.h"

namespace Carrier {

// What a step did to one item of the shop, told as it happens, for the
// runner's summary: the [Master] record ("record"), the [Panel] button
// ("button"), each carrier file beside the shop database by its name, and
// the zone chart ("chart").
struct Item {
  struct Change {
    std::string column{}, before{}, after{};
  };
  std::string name{};
  // A change: added, extended, created, replaced, removed, cleared.
  // No change: unchanged, kept (a removal leaves a file that is not the
  // carrier's), refused (the step failed and changed nothing), unreadable
  // (what the item is could not be read). The chart: imported, none. A
  // check: ok, missing, differs.
  std::string result{};
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

// Collects the items the steps tell while it lives (the runner's summary).
class Report {
 public:
  Report();
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;
  std::vector<Item>& Items() { return items_; }

 private:
  std::vector<Item> items_;
  Report* outer_;
};

// Tells the live Report, if any, what a step did; a later item of the same
// name takes the place of the earlier one.
void Tell(Item item);

// One installation in one shop folder, while the object lives. It holds
// the folder's installation lock (Files_::FolderLock), and the carrier's
// files that the steps prepare beside their destinations: they take their
// places only at Commit(), which the driver calls just before it changes
// the host database, and End() then lets the old files go when the host
// database changed, or puts them back when it did not. A Run that dies
// without Commit() leaves every file of the folder as it was; committed
// and not ended, it keeps the new files. Without a live Run, each step
// copies its files at once. Throws Platform::RunError when the lock cannot
// be had.
class Run {
 public:
  explicit Run(const std::string& hostFolder);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // Copies `source` to a temporary file beside `destination` for Commit();
  // a failure shows the copy box, is told as "refused" and answers false.
  bool Stage(const std::string& source, const std::string& destination);
  // Where the bytes prepared for `destination` can be read until Commit().
  std::string Prepared(const std::string& destination) const;
  // Puts every prepared file in place; a failure shows the copy box, puts
  // back what was placed, and answers false.
  bool Commit();
  void End(bool hostChanged);

 private:
  struct Staged;
  void PutBack();
  void TellFiles(const char* notPlacedDetail);
  Files_::FolderLock lock_;
  std::vector<Staged> staged_;
  bool committed_ = false;
  bool ended_ = false;
  Run* outer_;
};

// The installation driver: checks the service tables, asks the operator,
// then brings the service into [Master] (new record or zone 6) and onto a
// [Panel] button. True only when both halves are in place.
bool AddCarrierService(const std::string& serviceType, const std::string& serviceDescription,
                       const std::string& serviceCode, const std::string& carrierName,
                       const std::string& templateService, const std::string& hostDbPath,
                       const std::string& zonesDbPath, const std::string& servicesDbPath);
bool CheckServiceTables(const std::string& serviceCode, const std::string& carrierName,
                        const std::string& zonesDbPath, const std::string& servicesDbPath);

// Origin ZIP and the working zones database (no trap of its own: a
// run-time error reaches the add command).
bool AskOriginZip(const std::string& carrierName, std::string& originZip);
bool PrepareZoneDatabase(const std::string& carrierName, const std::string& emptyZonesFile,
                         const std::string& zonesFile, const std::string& serviceCode);

// The process's own copy of a carrier file, `name` in a private folder that
// no other user can open: the working zones database is rebuilt there by
// every run, and copied to the host folder from there.
std::string WorkingFile(const std::string& name);

// The carrier's files, from the program folder (the zones database from
// its working copy) to the host folder (no trap of their own).
bool CheckCarrierDatabases(const std::string& zonesDbPath, const std::string& servicesDbPath);
bool InstallManifestReport(const std::string& targetPath);
bool InstallLogo(const std::string& targetPath);
bool InstallLabelLayout(const std::string& targetPath);

// Lookups. The host lookups answer true when their query fails (the
// driver then changes nothing in that half); the carrier lookups answer
// whether the table can be read.
bool ServiceInMaster(const std::string& serviceCode, const std::string& hostDbPath);
bool ServiceInPanel(const std::string& serviceCode, const std::string& hostDbPath);
// "[SV1] = VALUE Or [SV2] = VALUE ... Or [SV7] = VALUE": a [Panel] row that
// carries VALUE (an SQL literal or a parameter mark) on one of its buttons.
std::string AnyButtonIs(const std::string& value);
bool TableHasZones(const std::string& tableName, const std::string& zonesDbPath);
bool TableHasRates(const std::string& tableName, const std::string& servicesDbPath);

// Zone chart import. ZoneChartForZip looks up only a ZIP code of 1 to 9
// digits (surrounding spaces allowed) and answers false, silently, for any
// other text; the file name it finds always ends in ".csv". ImportZoneChart
// reads only a plain file name in the program folder's Data folder; any
// other path is refused like an unreadable chart, and so are a file that
// is not an ordinary file and a line over Files_::kMostLineBytes. A
// malformed line ends the import without making it fail; a failed INSERT,
// or a zone line whose third or fourth field is not a number, makes it fail.
bool ZoneChartForZip(const std::string& dbPath, const std::string& zip, std::string& fileName);
bool ImportZoneChart(const std::string& chartPath, const std::string& zonesDbPath, const std::string& tableName);
bool SplitCsvLine(const std::string& line, std::string& field2, std::string& field3, std::string& field4,
                  std::string& errorDescription, std::int32_t& errorNumber);

// The changes to the host database.
bool AddServiceToPanel(const std::string& serviceDescription, const std::string& serviceCode,
                       const std::string& carrierName, const std::string& hostDbPath);
bool AddServiceToMaster(const std::string& serviceType, const std::string& serviceCode,
                        const std::string& carrierName, const std::string& templateService,
                        const std::string& hostDbPath);
// A column that AddServiceToMaster sets instead of copying it from the
// template: its name in upper case, and its value.
struct MasterOverride {
  std::string upperName;
  Db::Variant value;
};
std::vector<MasterOverride> MasterOverrides(const std::string& serviceType, const std::string& serviceCode,
                                            const std::string& carrierName);
bool AddZone6(const std::string& serviceType, const std::string& serviceCode, const std::string& carrierName,
              const std::string& templateService, const std::string& hostDbPath);

}  // namespace Carrier
