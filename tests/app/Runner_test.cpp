// The unattended runner. Flows: one golden transcript per flow, the one
// place where the operator's texts are asserted. Outcomes: its other cases
// by exit status, files and the JSON summary. TerminalAndFile: the built
// runner on a pseudo-terminal and into a file.
#include "Runner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
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
std::vector<int> held;  // descriptors a setup holds locks with, closed after the run

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); !from.empty() && at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

struct Ran { int status; std::string out, err; };

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
const Args kInstall = On({"--yes", "--zip", "10001"}), kRemove = On({"--remove", "--yes"});

// Setups.
void Sql(const fs::path& db, const std::string& sql) { TestSupport::CreateDatabase(db.string(), sql); }
void Chart(const Shop& s, const std::string& rows) {
  TestSupport::WriteFile((s.Program() / "Data/TarnVel_100.csv").string(), "Origin,LOZIP,HIZIP,ZONE\r\n" + rows);
}
void Short(const Shop& s) { Chart(s, "100,10000,12799,2\r\n100,12800,13699,3\r\n"); }
void Install(const Shop& s) { ASSERT_EQ(Cli(s, kInstall).status, 0); }
void Installed(const Shop& s) { Short(s), Install(s); }
void Mode(const fs::path& path, fs::perms perms) { fs::permissions(path, perms); }
// Another program's lock: a byte range of a file (O_RDWR) or flock on a folder.
void Hold(const fs::path& path, bool range) {
  const int fd = held.emplace_back(::open(path.c_str(), range ? O_RDWR | O_CREAT : O_RDONLY, 0644));
  struct flock byte {};
  byte.l_type = F_RDLCK, byte.l_len = 1;
  ASSERT_EQ(range ? ::fcntl(fd, F_OFD_SETLK, &byte) : ::flock(fd, LOCK_EX | LOCK_NB), 0) << path;
}
// Lets go of what a setup held or closed, so the folder can be removed.
void Release(const Shop& s) {
  for (const int fd : held) ::close(fd);
  held.clear();
  for (const auto& entry : fs::recursive_directory_iterator(s.Root()))
    if (!entry.is_symlink()) fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
}

class Runner : public testing::Test {
 protected:
  void SetUp() override {
    if (!shop.Ready()) GTEST_SKIP() << shop.Why();
    RealDefault();
    Files_::testing::SetWaits(std::chrono::milliseconds(300), std::chrono::seconds(5));
    Platform::AppInfo::SetDefaultHostDbPath((shop.Root() / "none/Mailvoro.mdb").string());
  }
  void TearDown() override { Release(shop); }
  Shop shop;
};

struct Flow { std::string name; Setup setup; Args args; int exit; };
void PrintTo(const Flow& row, std::ostream* out) { *out << row.name; }

const Flow kFlows[] = {
    {"a first installation", {}, kInstall, 0},
    {"zone 6 on a second installation", [](const Shop& s) { Installed(s), Sql(s.Host(), "UPDATE Master SET ACTAP = 0, AP = 0 WHERE Service = 'TARNVEL-GND'"); }, kInstall, 0},
    {"the ZIP question cancelled", Short, On({"--yes"}), 1},
    {"a ZIP code not found", Short, On({"--yes", "--zip", "1000A"}), 1},
    {"the confirmation cancelled", Short, On({"--zip", "10001"}), 1},
    {"a carrier file missing", [](const Shop& s) { Short(s), fs::remove(s.Program() / "TarnVel.jpg"); }, kInstall, 1},
    {"a copy refused", [](const Shop& s) { Short(s), Mode(s.Folder(), fs::perms(0555)); }, kInstall, 1},
    {"the zones table missing", [](const Shop& s) { Chart(s, ""), Sql(s.Program() / "TarnVel_Zones_Empty.mdb", "DROP TABLE [TARNVEL-GND]"); }, kInstall, 1},
    {"the rates table missing", [](const Shop& s) { Short(s), Sql(s.Program() / "TarnVel_Services.mdb", "DROP TABLE [TARNVEL-GND]"); }, kInstall, 1},
    {"a host lookup failed", [](const Shop& s) { Short(s), TestSupport::WriteFile(s.Host(), "no database"); }, kInstall, 1},
    {"no template service", [](const Shop& s) { Short(s), Sql(s.Host(), "DELETE FROM Master WHERE Service = 'FEDEX-GND'"); }, kInstall, 1},
    {"the button refused", [](const Shop& s) { Short(s), Sql(s.Host(), "CREATE TRIGGER t BEFORE INSERT ON Panel BEGIN SELECT RAISE(ABORT, 'no'); END"); }, kInstall, 1},
    {"the chart unreadable", [](const Shop& s) { fs::remove(s.Program() / "Data/TarnVel_100.csv"); }, kInstall, 1},
    {"a chart line that does not parse", [](const Shop& s) { Chart(s, "100,10000,12799,2\r\nno fields\r\n"); }, kInstall, 0},
    {"a chart row not stored", [](const Shop& s) { Chart(s, "100,10000,12799,2\r\n100,12800,13699,x\r\n"); }, kInstall, 1},
    {"another installation's lock", [](const Shop& s) { Short(s), Hold(s.Folder() / ".addtarnvel.lock", true); }, kInstall, 1},
    {"a removal", Installed, kRemove, 0},
    {"a removal that fails", [](const Shop& s) { Installed(s), Mode(s.Folder() / "TarnVel.jpg", fs::perms(0444)); }, kRemove, 1},
    {"a host path that names no file", [](const Shop&) { Platform::AppInfo::SetDefaultHostDbPath(RealDefault()); }, {"${DIR}/none/Mailvoro.mdb"}, 3},
    {"no shop named", {}, {}, 2},
    {"a removal from a folder", {}, {"--remove", "--yes", "${DIR}/shop"}, 3},
    {"a dry run on a FIFO", [](const Shop& s) { ::mkfifo((s.Root() / "pipe.mdb").c_str(), 0644); }, {"--dry-run", "--zip", "10001", "${DIR}/pipe.mdb"}, 3},
    {"a link to no file", [](const Shop& s) { fs::create_symlink(s.Root() / "gone.mdb", s.Root() / "link.mdb"); }, {"${DIR}/link.mdb"}, 3},
    {"an empty path", {}, {""}, 3},
};

class Flows : public Runner, public testing::WithParamInterface<Flow> {};

// The golden file is the transcript with the temporary folders as ${DIR}
// and ${WORK} and the user as ${USER}. ATV_UPDATE_GOLDEN=1 writes the files
// instead of comparing; a changed golden file is reviewed like code.
TEST_P(Flows, AsTheGoldenTranscript) {
  if (GetParam().setup) GetParam().setup(shop);
  const Ran ran = Cli(shop, GetParam().args);
  EXPECT_EQ(ran.status, GetParam().exit);
  std::string text = ran.out + (ran.err.empty() ? "" : "--- standard error\n" + ran.err);
  text = Replaced(text, fs::path(Carrier::WorkingFile("")).parent_path().string(), "${WORK}");
  text = std::regex_replace(text, std::regex("atv-tmp-[0-9a-f]+"), "atv-tmp-${N}");
  text = std::regex_replace(Replaced(text, shop.Root().string(), "${DIR}"), std::regex("running as [^;]+;"), "running as ${USER};");
  const std::string file = ATV_CASES_DIR "/golden/" + TestSupport::TestName(GetParam().name) + ".txt";
  if (std::getenv("ATV_UPDATE_GOLDEN")) return TestSupport::WriteFile(file, text);
  const std::string golden = fs::exists(file) ? TestSupport::ReadFile(file) : "";
  if (golden == text) return;
  std::istringstream want(golden), got(text);
  std::string a, b;
  for (int line = 1; std::getline(want, a).good() | std::getline(got, b).good(); ++line, a.clear(), b.clear())
    if (a != b) return ADD_FAILURE() << file << " line " << line << "\n  golden: " << a << "\n  now:    " << b;
  ADD_FAILURE() << file << " differs at its end";
}
INSTANTIATE_TEST_SUITE_P(Rows, Flows, testing::ValuesIn(kFlows), TestSupport::RowName);

// Every file and folder below `folder` with its size, modification time and bytes.
std::string Listing(const fs::path& folder) {
  std::ostringstream out;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    struct stat info {};
    ::lstat(entry.path().c_str(), &info);
    out << entry.path().string() << " " << info.st_size << " " << info.st_mtim.tv_sec << "." << info.st_mtim.tv_nsec << " "
        << (entry.is_regular_file() ? std::hash<std::string>{}(TestSupport::ReadFile(entry.path().string())) : 0) << "\n";
  }
  return out.str();
}
std::string Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : " ") + name;
  return text;
}

// More setups: a record of an earlier version (zone 6 missing) with its
// button on a row carrying others, and a logo of the shop's own.
void EarlierVersion(const Shop& s) {
  Installed(s);
  Sql(s.Host(), "UPDATE Master SET ACTAP = 0, AP = 0 WHERE Service = 'TARNVEL-GND'; DELETE FROM Panel WHERE PanelIndex = 5; "
                "UPDATE Panel SET BD4 = 'Tarn-Vel Ground', SV4 = 'TARNVEL-GND' WHERE PanelIndex = 1");
  TestSupport::WriteFile((s.Folder() / "TarnVel.jpg").string(), "the shop's own logo");
}
// A [Panel] comparing codes by case, with a button of 'tarnvel-gnd'.
void CaseSensitivePanel(const Shop& s) {
  Installed(s);
  Sql(s.Host(), "CREATE TABLE P2 AS SELECT * FROM Panel; DROP TABLE Panel; ALTER TABLE P2 RENAME TO Panel; UPDATE Panel SET SV1 = 'tarnvel-gnd' WHERE PanelIndex = 5");
}
// Rows holding the service alone (one of defaults, one of empty texts, one
// by another case) and rows it shares with the operator's text or colour.
void ButtonRows(const Shop& s) {
  Installed(s);
  Sql(s.Host(), "INSERT INTO Panel (PanelIndex, BD1, SV1, BD2, SV2, Domestic, Icon, Message, ForeColor, BackColor) VALUES (6, 'Closed on Sundays', NULL, 'T', 'TARNVEL-GND', 1, 4, 'Note', 0, -2147483633); "
                "INSERT INTO Panel (PanelIndex, BD3, SV3) VALUES (7, 'T', 'TARNVEL-GND'); INSERT INTO Panel (PanelIndex, BD1, SV1, BD5, SV5, Domestic, Icon, Message, ForeColor, BackColor) VALUES (8, 'T', 'TARNVEL-GND', 'U', 'TARNVEL-GND', 1, 4, 'Domestic', 0, 255); "
                "INSERT INTO Panel (PanelIndex, BD2, SV2, Domestic, Icon, Message) VALUES (9, 'T', 'TARNVEL-GND', 1, 4, 'Domestic'); INSERT INTO Panel (PanelIndex, BD1, SV1, BD2, SV2, Message) VALUES (10, 'T', 'TARNVEL-GND', '', '', ''); "
                "INSERT INTO Panel (PanelIndex, BD1, SV1) VALUES (11, 'T', 'Tarnvel-Gnd'); INSERT INTO Panel (PanelIndex, BD1, SV1, BD2, SV2) VALUES (12, 'Ground Parcel', 'FEDEX-GND', 'T', 'TARNVEL-GND')");
}
// Files under the carrier files' names that are not the carrier's, and one it may not remove.
void ForeignFiles(const Shop& s) {
  Installed(s);
  for (const char* name : {"TarnVel_Zones.mdb", "TarnVel_Services.mdb", "TarnVel.jpg", "TarnVel_Generic.lab"}) fs::remove(s.Folder() / name);
  TestSupport::WriteFile(s.Zones(), "not a database");
  Sql(s.Folder() / "TarnVel_Services.mdb", "CREATE TABLE [FEDEX-GND] (LBS LONG)");
  Mode(s.Folder() / "TarnVelEODManifest.rpt", fs::perms(0444));
  ::mkfifo((s.Folder() / "TarnVel.jpg").c_str(), 0644);
  fs::create_symlink(s.Program() / "TarnVel_Generic.lab", s.Folder() / "TarnVel_Generic.lab");
}

constexpr const char* kAll = "Mailvoro.mdb TarnVel.jpg TarnVelEODManifest.rpt TarnVel_Generic.lab TarnVel_Services.mdb TarnVel_Zones.mdb";
const std::string kServiceRows = "SELECT count(*) FROM Master WHERE Service = 'TARNVEL-GND' UNION ALL SELECT count(*) FROM Panel WHERE SV1 = 'TARNVEL-GND'";

// A run with --json: its exit status, whether standard error says something, the summary's
// outcome and changed ("" for none), whether every file under the temporary folder stays as
// it was; then the names in the shop's folder, and a query on the shop with its rows.
struct Outcome { std::string name; Setup setup; Args args; int exit; bool err; std::string summary; bool same; std::string files = "", query = "", rows = ""; };
void PrintTo(const Outcome& row, std::ostream* out) { *out << row.name; }

const Outcome kOutcomes[] = {
    {"an unknown option", {}, {"--frobnicate", "${DIR}/shop/Mailvoro.mdb"}, 2, true, "", true},
    {"zip without its text", {}, {"${DIR}/shop/Mailvoro.mdb", "--zip"}, 2, true, "", true},
    {"a program folder that does not exist", {}, {"--program-folder", "${DIR}/nowhere", "${DIR}/shop/Mailvoro.mdb"}, 2, true, "", true},
    {"two shops", {}, {"${DIR}/shop/Mailvoro.mdb", "${DIR}/shop/Mailvoro.mdb"}, 2, true, "", true},
    {"a check that is a dry run", {}, On({"--verify", "--dry-run"}), 2, true, "", true},
    {"help", {}, {"--help"}, 0, false, "", true},
    {"a path that is no UTF 8", {}, {"${DIR}/missing\xe9.mdb"}, 3, true, "no-file false", true},
    {"a ZIP code of five digits not found", Short, On({"--yes", "--zip", "00000"}), 1, false, "failed false", false, "Mailvoro.mdb"},
    {"a dry run with a ZIP code too long", {}, On({"--dry-run", "--yes", "--zip", "10001-1234"}), 1, true, "failed false", true},
    {"a dry run with a ZIP code between blanks", {}, On({"--dry-run", "--yes", "--zip", " 10001 "}), 0, false, "succeeded true", true},
    {"a check with a ZIP code too short", {}, On({"--verify", "--zip", "100"}), 1, true, "failed false", true},
    {"a dry run into a read only folder", [](const Shop& s) { Mode(s.Folder(), fs::perms(0555)); }, On({"--dry-run", "--yes", "--zip", "10001"}), 1, true, "failed false", true},
    {"folders a reader has locked", [](const Shop& s) { Short(s), Hold(s.Folder(), false), Hold(s.Program(), false); }, kInstall, 0, false, "succeeded true", false, kAll},
    {"a check before", {}, On({"--verify"}), 1, false, "failed false", true},
    {"a second installation", Installed, kInstall, 0, false, "succeeded false", false, kAll, kServiceRows, "1 1"},
    {"a check after", Installed, On({"--verify"}), 0, false, "succeeded false", true},
    {"a dry run after, another chart", Installed, On({"--dry-run", "--yes", "--zip", "90210"}), 0, false, "succeeded true", true},
    {"a dry run of a removal", Installed, On({"--dry-run", "--remove", "--yes"}), 0, false, "succeeded true", true},
    {"a removal cancelled", Installed, On({"--remove"}), 1, false, "failed false", false, kAll, kServiceRows, "1 1"},
    {"a removal", Installed, kRemove, 0, false, "succeeded true", false, "Mailvoro.mdb", kServiceRows, "0 0"},
    {"a dry run in WAL mode", [](const Shop& s) { Sql(s.Host(), "PRAGMA journal_mode=WAL"); }, On({"--dry-run", "--yes", "--zip", "10001"}), 0, false, "succeeded true", true},
    {"a dry run on a read only shop", [](const Shop& s) { Mode(s.Host(), fs::perms(0444)); }, On({"--dry-run", "--yes", "--zip", "10001"}), 1, false, "failed false", true},
    {"an installation on a read only shop", [](const Shop& s) { Short(s), Mode(s.Host(), fs::perms(0444)); }, kInstall, 1, false, "failed false", false, "Mailvoro.mdb"},
    {"a removal of nothing from a read only shop", [](const Shop& s) { Mode(s.Host(), fs::perms(0444)); }, kRemove, 0, false, "succeeded false", false, "Mailvoro.mdb"},
    {"a check of an earlier version", EarlierVersion, On({"--verify"}), 1, false, "failed false", true},
    {"a dry run on an earlier version", EarlierVersion, On({"--dry-run", "--yes", "--zip", "10001"}), 0, false, "succeeded true", true},
    {"a removal of an earlier version", EarlierVersion, kRemove, 0, false, "succeeded true", false, "Mailvoro.mdb TarnVel.jpg", "SELECT count(*), BD4, SV4 FROM Panel WHERE PanelIndex = 1 UNION ALL SELECT count(*), 0, 0 FROM Master WHERE Service = 'TARNVEL-GND'", "1|NULL|NULL 0|0|0"},
    {"a removal by button rows", ButtonRows, kRemove, 0, false, "succeeded true", false, "Mailvoro.mdb", "SELECT PanelIndex, BD1, SV1, BD2, SV2, BD5, SV5, Message FROM Panel WHERE PanelIndex >= 5", "6|Closed on Sundays|NULL|NULL|NULL|NULL|NULL|Note 8|NULL|NULL|NULL|NULL|NULL|NULL|Domestic 9|NULL|NULL|NULL|NULL|NULL|NULL|Domestic 12|Ground Parcel|FEDEX-GND|NULL|NULL|NULL|NULL|NULL"},
    {"a check with a case sensitive panel", CaseSensitivePanel, On({"--verify"}), 1, false, "failed false", true},
    {"a removal with a case sensitive panel", CaseSensitivePanel, kRemove, 0, false, "succeeded true", false, "Mailvoro.mdb", "SELECT BD1, SV1 FROM Panel WHERE PanelIndex = 5", "Tarn-Vel Ground|tarnvel-gnd"},
    {"a removal of foreign files", ForeignFiles, kRemove, 1, true, "failed true", false, kAll, kServiceRows, "0 0"},
    {"a removal of foreign files again", [](const Shop& s) { ForeignFiles(s), Cli(s, kRemove), Mode(s.Folder() / "TarnVelEODManifest.rpt", fs::perms(0644)); }, kRemove, 0, false, "succeeded true", false, "Mailvoro.mdb TarnVel.jpg TarnVel_Generic.lab TarnVel_Services.mdb TarnVel_Zones.mdb"},
    {"a removal with the shop as program folder", Installed, {"--remove", "--yes", "--program-folder", "${DIR}/shop", "${DIR}/shop/Mailvoro.mdb"}, 0, false, "succeeded true", false, kAll, kServiceRows, "0 0"},
};

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
  for (std::string line; row.exit != 2 && row.name != "help" && std::getline(lines, line);) {
    const auto event = nlohmann::json::parse(line);
    if (event["event"] == "summary") summary = event["outcome"].get<std::string>() + (event["changed"] ? " true" : " false");
  }
  EXPECT_EQ(summary, row.summary);
  EXPECT_EQ(Listing(shop.Program()), program);
  EXPECT_EQ(row.same ? Listing(shop.Root()) : before, before);
  EXPECT_EQ(row.files.empty() ? "" : Names(shop.Folder()), row.files);
  if (row.query.empty()) return;
  std::string rows;
  for (const auto& r : TestSupport::QueryRows(shop.Host(), row.query)) rows += (rows.empty() ? "" : " ") + r;
  EXPECT_EQ(rows, row.rows);
}
INSTANTIATE_TEST_SUITE_P(Rows, Outcomes, testing::ValuesIn(kOutcomes), TestSupport::RowName);

// The built runner's output (a minute at most) on a pseudo-terminal of 80
// columns, or into `file`: the lines as a terminal shows them, each as its
// last carriage return left it, without blanks at its end.
std::vector<std::string> RunBuilt(const Args& args, bool terminal, const fs::path& file) {
  std::vector<std::string> texts = TestSupport::Cli(args);
  std::vector<char*> argv;
  for (auto& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  int fd = -1, status = 0;
  winsize size{.ws_row = 24, .ws_col = 80, .ws_xpixel = 0, .ws_ypixel = 0};
  const pid_t child = terminal ? ::forkpty(&fd, nullptr, nullptr, &size) : ::fork();
  if (child == 0) {
    if (!terminal) ::dup2(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    ::setenv("TERM", "xterm", 1), ::execv(argv[0], argv.data()), ::_exit(127);
  }
  ::alarm(60);  // the test program ends if the runner hangs
  std::string out;
  char buffer[4096];
  for (ssize_t n; terminal && (n = ::read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
  ::waitpid(child, &status, 0), ::alarm(0), ::close(fd);
  EXPECT_EQ(status, 0) << out;
  std::vector<std::string> lines;
  std::istringstream in(terminal ? out : TestSupport::ReadFile(file.string()));
  for (std::string line; std::getline(in, line); lines.push_back(line.substr(0, line.find_last_not_of(' ') + 1))) {
    if (line.ends_with('\r')) line.pop_back();
    if (line.rfind('\r') != std::string::npos) line.erase(0, line.rfind('\r') + 1);
  }
  return lines;
}

// On a terminal the chart import and the service settings each keep one
// line with their counts, a box's line breaks are line breaks and the
// summary is whole; JSON Lines keep every event a line; into a file the
// transcript is the in-process one.
TEST_F(Runner, TerminalAndFile) {
  Args args = On({"--yes", "--zip", "10001"});
  for (auto& a : args) a = Replaced(a, "${DIR}", shop.Root().string());
  const auto count = [](const std::vector<std::string>& lines, const std::string& part) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
  };
  const auto screen = RunBuilt(args, true, {});
  for (const char* part : {"Importing zones", "Importing zones  179 / 179 ", "Adding service settings", "Adding service settings  57 / 57 ", "  Please enter your zipcode of origin: -> \"10001\""})
    EXPECT_EQ(count(screen, part), 1) << part;
  EXPECT_EQ(std::count(screen.begin(), screen.end(), ""), 3);  // the prompt's blank lines
  EXPECT_TRUE(screen.back().starts_with("Summary: install succeeded, changed;") && screen.back().ends_with("179 rows)")) << screen.back();
  shop.Reset();
  args.insert(args.begin(), "--json");
  EXPECT_EQ(count(RunBuilt(args, true, {}), R"({"event":"status","text":"Importing zones: )"), 180);
  args.erase(args.begin());
  shop.Reset();
  const auto file = RunBuilt(args, false, shop.Root() / "out.txt");
  ASSERT_TRUE(file.at(0).starts_with("Path: "));
  Platform::AppInfo::SetDefaultHostDbPath(file.at(0).substr(6));  // the built program's default
  shop.Reset();
  EXPECT_EQ(TestSupport::ReadFile((shop.Root() / "out.txt").string()), Cli(shop, args).out);
}

// A transcript that cannot be written: exit 4, and standard error says so.
TEST_F(Runner, TranscriptLost) {
  std::ostringstream out, err;
  out.setstate(std::ios::badbit);
  EXPECT_EQ(App::Runner::Main({"addtarnvel-cli", shop.Host()}, out, err), 4);
  EXPECT_FALSE(err.str().empty());
}

}  // namespace
