#include "Options.h"

#include <CLI/CLI.hpp>
#include <ostream>

#include "AppInfo.h"
#include "Help.h"
#include "HelpFooter.h"
#include "Runner.h"

namespace App::Runner {

std::variant<Options, int> ParseOptions(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CLI::App app{"Adds the TARN-VEL service to a Mailvoro shop database without a window.", kProgramName};
  Options options;
  app.add_option("--zip", options.zip, "Answer the ZIP code question with TEXT (else it is cancelled)")
      ->type_name("TEXT");
  app.add_flag("--yes", options.yes, "Answer OK to the confirmation question (else Cancel)");
  app.add_flag("--json", options.json, "Print the events as JSON Lines");
  auto* dryRunOption = app.add_flag("--dry-run", options.dryRun, "Only tell what the run would change");
  auto* removeOption = app.add_flag("--remove", options.remove, "Take the service out of the shop");
  app.add_flag("--verify", options.verify, "Check that the service is installed; change nothing")
      ->excludes(dryRunOption)
      ->excludes(removeOption);
  app.add_option("--program-folder", options.programFolder,
                 "Folder of the carrier's files (default: the folder of this program)")
      ->type_name("DIR")
      ->check(CLI::Validator(CLI::ExistingDirectory).description(""));
  app.add_option("HOST_DB_PATH", options.hostDbPath, "The shop's Mailvoro database (required)")
      ->required()
      ->type_name("");
  app.set_version_flag("--version", std::string(kProgramName) + " " + Platform::AppInfo::VersionText());
  app.footer(kHelpFooter);
  UseHelpFormat(app);

  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  if (argv.empty()) argv.push_back(kProgramName);
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e, out, err);  // --help, --version
    err << kProgramName << ": " << e.what() << "\n\n" << app.help();
    return kExitUsage;
  }
  return options;
}

}  // namespace App::Runner
