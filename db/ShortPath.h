// Database files whose path is longer than SQLite's unix VFS takes (512
// bytes). Such a file is opened through a short alias: a symbolic link to
// its folder, made in a new private folder (mode 0700) of this process, and
// a VFS of its own that takes the alias as it is instead of resolving the
// link, so that the journal and the WAL still land beside the real file.
#pragma once

#include <string>

namespace ShortPath {

class Alias {
 public:
  // The name under which SQLite opens `path`: its own path, links resolved, or
  // an alias when that is too long; throws Platform::RunError when none can be made.
  explicit Alias(const std::string& path);
  ~Alias();  // removes the alias and its folder
  Alias(const Alias&) = delete;
  Alias& operator=(const Alias&) = delete;

  const std::string& Path() const { return path_; }
  // The VFS to open Path() with; nullptr for SQLite's default.
  const char* Vfs() const;

 private:
  std::string path_;
  std::string folder_;  // the private folder of an alias; empty for none
};

}  // namespace ShortPath
