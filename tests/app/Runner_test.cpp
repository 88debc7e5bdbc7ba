// The unattended runner: its command line, its exit statuses and the two
// forms of its output; at the end whole runs on a fresh demo shop.
#include "Runner.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

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
  std::string out;
  std::string err;
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
  TestSupport::WriteFile(dir.File("Mailvoro.mdb"), "");
  struct Row {
    const char* name;
    std::vector<std::string> args;
  };
  const Row rows[] = {
      {"no host path", {}},
      {"unknown option", {"--frobnicate", dir.File("Mailvoro.mdb")}},
      {"--zip without its text", {dir.File("Mailvoro.mdb"), "--zip"}},
      {"program folder that is not there", {"--program-folder", dir.File("nowhere"), dir.File("Mailvoro.mdb")}},
      {"two host paths", {dir.File("Mailvoro.mdb"), dir.File("Mailvoro.mdb")}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto result = RunInProcess(row.args);
    EXPECT_EQ(result.exitStatus, App::Runner::kExitUsage);
    EXPECT_EQ(result.out, "") << "nothing may run on a usage error";
    EXPECT_NE(result.err.find("Usage:"), std::string::npos) << result.err;
  }
}

TEST(Runner, HelpAndVersion) {
  const auto help = RunInProcess({"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  for (const char* part : {"--zip", "--yes", "--json", "--program-folder", "HOST_DB_PATH", "Exit status:", "Example:"})
    EXPECT_NE(help.out.find(part), std::string::npos) << part << " missing from:\n" << help.out;

  const auto version = RunInProcess({"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out, "addtarnvel-cli 1.0.3\n");
}

TEST(Runner, MissingHostFileLeavesTheButtonDisabled) {
  TestSupport::TempDir dir;
  Platform::AppInfo::SetDefaultHostDbPath(dir.File("default.mdb"));
  const auto result = RunInProcess({"--json", dir.File("missing.mdb")});

  EXPECT_EQ(result.exitStatus, App::Runner::kExitDisabled);
  const std::vector<std::string> expected = {
      R"({"event":"path","text":")" + dir.File("default.mdb") + R"("})",
      R"({"event":"enabled","value":false})",
      R"({"event":"path","text":""})",
      R"({"event":"enabled","value":false})",
      R"({"event":"caption","text":"Add TARN-VEL Service 1.0.3"})",
      R"({"event":"path","text":")" + dir.File("missing.mdb") + R"("})",
      R"({"event":"enabled","value":false})",
  };
  EXPECT_EQ(Lines(result.out), expected);
}

TEST(Runner, CancelledZipEndsWithTheFailureBox) {
  TestSupport::TempDir dir;
  TestSupport::WriteFile(dir.File("Mailvoro.mdb"), "");
  const auto result = RunInProcess({"--program-folder", dir.Path().string(), dir.File("Mailvoro.mdb")});

  EXPECT_EQ(result.exitStatus, App::Runner::kExitFailed);
  const auto lines = Lines(result.out);
  ASSERT_GE(lines.size(), 5u) << result.out;
  const std::vector<std::string> tail(lines.end() - 5, lines.end());
  const std::vector<std::string> expected = {
      "Pointer: busy",
      "Input box \"Install TARN-VEL?\": This utility will install TARN-VEL service to your Mailvoro. /  /  /  / "
      "Please enter your zipcode of origin: -> (cancelled)",
      "Status: Failed to add TARN-VEL service...",
      "Message box \"Add Service\": Failed to add TARN-VEL service... -> OK",
      "Pointer: default",
  };
  EXPECT_EQ(tail, expected);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1)
      << "nothing may be copied to the host folder";
}

TEST(Runner, EventForms) {
  auto message = [](std::string text, int style, int answer) {
    UiEvent e{};
    e.kind = UiEvent::Kind::Message;
    e.title = "Process has failed !";
    e.text = std::move(text);
    e.style = style;
    e.answer = answer;
    return e;
  };
  auto input = [](std::optional<std::string> reply) {
    UiEvent e{};
    e.kind = UiEvent::Kind::Input;
    e.title = "Install TARN-VEL?";
    e.text = "Line one\r\rzip:";
    e.reply = std::move(reply);
    return e;
  };
  auto status = [](std::string text) {
    UiEvent e{};
    e.kind = UiEvent::Kind::Status;
    e.text = std::move(text);
    return e;
  };
  struct Row {
    const char* name;
    UiEvent event;
    std::string readable;
    std::string json;
  };
  const Row rows[] = {
      {"message with CRs",
       message("Failed to add the service...\r\rThe following error has occurred:\rDisk full", 48, 1),
       "Message box \"Process has failed !\": Failed to add the service... /  / The following error has occurred: / "
       "Disk full -> OK",
       R"({"event":"message","title":"Process has failed !","text":"Failed to add the service...\r\rThe following )"
       R"(error has occurred:\rDisk full","style":48,"answer":1})"},
      {"input cancelled", input(std::nullopt), "Input box \"Install TARN-VEL?\": Line one /  / zip: -> (cancelled)",
       R"({"event":"input","title":"Install TARN-VEL?","prompt":"Line one\r\rzip:","answer":null})"},
      {"status with invalid UTF-8", status("Zone \xE9t\xE9"), "Status: Zone \xE9t\xE9",
       "{\"event\":\"status\",\"text\":\"Zone \xEF\xBF\xBDt\xEF\xBF\xBD\"}"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(App::Runner::FormatEvent(row.event, false), row.readable);
    EXPECT_EQ(App::Runner::FormatEvent(row.event, true), row.json);
  }
}

// Whole runs of the built program on a fresh demo shop.
class RunnerOnDemoShop : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* programDir = std::getenv("ATV_PROGRAM_DIR");
    if (!programDir) GTEST_SKIP() << "ATV_PROGRAM_DIR is not set";
    const fs::path bin = programDir;
    const fs::path demoShop = fs::path(ATV_SOURCE_DIR) / "data" / "demo-shop.sql";
    for (const fs::path& needed : {bin / "addtarnvel-cli", bin / "dbquery", demoShop, bin / "Data"})
      if (!fs::exists(needed)) GTEST_SKIP() << needed << " is not there yet";
    // A program folder of its own: each run rebuilds the working zones
    // database in it.
    program_ = dir_.Path() / "program";
    fs::create_directories(program_);
    for (const char* name : {"TarnVel_Zones_Empty.mdb", "TarnVel_Services.mdb", "TarnVelEODManifest.rpt",
                             "TarnVel.jpg", "TarnVel_Generic.lab"}) {
      if (!fs::exists(bin / name)) GTEST_SKIP() << (bin / name) << " is not there yet";
      fs::copy_file(bin / name, program_ / name);
    }
    fs::copy(bin / "Data", program_ / "Data", fs::copy_options::recursive);
    fs::create_directories(dir_.Path() / "shop");
    host_ = (dir_.Path() / "shop" / "Mailvoro.mdb").string();
    const auto init = Run(Quote((bin / "dbquery").string()) + " --init " + Quote(host_) + " " +
                          Quote(demoShop.string()));
    ASSERT_EQ(init.exitStatus, 0) << init.out << init.err;
    cli_ = (bin / "addtarnvel-cli").string();
  }

  static std::string Quote(const std::string& s) { return "'" + s + "'"; }

  RunResult Run(const std::string& command) {
    const std::string errFile = dir_.File("stderr.txt");
    RunResult result{-1, {}, {}};
    FILE* pipe = popen((command + " 2>" + Quote(errFile)).c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer;
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) result.out.append(buffer.data(), n);
    const int status = pclose(pipe);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = TestSupport::ReadFile(errFile);
    return result;
  }

  RunResult RunCli() {
    return Run(Quote(cli_) + " --json --yes --zip 10001 --program-folder " + Quote(program_.string()) + " " +
               Quote(host_));
  }

  static std::vector<nlohmann::json> Events(const std::string& out) {
    std::vector<nlohmann::json> events;
    for (const auto& line : Lines(out)) events.push_back(nlohmann::json::parse(line));
    return events;
  }

  static bool HasStatus(const std::vector<nlohmann::json>& events, const std::string& text) {
    for (const auto& e : events)
      if (e["event"] == "status" && e["text"] == text) return true;
    return false;
  }

  TestSupport::TempDir dir_;
  fs::path program_;
  std::string host_;
  std::string cli_;
};

TEST_F(RunnerOnDemoShop, FirstRunAddsTheServiceAndSecondAddsZone6) {
  const auto first = RunCli();
  ASSERT_EQ(first.exitStatus, 0) << first.out << first.err;
  auto events = Events(first.out);
  ASSERT_GE(events.size(), 2u);
  const nlohmann::json success = {{"event", "message"},     {"title", "Add Service"},
                                  {"text", "TARN-VEL service was added successfully !"},
                                  {"style", 64},            {"answer", 1}};
  EXPECT_EQ(events[events.size() - 2], success);
  EXPECT_EQ(events.back(), (nlohmann::json{{"event", "pointer"}, {"busy", false}}));
  EXPECT_TRUE(HasStatus(events, "Finished successfully !")) << first.out;
  for (const char* copied : {"TarnVel_Zones.mdb", "TarnVel_Services.mdb", "TarnVelEODManifest.rpt", "TarnVel.jpg",
                             "TarnVel_Generic.lab"})
    EXPECT_TRUE(fs::exists(dir_.Path() / "shop" / copied)) << copied;

  const auto second = RunCli();
  ASSERT_EQ(second.exitStatus, 0) << second.out << second.err;
  events = Events(second.out);
  EXPECT_TRUE(HasStatus(events, "Finished adding new Zone# 6 successfully!")) << second.out;
  EXPECT_TRUE(HasStatus(events, "Finished successfully !")) << second.out;
}

}  // namespace
