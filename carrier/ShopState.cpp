#include "ShopState.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "AppInfo.h"
#include "Carrier.h"
#include "Connection.h"
#include "Files_.h"
#include "MsgBox_.h"
#include "RunError.h"
#include "Ui.h"
#include "Variant.h"

namespace ShopState {
namespace {

namespace fs = std::filesystem;
using Platform::RunError;
using Snapshot::Cell;

constexpr std::size_t kDatabaseFiles = 2;  // the first two shop files are databases
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

std::string Beside(const std::string& path, const std::string& name) {
  return Files_::FolderOfPath(path) + Platform::AppInfo::PathSeparator() + name;
}

using Platform::AppInfo::InProgramFolder;

std::string Shown(const Cell& cell) { return cell ? *cell : "Null"; }

std::string Describe(const std::exception& error) { return error.what(); }

// FNV-1a over 64 bits: enough to tell one content from another.
class Digest {
 public:
  void Add(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) value_ = (value_ ^ bytes[i]) * 0x100000001b3ULL;
  }
  // A text and its end, so that "ab"+"c" and "a"+"bc" differ.
  void Add(const std::string& text) { Add(text.c_str(), text.size() + 1); }
  void Add(const Cell& cell) { Add(cell ? "=" + *cell : std::string("Null")); }
  std::uint64_t Value() const { return value_; }

 private:
  std::uint64_t value_ = 0xcbf29ce484222325ULL;
};

// Read as Files_::InputFile opens a file: without blocking and only when
// it is an ordinary file, so a FIFO or a device under a carrier file's name
// is refused, never waited on.
std::uint64_t BytesDigest(const std::string& path) {
  Files_::InputFile file;
  file.Open(path);
  Digest digest;
  for (std::string bytes; !(bytes = file.ReadBytes()).empty();) digest.Add(bytes.data(), bytes.size());
  return digest.Value();
}

// A database by its rows: each table's name, columns and rows, in any row
// order. Table names come from the file, so they are quoted as names,
// never run as SQL of their own.
std::uint64_t RowsDigest(const std::string& path) {
  Snapshot::Reader reader(path);
  Digest all;
  for (const std::string& table : reader.Tables()) {
    // A digest a row: the table is never held whole.
    std::vector<std::uint64_t> rowDigests;
    const auto columns = reader.ForEachRow("SELECT * FROM " + Db::QuotedName(table), {}, [&](std::vector<Cell>&& row) {
      Digest one;
      for (const Cell& cell : row) one.Add(cell);
      rowDigests.push_back(one.Value());
    });
    std::sort(rowDigests.begin(), rowDigests.end());
    all.Add(table);
    for (const std::string& column : columns) all.Add(column);
    for (const std::uint64_t d : rowDigests) all.Add(&d, sizeof d);
  }
  reader.Finish();
  return all.Value();
}

// A file that is no database at all is still told apart by its bytes.
std::uint64_t ContentDigest(const std::string& path, bool database) {
  if (database) {
    try {
      return RowsDigest(path);
    } catch (const RunError&) {
    }
  }
  return BytesDigest(path);
}

bool IsLink(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

using Db::UpperAscii;

int ColumnIndex(const Snapshot::Rows& rows, const std::string& upperName) {
  for (std::size_t c = 0; c < rows.columns.size(); ++c)
    if (UpperAscii(rows.columns[c]) == upperName) return static_cast<int>(c);
  return -1;
}

bool Carries(const Snapshot::Rows& panel, const std::vector<Cell>& row, const std::string& serviceCode) {
  for (int button = 1; button <= 7; ++button) {
    const int c = ColumnIndex(panel, "SV" + std::to_string(button));
    if (c >= 0 && row[static_cast<std::size_t>(c)] && Db::EqualsNoCase(*row[static_cast<std::size_t>(c)], serviceCode))
      return true;
  }
  return false;
}

Item CompareRecord(const State& before, const State& after) {
  Item item{.name = "record", .result = "unreadable", .detail = after.masterError};
  if (!item.detail.empty()) return item;
  const auto& b = before.master.rows;
  const auto& a = after.master.rows;
  if (b.empty() || a.empty()) {
    item.result = b.empty() == a.empty() ? "absent" : b.empty() ? "added" : "removed";
    return item;
  }
  for (std::size_t r = 0; r < std::min(a.size(), b.size()); ++r)
    for (std::size_t c = 0; c < std::min(a[r].size(), b[r].size()); ++c)
      if (a[r][c] != b[r][c]) item.changes.push_back({after.master.columns[c], Shown(b[r][c]), Shown(a[r][c])});
  item.result = item.changes.empty() && a.size() == b.size() ? "unchanged" : "changed";
  return item;
}

// The [Panel] rows that carry the service before or after, matched by
// their PanelIndex.
Item CompareButton(const Service& service, const State& before, const State& after) {
  Item item{.name = "button", .result = "unreadable", .detail = after.panelError};
  const int bIndex = ColumnIndex(before.panel, "PANELINDEX");
  const int aIndex = ColumnIndex(after.panel, "PANELINDEX");
  if (!item.detail.empty() || bIndex < 0 || aIndex < 0) return item;
  item.result = "unchanged";
  const auto find = [](const Snapshot::Rows& rows, int column, const Cell& key) -> const std::vector<Cell>* {
    for (const auto& row : rows.rows)
      if (row[static_cast<std::size_t>(column)] == key) return &row;
    return nullptr;
  };
  std::vector<Cell> keys;
  for (const auto* state : {&before, &after}) {
    const int column = state == &before ? bIndex : aIndex;
    for (const auto& row : state->panel.rows)
      if (Carries(state->panel, row, service.serviceCode)) keys.push_back(row[static_cast<std::size_t>(column)]);
  }
  static const char* const kOrder[] = {"added", "removed", "cleared", "changed"};
  std::vector<std::string> found[4];
  for (const Cell& key : keys) {
    const auto* b = find(before.panel, bIndex, key);
    const auto* a = find(after.panel, aIndex, key);
    const bool carried = b && Carries(before.panel, *b, service.serviceCode);
    const bool carries = a && Carries(after.panel, *a, service.serviceCode);
    const int kind = !carried && carries ? 0 : carried && !a ? 1 : carried && !carries ? 2 : a && b && *a != *b ? 3 : -1;
    const std::string text = "PanelIndex " + Shown(key);
    if (kind >= 0 && std::find(found[kind].begin(), found[kind].end(), text) == found[kind].end())
      found[kind].push_back(text);
  }
  if (keys.empty()) item.result = "absent";
  for (int kind = 3; kind >= 0; --kind) {
    if (found[kind].empty()) continue;
    item.result = kOrder[kind];
    item.detail.clear();
    for (const auto& text : found[kind]) item.detail += (item.detail.empty() ? "" : ", ") + text;
  }
  return item;
}

// Runs one statement on the shop database; a failure shows its box.
bool Execute(const std::string& hostDbPath, const std::string& sql, const std::string& failureText) {
  std::string errorDescription;
  std::int32_t errorNumber = 0;
  if (Connection::ExecuteSql(hostDbPath, sql, errorDescription, errorNumber)) return true;
  MsgBox_::ShowProcessFailed(errorDescription, failureText, "");
  return false;
}

// Whether the shop file `index` of ShopFiles at `path` is the carrier's:
// a database that holds the service's table, or a support file equal to
// the program folder's. A link never is: installations make none. A file
// that cannot be read to tell throws, so that it is kept and the caller
// fails rather than pass it over as someone else's.
bool IsCarriers(const Service& service, std::size_t index, const std::string& path) {
  if (IsLink(path)) return false;
  if (index >= kDatabaseFiles) return BytesDigest(path) == BytesDigest(InProgramFolder(service.ShopFiles()[index]));
  try {
    Snapshot::Reader reader(path);
    const auto rows = reader.Query("SELECT count(*) FROM pragma_table_info(?) WHERE upper(name) = ?",
                                   {service.serviceCode, index == 0 ? "ZONE" : "LBS"});
    reader.Finish();
    return rows.rows.at(0).at(0) == "1";
  } catch (const RunError& error) {
    if (error.Number() != Engine::kErrNotADatabase) throw;
    return false;
  }
}

Item VerifyRecord(const Service& service, Snapshot::Reader& reader) {
  Item item{.name = "record", .result = "ok"};
  const auto rows = reader.Query("SELECT * FROM [Master] WHERE [Service] = ?", {service.serviceCode});
  if (rows.rows.empty()) return {.name = "record", .result = "missing", .detail = "no record in [Master]"};
  for (const auto& expected : Carrier::MasterOverrides(service.serviceType, service.serviceCode, service.carrierName)) {
    const int c = ColumnIndex(rows, expected.upperName);
    if (c < 0) continue;
    const Cell& cell = rows.rows[0][static_cast<std::size_t>(c)];
    bool same;
    if (expected.value.GetKind() == Db::Variant::Kind::Text) {
      same = cell.value_or("") == expected.value.ToText();
    } else {
      char* end = nullptr;
      const double stored = cell ? std::strtod(cell->c_str(), &end) : 0;
      same = cell && end && *end == '\0' && !cell->empty() &&
             (expected.value.GetKind() == Db::Variant::Kind::Bool ? (stored != 0) == expected.value.ToBool()
                                                                   : stored == expected.value.ToDouble());
    }
    if (same) continue;
    item.result = "differs";
    item.detail += (item.detail.empty() ? "" : ", ") + rows.columns[static_cast<std::size_t>(c)] + " is " + Shown(cell) +
                   ", expected " + expected.value.ToText();
  }
  return item;
}

Item VerifyButton(const Service& service, Snapshot::Reader& reader) {
  const auto rows = reader.Query("SELECT count(*) FROM [Panel] WHERE " + Carrier::AnyButtonIs("?"),
                                 std::vector<std::string>(7, service.serviceCode));
  if (rows.rows.at(0).at(0).value_or("0") != "0") return {.name = "button", .result = "ok"};
  return {.name = "button", .result = "missing", .detail = "no [Panel] button carries the service"};
}

Item VerifyFile(const Service& service, std::size_t index, const std::string& path) {
  const std::string name = service.ShopFiles()[index];
  if (!Exists(path)) return {.name = name, .result = "missing"};
  Item item{.name = name, .result = "ok"};
  if (index == 0) {
    Snapshot::Reader reader(path);
    const auto rows = reader.Query("SELECT count([ZONE]) FROM [" + service.serviceCode + "]");
    reader.Finish();
    if (rows.rows.at(0).at(0).value_or("0") == "0") {
      item.result = "differs";
      item.detail = "the zone table '" + service.serviceCode + "' is empty";
    }
  } else if (ContentDigest(path, index < kDatabaseFiles) != ContentDigest(InProgramFolder(name), index < kDatabaseFiles)) {
    item.result = "differs";
    item.detail = "differs from the program's";
  }
  return item;
}

// Runs `check` and turns any error into an item that says why.
template <class Check>
Item Checked(const std::string& name, Check&& check) {
  try {
    return check();
  } catch (const std::exception& error) {
    return {.name = name, .result = "missing", .detail = Describe(error)};
  }
}

// Makes `copy` writable exactly when `original` is, for this user.
void MirrorWritable(const std::string& original, const std::string& copy) {
  struct stat info {};
  if (::stat(original.c_str(), &info) != 0) return;
  mode_t mode = (info.st_mode & 0777) | S_IRUSR | (S_ISDIR(info.st_mode) ? S_IXUSR : 0);
  const bool writable = (info.st_mode & kWriteBits) != 0 && ::access(original.c_str(), W_OK) == 0;
  mode = writable ? mode | S_IWUSR : mode & ~kWriteBits;
  ::chmod(copy.c_str(), mode);
}

void CopyBytes(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec)
    throw RunError(Platform::kErrPathFileAccess,
                   "Path/File access error: '" + from + "' could not be copied: " + ec.message() + ".");
}

// A database as one consistent state, even while another program writes
// it; a file that is no database is copied as it is.
void CopyDatabase(const std::string& from, const std::string& to) {
  try {
    Snapshot::Reader reader(from);
    reader.CopyTo(to);
    reader.Finish();
  } catch (const RunError& error) {
    if (error.Number() == Engine::kErrInUse) throw;
    std::error_code ec;
    fs::remove(to, ec);
    CopyBytes(from, to);
  }
}

// Removes the private folder of a dry run, whatever modes its copies got.
void RemoveTree(const std::string& root) {
  const char separator = Platform::AppInfo::PathSeparator();
  for (const char* folder : {"shop", "program"}) ::chmod((root + separator + folder).c_str(), S_IRWXU);
  std::error_code ec;
  fs::remove_all(root, ec);
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

}  // namespace

std::vector<std::string> Service::ShopFiles() const {
  std::vector<std::string> files = {zonesFile, servicesFile};
  files.insert(files.end(), supportFiles.begin(), supportFiles.end());
  return files;
}

State Capture(const Service& service, const std::string& hostDbPath) {
  State state;
  try {
    Snapshot::Reader reader(hostDbPath);
    try {
      state.master = reader.Query("SELECT * FROM [Master] WHERE [Service] = ?", {service.serviceCode});
    } catch (const RunError& error) {
      state.masterError = error.Description();
    }
    try {
      state.panel = reader.Query("SELECT * FROM [Panel]");
    } catch (const RunError& error) {
      state.panelError = error.Description();
    }
    reader.Finish();
  } catch (const std::exception& error) {
    state.masterError = state.panelError = Describe(error);
  }
  const auto files = service.ShopFiles();
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string path = Beside(hostDbPath, files[i]);
    State::File file{.present = Exists(path)};
    try {
      if (file.present) file.digest = ContentDigest(path, i < kDatabaseFiles);
    } catch (const std::exception&) {
      file.digest = 0;  // unreadable: told apart from any content
    }
    state.files.push_back(file);
  }
  return state;
}

std::vector<Item> Compare(const Service& service, const State& before, const State& after) {
  std::vector<Item> items = {CompareRecord(before, after), CompareButton(service, before, after)};
  const auto files = service.ShopFiles();
  for (std::size_t i = 0; i < files.size() && i < before.files.size() && i < after.files.size(); ++i) {
    const auto& b = before.files[i];
    const auto& a = after.files[i];
    const char* result = !b.present ? (a.present ? "created" : "absent")
                         : !a.present ? "removed"
                         : b.digest == a.digest ? "unchanged"
                                                : "replaced";
    items.push_back({.name = files[i], .result = result});
  }
  return items;
}

bool Changed(const std::vector<Item>& items) {
  static const char* const kChanges[] = {"added", "changed", "removed", "cleared", "created", "replaced"};
  return std::any_of(items.begin(), items.end(), [](const Item& item) {
    return std::find(std::begin(kChanges), std::end(kChanges), item.result) != std::end(kChanges);
  });
}

Item Chart(const Service& service, const std::string& hostDbPath, const std::string& originZip) {
  Item item{.name = "chart", .result = "none"};
  Carrier::ZoneChartForZip(InProgramFolder(service.emptyZonesFile), originZip, item.detail);
  try {
    Snapshot::Reader reader(Beside(hostDbPath, service.zonesFile));
    const auto rows = reader.Query("SELECT count(*) FROM [" + service.serviceCode + "]");
    reader.Finish();
    item.rows = std::stoll(rows.rows.at(0).at(0).value_or("0"));
  } catch (const std::exception&) {
    item.rows = 0;
  }
  if (item.rows > 0) item.result = "imported";
  return item;
}

std::vector<Item> Verify(const Service& service, const std::string& hostDbPath) {
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
    items.push_back(Checked(files[i], [&] { return VerifyFile(service, i, Beside(hostDbPath, files[i])); }));
  return items;
}

bool Remove(const Service& service, const std::string& hostDbPath) {
  const std::string what = service.carrierName + " '" + service.serviceCode + "' service from ";
  const std::string code = "'" + service.serviceCode + "'";
  bool result = false;
  try {
    const Carrier::RunLocks locks(Files_::FolderOfPath(hostDbPath));
    const int answer = Platform::CurrentUi().MsgBox(
        "Would you like to remove " + service.serviceType + " " + code + " service from your Mailvoro ?",
        Platform::kMbOkCancel | Platform::kMbQuestion, "Remove " + service.carrierName + " Service?");
    if (answer != Platform::kAnswerOk) return false;

    const bool masterDone = Execute(hostDbPath, "DELETE FROM [Master] WHERE [Service] = " + code,
                                    "Failed to remove " + what + "Master table...");
    // A row whose every button is the service or empty goes; in the other
    // rows only the service's buttons are cleared.
    std::string onlyThis;
    for (int button = 1; button <= 7; ++button) {
      const std::string sv = "[SV" + std::to_string(button) + "]";
      onlyThis += " And (" + sv + " Is Null Or " + sv + " = '' Or " + sv + " = " + code + ")";
    }
    const std::string panelFailure = "Failed to remove " + what + "Panel table...";
    bool panelDone =
        Execute(hostDbPath, "DELETE FROM [Panel] WHERE (" + Carrier::AnyButtonIs(code) + ")" + onlyThis, panelFailure);
    for (int button = 1; panelDone && button <= 7; ++button) {
      const std::string n = std::to_string(button);
      panelDone = Execute(hostDbPath,
                          "UPDATE [Panel] SET [BD" + n + "] = Null, [SV" + n + "] = Null WHERE [SV" + n + "] = " + code,
                          panelFailure);
    }
    // The files go only once nothing in the shop refers to them any more.
    if (!masterDone || !panelDone) return false;
    bool filesDone = true;
    const auto files = service.ShopFiles();
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string path = Beside(hostDbPath, files[i]);
      std::string errorDescription;
      std::int32_t errorNumber = 0;
      if (Exists(path) && IsCarriers(service, i, path))
        filesDone = Files_::RemoveFileChecked(path, errorDescription, errorNumber, true) && filesDone;
    }
    result = filesDone;
  } catch (const RunError& error) {
    MsgBox_::ShowProcessFailed(error.Description(), "Failed to remove the service...", "");
  } catch (const std::exception& error) {
    MsgBox_::ShowProcessFailed(error.what(), "Failed to remove the service...", "");
  }
  return result;
}

PrivateCopy::PrivateCopy(const Service& service, const std::string& hostDbPath, const std::string& programFolder)
    : hostDbPath_(hostDbPath), programFolder_(programFolder) {
  std::string pattern = (fs::temp_directory_path() / "addtarnvel-plan-XXXXXX").string();
  if (!::mkdtemp(pattern.data()))
    throw RunError(Platform::kErrPathFileAccess,
                   "Path/File access error: no private folder for the dry run: " + std::string(std::strerror(errno)));
  root_ = pattern;
  const char separator = Platform::AppInfo::PathSeparator();
  const std::string shop = root_ + separator + "shop";
  copyProgramFolder_ = root_ + separator + "program";
  const std::string hostName = hostDbPath.find(separator) == std::string::npos ? hostDbPath
                                                                                 : Files_::LastPathPart(hostDbPath);
  copyHostDbPath_ = shop + separator + hostName;
  try {
    fs::create_directory(shop);
    fs::create_directory(copyProgramFolder_);
    const std::string hostFolder = Files_::FolderOfPath(hostDbPath);
    {
      // No installation changes the shop while it is copied.
      const Files_::FolderLock lock(hostFolder);
      CopyDatabase(hostDbPath, copyHostDbPath_);
      MirrorWritable(hostDbPath, copyHostDbPath_);
      const auto files = service.ShopFiles();
      for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string from = hostFolder + separator + files[i], to = shop + separator + files[i];
        if (!fs::exists(from)) continue;
        i < kDatabaseFiles ? CopyDatabase(from, to) : CopyBytes(from, to);
        MirrorWritable(from, to);
      }
    }
    std::vector<std::string> programFiles = {service.emptyZonesFile, service.servicesFile};
    programFiles.insert(programFiles.end(), service.supportFiles.begin(), service.supportFiles.end());
    for (const auto& name : programFiles) {
      const std::string from = programFolder + separator + name;
      if (fs::exists(from)) CopyBytes(from, copyProgramFolder_ + separator + name);
    }
    // The working zones database is rebuilt by every run: only whether it
    // can be written matters.
    const std::string working = programFolder + separator + service.zonesFile;
    const std::string workingCopy = copyProgramFolder_ + separator + service.zonesFile;
    if (fs::exists(working) && fs::exists(programFolder + separator + service.emptyZonesFile)) {
      CopyBytes(programFolder + separator + service.emptyZonesFile, workingCopy);
      MirrorWritable(working, workingCopy);
    }
    fs::create_directory_symlink(fs::absolute(programFolder) / "Data", copyProgramFolder_ + separator + "Data");
    MirrorWritable(hostFolder, shop);
    MirrorWritable(programFolder, copyProgramFolder_);
  } catch (const fs::filesystem_error& error) {
    RemoveTree(root_);
    throw RunError(Platform::kErrPathFileAccess, std::string("Path/File access error: ") + error.what());
  } catch (...) {
    RemoveTree(root_);
    throw;
  }
}

PrivateCopy::~PrivateCopy() { RemoveTree(root_); }

std::string PrivateCopy::RealPaths(std::string text) const {
  ReplaceAll(text, copyHostDbPath_, hostDbPath_);
  ReplaceAll(text, Files_::FolderOfPath(copyHostDbPath_), Files_::FolderOfPath(hostDbPath_));
  ReplaceAll(text, copyProgramFolder_, programFolder_);
  return text;
}

}  // namespace ShopState
