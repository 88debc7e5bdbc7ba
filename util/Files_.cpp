#include "Files_.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/file.h>

#include <cerrno>
#include <chrono>
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
    TryLockRange(fd, F_WRLCK, 0, 0);
  }
  ~TemporaryFile() {
    if (!kept_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
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
// which destination it belonged to, so the next copy there sweeps it away.
// One that a live copy holds locked is not a leftover and stays.
void RemoveStaleTemporaries(const std::string& folder, const std::string& destinationName) {
  const std::string prefix = TempPrefix(destinationName);
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeEc;
    if (!name.starts_with(prefix) || it->symlink_status(typeEc).type() != fs::file_type::regular) continue;
    const std::string path = it->path().string();
    Descriptor candidate(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (candidate.Get() >= 0 && TryLockRange(candidate.Get(), F_WRLCK, 0, 0)) ::unlink(path.c_str());
  }
}

TemporaryFile CreateTemporary(const std::string& folder, const std::string& destinationName, mode_t mode) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const char separator = Platform::AppInfo::PathSeparator();
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    std::string path = folder + separator + TempPrefix(destinationName) + suffix;
    // The mode passed to open() is filtered by the umask, as for any new file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) return TemporaryFile(std::move(path), fd);
    if (errno != EEXIST) throw FromErrno(errno, folder, Platform::kErrPathNotFound);
  }
  throw RunError(Platform::kErrPathFileAccess, "Path/File access error: " + Quoted(folder) + ": no temporary name.");
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

// A scratch file in a folder this user may not add files to: written over
// in place under the same claim as a replacement.
void OverwriteInPlace(int input, const std::string& source, const std::string& destination) {
  Claim claim(destination, true);
  if (claim.File() < 0) throw FromErrno(ENOENT, destination);
  struct stat info {};
  if (::fstat(claim.File(), &info) != 0 || !S_ISREG(info.st_mode)) throw IsAFolder(destination);
  claim.RemoveSidecars();
  if (::ftruncate(claim.File(), 0) != 0) throw FromErrno(errno, destination);
  CopyData(input, claim.File(), source, destination);
}

// The copy itself; throws RunError for every failure and leaves the
// destination as it was when it does.
void CopyOrThrow(const std::string& source, const std::string& destination, CopyMode mode) {
  struct stat sourceInfo {};
  if (source.empty() || ::stat(source.c_str(), &sourceInfo) != 0) throw FileNotFound(source);
  if (!S_ISREG(sourceInfo.st_mode)) throw IsAFolder(source);

  struct stat folderInfo {};
  const std::string folder = FolderOfFile(destination, folderInfo);
  struct stat targetInfo {};
  const bool targetExists = ::lstat(destination.c_str(), &targetInfo) == 0;
  const bool isLink = targetExists && S_ISLNK(targetInfo.st_mode);
  const bool isFile = targetExists && !isLink;
  if (isFile && !S_ISREG(targetInfo.st_mode)) throw IsAFolder(destination);
  // Write bits are checked by hand as well, because root passes every
  // access check and would otherwise replace files marked read-only.
  if (isFile) {
    if ((targetInfo.st_mode & kWriteBits) == 0) throw ReadOnly(destination);
    if (::access(destination.c_str(), W_OK) != 0) throw FromErrno(errno, destination);
    if (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino) return;
  }

  Descriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (input.Get() < 0) throw FromErrno(errno, source);

  if (!FolderIsWritable(folder, folderInfo)) {
    if (mode == CopyMode::ScratchInPlace && isFile) return OverwriteInPlace(input.Get(), source, destination);
    RefuseFolder(folder, folderInfo);
  }

  const std::string name = LastPathPart(destination).empty() ? destination : LastPathPart(destination);
  const Claim claim(destination, isFile);
  RemoveStaleTemporaries(folder, name);
  TemporaryFile temporary = CreateTemporary(folder, name, 0644);
  if (isFile) {
    // Keep the replaced file's owner (only root may give it away) and mode.
    [[maybe_unused]] const int ignored = ::fchown(temporary.File(), targetInfo.st_uid, targetInfo.st_gid);
    if (::fchmod(temporary.File(), targetInfo.st_mode & 07777) != 0) throw FromErrno(errno, destination);
  }
  CopyData(input.Get(), temporary.File(), source, destination);
  // The leftovers go before the new file is in place, so the two are never
  // seen together; the claim keeps anyone from making new ones meanwhile.
  claim.RemoveSidecars();
  if (::rename(temporary.Path().c_str(), destination.c_str()) != 0) throw FromErrno(errno, destination);
  temporary.Keep();
  SyncFolder(folder);
}

// The folders this process holds locked, with how many holders each has.
struct HeldFolder {
  std::uint64_t device;
  std::uint64_t inode;
  Descriptor folder;  // holds the lock while open
  int holders;
};

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
  if (!S_ISREG(info.st_mode)) throw IsAFolder(path);
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

bool CopyFileChecked(const std::string& source, const std::string& destination, std::string& errorDescription,
                     std::int32_t& errorNumber, bool report, CopyMode mode) {
  bool result = false;
  Checked(errorDescription, errorNumber, [&] {
    CopyOrThrow(source, destination, mode);
    result = LocateFile(destination, false);
  });
  if (errorNumber != 0 && report) {
    Tell(Platform::AppInfo::Title() + " program has failed to copy file from:\r" + source + "\rto\r" + destination,
         "Can't Copy a File ...");
  }
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
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat info {};
  if (dir.Get() < 0 || ::fstat(dir.Get(), &info) != 0) throw FromErrno(errno, folder, Platform::kErrPathNotFound);
  device_ = info.st_dev;
  inode_ = info.st_ino;
  for (HeldFolder& held : HeldFolders()) {
    if (held.device == info.st_dev && held.inode == info.st_ino) {
      ++held.holders;
      return;
    }
  }
  bool told = false;
  const bool locked = Retry(FolderLockWait(), [&] {
    if (::flock(dir.Get(), LOCK_EX | LOCK_NB) == 0) return true;
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
  HeldFolders().push_back({info.st_dev, info.st_ino, std::move(dir), 1});
}

FolderLock::~FolderLock() {
  auto& held = HeldFolders();
  for (auto it = held.begin(); it != held.end(); ++it) {
    if (it->device == device_ && it->inode == inode_) {
      if (--it->holders == 0) held.erase(it);  // closing the folder lets go of the lock
      return;
    }
  }
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
