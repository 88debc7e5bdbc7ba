// The unattended runner: its command line, its exit statuses and the two
// forms of its output; at the end whole runs on a fresh demo shop.
#include "Runner.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "AppInfo.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Platform::UiEvent;

struct RunResult {
  int exitStatus;
  std::string out, err;
};

RunResult RunInProcess(std::vector<std::string> args) {
  args.insert(args.begin(), "addtarnvel-cli");
  std::ostringstream out, err;
  const int status = App::Runner::Main(args, out, err);
  return {status, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Runner, CommandLineErrorsExitWithUsage) {
  TestSupport::TempDir dir;
  const std::string host = dir.File("Mailvoro.mdb");
  TestSupport::WriteFile(host, "");
  const std::vector<std::vector<std::string>> rows = {
      {}, {"--frobnicate", host}, {host, "--zip"}, {"--program-folder", dir.File("nowhere"), host}, {host, host}};
  for (const auto& args : rows) {
    const auto result = RunInProcess(args);
    EXPECT_EQ(result.exitStatus, App::Runner::kExitUsage) << ::testing::PrintToString(args);
    EXPECT_EQ(result.out, "") << "nothing may run on a usage error";
    EXPECT_NE(result.err.find("Usage:"), std::string::npos) << result.err;
  }
  const auto help = RunInProcess({"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.out.find("Exit status:"), std::string::npos) << help.out;
  EXPECT_EQ(RunInProcess({"--version"}).out, "addtarnvel-cli 1.0.3\n");
}

TEST(Runner, MissingHostFileLeavesTheButtonDisabled) {
  TestSupport::TempDir dir;
  Platform::AppInfo::SetDefaultHostDbPath(dir.File("default.mdb"));
  const auto result = RunInProcess({"--json", dir.File("missing.mdb")});
  EXPECT_EQ(result.exitStatus, App::Runner::kExitDisabled);
  EXPECT_EQ(result.err, "addtarnvel-cli: the add button stays disabled: '" + dir.File("missing.mdb") + "' names no file\n");
  const std::vector<std::string> expected = {
      R"({"event":"path","text":")" + dir.File("default.mdb") + R"("})",
      R"({"event":"enabled","value":false})",
      R"({"event":"path","text":""})",
      R"({"event":"enabled","value":false})",
      R"({"event":"caption","text":"Add TARN-VEL Service 1.0.3"})",
      R"({"event":"path","text":")" + dir.File("missing.mdb") + R"("})",
      R"({"event":"enabled","value":false})",
      R"({"event":"summary","mode":"install","dry_run":false,"outcome":"no-file","exit":3,"changed":false,"items":[]})",
  };
  EXPECT_EQ(Lines(result.out), expected);
}

TEST(Runner, CancelledZipEndsWithTheFailureBox) {
  TestSupport::TempDir dir;
  TestSupport::WriteFile(dir.File("Mailvoro.mdb"), "");
  const auto result = RunInProcess({"--program-folder", dir.Path().string(), dir.File("Mailvoro.mdb")});
  EXPECT_EQ(result.exitStatus, App::Runner::kExitFailed);
  EXPECT_EQ(result.err, "addtarnvel-cli: the ZIP code question was cancelled: no --zip was given\n");
  auto lines = Lines(result.out);
  ASSERT_GE(lines.size(), 6u) << result.out;
  EXPECT_TRUE(lines.back().starts_with("Summary: install failed, unchanged; record unreadable")) << lines.back();
  lines.pop_back();
  const std::vector<std::string> expected = {
      "Pointer: busy",
      "Input box \"Install TARN-VEL?\": This utility will install TARN-VEL service to your Mailvoro. /  /  /  / "
      "Please enter your zipcode of origin: -> (cancelled)",
      "Status: Failed to add TARN-VEL service...",
      "Message box \"Add Service\": Failed to add TARN-VEL service... -> OK",
      "Pointer: default",
  };
  EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()), expected);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1)
      << "nothing may be copied to the host folder";
}

TEST(Runner, EventForms) {
  const struct {
    UiEvent event;
    std::string readable, json;
  } rows[] = {
      {{.kind = UiEvent::Kind::Message, .title = "Process has failed !",
        .text = "Failed to add the service...\r\rThe following error has occurred:\rDisk full", .style = 48,
        .answer = 1},
       "Message box \"Process has failed !\": Failed to add the service... /  / The following error has occurred: / "
       "Disk full -> OK",
       R"({"event":"message","title":"Process has failed !","text":"Failed to add the service...\r\rThe following )"
       R"(error has occurred:\rDisk full","style":48,"answer":1})"},
      {{.kind = UiEvent::Kind::Input, .title = "Install TARN-VEL?", .text = "Line one\r\rzip:"},
       "Input box \"Install TARN-VEL?\": Line one /  / zip: -> (cancelled)",
       R"({"event":"input","title":"Install TARN-VEL?","prompt":"Line one\r\rzip:","answer":null})"},
      {{.kind = UiEvent::Kind::Status, .text = "Zone \xE9t\xE9"}, "Status: Zone \xE9t\xE9",
       "{\"event\":\"status\",\"text\":\"Zone \xEF\xBF\xBDt\xEF\xBF\xBD\"}"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(App::Runner::FormatEvent(row.event, false), row.readable);
    EXPECT_EQ(App::Runner::FormatEvent(row.event, true), row.json);
  }
}

// Runs a shell command, its output as events (JSON lines), its exit status.
std::pair<int, std::vector<nlohmann::json>> RunJson(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {-1, {}};
  std::array<char, 4096> buffer;
  while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) out.append(buffer.data(), n);
  const int status = pclose(pipe);
  std::vector<nlohmann::json> events;
  for (const auto& line : Lines(out)) events.push_back(nlohmann::json::parse(line, nullptr, false));
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, events};
}

bool HasStatus(const std::vector<nlohmann::json>& events, const std::string& text) {
  const nlohmann::json status = {{"event", "status"}, {"text", text}};
  return std::find(events.begin(), events.end(), status) != events.end();
}

// Whole runs of the built program on a fresh demo shop, in a program folder
// of its own: each run rebuilds the working zones database in it.
TEST(RunnerOnDemoShop, FirstRunAddsTheServiceAndSecondAddsZone6) {
  const char* programDir = std::getenv("ATV_PROGRAM_DIR");
  if (!programDir) GTEST_SKIP() << "ATV_PROGRAM_DIR is not set";
  const fs::path bin = programDir;
  TestSupport::TempDir dir;
  const fs::path program = dir.Path() / "program", shop = dir.Path() / "shop";
  fs::create_directories(program);
  fs::create_directories(shop);
  for (const char* name : {"TarnVel_Zones_Empty.mdb", "TarnVel_Services.mdb", "TarnVelEODManifest.rpt",
                           "TarnVel.jpg", "TarnVel_Generic.lab", "Data"})
    fs::copy(bin / name, program / name, fs::copy_options::recursive);
  const std::string host = (shop / "Mailvoro.mdb").string();
  ASSERT_EQ(std::system(("'" + (bin / "dbquery").string() + "' --init '" + host + "' '" + ATV_SOURCE_DIR +
                         "/data/demo-shop.sql'").c_str()),
            0);
  const std::string cli = "'" + (bin / "addtarnvel-cli").string() + "' --json --yes --zip 10001 --program-folder '" +
                          program.string() + "' '" + host + "'";

  // The first run, in this process so that the window starts from a default
  // path of the test's own, is checked line by line against the expected
  // transcript; the temporary folder reads ${DIR} there.
  Platform::AppInfo::SetDefaultHostDbPath((dir.Path() / "none" / "Mailvoro.mdb").string());
  auto first = RunInProcess({"--json", "--yes", "--zip", "10001", "--program-folder", program.string(), host});
  ASSERT_EQ(first.exitStatus, 0) << first.err;
  std::string transcript = first.out;
  for (auto at = transcript.find(dir.Path().string()); at != std::string::npos;
       at = transcript.find(dir.Path().string(), at))
    transcript.replace(at, dir.Path().string().size(), "${DIR}");
  const std::string expectedPath = std::string(ATV_SOURCE_DIR) + "/tests/app/demo-first-run.jsonl";
  if (std::getenv("ATV_WRITE_TRANSCRIPT")) TestSupport::WriteFile(expectedPath, transcript);
  const auto expected = Lines(TestSupport::ReadFile(expectedPath)), actual = Lines(transcript);
  for (std::size_t i = 0; i < std::max(expected.size(), actual.size()); ++i)
    ASSERT_EQ(i < actual.size() ? actual[i] : "(no more events)", i < expected.size() ? expected[i] : "(none expected)")
        << "event " << i + 1 << " of the first run";
  for (const char* copied : {"TarnVel_Zones.mdb", "TarnVel_Services.mdb", "TarnVelEODManifest.rpt", "TarnVel.jpg",
                             "TarnVel_Generic.lab"})
    EXPECT_TRUE(fs::exists(shop / copied)) << copied;

  auto [status, events] = RunJson(cli);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(HasStatus(events, "Finished adding new Zone# 6 successfully!"));
  EXPECT_TRUE(HasStatus(events, "Finished successfully !"));
}

}  // namespace
