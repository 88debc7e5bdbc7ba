// Files_::FolderLock, one installation per folder at a time, and
// Files_::PrivateFolder, a folder no other user can open.
#include <signal.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <utility>

#include "AppInfo.h"
#include "Files_detail.h"
#include "Files_testing.h"
#include "Ui.h"

namespace Files_ {

using namespace detail;

namespace {

namespace fs = std::filesystem;

// Whether anyone holds a lock on the file `info` names, as the kernel's
// list of locks tells: by device and inode, so the file need not be opened.
bool LockedByAnyone(const struct stat& info) {
  std::FILE* list = std::fopen("/proc/locks", "re");
  if (!list) return true;  // cannot tell: wait as for a holder
  // "1: OFDLCK ADVISORY WRITE -1 08:01:1234 0 EOF"; a waiter's line has "->".
  char file[64], line[256];
  std::snprintf(file, sizeof file, " %02x:%02x:%llu ", ::major(info.st_dev), ::minor(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  bool locked = false;
  while (!locked && std::fgets(line, sizeof line, list)) locked = !std::strstr(line, "->") && std::strstr(line, file);
  std::fclose(list);
  return locked;
}

// Whether `path` still names the file open at `fd`.
bool StillNamed(int fd, const std::string& path) {
  struct stat mine {}, there {};
  return ::fstat(fd, &mine) == 0 && ::lstat(path.c_str(), &there) == 0 && mine.st_dev == there.st_dev &&
         mine.st_ino == there.st_ino;
}

// A folder's lock, held while a FolderLock of the folder lives.
struct HeldFolder {
  HeldFolder(std::string lockPath, Descriptor lockFile) : path(std::move(lockPath)), lock(std::move(lockFile)) {}
  ~HeldFolder() {
    // The file goes while it is still locked, and only if it is still ours;
    // a waiter that opened it sees it gone and tries again.
    if (lock.Get() >= 0 && StillNamed(lock.Get(), path)) ::unlink(path.c_str());
  }
  std::string path;  // the lock file
  Descriptor lock;   // holds the lock while open; -1 where no lock was needed
};
// The folders this process holds locked, by device and inode.
std::map<std::pair<std::uint64_t, std::uint64_t>, std::weak_ptr<HeldFolder>> heldFolders;

// One try for a folder's lock on the file `path`: true when taken or none is
// needed. A dead holder's file that went is tried again at once.
bool TryFolderLock(const std::string& path, Descriptor& lock) {
  for (int tries = 0; tries < 4; ++tries) {
    Descriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
    struct stat there {};
    if (file.Get() < 0) {
      const int error = errno;
      const bool exists = ::lstat(path.c_str(), &there) == 0;
      if ((error == EACCES || error == EPERM) && exists && S_ISREG(there.st_mode)) {
        // Another user's lock file: held, or left by a run that died.
        if (LockedByAnyone(there)) return false;
        RemoveIfThere(path);
        continue;
      }
      // A folder this user cannot add files to: no installation of this
      // user changes it; the copies will be refused where the steps stand.
      if ((error == EACCES || error == EPERM || error == EROFS) && !exists) return true;
      if (error == ELOOP) throw AccessError(Quoted(path) + " is a symbolic link");
      throw FromErrno(error, path, Platform::kErrPathNotFound);
    }
    struct stat mine {};
    if (::fstat(file.Get(), &mine) != 0 || !S_ISREG(mine.st_mode)) throw NotAFile(path, mine.st_mode);
    if (!TryLockRange(file.Get(), 0, 0)) return false;
    if (!StillNamed(file.Get(), path)) continue;
    lock = std::move(file);
    return true;
  }
  return false;
}

constexpr char kPrivatePrefix[] = "addtarnvel-";
constexpr std::size_t kMostPrivateFolders = 8;
constexpr std::size_t kMostPrivatePath = 512;
// The private folders of this process, as a signal handler may read them.
char livePrivateFolders[kMostPrivateFolders][kMostPrivatePath] = {};

// Removes a folder tree, also where a part of it was made read-only.
void RemoveTree(const std::string& root) {
  ::chmod(root.c_str(), S_IRWXU);
  ForEachEntry(root, [](const std::string& path, const std::string&, const struct stat& info) {
    if (S_ISDIR(info.st_mode)) RemoveTree(path);
  });
  std::error_code ec;
  fs::remove_all(root, ec);
}

// The private folders go by a child process, as few calls are safe here.
extern "C" void RemovePrivateFoldersAndEnd(int signal) {
  for (const auto& path : livePrivateFolders) {
    if (path[0] == '\0') continue;
    const pid_t child = ::fork();
    if (child == 0) {
      const char* script = "chmod -R u+rwx -- \"$1\" 2>/dev/null; rm -rf -- \"$1\"";
      const char* argv[] = {"/bin/sh", "-c", script, "sh", path, nullptr};
      ::execv("/bin/sh", const_cast<char* const*>(argv));
      ::_exit(127);
    }
    if (child > 0) ::waitpid(child, nullptr, 0);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Installs that handler for each of those signals nothing else handles yet.
void RemoveOnSignals() {
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = RemovePrivateFoldersAndEnd;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
}

// Private folders of this user that no live process holds locked.
void RemoveStalePrivateFolders(const std::string& temporary) {
  ForEachEntry(temporary, [](const std::string& path, const std::string& name, const struct stat& info) {
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) return;
    // One still being made is not locked yet; left a minute, its maker died.
    const bool making = name.starts_with('.') && std::string_view(name).substr(1).starts_with(kPrivatePrefix);
    if (!name.starts_with(kPrivatePrefix) && !(making && ::time(nullptr) - info.st_mtime > 60)) return;
    Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.Get() >= 0 && ::flock(folder.Get(), LOCK_EX | LOCK_NB) == 0) RemoveTree(path);
  });
}

}  // namespace

FolderLock::FolderLock(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    throw FromErrno(ENOENT, folder, Platform::kErrPathNotFound);
  std::weak_ptr<HeldFolder>& held = heldFolders[{info.st_dev, info.st_ino}];
  if ((held_ = held.lock())) return;
  const std::string path = folder + Platform::AppInfo::PathSeparator() + kFolderLockName;
  bool told = false;
  Descriptor lock;
  const bool locked = Retry(folderLockWait, [&] {
    if (TryFolderLock(path, lock)) return true;
    if (!std::exchange(told, true))
      Platform::CurrentUi().SetStatusText("Waiting for another installation in '" + folder + "' to finish...");
    return false;
  });
  if (!locked)
    throw RunError(Platform::kErrPermissionDenied, "Permission denied: another installation is working in " +
                                                       Quoted(folder) +
                                                       " and did not finish within a minute; try again when it has.");
  RemoveStaleTemporaries(folder, "");
  const auto taken = std::make_shared<HeldFolder>(path, std::move(lock));
  held = taken;
  held_ = taken;
}

PrivateFolder::PrivateFolder(const std::string& purpose) {
  std::error_code ec;
  const fs::path temporary = fs::temp_directory_path(ec);
  if (ec) throw RunError(Platform::kErrPathNotFound, "Path not found: no temporary folder: " + ec.message() + ".");
  RemoveStalePrivateFolders(temporary.string());
  // Made under a name the sweep passes over, and given its own name only
  // once it is locked, so that no other process's sweep can take it.
  std::string pattern = (temporary / (std::string(".") + kPrivatePrefix + purpose + "-XXXXXX")).string();
  const auto none = [&](int error) {
    return AccessError("no private folder in " + Quoted(temporary.string()) + ": " + std::strerror(error));
  };
  if (pattern.size() >= kMostPrivatePath || !::mkdtemp(pattern.data())) throw none(errno);
  lock_ = Descriptor(::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  path_ = (temporary / pattern.substr(pattern.rfind('/') + 2)).string();
  const int lock = lock_.Get();
  if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0 || ::rename(pattern.c_str(), path_.c_str()) != 0) {
    const int error = errno;
    ::rmdir(pattern.c_str());
    throw none(error);
  }
  const auto slot = std::find_if(std::begin(livePrivateFolders), std::end(livePrivateFolders),
                                 [](const char* used) { return used[0] == '\0'; });
  if (slot != std::end(livePrivateFolders)) std::memcpy(*slot, path_.c_str(), path_.size() + 1);
  RemoveOnSignals();
}

PrivateFolder::~PrivateFolder() {
  for (auto& slot : livePrivateFolders)
    if (path_ == slot) slot[0] = '\0';
  RemoveTree(path_);
}

void testing::SetWaits(std::chrono::milliseconds folderLock, std::chrono::milliseconds inUse) {
  folderLockWait = folderLock;
  inUseWait = inUse;
}

}  // namespace Files_
