#include "Files_.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "AppInfo.h"
#include "Files_testing.h"
#include "RunError.h"
#include "Ui.h"

namespace Files_ {
namespace {

namespace fs = std::filesystem;
using Platform::RunError;

constexpr std::int32_t kErrDeviceIo = 57;
constexpr std::int32_t kErrDiskFull = 61;
using Platform::kErrBadFileNameOrNumber;
using Platform::kErrInternal;
constexpr std::size_t kChunkSize = 64 * 1024;
constexpr char kTempMarker[] = ".atv-tmp-";
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

testing::WriteFault& CopyWriteFault() {
  static testing::WriteFault fault;
  return fault;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

RunError FileNotFound(const std::string& path) {
  return RunError(Platform::kErrFileNotFound, "File not found: " + Quoted(path) + ".");
}

RunError PathNotFound(const std::string& path) {
  return RunError(Platform::kErrPathNotFound, "Path not found: " + Quoted(path) + ".");
}

RunError ReadOnly(const std::string& path) {
  return RunError(Platform::kErrPermissionDenied, "Permission denied: " + Quoted(path) + " is read-only.");
}

RunError IsAFolder(const std::string& path) {
  return RunError(Platform::kErrPathFileAccess, "Path/File access error: " + Quoted(path) + " is a folder.");
}

// A folder, or another thing that is no ordinary file (a pipe, a device),
// where a file is meant.
RunError NotAFile(const std::string& path, mode_t mode) {
  if (S_ISDIR(mode)) return IsAFolder(path);
  return RunError(Platform::kErrPathFileAccess, "Path/File access error: " + Quoted(path) + " is not an ordinary file.");
}

// Turns a failed system call on `path` into the run-time error an operator
// can act on; `missing` is the error for ENOENT, which depends on whether
// the file or its folder was looked for.
RunError FromErrno(int error, const std::string& path, std::int32_t missing = Platform::kErrFileNotFound) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return missing == Platform::kErrPathNotFound ? PathNotFound(path) : FileNotFound(path);
    case EACCES:
    case EPERM:
      return RunError(Platform::kErrPermissionDenied, "Permission denied: " + Quoted(path) + ".");
    case EROFS:
      return ReadOnly(path);
    case EISDIR:
      return IsAFolder(path);
    case ENOSPC:
    case EDQUOT:
      return RunError(kErrDiskFull, "Disk full: " + Quoted(path) + " could not be written.");
    case EIO:
      return RunError(kErrDeviceIo, "Device I/O error: " + Quoted(path) + ".");
    default:
      return RunError(Platform::kErrPathFileAccess,
                      "Path/File access error: " + Quoted(path) + ": " + std::strerror(error) + ".");
  }
}

// An open file descriptor, closed when it dies.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Locks on byte ranges that belong to an open file description (not to
// the process), so that no other open or close of the same file in this
// process can drop them; they meet the database engine's own locks.
bool TryLockRange(int fd, short type, off_t start, off_t length) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Whether anyone holds a lock on the range that a write lock would meet.
bool RangeIsLocked(int fd, off_t start, off_t length) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  return ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

// The database engine's lock bytes: a process reading or writing the file
// holds a lock in the first range, and every open connection in WAL mode
// holds a read lock on one byte of the -shm file.
constexpr off_t kDbLockStart = 0x40000000;
constexpr off_t kDbLockLength = 2 + 510;
constexpr off_t kShmAliveByte = 128;
constexpr const char* kSidecars[] = {"-journal", "-wal", "-shm"};
constexpr auto kPollInterval = std::chrono::milliseconds(50);
// A live temporary file holds a lock on this byte, far past any lock the
// database engine takes, so that a backup of a database someone still has
// open can be marked live without holding that program up.
constexpr off_t kLiveByte = off_t{1} << 40;

std::chrono::milliseconds& FolderLockWait() {
  static std::chrono::milliseconds wait = std::chrono::minutes(1);
  return wait;
}

// As long as the database engine waits for a lock.
std::chrono::milliseconds& InUseWait() {
  static std::chrono::milliseconds wait = std::chrono::seconds(5);
  return wait;
}

RunError InUse(const std::string& path) {
  return RunError(Platform::kErrPermissionDenied,
                  "Permission denied: " + Quoted(path) + " is in use by another program.");
}

// Polls `attempt` until it succeeds or `wait` has passed.
template <class Attempt>
bool Retry(std::chrono::milliseconds wait, Attempt&& attempt) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (attempt()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
}

// The right to replace the destination of a copy, held while it lives:
// nobody else uses the destination as a database, and nobody can start to
// until it dies, since the engine's lock bytes of the file (and of its
// -shm) are held here. A destination that is a link is not opened for this:
// only its target could be in use, and the link alone is replaced.
class Claim {
 public:
  Claim(const std::string& destination, bool regularFile) : destination_(destination) {
    if (regularFile) {
      file_ = Descriptor(::open(destination.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
      if (file_.Get() < 0 && errno != ENOENT) throw FromErrno(errno, destination);
    } else {
      // The link's target, if it is a database someone is using, is left
      // alone; waiting for it keeps a live transaction's journal intact.
      Descriptor target(::open(destination.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
      if (target.Get() >= 0 &&
          !Retry(InUseWait(), [&] { return !RangeIsLocked(target.Get(), kDbLockStart, kDbLockLength); }))
        throw InUse(destination);
    }
    const std::string shmPath = destination + "-shm";
    shm_ = Descriptor(::open(shmPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    const bool free = Retry(InUseWait(), [&] {
      return (file_.Get() < 0 || TryLockRange(file_.Get(), F_WRLCK, kDbLockStart, kDbLockLength)) &&
             (shm_.Get() < 0 || TryLockRange(shm_.Get(), F_WRLCK, kShmAliveByte, 1));
    });
    if (!free) throw InUse(destination);
  }
  int File() const { return file_.Get(); }

  // Removes what the engine keeps beside the file. Nobody holds them (the
  // locks say so), so they are left over from a writer that died; played
  // back into the new file they would damage it.
  void RemoveSidecars() const {
    for (const char* suffix : kSidecars) {
      const std::string path = destination_ + suffix;
      if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw FromErrno(errno, path);
    }
  }

 private:
  std::string destination_;
  Descriptor file_;
  Descriptor shm_;
};

// The temporary file of one copy: locked while it lives, so that no other
// copy takes it for a leftover, and removed when it dies unless it was
// renamed over the destination.
class TemporaryFile {
 public:
  TemporaryFile(std::string path, int fd) : path_(std::move(path)), descriptor_(fd) {
    TryLockRange(fd, F_WRLCK, kLiveByte, 1);
  }
  ~TemporaryFile() {
    if (!kept_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  TemporaryFile(TemporaryFile&& other) noexcept
      : path_(std::move(other.path_)), descriptor_(std::move(other.descriptor_)), kept_(std::exchange(other.kept_, true)) {}
  const std::string& Path() const { return path_; }
  int File() const { return descriptor_.Get(); }
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  Descriptor descriptor_;
  bool kept_ = false;
};

std::string TempPrefix(const std::string& destinationName) { return "." + destinationName + kTempMarker; }

// A copy that was killed leaves its temporary file behind; its name tells
// which destination it belonged to, so the next copy there sweeps it away
// (every destination's, when `destinationName` is empty). One that a live
// copy holds locked is not a leftover and stays.
void RemoveStaleTemporaries(const std::string& folder, const std::string& destinationName) {
  const std::string prefix = destinationName.empty() ? "." : TempPrefix(destinationName);
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeEc;
    if (!name.starts_with(prefix) || name.find(kTempMarker) == std::string::npos ||
        it->symlink_status(typeEc).type() != fs::file_type::regular)
      continue;
    const std::string path = it->path().string();
    Descriptor candidate(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (candidate.Get() >= 0 && TryLockRange(candidate.Get(), F_WRLCK, kLiveByte, 1)) ::unlink(path.c_str());
  }
}

// Makes a new entry under a fresh temporary name of `destinationName` in
// `folder` with `make(path)`, which answers false only when the name is
// taken (errno EEXIST); answers the path.
template <class Make>
std::string MakeTemporary(const std::string& folder, const std::string& destinationName, Make&& make) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const char separator = Platform::AppInfo::PathSeparator();
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    std::string path = folder + separator + TempPrefix(destinationName) + suffix;
    if (make(path)) return path;
    if (errno != EEXIST) throw FromErrno(errno, folder, Platform::kErrPathNotFound);
  }
  throw RunError(Platform::kErrPathFileAccess, "Path/File access error: " + Quoted(folder) + ": no temporary name.");
}

TemporaryFile CreateTemporary(const std::string& folder, const std::string& destinationName, mode_t mode) {
  int fd = -1;
  // The mode passed to open() is filtered by the umask, as for any new file.
  std::string path = MakeTemporary(folder, destinationName, [&](const std::string& name) {
    fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    return fd >= 0;
  });
  return TemporaryFile(std::move(path), fd);
}

void WriteAll(int fd, const char* data, std::size_t size, std::uint64_t& written, const std::string& destination) {
  while (size > 0) {
    if (const auto& fault = CopyWriteFault()) {
      if (const int error = fault(written)) throw FromErrno(error, destination);
    }
    const ssize_t count = ::write(fd, data, size);
    if (count < 0) {
      if (errno == EINTR) continue;
      throw FromErrno(errno, destination);
    }
    data += count;
    size -= static_cast<std::size_t>(count);
    written += static_cast<std::uint64_t>(count);
  }
}

// Copies all of `from` to `to` and forces it to the disk.
void CopyData(int from, int to, const std::string& source, const std::string& destination) {
  std::vector<char> buffer(kChunkSize);
  std::uint64_t written = 0;
  for (;;) {
    const ssize_t count = ::read(from, buffer.data(), buffer.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      throw FromErrno(errno, source);
    }
    if (count == 0) break;
    WriteAll(to, buffer.data(), static_cast<std::size_t>(count), written, destination);
  }
  if (::fsync(to) != 0) throw FromErrno(errno, destination);
}

// Makes the rename itself durable. A folder that cannot be synced (some
// file systems refuse) still holds the complete new file, so a failure here
// is not reported.
void SyncFolder(const std::string& folder) {
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0) ::fsync(dir.Get());
}

bool FolderIsWritable(const std::string& folder, const struct stat& info) {
  return (info.st_mode & kWriteBits) != 0 && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// The refusal of a folder this user may not add files to or take them from.
[[noreturn]] void RefuseFolder(const std::string& folder, const struct stat& info) {
  if ((info.st_mode & kWriteBits) == 0 || ::access(folder.c_str(), W_OK | X_OK) == 0) throw ReadOnly(folder);
  throw FromErrno(errno, folder, Platform::kErrPathNotFound);
}

// The existing folder of `path`, which must name a file rather than a folder.
std::string FolderOfFile(const std::string& path, struct stat& folderInfo) {
  if (path.empty() || path.back() == Platform::AppInfo::PathSeparator())
    throw RunError(Platform::kErrPathFileAccess, "Path/File access error: " + Quoted(path) + " names no file.");
  std::string folder = FolderOfPath(path);
  if (::stat(folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) throw PathNotFound(folder);
  return folder;
}

// A backup of the file a placed copy replaced: a second name of it, locked
// as a live temporary so that no other copy sweeps it away.
class Backup {
 public:
  Backup(const std::string& destination, const std::string& folder, const std::string& name)
      : path_(MakeTemporary(folder, name, [&](const std::string& path) {
          return ::link(destination.c_str(), path.c_str()) == 0;
        })) {
    file_ = Descriptor(::open(path_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (file_.Get() >= 0) TryLockRange(file_.Get(), F_WRLCK, kLiveByte, 1);
  }
  ~Backup() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  Backup(const Backup&) = delete;
  Backup& operator=(const Backup&) = delete;
  // Puts the old file back under `destination`.
  void Restore(const std::string& destination) {
    if (::rename(path_.c_str(), destination.c_str()) != 0) throw FromErrno(errno, destination);
    path_.clear();
  }

 private:
  std::string path_;
  Descriptor file_;
};

// What a destination is before a copy: checked for a copy's rules, and
// answered as its folder, its name and what is there now.
struct Destination {
  std::string path, folder, name;
  struct stat info {};
  bool isFile = false, isLink = false;
};

Destination CheckDestination(const std::string& destination, const struct stat& sourceInfo, bool& sameFile) {
  Destination d;
  d.path = destination;
  struct stat folderInfo {};
  d.folder = FolderOfFile(destination, folderInfo);
  d.name = NameOf(destination);
  const bool exists = ::lstat(destination.c_str(), &d.info) == 0;
  d.isLink = exists && S_ISLNK(d.info.st_mode);
  d.isFile = exists && !d.isLink;
  if (d.isFile && !S_ISREG(d.info.st_mode)) throw NotAFile(destination, d.info.st_mode);
  // Write bits are checked by hand as well, because root passes every
  // access check and would otherwise replace files marked read-only.
  if (d.isFile) {
    if ((d.info.st_mode & kWriteBits) == 0) throw ReadOnly(destination);
    if (::access(destination.c_str(), W_OK) != 0) throw FromErrno(errno, destination);
  }
  sameFile = d.isFile && d.info.st_dev == sourceInfo.st_dev && d.info.st_ino == sourceInfo.st_ino;
  if (!sameFile && !FolderIsWritable(d.folder, folderInfo)) RefuseFolder(d.folder, folderInfo);
  return d;
}

// Whether the open file `a` and the file at `path` hold the same bytes; a
// file that is not ordinary, or larger than a carrier file can be, never
// does, and is not read. Throws Platform::RunError when a read fails.
bool SameBytes(int a, const std::string& aPath, const std::string& path) {
  Descriptor b(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  // Missing, or a link: not the same file. Any other failure cannot tell.
  if (b.Get() < 0 && errno != ENOENT && errno != ELOOP && errno != ENOTDIR) throw FromErrno(errno, path);
  struct stat ai {}, bi {};
  if (b.Get() < 0 || ::fstat(a, &ai) != 0 || ::fstat(b.Get(), &bi) != 0 || !S_ISREG(bi.st_mode) ||
      !S_ISREG(ai.st_mode) || ai.st_size != bi.st_size || static_cast<std::uint64_t>(bi.st_size) > kMostCarrierFileBytes)
    return false;
  std::vector<char> x(kChunkSize), y(kChunkSize);
  for (off_t at = 0; at < bi.st_size;) {
    const ssize_t n = ::pread(a, x.data(), x.size(), at);
    if (n < 0) throw FromErrno(errno, aPath);
    if (n == 0) return false;
    const ssize_t m = ::pread(b.Get(), y.data(), static_cast<std::size_t>(n), at);
    if (m < 0) throw FromErrno(errno, path);
    if (m != n || std::memcmp(x.data(), y.data(), static_cast<std::size_t>(n)) != 0) return false;
    at += n;
  }
  return true;
}

}  // namespace

struct StagedCopy::State {
  Destination destination;
  TemporaryFile temporary;
  std::unique_ptr<Backup> backup;
};

StagedCopy::StagedCopy(const std::string& source, const std::string& destination) {
  struct stat sourceInfo {};
  if (source.empty() || ::stat(source.c_str(), &sourceInfo) != 0) throw FileNotFound(source);
  if (!S_ISREG(sourceInfo.st_mode)) throw NotAFile(source, sourceInfo.st_mode);
  bool sameFile = false;
  Destination d = CheckDestination(destination, sourceInfo, sameFile);
  existed_ = d.isFile || d.isLink;
  destination_ = destination;
  if (sameFile) return;  // a copy onto itself changes nothing

  Descriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (input.Get() < 0) throw FromErrno(errno, source);
  // A destination in use is told here, where the step stands; it is
  // claimed again when the copy takes its place.
  { const Claim check(destination, d.isFile); }
  RemoveStaleTemporaries(d.folder, d.name);
  TemporaryFile temporary = CreateTemporary(d.folder, d.name, 0644);
  if (d.isFile) {
    // Keep the replaced file's owner (only root may give it away) and mode.
    [[maybe_unused]] const int ignored = ::fchown(temporary.File(), d.info.st_uid, d.info.st_gid);
    if (::fchmod(temporary.File(), d.info.st_mode & 07777) != 0) throw FromErrno(errno, destination);
  }
  CopyData(input.Get(), temporary.File(), source, destination);
  // Already in place, and nothing left beside it that could be played back
  // into it.
  const bool leftovers = std::any_of(std::begin(kSidecars), std::end(kSidecars), [&](const char* suffix) {
    struct stat info {};
    return ::lstat((destination + suffix).c_str(), &info) == 0;
  });
  if (d.isFile && !leftovers && SameBytes(temporary.File(), temporary.Path(), destination)) return;
  state_ = std::make_unique<State>(State{std::move(d), std::move(temporary), nullptr});
}

StagedCopy::~StagedCopy() = default;

std::string StagedCopy::Path() const {
  return state_ && !placed_ ? state_->temporary.Path() : destination_;
}

void StagedCopy::Place() {
  if (!state_ || placed_) return;
  const Destination& d = state_->destination;
  const Claim claim(d.path, d.isFile);
  // The old file stays reachable until the run settles, so that it can be
  // put back.
  if (d.isFile || d.isLink) state_->backup = std::make_unique<Backup>(d.path, d.folder, d.name);
  // The leftovers go before the new file is in place, so the two are never
  // seen together; the claim keeps anyone from making new ones meanwhile.
  claim.RemoveSidecars();
  if (::rename(state_->temporary.Path().c_str(), d.path.c_str()) != 0) throw FromErrno(errno, d.path);
  state_->temporary.Keep();
  placed_ = true;
  SyncFolder(d.folder);
}

void StagedCopy::Restore() {
  if (!state_ || !placed_) return;
  const Destination& d = state_->destination;
  if (state_->backup) {
    state_->backup->Restore(d.path);
  } else if (::unlink(d.path.c_str()) != 0 && errno != ENOENT) {
    throw FromErrno(errno, d.path);
  }
  placed_ = false;
  SyncFolder(d.folder);
}

void StagedCopy::Settle() {
  if (state_) state_->backup.reset();
}

namespace {

// The folders this process holds locked, with how many holders each has.
struct HeldFolder {
  std::uint64_t device;
  std::uint64_t inode;
  std::string path;  // the lock file
  Descriptor lock;   // holds the lock while open; -1 where no lock was needed
  int holders;
};

enum class LockAttempt { Taken, Held, Stale };

// Whether anyone holds a lock on the file `info` names, as the kernel's
// list of locks tells (it names the file by device and inode, so a file
// this user may not open can still be asked about).
bool LockedByAnyone(const struct stat& info) {
  std::FILE* list = std::fopen("/proc/locks", "re");
  if (!list) return true;  // cannot tell: wait as for a holder
  char line[256];
  bool locked = false;
  // "1: OFDLCK ADVISORY WRITE -1 08:01:1234 0 EOF"; a waiter's line has "->".
  while (!locked && std::fgets(line, sizeof line, list)) {
    if (std::strstr(line, "->")) continue;
    for (const char* p = std::strchr(line, ' '); p; p = std::strchr(p + 1, ' ')) {
      unsigned major = 0, minor = 0;
      unsigned long long inode = 0;
      if (std::sscanf(p + 1, "%x:%x:%llu", &major, &minor, &inode) == 3) {
        locked = inode == info.st_ino && major == ::major(info.st_dev) && minor == ::minor(info.st_dev);
        break;
      }
    }
  }
  std::fclose(list);
  return locked;
}

// One try for a folder's installation lock: an exclusive lock on the file
// `path`, which only someone who may add files to the folder can make and
// which only its maker (mode 0600) can open, so nobody who cannot change
// the folder can hold it or take it from a holder.
LockAttempt TryFolderLock(const std::string& path, Descriptor& lock) {
  Descriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
  struct stat there {};
  if (file.Get() < 0) {
    const int error = errno;
    const bool exists = ::lstat(path.c_str(), &there) == 0;
    if ((error == EACCES || error == EPERM) && exists && S_ISREG(there.st_mode)) {
      // Another user's lock file: held, or left by a run that died.
      if (LockedByAnyone(there)) return LockAttempt::Held;
      if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw FromErrno(errno, path);
      return LockAttempt::Stale;
    }
    // A folder this user cannot add files to (or a read-only file system):
    // no installation of this user changes it, so there is nothing to
    // keep apart; the copies will be refused where the steps stand.
    if ((error == EACCES || error == EPERM || error == EROFS) && !exists) return LockAttempt::Taken;
    if (error == ELOOP)
      throw RunError(Platform::kErrPathFileAccess, "Path/File access error: " + Quoted(path) + " is a symbolic link.");
    throw FromErrno(error, path, Platform::kErrPathNotFound);
  }
  struct stat mine {};
  if (::fstat(file.Get(), &mine) != 0) throw FromErrno(errno, path);
  if (!S_ISREG(mine.st_mode)) throw NotAFile(path, mine.st_mode);
  if (!TryLockRange(file.Get(), F_WRLCK, 0, 0)) return LockAttempt::Held;
  // The holder before may have removed it between our open and our lock.
  if (::lstat(path.c_str(), &there) != 0 || there.st_ino != mine.st_ino || there.st_dev != mine.st_dev)
    return LockAttempt::Stale;
  lock = std::move(file);
  return LockAttempt::Taken;
}

std::vector<HeldFolder>& HeldFolders() {
  static std::vector<HeldFolder> held;
  return held;
}

// Removes `path` under the same claim as a copy's destination: nobody may
// be using it as a database, and what the engine keeps beside it goes too.
void RemoveOrThrow(const std::string& path) {
  struct stat folderInfo {};
  const std::string folder = FolderOfFile(path, folderInfo);
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return;
    throw FromErrno(errno, path);
  }
  if (S_ISLNK(info.st_mode))
    throw RunError(Platform::kErrPathFileAccess, "Path/File access error: " + Quoted(path) + " is a symbolic link.");
  if (!S_ISREG(info.st_mode)) throw NotAFile(path, info.st_mode);
  if ((info.st_mode & kWriteBits) == 0) throw ReadOnly(path);
  if (!FolderIsWritable(folder, folderInfo)) RefuseFolder(folder, folderInfo);
  const Claim claim(path, true);
  claim.RemoveSidecars();
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw FromErrno(errno, path);
  SyncFolder(folder);
}

// Runs `body` and writes its error, if any, to the outputs (0 and empty
// when there was none).
template <class Body>
void Checked(std::string& errorDescription, std::int32_t& errorNumber, Body&& body) {
  errorNumber = 0;
  errorDescription.clear();
  try {
    body();
  } catch (const RunError& e) {
    errorNumber = e.Number();
    errorDescription = e.Description();
  } catch (const std::exception& e) {
    errorNumber = kErrInternal;
    errorDescription = std::string("Internal error: ") + e.what();
  } catch (...) {
    errorNumber = kErrInternal;
    errorDescription = "Internal error.";
  }
}

// The information box of a failed file operation; it must not throw, since
// the error outputs already tell the caller.
void Tell(const std::string& text, const std::string& title) {
  try {
    Platform::CurrentUi().MsgBox(text, Platform::kMbOkOnly + Platform::kMbInformation, title);
  } catch (...) {
  }
}

}  // namespace

namespace testing {

void SetCopyWriteFault(WriteFault fault) { CopyWriteFault() = std::move(fault); }
std::size_t CopyChunkSize() { return kChunkSize; }
void SetWaits(std::chrono::milliseconds folderLock, std::chrono::milliseconds inUse) {
  FolderLockWait() = folderLock;
  InUseWait() = inUse;
}

}  // namespace testing

bool LocateFile(const std::string& path, bool report) {
  bool there = false;
  try {
    std::error_code ec;
    there = !path.empty() && fs::is_regular_file(path, ec) && !ec;
    if (!there && report) {
      Platform::CurrentUi().MsgBox(Platform::AppInfo::Title() + " has failed to locate the '" + path + "' file...",
                                   Platform::kMbOkOnly + Platform::kMbExclamation, "");
    }
  } catch (...) {
    // A failed lookup or a failing box counts as "not there"; nothing escapes.
  }
  return there;
}

bool SameBytes(const std::string& a, const std::string& b) {
  Descriptor file(::open(a.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (file.Get() < 0) throw FromErrno(errno, a);
  return SameBytes(file.Get(), a, b);
}

void TellCopyFailed(const std::string& source, const std::string& destination) {
  Tell(Platform::AppInfo::Title() + " program has failed to copy file from:\r" + source + "\rto\r" + destination,
       "Can't Copy a File ...");
}

std::unique_ptr<StagedCopy> StageFileChecked(const std::string& source, const std::string& destination,
                                             std::string& errorDescription, std::int32_t& errorNumber, bool report) {
  std::unique_ptr<StagedCopy> copy;
  Checked(errorDescription, errorNumber, [&] { copy = std::make_unique<StagedCopy>(source, destination); });
  if (errorNumber != 0 && report) TellCopyFailed(source, destination);
  return errorNumber == 0 ? std::move(copy) : nullptr;
}

bool CopyFileChecked(const std::string& source, const std::string& destination, std::string& errorDescription,
                     std::int32_t& errorNumber, bool report) {
  bool result = false;
  Checked(errorDescription, errorNumber, [&] {
    StagedCopy copy(source, destination);
    copy.Place();
    copy.Settle();
    result = LocateFile(destination, false);
  });
  if (errorNumber != 0 && report) TellCopyFailed(source, destination);
  return result;
}

bool RemoveFileChecked(const std::string& path, std::string& errorDescription, std::int32_t& errorNumber,
                       bool report) {
  Checked(errorDescription, errorNumber, [&] { RemoveOrThrow(path); });
  if (errorNumber != 0 && report)
    Tell(Platform::AppInfo::Title() + " program has failed to remove the file:\r" + path, "Can't Remove a File ...");
  return errorNumber == 0;
}

FolderLock::FolderLock(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) throw PathNotFound(folder);
  device_ = info.st_dev;
  inode_ = info.st_ino;
  for (HeldFolder& held : HeldFolders()) {
    if (held.device == info.st_dev && held.inode == info.st_ino) {
      ++held.holders;
      return;
    }
  }
  const std::string path = folder + Platform::AppInfo::PathSeparator() + kFolderLockName;
  bool told = false;
  Descriptor lock;
  const bool locked = Retry(FolderLockWait(), [&] {
    for (int stale = 0; stale < 4; ++stale) {
      switch (TryFolderLock(path, lock)) {
        case LockAttempt::Taken: return true;
        case LockAttempt::Stale: continue;  // a dead holder's file went: at once again
        case LockAttempt::Held: break;
      }
      break;
    }
    if (!told) {
      Platform::CurrentUi().SetStatusText("Waiting for another installation in '" + folder + "' to finish...");
      told = true;
    }
    return false;
  });
  if (!locked) {
    throw RunError(Platform::kErrPermissionDenied, "Permission denied: another installation is working in " +
                                                       Quoted(folder) +
                                                       " and did not finish within a minute; try again when it has.");
  }
  // Whatever copies of a run that died left here are nobody's now.
  RemoveStaleTemporaries(folder, "");
  HeldFolders().push_back({info.st_dev, info.st_ino, path, std::move(lock), 1});
}

FolderLock::~FolderLock() {
  auto& held = HeldFolders();
  for (auto it = held.begin(); it != held.end(); ++it) {
    if (it->device == device_ && it->inode == inode_) {
      if (--it->holders == 0) {
        // The file goes while it is still locked, and only if it is still
        // ours; a waiter that opened it sees it gone and tries again.
        struct stat mine {}, there {};
        if (it->lock.Get() >= 0 && ::fstat(it->lock.Get(), &mine) == 0 && ::lstat(it->path.c_str(), &there) == 0 &&
            mine.st_dev == there.st_dev && mine.st_ino == there.st_ino)
          ::unlink(it->path.c_str());
        held.erase(it);
      }
      return;
    }
  }
}

namespace {

constexpr char kPrivatePrefix[] = "addtarnvel-";
constexpr std::size_t kMostPrivateFolders = 8;
constexpr std::size_t kMostPrivatePath = 512;

// The private folders of this process, as plain characters a signal
// handler may read.
struct PrivateFolders {
  char paths[kMostPrivateFolders][kMostPrivatePath] = {};
};

PrivateFolders& LivePrivateFolders() {
  static PrivateFolders folders;
  return folders;
}

// Removes a folder tree, also where a part of it was made read-only.
void RemoveTree(const std::string& root) {
  std::error_code ec;
  ::chmod(root.c_str(), S_IRWXU);
  for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (it->symlink_status(typeEc).type() == fs::file_type::directory) ::chmod(it->path().c_str(), S_IRWXU);
  }
  fs::remove_all(root, ec);
}

// SIGTERM, SIGHUP or SIGINT: the private folders go (by a child process,
// since only a few calls are safe in a handler), then the signal ends the
// process as it would have.
extern "C" void RemovePrivateFoldersAndEnd(int signal) {
  for (const auto& path : LivePrivateFolders().paths) {
    if (path[0] == '\0') continue;
    const pid_t child = ::fork();
    if (child == 0) {
      const char* argv[] = {"/bin/sh", "-c", "chmod -R u+rwx -- \"$1\" 2>/dev/null; rm -rf -- \"$1\"", "sh", path, nullptr};
      ::execv("/bin/sh", const_cast<char* const*>(argv));
      ::_exit(127);
    }
    if (child > 0) ::waitpid(child, nullptr, 0);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void RemoveOnSignals() {
  static const bool installed = [] {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
      struct sigaction current {};
      if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_handler = RemovePrivateFoldersAndEnd;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal, &action, nullptr);
    }
    return true;
  }();
  (void)installed;
}

// Private folders of this user that no live process holds locked.
void RemoveStalePrivateFolders(const fs::path& temporary) {
  std::error_code ec;
  for (fs::directory_iterator it(temporary, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    struct stat info {};
    if (::lstat(it->path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) continue;
    // One still being made is not locked yet; left a minute, its maker died.
    const bool making = name.starts_with("." + std::string(kPrivatePrefix));
    if (!name.starts_with(kPrivatePrefix) && !(making && ::time(nullptr) - info.st_mtime > 60)) continue;
    Descriptor folder(::open(it->path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.Get() >= 0 && ::flock(folder.Get(), LOCK_EX | LOCK_NB) == 0) RemoveTree(it->path().string());
  }
}

}  // namespace

PrivateFolder::PrivateFolder(const std::string& purpose) {
  std::error_code ec;
  const fs::path temporary = fs::temp_directory_path(ec);
  if (ec) throw RunError(Platform::kErrPathNotFound, "Path not found: no temporary folder: " + ec.message() + ".");
  RemoveStalePrivateFolders(temporary);
  // Made under a name the sweep passes over, and given its own name only
  // once it is locked, so that no other process's sweep can take it.
  std::string pattern = (temporary / ("." + std::string(kPrivatePrefix) + purpose + "-XXXXXX")).string();
  if (pattern.size() >= kMostPrivatePath || !::mkdtemp(pattern.data()))
    throw RunError(Platform::kErrPathFileAccess, "Path/File access error: no private folder in " +
                                                     Quoted(temporary.string()) + ": " + std::strerror(errno) + ".");
  lock_ = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  std::string path = (temporary / pattern.substr(pattern.rfind('/') + 2)).string();
  if (lock_ < 0 || ::flock(lock_, LOCK_EX | LOCK_NB) != 0 || ::rename(pattern.c_str(), path.c_str()) != 0) {
    const int error = errno;
    if (lock_ >= 0) ::close(lock_);
    ::rmdir(pattern.c_str());
    throw RunError(Platform::kErrPathFileAccess, "Path/File access error: no private folder in " +
                                                     Quoted(temporary.string()) + ": " + std::strerror(error) + ".");
  }
  path_ = std::move(path);
  for (auto& slot : LivePrivateFolders().paths) {
    if (slot[0] != '\0') continue;
    std::memcpy(slot, path_.c_str(), path_.size() + 1);
    break;
  }
  RemoveOnSignals();
}

PrivateFolder::~PrivateFolder() {
  for (auto& slot : LivePrivateFolders().paths)
    if (path_ == slot) slot[0] = '\0';
  RemoveTree(path_);
  if (lock_ >= 0) ::close(lock_);
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

void InputFile::Open(const std::string& path) {
  Close();
  // Opened without waiting, so that a pipe cannot hold the program up;
  // only an ordinary file is read.
  Descriptor file(path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.Get() < 0) {
    if (path.empty() || errno == ENOENT || errno == ENOTDIR) throw FileNotFound(path);
    throw RunError(Platform::kErrPathFileAccess, "Path/File access error: " + Quoted(path) + " cannot be read.");
  }
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) throw FromErrno(errno, path);
  if (S_ISDIR(info.st_mode)) throw IsAFolder(path);
  if (!S_ISREG(info.st_mode)) {
    throw RunError(Platform::kErrPathFileAccess,
                   "Path/File access error: " + Quoted(path) + " is not an ordinary file.");
  }
  const int flags = ::fcntl(file.Get(), F_GETFL);
  if (flags >= 0) ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK);
  fd_ = file.Release();
  path_ = path;
  buffer_.resize(kChunkSize);
  begin_ = end_ = 0;
}

bool InputFile::Fill() {
  if (begin_ < end_) return true;
  for (;;) {
    const ssize_t count = ::read(fd_, buffer_.data(), buffer_.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) throw RunError(kErrDeviceIo, "Device I/O error: " + Quoted(path_) + ".");
    begin_ = 0;
    end_ = static_cast<std::size_t>(count);
    return count > 0;
  }
}

bool InputFile::AtEnd() { return fd_ < 0 || !Fill(); }

std::string InputFile::ReadBytes() {
  if (AtEnd()) return {};
  std::string bytes(buffer_.data() + begin_, end_ - begin_);
  begin_ = end_;
  return bytes;
}

std::string InputFile::ReadLine() {
  if (fd_ < 0) throw RunError(kErrBadFileNameOrNumber, "Bad file name or number: no file is open.");
  if (AtEnd()) throw RunError(Platform::kErrInputPastEnd, "Input past end of file: " + Quoted(path_) + ".");
  std::string line;
  while (Fill()) {
    const char* from = buffer_.data() + begin_;
    const std::size_t available = end_ - begin_;
    const auto* stop = static_cast<const char*>(std::memchr(from, '\n', available));
    const auto* cr = static_cast<const char*>(std::memchr(from, '\r', stop ? stop - from : available));
    if (cr) stop = cr;
    const std::size_t take = stop ? static_cast<std::size_t>(stop - from) : available;
    if (line.size() + take > kMostLineBytes) {
      throw RunError(Platform::kErrPathFileAccess, "Path/File access error: " + Quoted(path_) +
                                                       " holds a line longer than " +
                                                       std::to_string(kMostLineBytes) + " bytes.");
    }
    line.append(from, take);
    begin_ += take;
    if (!stop) continue;
    ++begin_;  // the terminator
    if (*stop == '\r' && Fill() && buffer_[begin_] == '\n') ++begin_;
    break;
  }
  return line;
}

void InputFile::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  buffer_.clear();
  buffer_.shrink_to_fit();
  if (::close(fd) != 0) throw RunError(kErrDeviceIo, "Device I/O error: " + Quoted(path_) + " could not be closed.");
}

bool CloseFile(InputFile& file) {
  try {
    file.Close();
    return true;
  } catch (...) {
    return false;
  }
}

std::string Beside(const std::string& path, const std::string& name) {
  return FolderOfPath(path) + Platform::AppInfo::PathSeparator() + name;
}

std::string NameOf(const std::string& path) {
  const std::string last = LastPathPart(path);
  return last.empty() ? path : last;
}

std::string LastPathPart(const std::string& path) {
  const auto last = path.rfind(Platform::AppInfo::PathSeparator());
  return last == std::string::npos ? std::string() : path.substr(last + 1);
}

std::string FolderOfPath(const std::string& path) {
  const char separator = Platform::AppInfo::PathSeparator();
  const auto last = path.rfind(separator);
  if (last == std::string::npos) return ".";
  // A file in the root folder: the root itself, never the empty text.
  if (last == 0) return std::string(1, separator);
  return path.substr(0, last);
}

}  // namespace Files_
