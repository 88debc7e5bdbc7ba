// Shared by the tests: a fresh temporary folder per test, databases made
// from SQL text, small file helpers, and an assertion that prints a
// run-time error's number and description.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace TestSupport {

// A new empty folder, removed with everything in it when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Runs `sql` (plain SQLite SQL, several statements allowed) on the database at `path`, made when it is
// not there, in the rollback-journal mode unless `sql` sets another. Throws std::runtime_error on failure.
void CreateDatabase(const std::string& path, const std::string& sql);

// Runs one query straight through SQLite (not through the program's engine)
// and returns its rows, each as its values joined by '|' (Null as "NULL").
// `forWriting` opens the file as the next writer would: a hot journal beside
// it is rolled back first, and a busy file is waited for. Throws on failure.
std::vector<std::string> QueryRows(const std::string& path, const std::string& sql, bool forWriting = false);

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);

// A table row's name as a GoogleTest name: each run of characters other
// than letters and digits becomes one '_'. Rows are registered with
//   INSTANTIATE_TEST_SUITE_P(Rows, Fixture, testing::ValuesIn(kRows), TestSupport::RowName);
// so that `--gtest_filter='*/a_first_installation'` or `ctest -R` runs one.
std::string TestName(const std::string& text);
inline constexpr auto RowName = [](const auto& info) { return TestName(info.param.name); };

}  // namespace TestSupport
