// makecharts: writes the carrier's sample zone charts and the SQL script of
// its zones database from the centroids of the US 3-digit ZIP prefixes:
//   makecharts CENTROIDS_CSV CHART_FOLDER ZONES_SQL
// One chart per origin prefix ("TarnVel_NNN.csv" in CHART_FOLDER): a header,
// then a CR LF line "origin,LOZIP,HIZIP,ZONE" (ZIPs of five digits) per run of
// consecutive prefixes in one zone, the band of the great-circle distance
// between the centroids. ZONES_SQL creates [Zip2FileOfOrigin], each origin's
// ZIP range to its chart, and the empty zone table [TARNVEL-GND].
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Prefix {
  int number = 0;  // 0..999
  double lat = 0;
  double lon = 0;
};

constexpr double kEarthRadiusMiles = 3958.8;
constexpr double kPi = 3.14159265358979323846;

// Upper bounds (inclusive, miles) of zones 2 to 7; anything farther is zone 8.
constexpr double kZoneLimits[] = {150, 300, 600, 1000, 1400, 1800};

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::string::size_type start = 0;
  for (;;) {
    const auto comma = line.find(',', start);
    fields.push_back(line.substr(start, comma - start));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

double ParseDegrees(const std::string& text, double limit, const std::string& where) {
  std::size_t used = 0;
  double value = 0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
  }
  if (used == 0 || used != text.size() || !std::isfinite(value) || std::fabs(value) > limit)
    throw std::runtime_error(where + ": '" + text + "' is not a coordinate");
  return value;
}

// Reads "zip3,state,lat,lon" lines after a header; prefixes must be three
// digits, strictly ascending.
std::vector<Prefix> ReadCentroids(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::vector<Prefix> prefixes;
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lineNumber == 1 || line.empty()) continue;
    const std::string where = path + " line " + std::to_string(lineNumber);
    const auto fields = SplitFields(line);
    if (fields.size() != 4) throw std::runtime_error(where + ": expected 4 fields");
    const std::string& zip3 = fields[0];
    if (zip3.size() != 3 || zip3.find_first_not_of("0123456789") != std::string::npos)
      throw std::runtime_error(where + ": '" + zip3 + "' is not a 3-digit prefix");
    Prefix prefix{std::stoi(zip3), ParseDegrees(fields[2], 90, where), ParseDegrees(fields[3], 180, where)};
    if (!prefixes.empty() && prefix.number <= prefixes.back().number)
      throw std::runtime_error(where + ": prefixes must be unique and ascending");
    prefixes.push_back(prefix);
  }
  if (in.bad()) throw std::runtime_error("cannot read " + path);
  if (prefixes.empty()) throw std::runtime_error(path + " holds no prefixes");
  return prefixes;
}

double Radians(double degrees) { return degrees * kPi / 180.0; }

double DistanceMiles(const Prefix& a, const Prefix& b) {
  const double dLat = Radians(b.lat - a.lat);
  const double dLon = Radians(b.lon - a.lon);
  const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                   std::cos(Radians(a.lat)) * std::cos(Radians(b.lat)) * std::sin(dLon / 2) * std::sin(dLon / 2);
  return 2 * kEarthRadiusMiles * std::asin(std::sqrt(std::fmin(1.0, h)));
}

int Zone(const Prefix& origin, const Prefix& destination) {
  if (origin.number == destination.number) return 2;
  const double miles = DistanceMiles(origin, destination);
  return 2 + static_cast<int>(std::ranges::count_if(kZoneLimits, [&](double limit) { return miles > limit; }));
}

std::string Digits(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return buffer;
}

std::string ChartName(const Prefix& origin) { return "TarnVel_" + Digits(origin.number, 3) + ".csv"; }

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string Chart(const Prefix& origin, const std::vector<Prefix>& prefixes) {
  const std::string label = Digits(origin.number, 3);
  std::string text = "Origin,LOZIP,HIZIP,ZONE\r\n";
  std::size_t i = 0;
  while (i < prefixes.size()) {
    const int zone = Zone(origin, prefixes[i]);
    std::size_t last = i;
    while (last + 1 < prefixes.size() && prefixes[last + 1].number == prefixes[last].number + 1 &&
           Zone(origin, prefixes[last + 1]) == zone)
      ++last;
    text += label + ',' + Digits(prefixes[i].number * 100, 5) + ',' + Digits(prefixes[last].number * 100 + 99, 5) +
            ',' + std::to_string(zone) + "\r\n";
    i = last + 1;
  }
  return text;
}

std::string ZonesSql(const std::vector<Prefix>& prefixes) {
  std::ostringstream sql;
  sql << "-- Generated by makecharts: zones database of the carrier, ready for an import.\n"
         "CREATE TABLE [Zip2FileOfOrigin] (\n"
         "  [LOZIP] LONG NOT NULL,\n"
         "  [HIZIP] LONG NOT NULL,\n"
         "  [FileName] TEXT(64) COLLATE NOCASE NOT NULL\n"
         ");\n"
         "CREATE TABLE [TARNVEL-GND] (\n"
         "  [LOZIP] LONG,\n"
         "  [HIZIP] LONG,\n"
         "  [ZONE] SHORT\n"
         ");\n";
  for (const Prefix& origin : prefixes)
    sql << "INSERT INTO [Zip2FileOfOrigin] ([LOZIP], [HIZIP], [FileName]) VALUES (" << origin.number * 100 << ", "
        << origin.number * 100 + 99 << ", '" << ChartName(origin) << "');\n";
  return sql.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: makecharts CENTROIDS_CSV CHART_FOLDER ZONES_SQL\n";
    return 2;
  }
  try {
    const auto prefixes = ReadCentroids(argv[1]);
    const std::filesystem::path folder = argv[2];
    std::filesystem::create_directories(folder);
    for (const Prefix& origin : prefixes) WriteFile(folder / ChartName(origin), Chart(origin, prefixes));
    WriteFile(argv[3], ZonesSql(prefixes));
  } catch (const std::exception& error) {
    std::cerr << "makecharts: " << error.what() << '\n';
    return 1;
  }
  return 0;
}
