// What the unattended runner does beside installing the service: check that it is installed, and make a
// private copy of a shop for a dry run. Nothing here writes the shop.
#pragma once

#include <string>
#include <vector>

#include "Carrier.h"
#include "Files_.h"
#include "Snapshot.h"

namespace ShopState {

using Item = Carrier::Item;
using Carrier::Result;
using Carrier::Service;

// Whether the service is installed as an installation leaves it, item by item ("ok" or why not): the record
// with the values AddServiceToMaster writes, a button carrying the service (matched as the shop's own columns
// compare), the five files present, the support files and the services database byte for byte the program
// folder's, and a zones database whose zone table is a table with rows; with `originZip` not empty, rows that
// are exactly those of that ZIP code's chart. A file larger than Files_::kMostCarrierFileBytes is not read.
// Changes no byte and no time stamp; shows nothing; every read is bounded in time. Never throws.
std::vector<Item> Verify(const Service& service, const std::string& hostDbPath, const std::string& originZip = "");

// A private copy of one shop, in a Files_::PrivateFolder, so that a run on it touches nothing of the shop: its
// database, copied consistently even while another program writes it, and what is beside it under the
// carrier's file names (a file of at most Files_::kMostCarrierFileBytes copied, a larger one as an empty file, a
// link as a link, anything else as a FIFO), each copy writable exactly when its original is. The program folder
// is only read, so a run uses the real one. Everything is removed when the object dies. Throws
// Platform::RunError when the shop cannot be copied.
class PrivateCopy {
 public:
  PrivateCopy(const Service& service, const std::string& hostDbPath);
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;

  const std::string& HostDbPath() const { return copyHostDbPath_; }
  // `text` with the copies' paths written as the originals'.
  std::string RealPaths(std::string text) const;

 private:
  Files_::PrivateFolder folder_;
  std::string hostDbPath_, hostFolder_, copyFolder_, copyHostDbPath_;  // made once: every event is rewritten
};

}  // namespace ShopState
