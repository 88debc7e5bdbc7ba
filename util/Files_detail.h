// What the files behind Files_.h share: an open descriptor, the run-time
// errors of failed system calls, byte-range locks and bounded waits. For
// util/ alone.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "RunError.h"

namespace Files_::detail {

using Platform::RunError;
inline constexpr std::int32_t kErrDeviceIo = 57;
inline constexpr std::int32_t kErrDiskFull = 61;
inline constexpr std::size_t kChunkSize = 64 * 1024;

// An open file descriptor, closed when it dies.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
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

inline std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// "Path/File access error: " and what went wrong.
inline RunError AccessError(const std::string& what) {
  return RunError(Platform::kErrPathFileAccess, "Path/File access error: " + what + ".");
}
inline RunError FileNotFound(const std::string& path) {
  return RunError(Platform::kErrFileNotFound, "File not found: " + Quoted(path) + ".");
}
inline RunError PathNotFound(const std::string& path) {
  return RunError(Platform::kErrPathNotFound, "Path not found: " + Quoted(path) + ".");
}
inline RunError ReadOnly(const std::string& path) {
  return RunError(Platform::kErrPermissionDenied, "Permission denied: " + Quoted(path) + " is read-only.");
}
// A folder, or another thing that is no ordinary file (a pipe, a device),
// where a file is meant.
inline RunError NotAFile(const std::string& path, mode_t mode) {
  return AccessError(Quoted(path) + (S_ISDIR(mode) ? " is a folder" : " is not an ordinary file"));
}

// Turns a failed system call on `path` into the run-time error an operator
// can act on; `missing` is the error for ENOENT, which depends on whether
// the file or its folder was looked for.
inline RunError FromErrno(int error, const std::string& path, std::int32_t missing = Platform::kErrFileNotFound) {
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
      return NotAFile(path, S_IFDIR);
    case ENOSPC:
    case EDQUOT:
      return RunError(kErrDiskFull, "Disk full: " + Quoted(path) + " could not be written.");
    case EIO:
      return RunError(kErrDeviceIo, "Device I/O error: " + Quoted(path) + ".");
    default:
      return AccessError(Quoted(path) + ": " + std::strerror(error));
  }
}

// Write locks on byte ranges that belong to an open file description (not
// to the process), so that no other open or close of the same file in this
// process can drop them. TryLockRange takes one; RangeIsLocked answers
// whether anyone holds a lock that one would meet.
inline bool LockRange(int fd, off_t start, off_t length, int command) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  return ::fcntl(fd, command, &lock) == 0 && (command != F_OFD_GETLK || lock.l_type != F_UNLCK);
}
inline bool TryLockRange(int fd, off_t start, off_t length) { return LockRange(fd, start, length, F_OFD_SETLK); }
inline bool RangeIsLocked(int fd, off_t start, off_t length) { return LockRange(fd, start, length, F_OFD_GETLK); }

// How long a FolderLock waits for another holder, and a copy for a
// destination in use (as long as the database engine waits for a lock).
inline std::chrono::milliseconds folderLockWait = std::chrono::minutes(1), inUseWait = std::chrono::seconds(5);

// Polls `attempt` until it succeeds or `wait` has passed.
template <class Attempt>
bool Retry(std::chrono::milliseconds wait, Attempt&& attempt) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (attempt()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// Removes the temporary files that killed copies left in `folder` (FileCopy.cpp).
void RemoveStaleTemporaries(const std::string& folder, const std::string& destinationName);

}  // namespace Files_::detail
