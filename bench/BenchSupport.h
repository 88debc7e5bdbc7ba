// What the two benchmark programs share: a scratch program folder laid out
// from the build's carrier files with charts of any length, a clock, and
// the scripted Ui that drops its events as the unattended runner does.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>

#include "ScriptedUi.h"

namespace Bench {

inline constexpr const char* kZoneTable = "TARNVEL-GND";
inline constexpr const char* kWorkingZones = "TarnVel_Zones.mdb";
inline constexpr const char* kEmptyZones = "TarnVel_Zones_Empty.mdb";

// A program folder under a fresh temporary folder: the carrier's files
// copied from `buildProgramFolder`; removed with everything in it when the
// object dies.
class ProgramFolder {
 public:
  explicit ProgramFolder(const std::filesystem::path& buildProgramFolder);
  ~ProgramFolder();
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;

  const std::filesystem::path& Root() const { return root_; }      // the temporary folder
  const std::filesystem::path& Path() const { return program_; }   // the program folder in it
  // Writes Data/<name>: a title line, then `lines` - 1 data lines, CR LF.
  std::string WriteChart(const std::string& name, std::size_t lines) const;
  // Copies the empty zones database over the working one, as the
  // installation does before it imports; answers the working one's path.
  std::string FreshWorkingZones() const;

 private:
  std::filesystem::path root_;
  std::filesystem::path program_;
};

// Makes `ui` keep no events, so that memory stays flat however many
// status texts are written.
void DropEvents(Platform::ScriptedUi& ui);

inline double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Rows of a zones table, counted straight through SQLite.
long long CountRows(const std::string& dbPath);

// The milliseconds ImportZoneChart takes for `chartPath` into a fresh
// working zones database; exits unless each of `dataLines` became a row.
double ImportMs(const ProgramFolder& folder, const std::string& chartPath, std::size_t dataLines);

// Exits with a message when `ok` is false: a benchmark of a failing run
// measures nothing.
void Require(bool ok, const std::string& what);

}  // namespace Bench
