#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>

#include "TestSupport.h"

namespace {

struct Result {
  int status;
  std::string out, err;
};

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs the built dbquery with `args`, capturing both output streams.
Result RunDbquery(const TestSupport::TempDir& dir, const std::vector<std::string>& args) {
  const char* programDir = std::getenv("ATV_PROGRAM_DIR");
  std::string command = ShellQuoted(std::string(programDir ? programDir : ".") + "/dbquery");
  for (const auto& arg : args) command += " " + ShellQuoted(arg);
  const std::string out = dir.File("out.txt"), err = dir.File("err.txt");
  const int raw = std::system((command + " >" + ShellQuoted(out) + " 2>" + ShellQuoted(err)).c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, TestSupport::ReadFile(out), TestSupport::ReadFile(err)};
}

constexpr const char* kShopSql = R"(
CREATE TABLE [Master] ([Service] TEXT COLLATE NOCASE, [ACTAP] SHORT, [AP] CURRENCY, [CANADA] YESNO,
  [Last] DATETIME, [Notes] TEXT COLLATE NOCASE);
INSERT INTO [Master] VALUES ('FEDEX-GND', 30, 0.5, -1, '2009-01-02 10:30:00', 'tab	cr' || char(13) || 'lf
back\slash');
INSERT INTO [Master] VALUES ('UPS-GND', NULL, -2147483633, 0, NULL, '');
)";

TEST(Dbquery, OutputForms) {
  TestSupport::TempDir dir;
  const std::string db = dir.File("Mailvoro.mdb"), script = dir.File("shop.sql");
  TestSupport::WriteFile(script, kShopSql);
  struct Row {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out, err;
  };
  const Row rows[] = {
      {"init makes the file", {"--init", db, script}, 0, "", ""},
      {"init refuses an existing file", {"--init", db, script}, 1, "",
       "error 58: The file '" + db + "' already exists; --init makes new files only.\n"},
      {"select prints header and rows", {db, "Select Master.* From [Master] Order By [Service]"}, 0,
       "Service(202)\tACTAP(2)\tAP(6)\tCANADA(11)\tLast(7)\tNotes(202)\n"
       "FEDEX-GND\t30\t0.5\tTrue\t2009-01-02 10:30:00\ttab\\tcr\\rlf\\nback\\\\slash\n"
       "UPS-GND\tNull\t-2147483633\tFalse\tNull\t\n",
       ""},
      {"other statements print nothing", {db, "UPDATE [Master] SET [ACTAP] = 40, [CANADA] = 5 WHERE [Service] = 'ups-gnd'"},
       0, "", ""},
      {"values are stored converted", {db, "Select [CANADA] + 0, [ACTAP], x'' From [Master] Where [Service] = 'UPS-GND'"},
       0, "[CANADA] + 0(3)\tACTAP(2)\tx''(205)\n-1\t40\tX''\n", ""},
      {"overflow", {db, "UPDATE [Master] SET [ACTAP] = 70000"}, 1, "",
       "error 6: Overflow: the value '70000' does not fit the column 'ACTAP'.\n"},
      {"type mismatch", {db, "INSERT INTO [Master] ([Service], [Last]) VALUES ('X', 'soon')"}, 1, "",
       "error 13: Type mismatch: the column 'Last' cannot take the value 'soon'.\n"},
      {"error form", {db, "Select [ZONE] From [Master]"}, 1, "",
       "error 3265: The column 'ZONE' does not exist in '" + db + "'.\n"},
      {"missing file", {dir.File("none.mdb"), "Select 1"}, 1, "",
       "error 3024: Could not find file '" + dir.File("none.mdb") + "'.\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Result result = RunDbquery(dir, row.args);
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err, row.err);
  }
}

TEST(Dbquery, FailedScriptLeavesNoFileAndUsageErrorExitsWithTwo) {
  TestSupport::TempDir dir;
  const std::string db = dir.File("bad.mdb"), script = dir.File("bad.sql");
  TestSupport::WriteFile(script, "CREATE TABLE t (a);\nINSERT INTO nowhere VALUES (1);\n");
  const Result result = RunDbquery(dir, {"--init", db, script});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "error 3146: The script '" + script + "' failed: no such table: nowhere; no database was made.\n");
  EXPECT_FALSE(std::filesystem::exists(db));
  const Result usage = RunDbquery(dir, {"only-a-path"});
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.err.find("Usage: dbquery"), std::string::npos) << usage.err;
}

}  // namespace
