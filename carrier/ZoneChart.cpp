// The zone chart: the origin ZIP question, the working zones database, and the import of the chart into it.
#include <algorithm>
#include <array>

#include "AppInfo.h"
#include "Carrier.h"
#include "Connection.h"
#include "Convert.h"
#include "DatabaseLocks.h"
#include "DBQuery.h"
#include "MsgBox_.h"
#include "RunError.h"
#include "Ui.h"

namespace Carrier {
namespace {

using Platform::AppInfo::InProgramFolder;
using Platform::RunError;

constexpr std::size_t kMostZipDigits = 9;

std::string DataFolder() { return InProgramFolder("Data"); }

bool IsZipDigits(const std::string& zip) {
  return !zip.empty() && zip.size() <= kMostZipDigits &&
         std::all_of(zip.begin(), zip.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Chart files are Windows-1252; everything past them (status panel, SQL) is UTF-8.
std::string Cp1252ToUtf8(const std::string& bytes) {
  static constexpr std::array<char32_t, 32> kHigh = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  out.reserve(bytes.size());
  for (const char raw : bytes) {
    const auto byte = static_cast<unsigned char>(raw);
    if (byte < 0x80) {
      out += raw;
      continue;
    }
    const char32_t code = byte < 0xA0 ? kHigh[byte - 0x80] : byte;
    if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

// The database names the chart file, so the name must not lead the program out of the Data folder.
void CheckChartPath(const std::string& chartPath) {
  const std::string prefix = DataFolder() + Platform::AppInfo::PathSeparator();
  if (chartPath.compare(0, prefix.size(), prefix) != 0)
    throw RunError(Platform::kErrBadFileNameOrNumber,
                   "The zone chart '" + chartPath + "' is not in the folder '" + DataFolder() + "'.");
  const std::string name = chartPath.substr(prefix.size());
  if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos)
    throw RunError(Platform::kErrBadFileNameOrNumber,
                   "The zone chart file name '" + name + "' is not a plain file name in the folder '" + DataFolder() + "'.");
}

// Stores one zone row; the fields go into the statement as they stand, so only numbers may.
void StoreRow(const ChartLine& fields, const std::string& line, const std::string& zonesDbPath,
              const std::string& tableName) {
  if (const int field = fields.NotNumber())
    throw RunError(Platform::kErrTypeMismatch,
                   "Type mismatch: field " + std::to_string(field) + " of the line '" + line + "' is not a number.");
  DBQuery::InsertSql("LOZIP", fields.field2, DBQuery::kKindLiteral, true, false, tableName, false);
  DBQuery::InsertSql("HIZIP", fields.field3, DBQuery::kKindLiteral, false, false, tableName, false);
  Connection::ExecuteSql(zonesDbPath,
                         DBQuery::InsertSql("ZONE", fields.field4, DBQuery::kKindLiteral, false, true, tableName, false));
}

// The origin ZIP code the operator types; nothing when the box is cancelled or left empty.
std::optional<std::string> AskOriginZip(const std::string& carrierName) {
  auto zip = Platform::CurrentUi().InputBox("This utility will install " + carrierName +
                                                " service to your Mailvoro.\r\r\r\rPlease enter your zipcode of origin:",
                                            "Install " + carrierName + "?");
  if (zip && zip->empty()) zip.reset();
  return zip;
}

}  // namespace

std::string WorkingFile(const std::string& name) {
  static Files_::PrivateFolder folder("work");
  return folder.Path() + Platform::AppInfo::PathSeparator() + name;
}

bool PrepareZoneDatabase(Run& run) {
  const Service& service = run.Installed();
  const auto originZip = AskOriginZip(service.carrierName);
  if (!originZip) return false;

  const std::string emptyZonesPath = InProgramFolder(service.emptyZonesFile);
  const auto chartName = ZoneChartForZip(emptyZonesPath, *originZip);
  if (!chartName) {
    Platform::CurrentUi().MsgBox(*originZip + " zip-code was not found in the list of available zip-codes to this service.",
                                 Platform::kMbOkOnly | Platform::kMbExclamation, "");
    return false;
  }

  const std::string zonesPath = WorkingFile(service.zonesFile);
  try {
    Files_::CopyFileChecked(emptyZonesPath, zonesPath, Db::kDatabaseLocks);
  } catch (const RunError&) {
    MsgBox_::ShowCopyFailed(emptyZonesPath, zonesPath);
    return false;
  }
  return ImportZoneChart(DataFolder() + Platform::AppInfo::PathSeparator() + *chartName, zonesPath, service.code,
                         run.Told());
}

std::optional<std::string> ZoneChartForZip(const std::string& dbPath, const std::string& zip) {
  // Only a number goes into the statement: anything else could change what the query selects.
  const std::string digits = Db::TrimSpaces(zip);
  if (!IsZipDigits(digits)) return std::nullopt;
  try {
    const auto recordset = Connection::OpenRecordset(
        dbPath, "Select [FileName] From [Zip2FileOfOrigin] Where [LOZIP] <= " + digits + " And [HIZIP] >= " + digits,
        true);
    if (recordset->IsEOF()) return std::nullopt;
    std::string name =
        Db::TrimSpaces(Convert::FieldValue(recordset->Fields("FileName"), Db::Variant::Text(""), true).ToText());
    if (!name.ends_with(".csv")) name += ".csv";
    return name;
  } catch (const std::exception&) {
    return std::nullopt;  // silently: the caller tells that the ZIP code has no chart
  }
}

bool ChartLine::IsRow() const { return Db::IsNumericText(field2); }

int ChartLine::NotNumber() const {
  return !Db::IsNumericText(field3) ? 3 : !Db::IsNumericText(field4) ? 4 : 0;
}

std::optional<ChartLine> SplitCsvLine(const std::string& line) {
  // Only fields 2 to 4 are wanted, so only the first four commas count.
  constexpr auto npos = std::string::npos;
  const auto comma1 = line.find(',');
  const auto comma2 = comma1 == npos ? npos : line.find(',', comma1 + 1);
  const auto comma3 = comma2 == npos ? npos : line.find(',', comma2 + 1);
  if (comma3 == npos) return std::nullopt;
  const auto comma4 = line.find(',', comma3 + 1);
  return ChartLine{line.substr(comma1 + 1, comma2 - comma1 - 1), line.substr(comma2 + 1, comma3 - comma2 - 1),
                   line.substr(comma3 + 1, comma4 == npos ? npos : comma4 - comma3 - 1)};
}

bool ImportZoneChart(const std::string& chartPath, const std::string& zonesDbPath, const std::string& tableName,
                     Report& report) {
  // Nothing reads the rebuilt working copy until it is copied: its INSERTs need not wait for the disk one by
  // one, only the whole file before the import ends.
  Engine::ScratchFile scratch(zonesDbPath);
  std::int64_t rows = 0;
  bool stored = true;
  const auto error = Attempt("Failed to read Tarn-Vel 'csv' file...", [&] {
    CheckChartPath(chartPath);
    Files_::InputFile file;
    file.Open(chartPath);
    std::string line, status;  // reused from line to line: a chart may hold many thousands
    while (!file.AtEnd()) {
      line = Cp1252ToUtf8(file.ReadLine());
      const auto fields = SplitCsvLine(line);
      if (!fields) {
        // A malformed line ends the chart; the rows before it stand.
        MsgBox_::ShowProcessFailed("", "Failed to parse read line from Tarn-Vel 'csv' file...", "");
        break;
      }
      auto& ui = Platform::CurrentUi();
      if (fields->IsRow()) {
        stored = !Attempt("Failed to import Tarn-Vel 'csv' file to Zone table...",
                          [&] { StoreRow(*fields, line, zonesDbPath, tableName); });
        if (!stored) break;
        ++rows;
      }
      ui.Progress("Importing zones", rows, -1);
      status.assign(kImportingZones).append(line);
      ui.SetStatusText(status);
    }
    scratch.Flush();
  });
  const bool imported = !error && stored;
  report.Tell({.name = "chart", .result = imported ? Result::Imported : Result::Refused,
               .detail = Files_::NameOf(chartPath), .rows = rows});
  return imported;
}

}  // namespace Carrier
