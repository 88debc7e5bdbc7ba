// The tools as built programs (dbquery; installations into a Yes/No shop) and the sample data the build makes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <regex>

#include "Shop.h"

namespace {

using namespace TestSupport;
using Texts = std::vector<std::string>;

// dbquery run in `dir` for at most a minute: its exit status, and its output and error output as one text.
std::pair<int, std::string> RunDbquery(const std::string& dir, const Texts& args) {
  std::string command = "cd '" + dir + "' && timeout 60 " + (BuiltProgramFolder() / "dbquery").string(), out;
  for (const auto& arg : args) command += " '" + std::regex_replace(arg, std::regex("'"), "'\\''") + "'";
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  for (int c; (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
  return {WEXITSTATUS(pclose(pipe)), out};
}

// dbquery `args` on kShop's shop: its exit status and output, or on failure a part of it and no file changed.
const char kShop[] = ATV_CASES_DIR "/dbquery-shop.sql";
struct Row {
  std::string name;
  Texts args;
  int exit;
  std::string out;
};
// clang-format off
const Row kRows[] = {
    {"its version", {"--version"}, 0, "dbquery 1.0.3\n"},
    {"every type and escape", {"s.mdb", "Select Master.* From [Master] Order By [Service]"}, 0,
     "Service(202)\tACTAP(2)\tAP(6)\tCANADA(11)\tLast(7)\tNotes(202)\nFEDEX-GND\t30\t0.5\tTrue\t2009-01-02 10:30:00\t"
     "tab\\tcr\\rlf\\nback\\\\slash\nUPS-GND\tNull\t-2147483633\tFalse\tNull\t\n"},
    {"yes as -1, text matched in any case, binary values",
     {"s.mdb", "Select [CANADA] + 0, x'', x'0A' From [Master] Where [Service] = 'fedex-gnd'"}, 0,
     "[CANADA] + 0(3)\tx''(205)\tx'0A'(205)\n-1\tX''\tX'0A'\n"},
    {"an update", {"s.mdb", "UPDATE [Master] SET [ACTAP] = 40, [CANADA] = 5 WHERE [Service] = 'ups-gnd'"}, 0, ""},
    {"init over a file", {"--init", "s.mdb", kShop}, 1, "error 58:"},
    {"an overflow", {"s.mdb", "UPDATE [Master] SET [ACTAP] = 70000"}, 1, "error 6:"},
    {"no such file", {"none.mdb", "Select 1"}, 1, "error 3024:"},
    {"a failed script makes no file", {"--init", "bad.mdb", ATV_CASES_DIR "/dbquery-bad.sql"}, 1, "error 3146:"},
    {"a usage error", {"only-a-path"}, 2, "Usage: dbquery"},
};
// clang-format on

class Dbquery : public testing::TestWithParam<Row> {};

TEST_P(Dbquery, Holds) {
  const TempDir dir;
  ASSERT_EQ(RunDbquery(dir.Path(), {"--init", "s.mdb", kShop}), std::pair(0, std::string()));
  const auto before = FolderContents(dir.Path());
  const auto [exit, out] = RunDbquery(dir.Path(), GetParam().args);
  EXPECT_EQ(exit, GetParam().exit) << out;
  EXPECT_TRUE(exit ? out.find(GetParam().out) != std::string::npos && FolderContents(dir.Path()) == before
                   : out == GetParam().out)
      << out;
}

INSTANTIATE_TEST_SUITE_P(Rows, Dbquery, testing::ValuesIn(kRows), RowName);

// Yes/No columns and an empty binary value through two installations: True is -1, empty stays empty.
TEST(Tools, YesNoShop) {
  const Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  const std::string host = (shop.Root() / "Mailvoro.mdb").string();
  CreateDatabase(host, ReadFile(ATV_CASES_DIR "/yesno-shop.sql"));
  for (const char* before : {"SELECT 1", "UPDATE [Master] SET [ACTAP] = 0, [AP] = 0"}) {
    Rows(host, before);
    ASSERT_EQ(shop.RunCli(shop.Args("10001", host)).exitStatus, 0);
    EXPECT_EQ(Rows(host,
                   "SELECT ACTAP, AP, quote(Logo) FROM Master WHERE Service = 'TARNVEL-GND' UNION ALL SELECT "
                   "Domestic, count(*), 0 FROM Panel WHERE SV1 = 'TARNVEL-GND'"),
              (Texts{"-1|-1|X''", "-1|1|0"}));
  }
}

// A chart's ranges {low, high, zone}: after its header, rising disjoint 5-digit ranges, zones 2 to 8, CR LF line ends.
std::vector<std::array<long, 3>> Chart(const std::string& file) {
  static const std::regex kLine("\n[^,\r\n]*,([0-9]{5}),([0-9]{5}),([2-8])\r(?=\n)");
  const std::string text = ReadFile(BuiltProgramFolder() / "Data" / file);
  std::vector<std::array<long, 3>> ranges{{-1, -1, 0}};
  for (std::sregex_iterator m(text.begin(), text.end(), kLine), end; m != end; ++m) {
    ranges.push_back({std::stol((*m)[1]), std::stol((*m)[2]), std::stol((*m)[3])});
    EXPECT_TRUE(ranges.rbegin()[1][1] < ranges.back()[0] && ranges.back()[0] <= ranges.back()[1]) << file << (*m)[0];
  }
  const auto lines = std::count(text.begin(), text.end(), '\n');  // each one range but the header
  EXPECT_TRUE(file.ends_with(".csv") && text.starts_with("Origin,LOZIP,HIZIP,ZONE\r\n") && text.ends_with("\r\n") &&
              std::count(text.begin(), text.end(), '\r') == lines && std::size_t(lines) == ranges.size())
      << file;
  return ranges;
}

// From an origin's chart, the zone of a ZIP code (-1: in no range).
struct Zone {
  std::string name, origin;
  long zip, zone;
};
// clang-format off
const Zone kZones[] = {
    {"New York to itself", "100", 10001, 2},
    {"New York to Boston", "100", 2101, 3},
    {"New York to Chicago", "100", 60601, 5},
    {"New York to Los Angeles", "100", 90001, 8},
    {"Los Angeles to New York", "900", 10001, 8},
    {"Honolulu to itself", "967", 96801, 2},
    {"055 has no centroid, a gap", "100", 5501, -1},
};
// clang-format on

class Zones : public testing::TestWithParam<Zone> {};

TEST_P(Zones, FollowTheDistance) {
  long zone = -1;
  for (const auto& [low, high, z] : Chart("TarnVel_" + GetParam().origin + ".csv"))
    if (low <= GetParam().zip && GetParam().zip <= high) zone = z;
  EXPECT_EQ(zone, GetParam().zone);
}

INSTANTIATE_TEST_SUITE_P(Rows, Zones, testing::ValuesIn(kZones), RowName);

// The origin map's ranges are neither empty nor overlapping, each names a chart; rates rise with weight and zone.
TEST(SampleFiles, OriginMapChartsAndRates) {
  const std::string zones = BuiltProgramFolder() / "TarnVel_Zones_Empty.mdb";
  EXPECT_EQ(QueryRows(zones,
                      "SELECT COUNT(*) >= 800, (SELECT COUNT(*) FROM [TARNVEL-GND]), (SELECT COUNT(*) "
                      "FROM [Zip2FileOfOrigin] a WHERE HIZIP < LOZIP OR EXISTS (SELECT 1 FROM "
                      "[Zip2FileOfOrigin] b WHERE b.rowid <> a.rowid AND b.LOZIP <= a.HIZIP AND "
                      "a.LOZIP <= b.HIZIP)) FROM [Zip2FileOfOrigin]"),
            Texts{"1|0|0"});
  for (const auto& file : QueryRows(zones, "SELECT DISTINCT FileName FROM [Zip2FileOfOrigin]"))
    EXPECT_GE(Chart(file).size(), 2u) << file;
  EXPECT_EQ(QueryRows(BuiltProgramFolder() / "TarnVel_Services.mdb",
                      "SELECT COUNT(*), MIN(LBS), MAX(LBS), (SELECT COUNT(*) FROM [TARNVEL-GND] a LEFT JOIN "
                      "[TARNVEL-GND] b ON b.LBS = a.LBS + 1 WHERE NOT (0 < a.ZONE2 AND a.ZONE2 < a.ZONE3 AND "
                      "a.ZONE3 < a.ZONE4 AND a.ZONE4 < a.ZONE5 AND a.ZONE5 < a.ZONE6 AND a.ZONE6 < a.ZONE7 AND "
                      "a.ZONE7 < a.ZONE8) OR b.ZONE2 <= a.ZONE2 OR b.ZONE8 <= a.ZONE8) FROM [TARNVEL-GND]"),
            Texts{"150|1|150|0"});
}

}  // namespace
