// The carrier's sample data as the build lays it out in the program folder:
// the charts follow the distance, the origin map and every chart are well
// formed, the rates rise with weight and zone.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;
using TestSupport::QueryRows;

fs::path ProgramDir() {
  const char* dir = std::getenv("ATV_PROGRAM_DIR");
  return dir ? fs::path(dir) : fs::path();
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (auto end = text.find(separator); end != std::string::npos; end = text.find(separator, start)) {
    parts.push_back(text.substr(start, end - start));
    start = end + separator.size();
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool IsDigits(const std::string& text, std::size_t size) {
  return text.size() == size && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

class SampleFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ProgramDir().empty()) << "ATV_PROGRAM_DIR is not set; run the test through ctest";
  }
  std::string File(const std::string& name) const { return (ProgramDir() / name).string(); }
};

// From New York (100) to itself, Boston, Chicago, Los Angeles, and back;
// Honolulu to itself; 055 has no centroid: a gap (-1) in every chart.
TEST_F(SampleFiles, ZonesFollowTheDistance) {
  const std::tuple<const char*, long, int> cases[] = {{"100", 10001, 2}, {"100", 2101, 3},  {"100", 60601, 5},
                                                      {"100", 90001, 8}, {"900", 10001, 8}, {"967", 96801, 2},
                                                      {"100", 5501, -1}};
  for (const auto& [origin, zip, zone] : cases) {
    int found = -1;
    const auto chart = TestSupport::ReadFile(File("Data/TarnVel_" + std::string(origin) + ".csv"));
    for (const auto& line : Split(chart, "\r\n")) {
      const auto f = Split(line, ",");
      if (f.size() == 4 && IsDigits(f[1], 5) && std::stol(f[1]) <= zip && std::stol(f[2]) >= zip) {
        found = std::stoi(f[3]);
      }
    }
    EXPECT_EQ(found, zone) << origin << " to " << zip;
  }
}

// The map's origin ranges are disjoint, and each names a chart whose lines
// all end in CR LF: a header, then rising five-digit ranges with zones 2 to 8.
TEST_F(SampleFiles, OriginRangesAndTheirCharts) {
  const auto rows = QueryRows(File("TarnVel_Zones_Empty.mdb"),
                              "SELECT LOZIP, HIZIP, FileName FROM [Zip2FileOfOrigin] ORDER BY LOZIP");
  ASSERT_GE(rows.size(), 800u);
  EXPECT_EQ(QueryRows(File("TarnVel_Zones_Empty.mdb"), "SELECT COUNT(*) FROM [TARNVEL-GND]"),
            std::vector<std::string>{"0"});
  long previousOrigin = -1;
  for (const auto& row : rows) {
    SCOPED_TRACE(row);
    const auto map = Split(row, "|");
    ASSERT_EQ(map.size(), 3u);
    EXPECT_TRUE(std::stol(map[0]) <= std::stol(map[1]) && std::stol(map[0]) > previousOrigin)
        << "empty, or overlaps the range before it";
    previousOrigin = std::stol(map[1]);
    const auto text = TestSupport::ReadFile(File("Data/" + map[2]));
    ASSERT_TRUE(map[2].ends_with(".csv") && text.ends_with("\r\n"));
    auto lines = Split(text, "\r\n");
    lines.pop_back();  // after the last line end
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Origin,LOZIP,HIZIP,ZONE");
    long previousHigh = -1;
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const auto fields = Split(lines[i], ",");
      ASSERT_EQ(fields.size(), 4u) << "line " << i + 1 << ": " << lines[i];
      ASSERT_EQ(lines[i].find_first_of("\r\n"), std::string::npos) << "line " << i + 1 << " holds a lone CR or LF";
      ASSERT_TRUE(IsDigits(fields[1], 5) && IsDigits(fields[2], 5)) << "line " << i + 1 << ": " << lines[i];
      const long low = std::stol(fields[1]), high = std::stol(fields[2]);
      EXPECT_TRUE(low <= high && low > previousHigh) << "line " << i + 1 << ": " << lines[i];
      EXPECT_TRUE(fields[3].size() == 1 && fields[3] >= "2" && fields[3] <= "8") << "line " << i + 1;
      previousHigh = high;
    }
  }
}

TEST_F(SampleFiles, RatesRiseWithWeightAndZone) {
  const std::string services = File("TarnVel_Services.mdb");
  EXPECT_EQ(QueryRows(services, "SELECT COUNT(*), MIN(LBS), MAX(LBS) FROM [TARNVEL-GND]"),
            std::vector<std::string>{"150|1|150"});
  const auto falling = QueryRows(services,
                                 "SELECT a.LBS FROM [TARNVEL-GND] a LEFT JOIN [TARNVEL-GND] b ON b.LBS = a.LBS + 1 "
                                 "WHERE NOT (a.ZONE2 > 0 AND a.ZONE2 < a.ZONE3 AND a.ZONE3 < a.ZONE4 AND "
                                 "a.ZONE4 < a.ZONE5 AND a.ZONE5 < a.ZONE6 AND a.ZONE6 < a.ZONE7 AND a.ZONE7 < a.ZONE8) "
                                 "OR b.ZONE2 <= a.ZONE2 OR b.ZONE8 <= a.ZONE8");
  EXPECT_TRUE(falling.empty()) << "first bad weight: " << falling.front();
}

}  // namespace
