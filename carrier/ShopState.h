// The service as it stands in one shop, and what the unattended runner does
// beside installing it: tell what a run changed (or would change, when run
// on a private copy of the shop), check that the service is installed as an
// installation leaves it, and take it out again. Everything here reads the
// shop's databases without writing them, except Remove.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Snapshot.h"

namespace ShopState {

// The names of the service and of the carrier's files, as the add command
// holds them.
struct Service {
  std::string carrierName, serviceType, serviceCode;
  std::string emptyZonesFile, zonesFile, servicesFile;
  std::vector<std::string> supportFiles;  // the manifest report, the logo, the label layout
  // The five files an installation puts next to the shop database: the
  // zones and services databases, then the support files.
  std::vector<std::string> ShopFiles() const;
};

// What became of one item, or how it was found: the [Master] record
// ("record"), the [Panel] button ("button"), each shop file by its name,
// and the zone chart ("chart").
struct Item {
  struct Change {
    std::string column{}, before{}, after{};
  };
  std::string name{};
  // added, changed, removed, cleared, created, replaced, unchanged, absent;
  // unreadable (a table that cannot be read); ok, missing, differs;
  // imported, none.
  std::string result{};
  std::string detail{};           // for a person: which row, why, which chart
  std::vector<Change> changes{};  // a changed record: each column, old and new
  std::int64_t rows = -1;         // the chart: rows in the shop's zone table
};

// The rows and file contents the service touches in one shop: its [Master]
// records, all [Panel] rows, and a digest of each shop file (databases by
// their rows, other files by their bytes).
struct State {
  struct File {
    bool present = false;
    std::uint64_t digest = 0;
  };
  Snapshot::Rows master, panel;
  std::string masterError, panelError;  // a table that could not be read
  std::vector<File> files;              // in the order of Service::ShopFiles
};

// Reads the state without changing anything. Never throws.
State Capture(const Service& service, const std::string& hostDbPath);

// The record, the button and each shop file, from `before` to `after`.
std::vector<Item> Compare(const Service& service, const State& before, const State& after);

// Whether any item changed.
bool Changed(const std::vector<Item>& items);

// The chart's item: the chart file the ZIP code names in the program
// folder's empty zones database, and the rows of the shop's zone table.
Item Chart(const Service& service, const std::string& hostDbPath, const std::string& originZip);

// Whether the service is installed as an installation leaves it, item by
// item ("ok" or why not): the record with the values AddServiceToMaster
// writes, a button carrying the service, the five files present, the
// support files and the services database equal to the program folder's,
// and a zones database whose zone table has rows. Changes nothing; shows
// nothing. Never throws.
std::vector<Item> Verify(const Service& service, const std::string& hostDbPath);

// Takes the service out of the shop after the operator confirms (the
// question box, OK and Cancel): its [Master] records; its [Panel] buttons
// (a row whose only service it is goes, in any other row only that
// button's text and code are cleared); then, once both are gone, each shop
// file that is the carrier's (a support file equal to the program folder's,
// a database holding the service's table). Holds the installation lock of
// the shop's folder throughout; each change is on disk before the next
// begins, so a run cut short is completed by the next. Every failure shows
// its box. True when the service is out and no file removal failed. Never
// throws.
bool Remove(const Service& service, const std::string& hostDbPath);

// A private copy of one shop (its database, copied consistently even while
// another program writes it, and the carrier's files beside it) and of the
// program folder's carrier files, in a new temporary folder, so that a run
// on it touches nothing shared. Each copy can be written exactly when its
// original can. The zone charts are read from the real program folder.
// Everything is removed when the object dies. Throws Platform::RunError
// when the shop cannot be copied.
class PrivateCopy {
 public:
  PrivateCopy(const Service& service, const std::string& hostDbPath, const std::string& programFolder);
  ~PrivateCopy();
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;

  const std::string& HostDbPath() const { return copyHostDbPath_; }
  const std::string& ProgramFolder() const { return copyProgramFolder_; }
  // `text` with the copies' paths written as the originals'.
  std::string RealPaths(std::string text) const;

 private:
  std::string root_;
  std::string hostDbPath_, programFolder_;
  std::string copyHostDbPath_, copyProgramFolder_;
};

}  // namespace ShopState
