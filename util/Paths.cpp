// Whether a file is there, and a path taken apart at the separator.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "AppInfo.h"
#include "Files_.h"
#include "Ui.h"

namespace Files_ {

bool LocateFile(const std::string& path, bool report) {
  bool there = false;
  try {
    std::error_code ec;
    there = std::filesystem::is_regular_file(path, ec);
    if (!there && report)
      Platform::CurrentUi().MsgBox(Platform::AppInfo::Title() + " has failed to locate the '" + path + "' file...",
                                   Platform::kMbOkOnly + Platform::kMbExclamation, "");
  } catch (...) {
  }
  return there;
}

std::string Beside(const std::string& path, const std::string& name) {
  return FolderOfPath(path) + Platform::AppInfo::PathSeparator() + name;
}

std::string NameOf(const std::string& path) {
  const std::string last = LastPathPart(path);
  return last.empty() ? path : last;
}

std::string LastPathPart(const std::string& path) {
  const auto last = path.rfind(Platform::AppInfo::PathSeparator());
  return last == std::string::npos ? std::string() : path.substr(last + 1);
}

std::string FolderOfPath(const std::string& path) {
  const auto last = path.rfind(Platform::AppInfo::PathSeparator());
  if (last == std::string::npos) return ".";
  return path.substr(0, std::max<std::size_t>(last, 1));
}

}  // namespace Files_
