// The unattended runner, run in this process on the cases of runner.json:
// its command line, its exit statuses, both forms of its transcript, whole
// installations on a fresh demo shop, and its modes one after another, a
// dry run or a check leaving every file as it was; and the built runner on a
// terminal and into a file.
#include "Runner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fnmatch.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "AppInfo.h"
#include "Files_testing.h"
#include "Scenario.h"

namespace {

namespace fs = std::filesystem;
using Scenario::Results;
using Args = std::vector<std::string>;

// "exit N", the lines printed, then "stderr TEXT" if any.
Results Cli(Args args) {
  args.insert(args.begin(), "addtarnvel-cli");
  std::ostringstream out, err;
  Results results = {"exit " + std::to_string(App::Runner::Main(args, out, err))};
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) results.push_back(line);
  if (!err.str().empty()) results.push_back("stderr " + err.str());
  return results;
}

// Every file and folder below `folder` with its size, modification time and bytes.
std::string Listing(const fs::path& folder) {
  std::ostringstream out;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    struct stat info {};
    ::lstat(entry.path().c_str(), &info);
    out << entry.path().string() << " " << info.st_size << " " << info.st_mtim.tv_sec << "." << info.st_mtim.tv_nsec << " "
        << (entry.is_regular_file() ? std::hash<std::string>{}(TestSupport::ReadFile(entry.path().string())) : 0) << "\n";
  }
  return out.str();
}

const Scenario::Steps kSteps = {
    // cli ARGS...: the runner's results.
    {"cli", [](Scenario::Context&, const Args& a) { return Cli(a); }},
    // unchanged ARGS...: the same, and "a file changed" when the run
    // touched any file or folder of the case's folder.
    {"unchanged", [](Scenario::Context& c, const Args& a) {
       const std::string before = Listing(c.dir.Path());
       Results results = Cli(a);
       if (Listing(c.dir.Path()) != before) results.push_back("a file changed");
       return results;
     }},
    // waits MS: how long a folder lock and a file in use are waited for.
    {"waits", [](Scenario::Context&, const Args& a) {
       const std::chrono::milliseconds wait(std::stoi(a.at(0)));
       Files_::testing::SetWaits(wait, wait);
       return Results{};
     }},
};

TEST(Runner, Cases) { Scenario::RunFile(ATV_CASES_DIR "/runner.json", kSteps); }

// The built runner's exit status and the bytes it wrote.
struct Ran {
  int status = -1;
  std::string out;
};

// Runs the built runner with `args`, its standard output a pseudo-terminal
// of 80 columns or the file `file`; a minute at most.
Ran RunBuilt(const Args& args, bool terminal, const fs::path& file) {
  std::vector<std::string> texts = {(fs::path(std::getenv("ATV_PROGRAM_DIR")) / "addtarnvel-cli").string()};
  texts.insert(texts.end(), args.begin(), args.end());
  std::vector<std::string> environment = {"TERM=xterm"};
  for (char** e = environ; *e; ++e)
    if (!std::string_view(*e).starts_with("TERM=")) environment.emplace_back(*e);
  auto pointers = [](std::vector<std::string>& list) {
    std::vector<char*> p;
    for (auto& text : list) p.push_back(text.data());
    p.push_back(nullptr);
    return p;
  };
  auto argv = pointers(texts), envp = pointers(environment);
  int terminalFd = -1;
  winsize size{.ws_row = 24, .ws_col = 80, .ws_xpixel = 0, .ws_ypixel = 0};
  const pid_t child = terminal ? ::forkpty(&terminalFd, nullptr, nullptr, &size) : ::fork();
  if (child == 0) {
    if (!terminal) {
      const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, STDOUT_FILENO);
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  Ran ran;
  if (child < 0) return ran;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (terminal && std::chrono::steady_clock::now() < deadline) {
    pollfd ready{.fd = terminalFd, .events = POLLIN, .revents = 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(terminalFd, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO: the runner has closed the terminal
    ran.out.append(buffer, static_cast<std::size_t>(n));
  }
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) ::kill(child, SIGKILL);
    ::usleep(10000);
  }
  if (terminal) ::close(terminalFd);
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (!terminal) ran.out = TestSupport::ReadFile(file.string());
  return ran;
}

// The lines a terminal shows of `out`: each as its last carriage return
// left it, without the blanks at its end.
std::vector<std::string> Screen(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with('\r')) line.pop_back();  // the terminal's own, before a line feed
    const auto rewritten = line.rfind('\r');
    if (rewritten != std::string::npos) line.erase(0, rewritten + 1);
    while (line.ends_with(' ')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// A first installation on the demo shop on a terminal and into a file: on
// the terminal the chart import and the service settings each keep one
// line, a box's line breaks are line breaks, the summary is whole; into a
// file the transcript is the one a run without a terminal prints.
TEST(Runner, TerminalAndFile) {
  struct Form {
    const char* name;
    bool terminal;
    Args options;
    std::vector<std::pair<std::string, int>> lines;  // a pattern, and how many lines match it
  };
  const std::string summary =
      "Summary: install succeeded, changed; record added; button added (PanelIndex 5); TarnVel_Zones.mdb created; "
      "TarnVel_Services.mdb created; TarnVelEODManifest.rpt created; TarnVel.jpg created; TarnVel_Generic.lab "
      "created; chart imported (TarnVel_100.csv, 179 rows)";
  const std::string prompt = "Input box \"Install TARN-VEL?\": This utility will install TARN-VEL service to your Mailvoro.";
  const std::vector<Form> forms = {
      {"terminal", true, {},
       {{"*Importing zones*", 1},
        {"Importing zones  179 / 179 *", 1},
        {"*Adding service settings*", 1},
        {"Adding service settings  57 / 57 *", 1},
        {summary, 1},
        {prompt, 1},
        {"", 3},
        {"  Please enter your zipcode of origin: -> \"10001\"", 1},
        {"*/  /*", 0}}},
      {"JSON Lines on a terminal", true, {"--json"},
       {{"{\"event\":\"status\",\"text\":\"Importing zones: *\"}", 180},
        {"{\"event\":\"summary\",\"mode\":\"install\",\"dry_run\":false,\"outcome\":\"succeeded\",*}", 1}}},
      {"file", false, {},
       {{"Status: Importing zones: *", 180},
        {"Status: Adding service settings * of 57", 57},
        {summary, 1},
        {prompt + " /  /  /  / Please enter your zipcode of origin: -> \"10001\"", 1}}},
  };

  TestSupport::TempDir dir;
  const fs::path built = std::getenv("ATV_PROGRAM_DIR");
  fs::create_directory(dir.Path() / "program");
  for (const char* name : {"TarnVel_Zones_Empty.mdb", "TarnVel_Services.mdb", "TarnVelEODManifest.rpt", "TarnVel.jpg",
                           "TarnVel_Generic.lab", "Data"})
    fs::copy(built / name, dir.Path() / "program" / name, fs::copy_options::recursive);
  const auto freshShop = [&] {
    fs::remove_all(dir.Path() / "shop");
    fs::create_directory(dir.Path() / "shop");
    TestSupport::CreateDatabase(dir.File("shop/Mailvoro.mdb"),
                                TestSupport::ReadFile(ATV_CASES_DIR "/../../data/demo-shop.sql"));
  };
  for (const auto& form : forms) {
    SCOPED_TRACE(form.name);
    Args args = form.options;
    args.insert(args.end(), {"--yes", "--zip", "10001", "--program-folder", dir.File("program"), dir.File("shop/Mailvoro.mdb")});
    freshShop();
    const Ran ran = RunBuilt(args, form.terminal, dir.Path() / "out.txt");
    ASSERT_EQ(ran.status, 0) << ran.out;
    const auto lines = Screen(ran.out);
    for (const auto& [pattern, count] : form.lines) {
      EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                              [&](const std::string& line) { return ::fnmatch(pattern.c_str(), line.c_str(), 0) == 0; }),
                count)
          << pattern;
    }
    if (form.terminal) continue;
    // The same run in this process, without a terminal, from the same
    // default path as the built program's.
    ASSERT_TRUE(lines.at(0).starts_with("Path: "));
    Platform::AppInfo::SetDefaultHostDbPath(lines.at(0).substr(6));
    freshShop();
    Args inProcess = args;
    inProcess.insert(inProcess.begin(), "addtarnvel-cli");
    std::ostringstream out, err;
    EXPECT_EQ(App::Runner::Main(inProcess, out, err), 0);
    EXPECT_EQ(ran.out, out.str());
  }
}

}  // namespace
