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

#include "Variant.h"

namespace Carrier {

// The locks of one installation among others, held while the object lives:
// the host database's folder for the whole run, and the program folder
// from the fresh copy of the working zones database until it has been
// copied next to the host database (PrepareZoneDatabase takes it,
// CheckCarrierDatabases lets it go). Always taken in that order, so two
// installations never wait for each other; a wait ends after a minute with
// Platform::RunError. Without a live RunLocks, PrepareZoneDatabase holds
// the program folder's lock for its own duration only.
class RunLocks {
 public:
  explicit RunLocks(const std::string& hostFolder);
  ~RunLocks();
  RunLocks(const RunLocks&) = delete;
  RunLocks& operator=(const RunLocks&) = delete;

  struct Held;

 private:
  std::unique_ptr<Held> held_;
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

// The carrier's files, from the program folder to the host folder (no trap
// of their own).
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
