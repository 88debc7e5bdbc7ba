#include "ShopState.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "AppInfo.h"
#include "EngineErrors.h"
#include "RunError.h"

namespace ShopState {
namespace {

namespace fs = std::filesystem;
using Db::UpperAscii;
using Files_::Beside;
using Platform::RunError;
using Platform::AppInfo::InProgramFolder;
using Snapshot::Cell;
using Snapshot::Shown;

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

Item VerifyRecord(const Service& service, Snapshot::Reader& reader) {
  const auto rows = reader.Query("SELECT * FROM [Master] WHERE [Service] = ?", {service.code});
  if (rows.rows.empty()) return {.name = "record", .result = Result::Missing, .detail = "no record in [Master]"};
  Item item{.name = "record", .result = Result::Ok};
  for (const auto& [name, value] : Carrier::MasterOverrides(service)) {
    const auto column = std::ranges::find_if(rows.columns, [&name = name](const std::string& c) {
      return UpperAscii(c) == UpperAscii(name);
    });
    if (column == rows.columns.end()) continue;
    const Cell& cell = rows.rows[0][static_cast<std::size_t>(column - rows.columns.begin())];
    char* end = nullptr;
    const double stored = cell ? std::strtod(cell->c_str(), &end) : 0;
    const bool number = cell && !cell->empty() && *end == '\0';
    const bool same = value.GetKind() == Db::Variant::Kind::Text ? cell.value_or("") == value.ToText()
                      : value.GetKind() == Db::Variant::Kind::Bool ? number && (stored != 0) == value.ToBool()
                                                                  : number && stored == value.ToDouble();
    if (same) continue;
    item.result = Result::Differs;
    item.detail += (item.detail.empty() ? "" : ", ") + *column + " is " + Shown(cell) + ", expected " + value.ToText();
  }
  return item;
}

Item VerifyButton(const Service& service, Snapshot::Reader& reader) {
  const auto rows = reader.Query("SELECT count(*) FROM [Panel] WHERE " + Carrier::AnyButtonIs("?"),
                                 std::vector<std::string>(7, service.code));
  if (rows.rows.at(0).at(0).value_or("0") != "0") return {.name = "button", .result = Result::Ok};
  return {.name = "button", .result = Result::Missing, .detail = "no [Panel] button carries the service"};
}

// A number as the engine compares it, so that 40, 40.0 and ' 40' agree.
std::string Number(const std::string& text) {
  const double value = std::strtod(text.c_str(), nullptr);
  char out[40];
  std::snprintf(out, sizeof out, "%.17g", value);
  return out;
}

// The rows the chart of `originZip` imports, as the import reads them: up to the first line that is no chart line.
std::vector<std::string> ChartRows(const Service& service, const std::string& originZip, std::string& chartName) {
  chartName = Carrier::ZoneChartForZip(InProgramFolder(service.emptyZonesFile), originZip).value_or("");
  if (chartName.empty())
    throw RunError(Platform::kErrFileNotFound, "no zone chart for the ZIP code '" + originZip + "'");
  Files_::InputFile file;
  file.Open(InProgramFolder("Data") + Platform::AppInfo::PathSeparator() + chartName);
  std::vector<std::string> rows;
  while (!file.AtEnd()) {
    const auto line = Carrier::SplitCsvLine(file.ReadLine());
    if (!line || (line->IsRow() && line->NotNumber())) break;
    if (line->IsRow()) rows.push_back(Number(line->field2) + "," + Number(line->field3) + "," + Number(line->field4));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

Item VerifyFile(const Service& service, std::size_t index, const std::string& path, const std::string& originZip) {
  const std::string name = service.ShopFiles()[index];
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return {.name = name, .result = Result::Missing};
  if (!S_ISREG(info.st_mode)) return {.name = name, .result = Result::Differs, .detail = "not an ordinary file"};
  if (static_cast<std::uint64_t>(info.st_size) > Files_::kMostCarrierFileBytes)
    return {.name = name, .result = Result::Differs, .detail = "larger than any carrier file"};
  if (index != 0) {
    if (Files_::SameBytes(path, InProgramFolder(name))) return {.name = name, .result = Result::Ok};
    return {.name = name, .result = Result::Differs, .detail = "differs from the program's"};
  }
  const std::string& table = service.code;
  Snapshot::Reader reader(path);
  if (!reader.IsTable(table))
    return {.name = name, .result = Result::Differs, .detail = "'" + table + "' is not a table"};
  std::vector<std::string> rows;
  reader.ForEachRow("SELECT [LOZIP], [HIZIP], [ZONE] FROM " + Db::QuotedName(table), {}, [&](std::vector<Cell>&& row) {
    rows.push_back(Number(Shown(row.at(0))) + "," + Number(Shown(row.at(1))) + "," + Number(Shown(row.at(2))));
  });
  reader.Finish();
  if (rows.empty())
    return {.name = name, .result = Result::Differs, .detail = "the zone table '" + table + "' is empty"};
  if (originZip.empty()) return {.name = name, .result = Result::Ok};
  std::string chartName;
  const std::vector<std::string> expected = ChartRows(service, originZip, chartName);
  std::sort(rows.begin(), rows.end());
  if (rows != expected)
    return {.name = name,
            .result = Result::Differs,
            .detail = "the zone table holds " + std::to_string(rows.size()) + " rows, not the " +
                      std::to_string(expected.size()) + " of " + chartName};
  return {.name = name, .result = Result::Ok, .detail = chartName};
}

// Runs `check`; an error becomes an unreadable item.
template <class Check>
Item Checked(const std::string& name, Check&& check) {
  try {
    return check();
  } catch (const std::exception& error) {
    return {.name = name, .result = Result::Unreadable, .detail = error.what()};
  }
}

// Makes `copy` writable exactly when `original` is, for this user.
void MirrorWritable(const std::string& original, const std::string& copy) {
  struct stat info {};
  if (::lstat(original.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) return;
  mode_t mode = (info.st_mode & 0777) | S_IRUSR | (S_ISDIR(info.st_mode) ? S_IXUSR : 0);
  const bool writable = (info.st_mode & kWriteBits) != 0 && ::access(original.c_str(), W_OK) == 0;
  mode = writable ? mode | S_IWUSR : mode & ~kWriteBits;
  ::chmod(copy.c_str(), mode);
}

void CopyShopFile(const std::string& from, const std::string& to, bool database) {
  struct stat info {};
  if (::lstat(from.c_str(), &info) != 0) return;
  std::error_code ec;
  if (S_ISLNK(info.st_mode)) {
    fs::create_symlink(fs::read_symlink(from, ec), to, ec);
  } else if (!S_ISREG(info.st_mode)) {
    if (::mkfifo(to.c_str(), 0600) != 0) ec = std::error_code(errno, std::generic_category());
  } else if (static_cast<std::uint64_t>(info.st_size) > Files_::kMostCarrierFileBytes) {
    // Never read: an empty file stands for it, as no carrier file equals it.
    std::FILE* file = std::fopen(to.c_str(), "wbx");
    if (!file) ec = std::error_code(errno, std::generic_category());
    else std::fclose(file);
  } else if (database) {
    // The shop's program may be writing it.
    try {
      Snapshot::Reader reader(from);
      reader.CopyTo(to);
      reader.Finish();
    } catch (const RunError& error) {
      if (error.Number() == Engine::kErrInUse) throw;
      fs::remove(to, ec);
      fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    }
  } else {
    // A carrier file is only ever replaced whole: its bytes as they are tell a run whether it would change.
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  }
  if (ec)
    throw RunError(Platform::kErrPathFileAccess,
                   "Path/File access error: '" + from + "' could not be copied: " + ec.message() + ".");
  MirrorWritable(from, to);
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

}  // namespace

std::vector<Item> Verify(const Service& service, const std::string& hostDbPath, const std::string& originZip) {
  std::vector<Item> items;
  std::optional<Snapshot::Reader> reader;
  const auto open = [&]() -> Snapshot::Reader& {
    if (!reader) reader.emplace(hostDbPath);
    return *reader;
  };
  items.push_back(Checked("record", [&] { return VerifyRecord(service, open()); }));
  items.push_back(Checked("button", [&] { return VerifyButton(service, open()); }));
  reader.reset();
  const auto files = service.ShopFiles();
  for (std::size_t i = 0; i < files.size(); ++i)
    items.push_back(Checked(files[i], [&] { return VerifyFile(service, i, Beside(hostDbPath, files[i]), originZip); }));
  return items;
}

PrivateCopy::PrivateCopy(const Service& service, const std::string& hostDbPath)
    : folder_("plan"),
      hostDbPath_(hostDbPath),
      hostFolder_(Files_::FolderOfPath(hostDbPath)),
      copyFolder_(folder_.Path() + Platform::AppInfo::PathSeparator() + "shop"),
      copyHostDbPath_(copyFolder_ + Platform::AppInfo::PathSeparator() + Files_::NameOf(hostDbPath)) {
  try {
    fs::create_directory(copyFolder_);
    CopyShopFile(hostDbPath, copyHostDbPath_, true);
    for (const auto& name : service.ShopFiles())
      CopyShopFile(Beside(hostDbPath, name), Beside(copyHostDbPath_, name), false);
    MirrorWritable(hostFolder_, copyFolder_);
  } catch (const fs::filesystem_error& error) {
    throw RunError(Platform::kErrPathFileAccess, std::string("Path/File access error: ") + error.what());
  }
}

std::string PrivateCopy::RealPaths(std::string text) const {
  ReplaceAll(text, copyHostDbPath_, hostDbPath_);
  ReplaceAll(text, copyFolder_, hostFolder_);
  return text;
}

}  // namespace ShopState
