#include "ShortPath.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include "EngineErrors.h"
#include "RunError.h"
#include "Variant.h"

namespace ShortPath {
namespace {

constexpr const char* kVfsName = "atv-alias";
constexpr const char* kLinkName = "f";
// Longer paths get an alias: the unix VFS copies a database's path into fixed
// buffers of 512 bytes (for the journal and WAL too), which a higher limit would overrun.
constexpr std::size_t kDirectLimit = 400;

// The alias is absolute, with no "." or "..": resolving its link, as the unix
// VFS does, would give back the long path.
int FullPathnameAsGiven(sqlite3_vfs*, const char* path, int size, char* out) {
  const std::size_t length = std::strlen(path);
  if (path[0] != '/' || length >= static_cast<std::size_t>(size)) return SQLITE_CANTOPEN;
  std::memcpy(out, path, length + 1);
  return SQLITE_OK;
}

void RegisterVfs() {
  static std::once_flag once;
  static sqlite3_vfs vfs;
  std::call_once(once, [] {
    const sqlite3_vfs* unixVfs = sqlite3_vfs_find("unix");
    if (!unixVfs) return;
    vfs = *unixVfs;
    vfs.pNext = nullptr;
    vfs.zName = kVfsName;
    vfs.xFullPathname = FullPathnameAsGiven;
    sqlite3_vfs_register(&vfs, 0);
  });
}

std::string Canonical(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (resolved) return resolved.get();
  // SQLite is built to read "file:" names as URIs, which could name other
  // files or create one; "./" keeps such a path a plain file name.
  return path.starts_with("file:") ? "./" + path : path;
}

std::string TemporaryRoot() {
  const char* root = std::getenv("TMPDIR");
  return root && root[0] == '/' && std::strlen(root) < 200 ? root : "/tmp";
}

}  // namespace

Alias::Alias(const std::string& path) : path_(Canonical(path)) {
  const std::size_t slash = path_.rfind('/');
  if (path_.size() <= kDirectLimit || path_[0] != '/') return;
  std::string folder = TemporaryRoot() + "/atv-db-XXXXXX";
  const auto fail = [&](const std::string& what) {
    throw Platform::RunError(Engine::kErrCannotOpen, "The database " + Db::Quoted(path) + " cannot be opened: its path "
                                                     "is too long for the database engine, and " + what + " (" +
                                                     std::strerror(errno) + ").");
  };
  if (!::mkdtemp(folder.data())) fail("no short alias could be made in " + Db::Quoted(TemporaryRoot()));
  const std::string link = folder + "/" + kLinkName;
  const std::string target = slash == 0 ? "/" : path_.substr(0, slash);
  if (::symlink(target.c_str(), link.c_str()) != 0) {
    const int error = errno;
    ::rmdir(folder.c_str());
    errno = error;
    fail("its folder could not be linked to a short alias");
  }
  folder_ = folder;
  path_ = link + path_.substr(slash);
  RegisterVfs();
}

Alias::~Alias() {
  if (folder_.empty()) return;
  ::unlink((folder_ + "/" + kLinkName).c_str());
  ::rmdir(folder_.c_str());
}

const char* Alias::Vfs() const { return folder_.empty() ? nullptr : kVfsName; }

}  // namespace ShortPath
