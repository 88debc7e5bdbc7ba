#include "Files_.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
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
  int Get() const { return fd_; }
  // Closes now and answers the errno of a failed close (0 when it worked).
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// The temporary file of one copy: removed when it dies unless it was
// renamed over the destination.
class TemporaryFile {
 public:
  TemporaryFile(std::string path, int fd) : path_(std::move(path)), descriptor_(fd) {}
  ~TemporaryFile() {
    if (!kept_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& Path() const { return path_; }
  Descriptor& File() { return descriptor_; }
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  Descriptor descriptor_;
  bool kept_ = false;
};

std::string TempPrefix(const std::string& destinationName) { return "." + destinationName + kTempMarker; }

// A copy that was killed leaves its temporary file behind; its name tells
// which destination it belonged to, so the next copy there sweeps it away.
void RemoveStaleTemporaries(const std::string& folder, const std::string& destinationName) {
  const std::string prefix = TempPrefix(destinationName);
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeEc;
    if (name.starts_with(prefix) && it->symlink_status(typeEc).type() == fs::file_type::regular) {
      std::error_code removeEc;
      fs::remove(it->path(), removeEc);
    }
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
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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

void CopyData(int from, int to, const std::string& source, const std::string& destination) {
  std::vector<char> buffer(kChunkSize);
  std::uint64_t written = 0;
  for (;;) {
    const ssize_t count = ::read(from, buffer.data(), buffer.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      throw FromErrno(errno, source);
    }
    if (count == 0) return;
    WriteAll(to, buffer.data(), static_cast<std::size_t>(count), written, destination);
  }
}

// Makes the rename itself durable. A folder that cannot be synced (some
// file systems refuse) still holds the complete new file, so a failure here
// is not reported.
void SyncFolder(const std::string& folder) {
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0) ::fsync(dir.Get());
}

// The copy itself; throws RunError for every failure and leaves the
// destination as it was when it does.
void CopyOrThrow(const std::string& source, const std::string& destination) {
  struct stat sourceInfo {};
  if (source.empty() || ::stat(source.c_str(), &sourceInfo) != 0) throw FileNotFound(source);
  if (S_ISDIR(sourceInfo.st_mode)) throw IsAFolder(source);

  std::string target = destination;
  struct stat targetInfo {};
  bool targetExists = ::stat(destination.c_str(), &targetInfo) == 0;
  if (targetExists && S_ISDIR(targetInfo.st_mode)) throw IsAFolder(destination);
  const char separator = Platform::AppInfo::PathSeparator();
  if (destination.empty() || destination.back() == separator)
    throw RunError(Platform::kErrPathFileAccess, "Path/File access error: " + Quoted(destination) + " names no file.");
  // A link stays a link: the new data replaces the file it points to.
  struct stat linkInfo {};
  if (targetExists && ::lstat(destination.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    std::error_code ec;
    const auto resolved = fs::canonical(destination, ec);
    if (!ec) target = resolved.string();
  }

  const std::string folder = FolderOfPath(target);
  struct stat folderInfo {};
  if (::stat(folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) throw PathNotFound(folder);
  // Write bits are checked by hand as well, because root passes every
  // access check and would otherwise replace files marked read-only.
  if ((folderInfo.st_mode & kWriteBits) == 0) throw ReadOnly(folder);
  if (::access(folder.c_str(), W_OK | X_OK) != 0) throw FromErrno(errno, folder, Platform::kErrPathNotFound);
  if (targetExists) {
    if ((targetInfo.st_mode & kWriteBits) == 0) throw ReadOnly(destination);
    if (::access(target.c_str(), W_OK) != 0) throw FromErrno(errno, destination);
    if (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino) return;
  }

  Descriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (input.Get() < 0) throw FromErrno(errno, source);

  const std::string targetName = target.find(separator) == std::string::npos ? target : LastPathPart(target);
  RemoveStaleTemporaries(folder, targetName);
  TemporaryFile temporary = CreateTemporary(folder, targetName, 0644);
  if (targetExists) {
    // Keep the replaced file's owner (only root may give it away) and mode.
    [[maybe_unused]] const int ignored = ::fchown(temporary.File().Get(), targetInfo.st_uid, targetInfo.st_gid);
    if (::fchmod(temporary.File().Get(), targetInfo.st_mode & 07777) != 0) throw FromErrno(errno, destination);
  }
  CopyData(input.Get(), temporary.File().Get(), source, destination);
  if (::fsync(temporary.File().Get()) != 0) throw FromErrno(errno, destination);
  if (const int error = temporary.File().Close()) throw FromErrno(error, destination);
  // A rollback journal beside the destination was left by a writer of the
  // file being replaced that was killed; the database engine would play it
  // back into the new file and damage it. It goes before the new file is in
  // place, so the two are never seen together.
  std::error_code journalEc;
  fs::remove(target + "-journal", journalEc);
  if (::rename(temporary.Path().c_str(), target.c_str()) != 0) throw FromErrno(errno, destination);
  temporary.Keep();
  SyncFolder(folder);
}

}  // namespace

namespace testing {

void SetCopyWriteFault(WriteFault fault) { CopyWriteFault() = std::move(fault); }
std::size_t CopyChunkSize() { return kChunkSize; }

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
                     std::int32_t& errorNumber, bool report) {
  errorNumber = 0;
  errorDescription.clear();
  bool result = false;
  try {
    CopyOrThrow(source, destination);
    result = LocateFile(destination, false);
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
  if (errorNumber != 0 && report) {
    try {
      Platform::CurrentUi().MsgBox(Platform::AppInfo::Title() + " program has failed to copy file from:\r" + source +
                                       "\rto\r" + destination,
                                   Platform::kMbOkOnly + Platform::kMbInformation, "Can't Copy a File ...");
    } catch (...) {
      // The error outputs already tell the caller; the box must not throw.
    }
  }
  return result;
}

void InputFile::Open(const std::string& path) {
  Close();
  std::error_code ec;
  const auto status = fs::status(path, ec);
  if (path.empty() || status.type() == fs::file_type::not_found) throw FileNotFound(path);
  if (status.type() == fs::file_type::directory) throw IsAFolder(path);
  stream_.clear();
  stream_.open(path, std::ios::in | std::ios::binary);
  if (!stream_.is_open()) {
    stream_.clear();
    throw RunError(Platform::kErrPathFileAccess, "Path/File access error: " + Quoted(path) + " cannot be read.");
  }
  path_ = path;
}

bool InputFile::AtEnd() {
  if (!stream_.is_open()) return true;
  try {
    return stream_.rdbuf()->sgetc() == std::char_traits<char>::eof();
  } catch (const std::exception&) {
    throw RunError(kErrDeviceIo, "Device I/O error: " + Quoted(path_) + ".");
  }
}

std::string InputFile::ReadLine() {
  if (!stream_.is_open()) throw RunError(kErrBadFileNameOrNumber, "Bad file name or number: no file is open.");
  if (AtEnd()) throw RunError(Platform::kErrInputPastEnd, "Input past end of file: " + Quoted(path_) + ".");
  using Traits = std::char_traits<char>;
  constexpr auto kEof = Traits::eof();
  std::string line;
  // Reading through the stream buffer keeps one buffer's worth in memory
  // besides the line, however long the file is.
  try {
    std::streambuf& buffer = *stream_.rdbuf();
    for (auto c = buffer.sbumpc(); c != kEof; c = buffer.sbumpc()) {
      if (c == '\n') break;
      if (c == '\r') {
        if (buffer.sgetc() == '\n') buffer.sbumpc();
        break;
      }
      line.push_back(Traits::to_char_type(c));
    }
  } catch (const std::ios_base::failure&) {
    throw RunError(kErrDeviceIo, "Device I/O error: " + Quoted(path_) + ".");
  }
  return line;
}

void InputFile::Close() {
  if (!stream_.is_open()) return;
  stream_.clear();
  stream_.close();
  const bool failed = stream_.fail();
  stream_.clear();
  if (failed) throw RunError(kErrDeviceIo, "Device I/O error: " + Quoted(path_) + " could not be closed.");
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
