// Files_ and MsgBox_ on the cases of files.json beside this file.
#include "Files_.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "DatabaseLocks.h"
#include "Files_testing.h"
#include "MsgBox_.h"
#include "RunError.h"
#include "Scenario.h"

namespace {

using Scenario::Results;
using Args = std::vector<std::string>;

// Lines longer than this are given as their length.
constexpr std::size_t kShownLine = 80;

// Whether another holder takes the folder's lock file (a missing one can be made); `keep` holds it on.
bool OtherHolderGetsIt(const std::string& folder, bool keep = false) {
  const int other = ::open((folder + "/" + Files_::kFolderLockName).c_str(), O_RDWR | (keep ? O_CREAT : 0), 0600);
  if (other < 0) return errno == ENOENT;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  const bool got = ::fcntl(other, F_OFD_SETLK, &lock) == 0;
  if (!keep) ::close(other);
  return got;
}

// "true" and "0: ", or "false", the error and the box `tell` shows.
Results Outcome(const std::function<void()>& body, const std::function<void()>& tell) {
  try {
    body();
    return {"true", "0: "};
  } catch (const Platform::RunError& e) {
    tell();
    return {"false", std::to_string(e.Number()) + ": " + e.Description()};
  }
}

const Scenario::Steps kSteps = {
    // Lock FOLDER: the folder lock taken twice over by this process, then
    // "held" while no other holder can take it, "released" once one can.
    {"Lock", [](Scenario::Context&, const Args& a) {
       Results results;
       {
         const Files_::FolderLock first(a.at(0)), again(a.at(0));
         results.push_back(OtherHolderGetsIt(a.at(0)) ? "shared" : "held");
       }
       results.push_back(OtherHolderGetsIt(a.at(0)) ? "released" : "kept");
       return results;
     }},
    // HoldLock FOLDER: another installation holds the folder's lock.
    {"HoldLock", [](Scenario::Context&, const Args& a) {
       return Results{OtherHolderGetsIt(a.at(0), true) ? "held" : "free"};
     }},
    {"PathParts", [](Scenario::Context&, const Args& a) {
       return Results{Files_::LastPathPart(a.at(0)), Files_::FolderOfPath(a.at(0))};
     }},
    {"Locate", [](Scenario::Context&, const Args& a) {
       return Results{Scenario::Bool(Files_::LocateFile(a.at(0), false))[0],
                      Scenario::Bool(Files_::LocateFile(a.at(0), true))[0]};
     }},
    // Copy SOURCE DESTINATION replace [ENOSPC|EIO: the write after the first chunk fails so]
    {"Copy", [](Scenario::Context&, const Args& a) {
       const int fault = a.size() < 4 ? 0 : a[3] == "ENOSPC" ? ENOSPC : EIO;
       const std::uint64_t chunk = Files_::testing::CopyChunkSize();
       Files_::testing::SetCopyWriteFault([=](std::uint64_t written) { return written >= chunk ? fault : 0; });
       return Outcome([&] { Files_::StagedCopy(a.at(0), a.at(1), Db::kDatabaseLocks).Place(); },
                      [&] { MsgBox_::ShowCopyFailed(a.at(0), a.at(1)); });
     }},
    // Every line, the error that ends the reading (a read past the end at
    // the latest), and whether the file is closed afterwards.
    {"Read", [](Scenario::Context&, const Args& a) {
       Results lines;
       Files_::InputFile file;
       try {
         file.Open(a.at(0));
         while (!file.AtEnd()) {
           const std::string line = file.ReadLine();
           lines.push_back(line.size() > kShownLine ? "(" + std::to_string(line.size()) + " bytes)" : line);
         }
         file.ReadLine();
       } catch (const Platform::RunError& e) {
         lines.push_back(std::to_string(e.Number()) + ": " + e.Description());
       }
       lines.push_back(Files_::CloseFile(file) && !file.IsOpen() ? "closed" : "open");
       return lines;
     }},
    {"Remove", [](Scenario::Context&, const Args& a) {
       return Outcome([&] { Files_::RemoveFileChecked(a.at(0), Db::kDatabaseLocks); },
                      [&] { MsgBox_::ShowRemoveFailed(a.at(0)); });
     }},
    {"ShowProcessFailed", [](Scenario::Context&, const Args& a) {
       MsgBox_::ShowProcessFailed(a.at(0), a.at(1), a.at(2));
       return Results{};
     }},
};

TEST(Files_, Cases) {
  Files_::testing::SetWaits(std::chrono::milliseconds(200), std::chrono::milliseconds(200));
  Scenario::RunFile(ATV_CASES_DIR "/files.json", kSteps);
}

}  // namespace
