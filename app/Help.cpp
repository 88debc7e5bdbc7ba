#include "Help.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace App {
namespace {

constexpr std::size_t kHelpWidth = 79;
const std::string kDescriptionIndent(20, ' ');

// `text` in lines of at most kHelpWidth columns, each indented by `indent`.
std::string Wrapped(const std::string& text, const std::string& indent) {
  std::string out, line;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (!line.empty() && indent.size() + line.size() + 1 + word.size() > kHelpWidth) {
      out += indent + line + '\n';
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return line.empty() ? out : out + indent + line + '\n';
}

// "-h, --help", "--zip TEXT" or the argument's name.
std::string Names(const CLI::Option& option) {
  if (!option.nonpositional()) return option.get_name(true);
  std::string names;
  for (const auto& name : option.get_snames()) names += (names.empty() ? "-" : ", -") + name;
  for (const auto& name : option.get_lnames()) names += (names.empty() ? "--" : ", --") + name;
  const std::string type = option.get_type_name();
  return type.empty() ? names : names + " " + type;
}

// What an option does, with the options it cannot go with.
std::string Description(const CLI::Option& option) {
  std::string text = option.get_description();
  std::vector<std::string> excluded;
  for (const CLI::Option* other : option.get_excludes()) excluded.push_back(other->get_name());
  std::sort(excluded.begin(), excluded.end());
  for (std::size_t i = 0; i < excluded.size(); ++i)
    text += (i == 0 ? " (not with " : i + 1 == excluded.size() ? " or " : ", ") + excluded[i];
  return excluded.empty() ? text : text + ")";
}

std::string Help(const CLI::App* app) {
  std::string usage = "Usage: " + app->get_name() + " [OPTIONS]", sections;
  for (const bool arguments : {true, false}) {
    sections += arguments ? "\nArguments:\n" : "\nOptions:\n";
    for (const CLI::Option* option : app->get_options()) {
      if (option->nonpositional() == arguments) continue;
      sections += Wrapped(Names(*option), "  ") + Wrapped(Description(*option), kDescriptionIndent);
      if (arguments) usage += " " + Names(*option);
    }
  }
  return usage + "\n\n" + Wrapped(app->get_description(), "") + sections + '\n' + app->get_footer() + '\n';
}

}  // namespace

void UseHelpFormat(CLI::App& app) {
  app.formatter_fn([](const CLI::App* help, const std::string&, CLI::AppFormatMode) { return Help(help); });
}

}  // namespace App
