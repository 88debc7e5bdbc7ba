// The unattended runner: a golden transcript per flow (the one place the operator's texts are asserted), its
// modes' outcomes, and the built runner on a pseudo-terminal and into a file.
#include "Runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>  // mkfifo
#include <unistd.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "AppInfo.h"
#include "Carrier.h"
#include "Files_testing.h"
#include "Shop.h"

namespace {

namespace fs = std::filesystem;
using TestSupport::Shop;
using Args = std::vector<std::string>;
using Setup = std::function<void(const Shop&)>;

// The program's own default path, as it was before any test set another.
const std::string& RealDefault() {
  static const std::string path = Platform::AppInfo::DefaultHostDbPath();
  return path;
}
int held = -1;  // the descriptor a setup holds a lock with, closed after the run

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

struct Ran {
  int status;
  std::string out, err;
};

// The runner in this process; "${DIR}" in an argument is the shop's temporary folder.
Ran Cli(const Shop& shop, Args args) {
  for (auto& a : args) a = Replaced(a, "${DIR}", shop.Root().string());
  args.insert(args.begin(), "addtarnvel-cli");
  std::ostringstream out, err;
  return {App::Runner::Main(args, out, err), out.str(), err.str()};
}

// The options with the program folder and the shop.
Args On(Args options) {
  options.insert(options.end(), {"--program-folder", "${DIR}/program", "${DIR}/shop/Mailvoro.mdb"});
  return options;
}
const Args kInstall = On({"--yes", "--zip", "10001"});
const Args kRemove = On({"--remove", "--yes"});

// Setups.
void Sql(const fs::path& db, const std::string& sql) { TestSupport::CreateDatabase(db.string(), sql); }
void Chart(const Shop& s, const std::string& rows) {
  TestSupport::WriteFile((s.Program() / "Data/TarnVel_100.csv").string(), "Origin,LOZIP,HIZIP,ZONE\r\n" + rows);
}
// A chart of two rows, so that an installation is quick.
void Short(const Shop& s) { Chart(s, "100,10000,12799,2\r\n100,12800,13699,3\r\n"); }
void Installed(const Shop& s) {
  Short(s);
  ASSERT_EQ(Cli(s, kInstall).status, 0);
}
// Another installation's lock: a byte range of the lock file.
void Locked(const Shop& s) {
  Short(s);
  held = ::open((s.Folder() / ".addtarnvel.lock").c_str(), O_RDWR | O_CREAT, 0644);
  struct flock byte {
    .l_type = F_RDLCK, .l_whence = SEEK_SET, .l_start = 0, .l_len = 1, .l_pid = 0
  };
  ASSERT_EQ(::fcntl(held, F_OFD_SETLK, &byte), 0);
}

class Runner : public testing::Test {
 protected:
  void SetUp() override {
    if (!shop.Ready()) GTEST_SKIP() << shop.Why();
    RealDefault();
    Files_::testing::SetWaits(std::chrono::milliseconds(300), std::chrono::seconds(5));
    Platform::AppInfo::SetDefaultHostDbPath((shop.Root() / "none/Mailvoro.mdb").string());
  }
  // Lets go of what a setup held or made read-only, so the folder can be removed.
  void TearDown() override {
    ::close(held);
    held = -1;
    for (const auto& entry : fs::recursive_directory_iterator(shop.Root()))
      if (!entry.is_symlink()) fs::permissions(entry.path(), fs::perms(0600), fs::perm_options::add);
  }
  Shop shop;
};

struct Flow {
  std::string name;
  Setup setup;
  Args args;
  int exit;
};

// clang-format off
const Flow kFlows[] = {
    {"a first installation", {}, kInstall, 0},
    {"zone 6 on a second installation", [](const Shop& s) { Installed(s), Sql(s.Host(), "UPDATE Master SET ACTAP = 0, AP = 0 WHERE Service = 'TARNVEL-GND'"); }, kInstall, 0},
    {"the ZIP question cancelled", Short, On({"--yes"}), 1},
    {"a ZIP code not found", Short, On({"--yes", "--zip", "1000A"}), 1},
    {"the confirmation cancelled", Short, On({"--zip", "10001"}), 1},
    {"a carrier file missing", [](const Shop& s) { Short(s), fs::remove(s.Program() / "TarnVel.jpg"); }, kInstall, 1},
    {"a copy refused", [](const Shop& s) { Short(s), fs::permissions(s.Folder(), fs::perms(0555)); }, kInstall, 1},
    {"the zones table missing", [](const Shop& s) { Chart(s, ""), Sql(s.Program() / "TarnVel_Zones_Empty.mdb", "DROP TABLE [TARNVEL-GND]"); }, kInstall, 1},
    {"the rates table missing", [](const Shop& s) { Short(s), Sql(s.Program() / "TarnVel_Services.mdb", "DROP TABLE [TARNVEL-GND]"); }, kInstall, 1},
    {"a host lookup failed", [](const Shop& s) { Short(s), TestSupport::WriteFile(s.Host(), "no database"); }, kInstall, 1},
    {"no template service", [](const Shop& s) { Short(s), Sql(s.Host(), "DELETE FROM Master WHERE Service = 'FEDEX-GND'"); }, kInstall, 1},
    {"the button refused", [](const Shop& s) { Short(s), Sql(s.Host(), "CREATE TRIGGER t BEFORE INSERT ON Panel BEGIN SELECT RAISE(ABORT, 'no'); END"); }, kInstall, 1},
    {"the chart unreadable", [](const Shop& s) { fs::remove(s.Program() / "Data/TarnVel_100.csv"); }, kInstall, 1},
    {"a chart line that does not parse", [](const Shop& s) { Chart(s, "100,10000,12799,2\r\nno fields\r\n"); }, kInstall, 0},
    {"a chart row not stored", [](const Shop& s) { Chart(s, "100,10000,12799,2\r\n100,12800,13699,x\r\n"); }, kInstall, 1},
    {"another installation's lock", Locked, kInstall, 1},
    {"a removal", Installed, kRemove, 0},
    {"a removal that fails", [](const Shop& s) { Installed(s), fs::permissions(s.Folder() / "TarnVel.jpg", fs::perms(0444)); }, kRemove, 1},
    {"a host path that names no file", [](const Shop&) { Platform::AppInfo::SetDefaultHostDbPath(RealDefault()); }, {"${DIR}/none/Mailvoro.mdb"}, 3},
    {"no shop named", {}, {}, 2},
    {"a removal from a folder", {}, {"--remove", "--yes", "${DIR}/shop"}, 3},
    {"a dry run on a FIFO", [](const Shop& s) { ::mkfifo((s.Root() / "pipe.mdb").c_str(), 0644); }, {"--dry-run", "--zip", "10001", "${DIR}/pipe.mdb"}, 3},
    {"a link to no file", [](const Shop& s) { fs::create_symlink(s.Root() / "gone.mdb", s.Root() / "link.mdb"); }, {"${DIR}/link.mdb"}, 3},
    {"an empty path", {}, {""}, 3},
};
// clang-format on

class Flows : public Runner, public testing::WithParamInterface<Flow> {};

// The transcript with the temporary folders as ${DIR} and ${WORK} and the user as ${USER};
// ATV_UPDATE_GOLDEN=1 writes the golden files instead (reviewed like code).
TEST_P(Flows, AsTheGoldenTranscript) {
  if (GetParam().setup) GetParam().setup(shop);
  const Ran ran = Cli(shop, GetParam().args);
  EXPECT_EQ(ran.status, GetParam().exit);
  std::string text = ran.out + (ran.err.empty() ? "" : "--- standard error\n" + ran.err);
  text = Replaced(text, fs::path(Carrier::WorkingFile("")).parent_path().string(), "${WORK}");
  text = Replaced(text, shop.Root().string(), "${DIR}");
  text = std::regex_replace(text, std::regex("atv-tmp-[0-9a-f]+"), "atv-tmp-${N}");
  text = std::regex_replace(text, std::regex("running as [^;]+;"), "running as ${USER};");
  const std::string file = ATV_CASES_DIR "/golden/" + TestSupport::TestName(GetParam().name) + ".txt";
  if (std::getenv("ATV_UPDATE_GOLDEN")) return TestSupport::WriteFile(file, text);
  EXPECT_EQ(text, fs::exists(file) ? TestSupport::ReadFile(file) : "") << file;
}
INSTANTIATE_TEST_SUITE_P(Rows, Flows, testing::ValuesIn(kFlows), TestSupport::RowName);

// Every file and folder below `folder` with its modification time and bytes.
std::string Listing(const fs::path& folder) {
  std::string text;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    text += entry.path().string() + " " + std::to_string(entry.last_write_time().time_since_epoch().count()) + " " +
            (entry.is_regular_file() ? TestSupport::ReadFile(entry.path().string()) : "") + "\n";
  return text;
}
// The names in the shop's folder, between blanks.
std::string Names(const Shop& s) {
  std::string text;
  for (const auto& [name, contents] : TestSupport::FolderContents(s.Folder())) text += (text.empty() ? "" : " ") + name;
  return text;
}
// An earlier version: zone 6 missing, its button on a row carrying others, a logo of the shop's own, rows
// holding the service alone (of empty texts, by another case) and rows it shares with the operator's.
void EarlierVersion(const Shop& s) {
  Installed(s);
  Sql(s.Host(),
      "UPDATE Master SET ACTAP = 0, AP = 0 WHERE Service = 'TARNVEL-GND'; DELETE FROM Panel WHERE PanelIndex = 5; "
      "UPDATE Panel SET BD4 = 'Tarn-Vel Ground', SV4 = 'TARNVEL-GND' WHERE PanelIndex = 1; "
      "INSERT INTO Panel (PanelIndex, BD1, SV1, BD2, SV2, Domestic, Icon, Message, ForeColor, BackColor) VALUES "
      "(6, 'Closed on Sundays', NULL, 'T', 'TARNVEL-GND', 1, 4, 'Note', 0, -2147483633); "
      "INSERT INTO Panel (PanelIndex, BD1, SV1, BD5, SV5, Domestic, Icon, Message, ForeColor, BackColor) VALUES "
      "(8, 'T', 'TARNVEL-GND', 'U', 'TARNVEL-GND', 1, 4, 'Domestic', 0, 255); "
      "INSERT INTO Panel (PanelIndex, BD1, SV1, BD2, SV2, Message) VALUES (10, 'T', 'TARNVEL-GND', '', '', ''); "
      "INSERT INTO Panel (PanelIndex, BD1, SV1) VALUES (11, 'T', 'Tarnvel-Gnd')");
  TestSupport::WriteFile((s.Folder() / "TarnVel.jpg").string(), "the shop's own logo");
}

constexpr const char* kAll =
    "Mailvoro.mdb TarnVel.jpg TarnVelEODManifest.rpt TarnVel_Generic.lab TarnVel_Services.mdb TarnVel_Zones.mdb";
const std::string kService =
    "SELECT count(*) FROM Master WHERE Service = 'TARNVEL-GND' UNION ALL "
    "SELECT count(*) FROM Panel WHERE SV1 = 'TARNVEL-GND'";
const std::string kPanel =
    "SELECT PanelIndex, BD1, SV1, BD2, SV2, BD4, SV4, BD5, SV5, Message FROM Panel WHERE PanelIndex IN (1) OR "
    "PanelIndex >= 5 UNION ALL SELECT count(*), 0, 0, 0, 0, 0, 0, 0, 0, 0 FROM Master WHERE Service = 'TARNVEL-GND'";
const std::vector<std::string> kPanelLeft = {
    "1|Ground Parcel|FEDEX-GND|Kestrel Ground|KSTL-GND|NULL|NULL|NULL|NULL|Domestic",  // its other buttons kept
    "6|Closed on Sundays|NULL|NULL|NULL|NULL|NULL|NULL|NULL|Note", "8|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|Domestic",
    "0|0|0|0|0|0|0|0|0|0"};

// A run with --json: exit status, whether standard error says something, the summary's outcome and changed
// ("" for none); then the names in the shop's folder (none: every file stays as it was) and a query's rows.
struct Outcome {
  std::string name;
  Setup setup;
  Args args;
  int exit;
  bool err;
  std::string summary, files = "", query = "";
  std::vector<std::string> rows = {};
};

// clang-format off
const Outcome kOutcomes[] = {
    {"a check that is a dry run", {}, On({"--verify", "--dry-run"}), 2, true, ""},
    {"a path that is no UTF 8", {}, {"${DIR}/missing\xe9.mdb"}, 3, true, "no-file false"},
    {"a dry run with a ZIP code too long", {}, On({"--dry-run", "--yes", "--zip", "10001-1234"}), 1, true, "failed false"},
    {"a check before", {}, On({"--verify"}), 1, false, "failed false"},
    {"a second installation", Installed, kInstall, 0, false, "succeeded false", kAll, kService, {"1", "1"}},
    {"a check after", Installed, On({"--verify"}), 0, false, "succeeded false"},
    {"a dry run after, another chart", Installed, On({"--dry-run", "--yes", "--zip", "90210"}), 0, false, "succeeded true"},
    {"a dry run of a removal", Installed, On({"--dry-run", "--remove", "--yes"}), 0, false, "succeeded true"},
    {"a removal cancelled", Installed, On({"--remove"}), 1, false, "failed false", kAll, kService, {"1", "1"}},
    {"a removal", Installed, kRemove, 0, false, "succeeded true", "Mailvoro.mdb", kService, {"0", "0"}},
    {"a check of an earlier version", EarlierVersion, On({"--verify"}), 1, false, "failed false"},
    {"a removal of an earlier version", EarlierVersion, kRemove, 0, false, "succeeded true", "Mailvoro.mdb TarnVel.jpg", kPanel, kPanelLeft},
    {"a removal with the shop as program folder", Installed, {"--remove", "--yes", "--program-folder", "${DIR}/shop", "${DIR}/shop/Mailvoro.mdb"}, 0, false, "succeeded true", kAll, kService, {"0", "0"}},
};
// clang-format on

class Outcomes : public Runner, public testing::WithParamInterface<Outcome> {};

// Also: the program folder never changes, and each line of --json is JSON.
TEST_P(Outcomes, Hold) {
  const Outcome& row = GetParam();
  if (row.setup) row.setup(shop);
  const std::string before = Listing(shop.Root()), program = Listing(shop.Program());
  Args args = row.args;
  args.insert(args.begin(), "--json");
  const Ran ran = Cli(shop, args);
  EXPECT_EQ(ran.status, row.exit) << ran.out << ran.err;
  EXPECT_EQ(!ran.err.empty(), row.err) << ran.err;
  std::string summary;
  std::istringstream lines(ran.out);
  for (std::string line; row.exit != 2 && std::getline(lines, line);) {
    const auto event = nlohmann::json::parse(line);
    if (event["event"] == "summary")
      summary = event["outcome"].get<std::string>() + (event["changed"] ? " true" : " false");
  }
  EXPECT_EQ(summary, row.summary);
  EXPECT_EQ(Listing(shop.Program()), program);
  EXPECT_EQ(row.files.empty() ? Listing(shop.Root()) : before, before);
  EXPECT_EQ(row.files.empty() ? "" : Names(shop), row.files);
  EXPECT_EQ(row.query.empty() ? row.rows : TestSupport::Rows(shop.Host(), row.query), row.rows);
}
INSTANTIATE_TEST_SUITE_P(Rows, Outcomes, testing::ValuesIn(kOutcomes), TestSupport::RowName);

// The built runner's output (a minute at most) on an 80-column pseudo-terminal: the lines as a terminal shows
// them, each as its last carriage return left it, without blanks at its end.
std::vector<std::string> OnTerminal(const Args& args) {
  int terminal = -1;
  int slave = -1;
  winsize size{.ws_row = 24, .ws_col = 80, .ws_xpixel = 0, .ws_ypixel = 0};
  EXPECT_EQ(::openpty(&terminal, &slave, nullptr, nullptr, &size), 0);
  ::setenv("TERM", "xterm", 1);
  const auto child = TestSupport::Start(TestSupport::Cli(args), ::ttyname(slave), ::ttyname(slave));
  ::close(slave);
  ::alarm(60);  // the test program ends if the runner hangs
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
  ::alarm(0);
  ::close(terminal);
  EXPECT_EQ(TestSupport::Wait(child).exitStatus, 0) << out;
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with('\r')) line.pop_back();
    line.erase(0, line.rfind('\r') + 1);
    lines.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
  }
  return lines;
}

// On a terminal the chart import and the service settings each keep one line with their counts, a box's line
// breaks are line breaks, the summary is whole; JSON Lines keep every event a line; into a file the transcript
// is the in-process one.
TEST_F(Runner, TerminalAndFile) {
  Args args = {"--yes", "--zip", "10001", "--program-folder", shop.Program().string(), shop.Host()};
  const auto count = [](const std::vector<std::string>& lines, const std::string& part) {
    return std::ranges::count_if(lines, [&](const std::string& l) { return l.find(part) != std::string::npos; });
  };
  const auto screen = OnTerminal(args);
  for (const char* part : {"Importing zones", "Importing zones  179 / 179 ", "Adding service settings",
                           "Adding service settings  57 / 57 ", "  Please enter your zipcode of origin: -> \"10001\""})
    EXPECT_EQ(count(screen, part), 1) << part;
  EXPECT_EQ(std::count(screen.begin(), screen.end(), ""), 3);  // the prompt's blank lines
  EXPECT_TRUE(screen.back().starts_with("Summary: install succeeded, changed;") && screen.back().ends_with("179 rows)"))
      << screen.back();
  shop.Reset();
  args.insert(args.begin(), "--json");
  EXPECT_EQ(count(OnTerminal(args), R"({"event":"status","text":"Importing zones: )"), 180);
  args.erase(args.begin());
  shop.Reset();
  const std::string file = (shop.Root() / "out.txt").string();
  const auto ran = TestSupport::Wait({TestSupport::Start(TestSupport::Cli(args), file, "/dev/null").pid, "", ""});
  const std::string text = TestSupport::ReadFile(file);
  ASSERT_TRUE(text.starts_with("Path: ")) << ran.exitStatus;
  Platform::AppInfo::SetDefaultHostDbPath(text.substr(6, text.find('\n') - 6));  // the built program's default
  shop.Reset();
  EXPECT_EQ(text, Cli(shop, kInstall).out);
}

}  // namespace
