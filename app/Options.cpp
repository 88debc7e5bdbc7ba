#include "Options.h"

#include <CLI/CLI.hpp>
#include <ostream>

#include "AppInfo.h"
#include "Help.h"
#include "Runner.h"

namespace App::Runner {
namespace {

const char kFooter[] =
    "The window loads with its default path, HOST_DB_PATH is typed into the path\n"
    "box, and the add button is pressed when it is enabled. Each message box, input\n"
    "box, status text and change of the window is printed on one line as it\n"
    "happens. On a terminal (without --json) the chart import and the service\n"
    "settings each count up on one line instead, and a line break in a box's text\n"
    "is shown as one.\n"
    "\n"
    "Modes (the default installs):\n"
    "  --dry-run  runs the installation (or with --remove the removal) on a\n"
    "             private copy of the shop and tells what it would change; no byte\n"
    "             or time stamp of the shop changes. The exit status is the one\n"
    "             the real run would end with.\n"
    "  --verify   checks item by item that the service is installed as an\n"
    "             installation leaves it; with --zip, also that the shop's zone\n"
    "             table holds exactly that ZIP code's chart. Changes no byte or\n"
    "             time stamp.\n"
    "  --remove   after a confirmation (--yes answers OK) takes out the service's\n"
    "             [Master] records, its [Panel] buttons (a row it alone fills goes,\n"
    "             elsewhere only its button is cleared), then the carrier's files\n"
    "             beside HOST_DB_PATH.\n"
    "\n"
    "Every run ends with one summary line: the mode, the outcome, whether anything\n"
    "changed (\"changed\" is true exactly when a byte of the shop changed), and an\n"
    "item for what each step did to the [Master] record, the [Panel] button, each\n"
    "of the five files and the zone chart, such as\n"
    "  Summary: install succeeded, changed; record added; ...\n"
    "or with --json\n"
    "  {\"event\":\"summary\",\"mode\":\"install\",...,\"items\":[...]}\n"
    "Results that change the shop: added, extended (with \"changes\": column, old,\n"
    "new), created, replaced, removed, cleared; that do not: unchanged, kept,\n"
    "refused, unreadable (with a \"detail\" saying why); the chart: imported, none;\n"
    "for --verify: ok, missing, differs, unreadable. The carrier's files take their\n"
    "places beside the shop database only when the run changes it.\n"
    "\n"
    "Standard error says why a run could not start or failed: a HOST_DB_PATH that\n"
    "is no file, the system's reason for each file the shop refused (with the user\n"
    "the run works as), a --zip that cannot be a ZIP code.\n"
    "\n"
    "Exit status:\n"
    "  0  the service was added or removed (the success box); --verify: it is\n"
    "     installed\n"
    "  1  the run failed (the failure box or \"Process has failed !\"); --verify: it\n"
    "     is not\n"
    "  2  usage error\n"
    "  3  HOST_DB_PATH does not exist or is no ordinary file (the add button stays\n"
    "     disabled)\n"
    "  4  the transcript could not be written (a full disk, a closed pipe): the run\n"
    "     has no record\n"
    "\n"
    "Examples:\n"
    "  $ addtarnvel-cli --zip 10001 --yes --json /srv/Mailvoro.mdb\n"
    "  $ addtarnvel-cli --dry-run --zip 10001 --yes /srv/Mailvoro.mdb\n"
    "  $ addtarnvel-cli --remove --yes /srv/Mailvoro.mdb";

}  // namespace

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
  app.footer(kFooter);
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
