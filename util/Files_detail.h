// What the files behind Files_.h share: the run-time errors of failed
// system calls, byte-range locks and bounded waits. For util/ alone.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "Files_.h"
#include "RunError.h"

namespace Files_::detail {

using Platform::RunError;
inline constexpr std::int32_t kErrDeviceIo = 57;
inline constexpr std::int32_t kErrDiskFull = 61;
inline constexpr std::size_t kChunkSize = 64 * 1024;

inline std::string Quoted(const std::string& path) { return "'" + path + "'"; }

inline RunError AccessError(const std::string& what) {
  return RunError(Platform::kErrPathFileAccess, "Path/File access error: " + what + ".");
}
// A folder or another non-file (a pipe, a device) where a file is meant.
inline RunError NotAFile(const std::string& path, mode_t mode) {
  return AccessError(Quoted(path) + (S_ISDIR(mode) ? " is a folder" : " is not an ordinary file"));
}

// The run-time error of a failed system call on `path`; `missing` is the
// error for ENOENT, as a file or a folder was looked for.
inline RunError FromErrno(int error, const std::string& path, std::int32_t missing = Platform::kErrFileNotFound) {
  const std::string quoted = Quoted(path);
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      if (missing == Platform::kErrPathNotFound) return RunError(missing, "Path not found: " + quoted + ".");
      return RunError(Platform::kErrFileNotFound, "File not found: " + quoted + ".");
    case EACCES:
    case EPERM:
      return RunError(Platform::kErrPermissionDenied, "Permission denied: " + quoted + ".");
    case EROFS:
      return RunError(Platform::kErrPermissionDenied, "Permission denied: " + quoted + " is read-only.");
    case EISDIR:
      return NotAFile(path, S_IFDIR);
    case ENOSPC:
    case EDQUOT:
      return RunError(kErrDiskFull, "Disk full: " + quoted + " could not be written.");
    case EIO:
      return RunError(kErrDeviceIo, "Device I/O error: " + quoted + ".");
    default:
      return AccessError(quoted + ": " + std::strerror(error));
  }
}

// Removes the file at `path`; one already gone is fine.
inline void RemoveIfThere(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw FromErrno(errno, path);
}

// Write locks of an open file description, which no other open or close of
// the file in this process can drop; RangeIsLocked: whether one would meet any.
inline bool LockRange(int fd, off_t start, off_t length, int command) {
  struct flock lock {.l_type = F_WRLCK, .l_whence = SEEK_SET, .l_start = start, .l_len = length, .l_pid = 0};
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

// Calls `visit(path, name, info)` for each entry of `folder` that lstat()
// can look at; a folder that cannot be read has none.
template <class Visit>
void ForEachEntry(const std::string& folder, Visit&& visit) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    struct stat info {};
    if (::lstat(it->path().c_str(), &info) == 0) visit(it->path().string(), it->path().filename().string(), info);
  }
}

// Removes the temporaries that killed copies to `destinationName` (to any
// destination when empty) left in `folder`; those a live copy locks stay.
void RemoveStaleTemporaries(const std::string& folder, const std::string& destinationName);

}  // namespace Files_::detail
