#include "AppInfo.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "version.h"

namespace Platform::AppInfo {
namespace {

std::optional<std::string> programFolder;
#ifdef _WIN32
std::string defaultHostDbPath = "C:\\Mailvoro\\Mailvoro.mdb";
#else
std::string defaultHostDbPath = "/opt/Mailvoro/Mailvoro.mdb";
#endif

std::string FolderOfRunningProgram() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return exe.parent_path().string();
  // Without the program's own path the current folder is the best guess;
  // never the empty text, which would send every file to the root.
  auto current = std::filesystem::current_path(ec);
  return ec ? std::string(".") : current.string();
}

}  // namespace

const std::string& Title() {
  static const std::string title = "AddTarnVel";
  return title;
}

std::string BoxTitle(const std::string& title) { return title.empty() ? Title() : title; }

std::string VersionText() { return Version::kText; }

const std::string& ProgramFolder() {
  if (!programFolder) programFolder = FolderOfRunningProgram();
  return *programFolder;
}

void SetProgramFolder(const std::string& folder) {
  std::string value = folder;
  while (value.size() > 1 && value.back() == PathSeparator()) value.pop_back();
  programFolder = value;
}

std::string InProgramFolder(const std::string& name) { return ProgramFolder() + PathSeparator() + name; }

char PathSeparator() { return static_cast<char>(std::filesystem::path::preferred_separator); }

const std::string& DefaultHostDbPath() { return defaultHostDbPath; }
void SetDefaultHostDbPath(const std::string& path) { defaultHostDbPath = path; }

}  // namespace Platform::AppInfo
