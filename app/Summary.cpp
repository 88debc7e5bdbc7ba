#include "Summary.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>

#include "Carrier.h"
#include "Runner.h"
#include "Transcript.h"
#include "Variant.h"

namespace App::Runner {
namespace {

std::string Outcome(int status) {
  return status == kExitSucceeded ? "succeeded" : status == kExitDisabled ? "no-file" : "failed";
}

std::string Json(const Summary& summary) {
  nlohmann::ordered_json items = nlohmann::ordered_json::array();
  for (const auto& item : summary.items) {
    nlohmann::ordered_json j = {{"item", item.name}, {"result", Carrier::Word(item.result)}};
    if (!item.detail.empty()) j["detail"] = item.detail;
    if (item.rows >= 0) j["rows"] = item.rows;
    for (const auto& change : item.changes)
      j["changes"].push_back({{"column", change.column}, {"old", change.before}, {"new", change.after}});
    items.push_back(std::move(j));
  }
  const nlohmann::ordered_json j = {{"event", "summary"},          {"mode", summary.mode},
                                    {"dry_run", summary.dryRun},   {"outcome", Outcome(summary.status)},
                                    {"exit", summary.status},      {"changed", summary.changed},
                                    {"items", std::move(items)}};
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Readable(const Summary& summary) {
  std::string line = "Summary: " + summary.mode + (summary.dryRun ? " (dry run) " : " ") + Outcome(summary.status) +
                     (summary.changed ? ", changed" : ", unchanged");
  for (const auto& item : summary.items) {
    std::string detail = item.detail;
    for (const auto& change : item.changes)
      detail += (detail.empty() ? "" : ", ") + change.column + " " + change.before + " -> " + change.after;
    if (item.rows >= 0) detail += (detail.empty() ? "" : ", ") + std::to_string(item.rows) + " rows";
    line += "; " + item.name + " " + Carrier::Word(item.result) + (detail.empty() ? "" : " (" + OneLine(detail) + ")");
  }
  return line;
}

// Why the add button stayed disabled, in the runner's words: one look at
// what the path names (and for a name of nothing, whether it is a link).
std::string WhyNoFile(const std::string& path) {
  namespace fs = std::filesystem;
  if (path.empty()) return "no shop database was named (HOST_DB_PATH is empty)";
  const std::string quoted = "'" + OneLine(path) + "'";
  std::error_code error;
  const fs::file_type type = fs::status(path, error).type();
  if (type == fs::file_type::not_found) {
    const bool link = fs::is_symlink(fs::symlink_status(path, error));
    return quoted + (link ? " is a symbolic link to a file that does not exist" : " does not exist");
  }
  if (error) return quoted + " cannot be looked at: " + error.message();
  if (type == fs::file_type::directory) return quoted + " is a folder";
  if (type != fs::file_type::regular) return quoted + " is not an ordinary file";
  return quoted + " could not be found when the run looked";  // it has come since
}

// The effective user, by its name in the local user list when it has one
// there (a lookup through the name services could wait on the network).
std::string EffectiveUser() {
  const uid_t uid = ::geteuid();
  const std::unique_ptr<FILE, int (*)(FILE*)> users(std::fopen("/etc/passwd", "re"), &std::fclose);
  while (const passwd* user = users ? ::fgetpwent(users.get()) : nullptr)
    if (user->pw_uid == uid) return user->pw_name;
  return "uid " + std::to_string(uid);
}

// Why the shop refused a file: the error's own text, and for a permission
// the user the run works as, who must be let write there.
std::string WhyRefused(const std::string& detail) {
  std::string reason = detail.empty() ? std::string("refused") : OneLine(detail);
  if (reason.ends_with('.') && !reason.ends_with("..")) reason.pop_back();
  // "Permission denied: 'PATH'" or "... 'PATH' is read-only"; not a file
  // in use by another program, which no permission would let through.
  if (reason.starts_with("Permission denied: '") && (reason.ends_with("'") || reason.ends_with("' is read-only")))
    reason += " (running as " + EffectiveUser() + "; the shop's folder and files must be writable by this user)";
  return reason;
}

// Whether `zip`, with the blanks around it that the lookup drops, is five digits.
bool IsZipCode(const std::string& zip) { return std::regex_match(Db::TrimSpaces(zip), std::regex("[0-9]{5}")); }

}  // namespace

void Settle(Summary& summary, const std::vector<std::string>& shopFiles) {
  // Told in the order the steps ran; shown as the shop holds them.
  std::vector<std::string> order = {"record", "button"};
  order.insert(order.end(), shopFiles.begin(), shopFiles.end());
  const auto rank = [&](const ShopState::Item& item) { return std::find(order.begin(), order.end(), item.name); };
  std::stable_sort(summary.items.begin(), summary.items.end(),
                   [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
  summary.changed = Carrier::Changed(summary.items);
}

std::string SummaryLine(const Summary& summary, bool json) { return json ? Json(summary) : Readable(summary); }

std::vector<std::string> Reasons(const Summary& summary, const Options& options,
                                 const std::vector<std::string>& shopFiles) {
  std::vector<std::string> reasons;
  const int status = summary.status;
  if (status == kExitDisabled) {
    reasons.push_back(WhyNoFile(options.hostDbPath));
  } else if (status == kExitFailed && !options.verify && !options.remove && !options.zip) {
    reasons.push_back("the ZIP code question was cancelled: no --zip was given");
  }
  for (const auto& item : summary.items) {
    if (item.result == Carrier::Result::Refused && std::find(shopFiles.begin(), shopFiles.end(), item.name) != shopFiles.end())
      reasons.push_back(item.name + ": " + WhyRefused(item.detail));
  }
  // A ZIP code of another form may still be found (010001 is 10001), so
  // only a run that failed says what a ZIP code is.
  if (options.zip && !options.remove && status == kExitFailed && !IsZipCode(*options.zip))
    reasons.push_back("a ZIP code is five digits, such as 10001 (--zip '" + Clipped(*options.zip, 40) +
                      "' is not one)");
  return reasons;
}

}  // namespace App::Runner
