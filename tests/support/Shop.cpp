#include "Shop.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace TestSupport {
namespace fs = std::filesystem;

namespace {

const char* const kCarrierFiles[] = {"TarnVel_Zones_Empty.mdb", "TarnVel_Services.mdb", "TarnVelEODManifest.rpt",
                                     "TarnVel.jpg", "TarnVel_Generic.lab"};

// What `read` answers, or "unreadable: " and why; so one unreadable part still lets the others show.
std::string Read(const std::function<std::string()>& read) {
  try {
    return read();
  } catch (const std::exception& e) {
    return std::string("unreadable: ") + e.what();
  }
}

long ResidentMb(pid_t pid) {
  long pages = 0, resident = 0;
  std::ifstream("/proc/" + std::to_string(pid) + "/statm") >> pages >> resident;
  return resident * ::sysconf(_SC_PAGESIZE) >> 20;
}

// The text of a regular file, which is then removed; empty for anything else.
std::string TakeFile(const std::string& path) {
  const std::string text = fs::is_regular_file(path) ? TestSupport::ReadFile(path) : "";
  if (fs::is_regular_file(path)) fs::remove(path);
  return text;
}

std::string ReadEnv(const char* name) { return std::getenv(name) ? std::getenv(name) + std::string(":") : ""; }

}  // namespace

fs::path BuiltProgramFolder() { return std::getenv("ATV_PROGRAM_DIR") ? std::getenv("ATV_PROGRAM_DIR") : ""; }

std::string Run::Dump() const {
  std::string text = "exit " + std::to_string(exitStatus) + "\n";
  for (const auto& e : events)
    if (e.value("event", "") == "message") text += "  box " + e.value("text", "").substr(0, 600) + "\n";
  return text + (err.empty() ? "" : "stderr: " + err.substr(0, 2000) + "\n");
}

Shop::Shop() {
  const fs::path bin = BuiltProgramFolder();
  for (const char* name : {"addtarnvel-cli", "Data", "TarnVel_Zones_Empty.mdb", "TarnVel_Services.mdb"})
    if (why_.empty() && !fs::exists(bin / name)) why_ = (bin / name).string() + " is not there (ATV_PROGRAM_DIR)";
  if (!why_.empty()) return;
  fs::create_directories(Program());
  for (const char* name : kCarrierFiles) fs::copy_file(bin / name, Program() / name);
  fs::copy(bin / "Data", Program() / "Data", fs::copy_options::recursive);
  Reset();
}

void Shop::Reset() {
  fs::remove_all(Folder());
  fs::create_directories(Folder());
  static const std::string script = TestSupport::ReadFile(ATV_SOURCE_DIR "/data/demo-shop.sql");
  TestSupport::CreateDatabase(Host(), script);
}

std::vector<std::string> Shop::Args(const std::string& zip, const std::string& host, const std::string& program) const {
  const std::string from = program.empty() ? Program().string() : program;
  return {"--json", "--yes", "--zip", zip, "--program-folder", from, host.empty() ? Host() : host};
}

std::vector<std::string> Cli(const std::vector<std::string>& args) {
  std::vector<std::string> argv{(BuiltProgramFolder() / "addtarnvel-cli").string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

Child Start(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
  // Sanitizer reports get exit statuses of their own, never taken for the runner's failure status 1.
  static const int once = ::setenv("ASAN_OPTIONS", (ReadEnv("ASAN_OPTIONS") + "exitcode=86").c_str(), 1) +
                          ::setenv("UBSAN_OPTIONS", (ReadEnv("UBSAN_OPTIONS") + "exitcode=87").c_str(), 1);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& arg : args) argp.push_back(arg.data());
  argp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args.at(0).c_str(), &actions, nullptr, argp.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0 || once != 0) throw std::runtime_error("cannot start " + args.at(0));
  return {pid, out, err};
}

Run Wait(const Child& child) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(150);
  std::string killed;
  int status = 0;
  rusage usage{};
  for (;;) {
    const pid_t done = ::wait4(child.pid, &status, WNOHANG, &usage);
    if (done == child.pid || (done < 0 && errno != EINTR)) break;
    if (killed.empty() && std::chrono::steady_clock::now() > deadline) killed = "killed: past the time limit\n";
    if (killed.empty() && ResidentMb(child.pid) > 2048) killed = "killed: over the memory limit\n";
    if (!killed.empty()) ::kill(child.pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(killed.empty() ? 3 : 1));
  }
  Run run;
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.peakKb = usage.ru_maxrss;
  std::istringstream out(TakeFile(child.out));
  for (std::string line; std::getline(out, line);) {
    auto event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_discarded()) run.err += "unreadable event: " + line.substr(0, 200) + "\n";
    if (!event.is_discarded()) run.events.push_back(std::move(event));
  }
  run.err += killed + TakeFile(child.err);
  return run;
}

Run Shop::RunCli(const std::vector<std::string>& args) const {
  return Wait(Start(Cli(args), (Root() / "run.out").string(), (Root() / "run.err").string()));
}

std::vector<std::string> Rows(const std::string& path, const std::string& sql) {
  return TestSupport::QueryRows(path, sql, true);
}

std::string Value(const std::string& path, const std::string& sql) {
  return Read([&] {
    const auto rows = Rows(path, sql);
    return rows.empty() ? "(no row)" : rows.front();
  });
}

nlohmann::json Run::Summary() const {
  return !events.empty() && events.back().value("event", "") == "summary" ? events.back() : nlohmann::json::object();
}

std::string Run::ChartRows() const {
  for (const auto& item : Summary().value("items", nlohmann::json::array()))
    if (item.value("item", "") == "chart") return std::to_string(item.value("rows", -1));
  return "";
}

std::string DatabaseText(const std::string& path) {
  return !fs::is_regular_file(path) ? "" : Read([&] {
    std::string text;
    for (const auto& row : Rows(path, "SELECT name, sql FROM sqlite_schema ORDER BY name")) {
      text += row + "\n";
      const std::string name = row.substr(0, row.find('|'));
      if (name.starts_with("sqlite_autoindex")) continue;
      for (const auto& data : Rows(path, "SELECT * FROM \"" + name + "\" ORDER BY rowid")) text += "  " + data + "\n";
    }
    return text;
  });
}

std::map<std::string, std::string> FolderContents(const fs::path& folder) {
  std::map<std::string, std::string> contents;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const auto status = it->symlink_status();
    std::ostringstream entry;
    entry << "mode " << std::oct << static_cast<unsigned>(status.permissions() & fs::perms::all) << std::dec << ", ";
    if (fs::is_symlink(status))
      entry << "a link to " << fs::read_symlink(it->path(), ec).string();
    else if (!fs::is_regular_file(status))
      entry << (fs::is_directory(status) ? "<folder>" : "<special>");
    else if (it->file_size(ec) > (64u << 20))  // too large to read: its size tells
      entry << it->file_size(ec) << " bytes";
    else
      entry << std::hash<std::string>{}(TestSupport::ReadFile(it->path().string())) << " hash";
    contents[it->path().filename().string()] = entry.str();
  }
  return contents;
}

// The rows of a zones database's zone table; "0" when it is not a table (a view may never end).
std::string ZoneRows(const std::string& path) {
  const bool table =
      Rows(path, "Select type From sqlite_schema Where name = 'TARNVEL-GND'") == std::vector<std::string>{"table"};
  return table ? Rows(path, "Select count(*) From [TARNVEL-GND]").at(0) : "0";
}

std::map<std::string, std::string> Installed(const std::string& host, const fs::path& program) {
  const fs::path folder = fs::path(host).parent_path();
  const std::string zones = (folder / "TarnVel_Zones.mdb").string();
  std::map<std::string, std::string> parts;
  for (const auto& [part, sql] :
       {std::pair{"master", "Select * From [Master] Where [Service] = 'TARNVEL-GND'"},
        {"buttons", "Select * From [Panel] Where 'TARNVEL-GND' In ([SV1], [SV2], [SV3], [SV4], [SV5], [SV6], [SV7])"},
        {"panel rows", "Select count(*) From [Panel]"}})
    parts[part] = !fs::exists(host) ? "missing" : Read([&] {
      std::string text;
      for (const auto& row : Rows(host, sql)) text += row + "\n";
      return text;
    });
  for (const auto& name : kCopiedFiles) {
    const std::string copy = (folder / name).string(), original = (program / name).string();
    std::string& part = parts[name];
    if (fs::is_symlink(copy) || !fs::is_regular_file(copy))
      part = fs::is_symlink(copy) ? "a link" : "missing";
    else if (copy == zones)  // made by the run from a chart, so whole when its zone table has rows
      part = Read([&] { return ZoneRows(zones) != "0" ? "same" : "differs"; });
    else  // a sparse file of 1 GiB is never read
      part =
          fs::file_size(copy) == fs::file_size(original) && ReadFile(copy) == ReadFile(original) ? "same" : "differs";
  }
  // Read last: a leftover beside it would be played back into it.
  parts["zone rows"] = !fs::exists(zones) ? "missing" : Read([&] { return ZoneRows(zones); });
  return parts;
}

}  // namespace TestSupport
