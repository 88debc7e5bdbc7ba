#include "BenchSupport.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>

#include "Carrier.h"
#include "DatabaseLocks.h"
#include "Files_.h"
#include "RunError.h"

namespace Bench {
namespace fs = std::filesystem;

namespace {

const char* const kCarrierFiles[] = {"TarnVel_Services.mdb", kEmptyZones, "TarnVelEODManifest.rpt", "TarnVel.jpg",
                                     "TarnVel_Generic.lab"};

}  // namespace

ProgramFolder::ProgramFolder(const fs::path& buildProgramFolder) {
  std::random_device random;
  root_ = fs::temp_directory_path() / ("atv-bench-" + std::to_string(random()));
  program_ = root_ / "program";
  fs::create_directories(program_ / "Data");
  for (const char* name : kCarrierFiles) {
    const fs::path source = buildProgramFolder / name;
    Require(fs::is_regular_file(source), "the carrier file " + source.string() + " is there");
    fs::copy_file(source, program_ / name);
  }
}

ProgramFolder::~ProgramFolder() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string ProgramFolder::WriteChart(const std::string& name, std::size_t lines) const {
  const fs::path path = program_ / "Data" / name;
  std::ofstream out(path, std::ios::binary);
  out << "Origin,LOZIP,HIZIP,ZONE\r\n";
  char line[64];
  for (std::size_t i = 1; i < lines; ++i) {
    const int length = std::snprintf(line, sizeof line, "100,%05zu,%05zu,%zu\r\n", i * 10, i * 10 + 9, 2 + i % 7);
    out.write(line, length);
  }
  Require(static_cast<bool>(out), "the chart " + path.string() + " is written");
  return path.string();
}

std::string ProgramFolder::FreshWorkingZones() const {
  const std::string working = (program_ / kWorkingZones).string();
  try {
    Files_::CopyFileChecked((program_ / kEmptyZones).string(), working, Db::kDatabaseLocks);
  } catch (const Platform::RunError& error) {
    Require(false, "the empty zones database is copied (" + error.Description() + ")");
  }
  return working;
}

void DropEvents(Platform::ScriptedUi& ui) {
  ui.onEvent = [&ui](const Platform::UiEvent&) { ui.Clear(); };
}

long long CountRows(const std::string& dbPath) {
  sqlite3* db = nullptr;
  long long count = -1;
  if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = std::string("SELECT count(*) FROM [") + kZoneTable + "]";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
      count = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return count;
}

double ImportMs(const ProgramFolder& folder, const std::string& chartPath, std::size_t dataLines) {
  const std::string zones = folder.FreshWorkingZones();
  const auto start = std::chrono::steady_clock::now();
  Carrier::Report report;
  const bool imported = Carrier::ImportZoneChart(chartPath, zones, kZoneTable, report);
  const double ms = MillisecondsSince(start);
  Require(imported, "ImportZoneChart succeeds");
  Require(CountRows(zones) == static_cast<long long>(dataLines), "every data line became a row");
  return ms;
}

void Require(bool ok, const std::string& what) {
  if (ok) return;
  std::cerr << "benchmark failed: expected that " << what << "\n";
  std::exit(1);
}

}  // namespace Bench
