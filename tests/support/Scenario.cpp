#include "Scenario.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "AppInfo.h"
#include "RunError.h"

namespace Scenario {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Args = std::vector<std::string>;

// UTF-8 text whose code points are all below 256, as one byte each.
std::string Bytes(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out += utf8[i];
    } else if ((lead == 0xC2 || lead == 0xC3) && i + 1 < utf8.size()) {
      out += static_cast<char>(((lead & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
    } else {
      throw std::runtime_error("a case text holds a character above U+00FF: " + utf8);
    }
  }
  return out;
}

// The texts, one a line, with CR, LF and bytes outside ASCII made visible.
std::string Shown(const Args& texts) {
  std::string out;
  for (const auto& text : texts) {
    out += "\n    [";
    for (const char c : text) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : static_cast<unsigned char>(c) < 0x80 ? std::string(1, c) : hex;
    }
    out += "]";
  }
  return out;
}

bool Matches(std::string_view pattern, std::string_view text) {
  if (!pattern.empty() && pattern[0] == '*')
    return Matches(pattern.substr(1), text) || (!text.empty() && Matches(pattern, text.substr(1)));
  return pattern.empty() ? text.empty()
                         : !text.empty() && pattern[0] == text[0] && Matches(pattern.substr(1), text.substr(1));
}

bool Matches(const Args& want, std::size_t w, const Results& got, std::size_t g) {
  if (w == want.size()) return g == got.size();
  if (want[w] == "...") {
    for (std::size_t next = g; next <= got.size(); ++next)
      if (Matches(want, w + 1, got, next)) return true;
    return false;
  }
  return g < got.size() && Matches(want[w], got[g]) && Matches(want, w + 1, got, g + 1);
}

std::string Rendered(const Platform::UiEvent& e) {
  using Kind = Platform::UiEvent::Kind;
  switch (e.kind) {
    case Kind::Message: return "box " + e.title + "|" + std::to_string(e.style) + "|" + e.text;
    case Kind::Input: return "input " + e.title + "|" + e.text;
    case Kind::Status: return "status " + e.text;
    case Kind::Pointer: return e.flag ? "busy" : "idle";
    default: return "window " + e.text;  // the window's own events and the file dialog
  }
}

// One case under way.
class CaseRun {
 public:
  CaseRun(const Json& defs, const std::string& casesFolder, const Steps& steps) : defs_(defs), steps_(steps) {
    const char* built = std::getenv("ATV_PROGRAM_DIR");
    vars_ = {{"DIR", context_.dir.Path().string()}, {"CASES", casesFolder}, {"BUILT", built ? built : ""}};
    Platform::AppInfo::SetProgramFolder(context_.dir.Path().string());
  }
  ~CaseRun() {
    for (const int fd : held_) ::close(fd);
  }
  CaseRun(const CaseRun&) = delete;
  CaseRun& operator=(const CaseRun&) = delete;

  void Run(const Json& c) {
    const std::string name = c.value("name", "(no name)");
    for (const auto& answer : c.value("questions", Json::array())) context_.ui.questionAnswers.push_back(answer.get<int>());
    for (const auto& answer : c.value("inputs", Json::array()))
      context_.ui.inputAnswers.push_back(answer.is_null() ? std::nullopt : std::optional(Text(answer)));
    const Platform::UiInstallation installed(context_.ui);
    RunCalls(name, c.at("run"));
  }

 private:
  std::string Text(const Json& text) const { return Expand(Bytes(text.get<std::string>())); }

  std::string Expand(std::string out) const {
    for (auto at = out.find("${"); at != std::string::npos; at = out.find("${", at)) {
      const auto end = out.find('}', at);
      const std::string key = out.substr(at + 2, end == std::string::npos ? end : end - at - 2);
      if (vars_.contains(key)) {
        out.replace(at, end + 1 - at, vars_.at(key));
        at += vars_.at(key).size();
      } else if (defs_.contains(key) && defs_[key].is_string()) {
        out.replace(at, end + 1 - at, Bytes(defs_[key].get<std::string>()));  // expanded in turn
      } else {
        throw std::runtime_error("no def named '" + key + "'");
      }
    }
    return out;
  }

  std::string Path(const std::string& path) const { return context_.Path(path); }

  void RunCalls(const std::string& caseName, const Json& calls) {
    for (std::size_t i = 0; i < calls.size(); ++i) {
      Args call;
      for (const auto& part : calls[i]) {
        const std::string raw = part.get<std::string>();
        const std::string key = raw.size() > 3 && raw.starts_with("${") && raw.ends_with("}") ? raw.substr(2, raw.size() - 3) : "";
        if (defs_.contains(key) && defs_[key].is_array()) {
          for (const auto& spliced : defs_[key]) call.push_back(Text(spliced));
        } else {
          call.push_back(Text(part));
        }
      }
      if (call.size() == 2 && call[0] == "use") {
        RunCalls(caseName, defs_.at(call[1]));
        continue;
      }
      const auto equals = std::find(call.begin(), call.end(), "=");
      const Args args(call.begin() + 1, equals);
      Args want;
      for (auto part = equals == call.end() ? equals : equals + 1; part != call.end(); ++part) {
        if (!part->starts_with("@lines ")) {
          want.push_back(*part);
          continue;
        }
        std::ifstream lines(part->substr(7), std::ios::binary);
        for (std::string line; std::getline(lines, line);) want.push_back(Expand(line));
      }
      const Results got = Call(call[0], args);
      const bool setupFailed = equals == call.end() && !got.empty() && got[0].starts_with("exception: ");
      if (setupFailed || (equals != call.end() && !Matches(want, 0, got, 0)))
        ADD_FAILURE() << "case '" << caseName << "', call " << i + 1 << ":" << Shown(Args(call.begin(), equals))
                      << "\n  gave:" << Shown(got) << "\n  want:" << Shown(want);
    }
  }

  Results Call(const std::string& step, const Args& a) {
    try {
      if (const auto own = steps_.find(step); own != steps_.end()) return own->second(context_, a);
      return BuiltIn(step, a);
    } catch (const Platform::RunError& e) {
      return {"error " + std::to_string(e.Number()) + ": " + e.Description()};
    } catch (const std::exception& e) {
      return {std::string("exception: ") + e.what()};
    }
  }

  Results BuiltIn(const std::string& step, const Args& a) {
    if (step == "dir") {
      fs::create_directories(Path(a.at(0)));
    } else if (step == "file") {
      TestSupport::WriteFile(Path(a.at(0)), a.at(1));
    } else if (step == "fill") {
      TestSupport::WriteFile(Path(a.at(0)), std::string(std::stoul(a.at(1)), a.at(2).at(0)) + (a.size() > 3 ? a[3] : ""));
    } else if (step == "chmod") {
      fs::permissions(Path(a.at(0)), static_cast<fs::perms>(std::stoi(a.at(1), nullptr, 8)));
    } else if (step == "link") {
      fs::create_symlink(Path(a.at(0)), Path(a.at(1)));
    } else if (step == "fifo") {
      if (::mkfifo(Path(a.at(0)).c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
    } else if (step == "copy") {
      fs::copy(Path(a.at(0)), Path(a.at(1)), fs::copy_options::recursive);
    } else if (step == "db" || step == "dbscript") {
      TestSupport::CreateDatabase(Path(a.at(0)), step == "db" ? a.at(1) : TestSupport::ReadFile(Path(a.at(1))));
    } else if (step == "lock" || step == "flock") {
      const int fd = held_.emplace_back(::open(Path(a.at(0)).c_str(), step == "lock" ? O_RDWR : O_RDONLY));
      struct flock range {};
      range.l_type = F_RDLCK;
      range.l_start = step == "lock" ? std::stoll(a.at(1)) : 0;
      range.l_len = 1;
      if (step == "lock" ? ::fcntl(fd, F_OFD_SETLK, &range) != 0 : ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        throw std::runtime_error("cannot lock " + a.at(0));
    } else if (step == "program") {
      Platform::AppInfo::SetProgramFolder(Path(a.at(0)));
    } else if (step == "defaultpath") {
      Platform::AppInfo::SetDefaultHostDbPath(a.at(0));
    } else if (step == "rows") {
      return TestSupport::QueryRows(Path(a.at(0)), a.at(1));
    } else if (step == "read") {
      return {fs::exists(fs::symlink_status(Path(a.at(0)))) ? TestSupport::ReadFile(Path(a.at(0))) : "(none)"};
    } else if (step == "list") {
      Results names;
      for (const auto& entry : fs::directory_iterator(Path(a.at(0))))
        names.push_back(entry.path().filename().string() + (entry.is_symlink() ? "@" : entry.is_directory() ? "/" : ""));
      std::sort(names.begin(), names.end());
      return names;
    } else if (step == "mode") {
      char octal[8];
      std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(fs::status(Path(a.at(0))).permissions()));
      return {octal};
    } else if (step == "run") {
      return Ran(a);
    } else if (step == "events") {
      Results events;
      for (const auto& event : context_.ui.Events()) events.push_back(Rendered(event));
      context_.ui.Clear();
      return events;
    } else {
      throw std::runtime_error("no step named '" + step + "'");
    }
    return {};
  }

  // Runs a program with its arguments: "exit N", its output's lines, then
  // "stderr LINE" for each line of its error output.
  Results Ran(const Args& a) const {
    std::string command;
    for (const auto& arg : a) {
      command += " '";
      for (const char c : arg) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
      command += "'";
    }
    const std::string out = Path(".run-out"), err = Path(".run-err");
    const int status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    Results results = {"exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1)};
    for (const auto& [file, prefix] : {std::pair{out, ""}, std::pair{err, "stderr "}}) {
      std::istringstream lines(TestSupport::ReadFile(file));
      for (std::string line; std::getline(lines, line);) results.push_back(prefix + line);
      fs::remove(file);
    }
    return results;
  }

  Context context_;
  const Json& defs_;
  const Steps& steps_;
  std::map<std::string, std::string> vars_;
  std::vector<int> held_;  // descriptors holding locks until the case ends
};

}  // namespace

std::string Context::Path(const std::string& path) const {
  return !path.empty() && path[0] == '/' ? path : (dir.Path() / path).string();
}

void RunFile(const std::string& path, const Steps& steps) {
  std::ifstream in(path);
  ASSERT_TRUE(in) << "cannot read " << path;
  const Json file = Json::parse(in);
  const Json defs = file.value("defs", Json::object());
  ASSERT_FALSE(file.at("cases").empty()) << path << " holds no case";
  for (const Json& c : file.at("cases")) CaseRun(defs, fs::path(path).parent_path().string(), steps).Run(c);
}

}  // namespace Scenario
