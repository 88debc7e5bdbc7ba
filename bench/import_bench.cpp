// The zone chart import against its limit, and one whole installation.
//
//   atv-import-bench BUILD_PROGRAM_FOLDER DEMO_SHOP [LARGE_LINES]
//
// Prints a table of per-line costs and, as its last line,
//   import-ratio-1k R1 import-ratio-100k R2 install-ms T peak-mb M
// Every figure is measured in this one run, so the ratios hold on a busy
// machine; each timing is the best of a few repetitions.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "AppInfo.h"
#include "BenchSupport.h"
#include "Runner.h"
#include "Ui.h"

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Row {
  sqlite3_int64 loZip, hiZip, zone;
};

// The chart's data lines, parsed before the clock starts: the limit is the
// inserting alone.
std::vector<Row> ParseChart(const std::string& chartPath) {
  std::ifstream in(chartPath, std::ios::binary);
  std::vector<Row> rows;
  std::string line;
  while (std::getline(in, line, '\n')) {
    Row row{};
    if (std::sscanf(line.c_str(), "%*[^,],%lld,%lld,%lld", &row.loZip, &row.hiZip, &row.zone) == 3) rows.push_back(row);
  }
  return rows;
}

// The limit: SQLite as it comes (full synchronous, rollback journal), one
// transaction, one prepared statement.
double RawSqliteMs(const std::string& dbPath, const std::vector<Row>& rows) {
  const auto start = Clock::now();
  sqlite3* db = nullptr;
  Bench::Require(sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK, "SQLite opens");
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* stmt = nullptr;
  const std::string sql = std::string("INSERT INTO [") + Bench::kZoneTable + "] ([LOZIP], [HIZIP], [ZONE]) VALUES (?, ?, ?)";
  Bench::Require(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK, "the INSERT prepares");
  for (const Row& row : rows) {
    sqlite3_bind_int64(stmt, 1, row.loZip);
    sqlite3_bind_int64(stmt, 2, row.hiZip);
    sqlite3_bind_int64(stmt, 3, row.zone);
    Bench::Require(sqlite3_step(stmt) == SQLITE_DONE, "a raw INSERT runs");
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  Bench::Require(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK, "the raw import commits");
  sqlite3_close(db);
  return Bench::MillisecondsSince(start);
}

struct Sizes {
  double limitMs = 0, importMs = 0;
};

Sizes MeasureChart(const Bench::ProgramFolder& folder, const std::string& chartPath, std::size_t dataLines,
                   int repetitions) {
  const std::vector<Row> rows = ParseChart(chartPath);
  Bench::Require(rows.size() == dataLines, "the chart parses");
  Sizes best{1e300, 1e300};
  // Interleaved, so that a slow spell of the machine hits both sides.
  for (int i = 0; i < repetitions; ++i) {
    best.limitMs = std::min(best.limitMs, RawSqliteMs(folder.FreshWorkingZones(), rows));
    best.importMs = std::min(best.importMs, Bench::ImportMs(folder, chartPath, dataLines));
  }
  return best;
}

// Resets the peak resident size the kernel keeps for this process; false
// when the kernel cannot.
bool ResetPeakMemory() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

double PeakMemoryMb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;  // kB
  }
  return -1;
}

double InstallMs(const Bench::ProgramFolder& folder, const fs::path& demoShop) {
  const fs::path shop = folder.Root() / "shop" / "Mailvoro.mdb";
  fs::remove_all(shop.parent_path());
  fs::create_directories(shop.parent_path());
  fs::copy_file(demoShop, shop);
  std::ostringstream out, err;
  const auto start = Clock::now();
  const int status = App::Runner::Main({"addtarnvel-cli", "--zip", "10001", "--yes", "--program-folder",
                                        folder.Path().string(), shop.string()},
                                       out, err);
  const double ms = Bench::MillisecondsSince(start);
  Bench::Require(status == App::Runner::kExitSucceeded, "the installation succeeds:\n" + out.str() + err.str());
  return ms;
}

void PrintRow(const char* what, std::size_t lines, double ms, double ratio) {
  std::printf("%-34s %8zu %11.2f %9.2f", what, lines, ms, ms * 1000.0 / static_cast<double>(lines));
  if (ratio > 0) std::printf(" %7.1f", ratio);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: atv-import-bench BUILD_PROGRAM_FOLDER DEMO_SHOP [LARGE_LINES]\n";
    return 2;
  }
  const fs::path buildProgramFolder = argv[1];
  const fs::path demoShop = argv[2];
  const std::size_t smallLines = 1000;
  const std::size_t largeLines = argc > 3 ? std::stoul(argv[3]) : 100000;

  Bench::ProgramFolder folder(buildProgramFolder);
  Platform::AppInfo::SetProgramFolder(folder.Path().string());
  Platform::ScriptedUi ui;
  Bench::DropEvents(ui);
  Platform::UiInstallation installation(ui);

  // The peak memory is taken first, over the large import alone.
  const std::string largeChart = folder.WriteChart("bench_large.csv", largeLines + 1);
  const bool peakReset = ResetPeakMemory();
  Bench::ImportMs(folder, largeChart, largeLines);
  const double peakMb = PeakMemoryMb();

  const std::string smallChart = folder.WriteChart("bench_small.csv", smallLines + 1);
  const Sizes small = MeasureChart(folder, smallChart, smallLines, 7);
  const Sizes large = MeasureChart(folder, largeChart, largeLines, 2);

  // The installation imports a chart of the small size for ZIP code 10001.
  folder.WriteChart("TarnVel_100.csv", smallLines + 1);
  double installMs = 1e300;
  for (int i = 0; i < 5; ++i) installMs = std::min(installMs, InstallMs(folder, demoShop));

  const double ratioSmall = small.importMs / small.limitMs;
  const double ratioLarge = large.importMs / large.limitMs;
  std::printf("%-34s %8s %11s %9s %7s\n", "measured (best of a few runs)", "lines", "ms", "us/line", "ratio");
  PrintRow("raw SQLite, one transaction", smallLines, small.limitMs, 0);
  PrintRow("ImportZoneChart", smallLines, small.importMs, ratioSmall);
  PrintRow("raw SQLite, one transaction", largeLines, large.limitMs, 0);
  PrintRow("ImportZoneChart", largeLines, large.importMs, ratioLarge);
  std::printf("%-34s %8zu %11.2f\n", "whole installation (runner)", smallLines, installMs);
  std::printf("%-34s %8zu %11.2f MB%s\n", "peak memory of the large import", largeLines, peakMb,
              peakReset ? "" : " (whole process: the peak could not be reset)");
  std::printf("import-ratio-1k %.2f import-ratio-100k %.2f install-ms %.1f peak-mb %.1f\n", ratioSmall, ratioLarge,
              installMs, peakMb);
  return 0;
}
