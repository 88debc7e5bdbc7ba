// Files_::StagedCopy, RemoveFileChecked and SameBytes: a file replaced or
// removed whole, never while another program uses it, never through a link.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <vector>

#include "AppInfo.h"
#include "Files_detail.h"
#include "Files_testing.h"

namespace Files_ {

using namespace detail;

namespace {

constexpr char kTempMarker[] = ".atv-tmp-";
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
// A live temporary file holds a lock on this byte, far past the lock bytes
// of any InUseLocks, so that a backup of a database someone still has open
// can be marked live without holding that program up.
constexpr off_t kLiveByte = off_t{1} << 40;

testing::WriteFault copyWriteFault;

// Holds the lock bytes `locks` names while it lives. A link's target is only
// looked at, as the link alone is replaced, yet waited for, so that a live
// transaction's journal stays intact.
class Claim {
 public:
  Claim(const std::string& path, bool regularFile, const InUseLocks& locks) {
    file_ = Descriptor(::open(path.c_str(), (regularFile ? O_RDWR | O_NOFOLLOW : O_RDONLY) | O_CLOEXEC | O_NONBLOCK));
    if (regularFile && file_.Get() < 0 && errno != ENOENT) throw FromErrno(errno, path);
    shared_ = Descriptor(::open((path + locks.shared).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    const bool free = Retry(inUseWait, [&] {
      const int file = file_.Get();
      return (file < 0 || (regularFile ? TryLockRange(file, locks.start, locks.length)
                                       : !RangeIsLocked(file, locks.start, locks.length))) &&
             (shared_.Get() < 0 || TryLockRange(shared_.Get(), locks.sharedByte, 1));
    });
    if (!free)
      throw RunError(Platform::kErrPermissionDenied,
                     "Permission denied: " + Quoted(path) + " is in use by another program.");
  }

 private:
  Descriptor file_;
  Descriptor shared_;
};

// Under a Claim of `path` (so that nobody makes new ones meanwhile).
void RemoveSidecars(const std::string& path, const InUseLocks& locks) {
  for (const char* suffix : locks.sidecars) RemoveIfThere(path + suffix);
}

// A copy's new file, or the file it replaced, under a temporary name: locked,
// so that no other copy takes it for a leftover, and gone with this unless renamed.
class Temporary {
 public:
  Temporary(std::string path, int fd) : path_(std::move(path)), file_(fd) {
    if (fd >= 0) TryLockRange(fd, kLiveByte, 1);
  }
  ~Temporary() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  Temporary(Temporary&& other) noexcept : path_(std::exchange(other.path_, {})), file_(std::move(other.file_)) {}
  const std::string& Path() const { return path_; }
  int File() const { return file_.Get(); }
  void RenameTo(const std::string& path) {
    if (::rename(path_.c_str(), path.c_str()) != 0) throw FromErrno(errno, path);
    path_.clear();
  }

 private:
  std::string path_;
  Descriptor file_;
};

std::string TempPrefix(const std::string& destinationName) { return "." + destinationName + kTempMarker; }

// Makes an entry under a fresh temporary name in `folder` with `make(path, fd)`:
// false only when the name is taken (EEXIST); `fd` is the entry's file, if opened.
template <class Make>
Temporary MakeTemporary(const std::string& folder, const std::string& destinationName, Make&& make) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    std::string path = folder + Platform::AppInfo::PathSeparator() + TempPrefix(destinationName) + suffix;
    int fd = -1;
    if (make(path, fd)) return Temporary(std::move(path), fd);
    if (errno != EEXIST) throw FromErrno(errno, folder, Platform::kErrPathNotFound);
  }
  throw AccessError(Quoted(folder) + ": no temporary name");
}

// Copies all of `from` to `to` and forces it to the disk.
void CopyData(int from, int to, const std::string& source, const std::string& destination) {
  std::vector<char> buffer(kChunkSize);
  for (std::uint64_t written = 0;;) {
    ssize_t count = ::read(from, buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) throw FromErrno(errno, source);
    if (count == 0) break;
    for (const char* data = buffer.data(); count > 0;) {
      if (const int fault = copyWriteFault ? copyWriteFault(written) : 0) throw FromErrno(fault, destination);
      const ssize_t done = ::write(to, data, static_cast<std::size_t>(count));
      if (done < 0 && errno == EINTR) continue;
      if (done < 0) throw FromErrno(errno, destination);
      data += done;
      count -= done;
      written += static_cast<std::uint64_t>(done);
    }
  }
  if (::fsync(to) != 0) throw FromErrno(errno, destination);
}

// A folder that cannot be synced still holds the complete result: not a failure.
void SyncFolder(const std::string& folder) {
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0) ::fsync(dir.Get());
}

// What is at the path a copy replaces or a removal takes away; `missing` is
// the errno of a failed look at it. The permission bits are checked by hand,
// as root passes every access check and would replace read-only files.
struct Destination {
  explicit Destination(const std::string& path) {
    if (path.empty() || path.back() == Platform::AppInfo::PathSeparator())
      throw AccessError(Quoted(path) + " names no file");
    folder = FolderOfPath(path);
    if (::stat(folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode))
      throw FromErrno(ENOENT, folder, Platform::kErrPathNotFound);
    name = NameOf(path);
    if (::lstat(path.c_str(), &info) != 0) missing = errno;
    isLink = missing == 0 && S_ISLNK(info.st_mode);
    isFile = missing == 0 && !isLink;
    if (isFile && !S_ISREG(info.st_mode)) throw NotAFile(path, info.st_mode);
    if (isFile && (info.st_mode & kWriteBits) == 0) throw FromErrno(EROFS, path);
  }

  std::string folder, name;
  struct stat info {}, folderInfo {};
  int missing = 0;
  bool isFile = false, isLink = false;
};

// Refuses the folder of `d` where this user may not add or take files.
void RequireWritableFolder(const Destination& d) {
  if ((d.folderInfo.st_mode & kWriteBits) == 0) throw FromErrno(EROFS, d.folder);
  if (::access(d.folder.c_str(), W_OK | X_OK) != 0) throw FromErrno(errno, d.folder, Platform::kErrPathNotFound);
}

}  // namespace

void detail::RemoveStaleTemporaries(const std::string& folder, const std::string& destinationName) {
  const std::string prefix = destinationName.empty() ? "." : TempPrefix(destinationName);
  ForEachEntry(folder, [&](const std::string& path, const std::string& name, const struct stat& info) {
    if (!S_ISREG(info.st_mode) || !name.starts_with(prefix) || name.find(kTempMarker) == std::string::npos) return;
    Descriptor candidate(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (candidate.Get() >= 0 && TryLockRange(candidate.Get(), kLiveByte, 1)) ::unlink(path.c_str());
  });
}

bool SameBytes(const std::string& a, const std::string& b) {
  Descriptor x(::open(a.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (x.Get() < 0) throw FromErrno(errno, a);
  Descriptor y(::open(b.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  // Missing, or a link: not the same file. Any other failure cannot tell.
  if (y.Get() < 0 && errno != ENOENT && errno != ELOOP && errno != ENOTDIR) throw FromErrno(errno, b);
  struct stat ai {}, bi {};
  if (y.Get() < 0 || ::fstat(x.Get(), &ai) != 0 || ::fstat(y.Get(), &bi) != 0 || !S_ISREG(bi.st_mode) ||
      !S_ISREG(ai.st_mode) || ai.st_size != bi.st_size ||
      static_cast<std::uint64_t>(bi.st_size) > kMostCarrierFileBytes)
    return false;
  std::vector<char> bytesA(kChunkSize), bytesB(kChunkSize);
  for (off_t at = 0; at < bi.st_size;) {
    const ssize_t n = ::pread(x.Get(), bytesA.data(), bytesA.size(), at);
    if (n < 0) throw FromErrno(errno, a);
    if (n == 0) return false;
    const ssize_t m = ::pread(y.Get(), bytesB.data(), static_cast<std::size_t>(n), at);
    if (m < 0) throw FromErrno(errno, b);
    if (m != n || std::memcmp(bytesA.data(), bytesB.data(), static_cast<std::size_t>(n)) != 0) return false;
    at += n;
  }
  return true;
}

struct StagedCopy::State {
  Destination destination;
  Temporary temporary;
  InUseLocks locks;
  std::optional<Temporary> backup;
};

StagedCopy::StagedCopy(const std::string& source, const std::string& destination, const InUseLocks& locks)
    : destination_(destination) {
  struct stat sourceInfo {};
  if (::stat(source.c_str(), &sourceInfo) != 0) throw FromErrno(ENOENT, source);
  if (!S_ISREG(sourceInfo.st_mode)) throw NotAFile(source, sourceInfo.st_mode);
  Destination d(destination);
  if (d.isFile && ::access(destination.c_str(), W_OK) != 0) throw FromErrno(errno, destination);
  existed_ = d.isFile || d.isLink;
  if (d.isFile && d.info.st_dev == sourceInfo.st_dev && d.info.st_ino == sourceInfo.st_ino) return;
  RequireWritableFolder(d);

  Descriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (input.Get() < 0) throw FromErrno(errno, source);
  // A destination in use is told here, where the step stands.
  { const Claim check(destination, d.isFile, locks); }
  RemoveStaleTemporaries(d.folder, d.name);
  // The mode passed to open() is filtered by the umask, as for any new file.
  Temporary temporary = MakeTemporary(d.folder, d.name, [](const std::string& path, int& fd) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    return fd >= 0;
  });
  if (d.isFile) {
    // Keep the replaced file's owner (only root may give it away) and mode.
    [[maybe_unused]] const int ignored = ::fchown(temporary.File(), d.info.st_uid, d.info.st_gid);
    if (::fchmod(temporary.File(), d.info.st_mode & 07777) != 0) throw FromErrno(errno, destination);
  }
  CopyData(input.Get(), temporary.File(), source, destination);
  // Already in place, with nothing beside it that could be played back.
  const bool leftovers = std::any_of(locks.sidecars.begin(), locks.sidecars.end(), [&](const char* suffix) {
    struct stat info {};
    return ::lstat((destination + suffix).c_str(), &info) == 0;
  });
  if (d.isFile && !leftovers && SameBytes(temporary.Path(), destination)) return;
  state_ = std::make_unique<State>(State{std::move(d), std::move(temporary), locks, std::nullopt});
}

StagedCopy::~StagedCopy() = default;

std::string StagedCopy::Path() const { return state_ && !placed_ ? state_->temporary.Path() : destination_; }

void StagedCopy::Place() {
  if (!state_ || placed_) return;
  const Destination& d = state_->destination;
  const Claim claim(destination_, d.isFile, state_->locks);
  // The old file stays reachable until the run settles.
  if (d.isFile || d.isLink) {
    state_->backup.emplace(MakeTemporary(d.folder, d.name, [&](const std::string& path, int& fd) {
      if (::link(destination_.c_str(), path.c_str()) != 0) return false;
      fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
      return true;
    }));
  }
  // The leftovers go first, so that they are never seen with the new file.
  RemoveSidecars(destination_, state_->locks);
  state_->temporary.RenameTo(destination_);
  placed_ = true;
  SyncFolder(d.folder);
}

void StagedCopy::Restore() {
  if (!state_ || !placed_) return;
  if (state_->backup)
    state_->backup->RenameTo(destination_);
  else
    RemoveIfThere(destination_);
  placed_ = false;
  SyncFolder(state_->destination.folder);
}

void StagedCopy::Settle() {
  if (state_) state_->backup.reset();
}

void CopyFileChecked(const std::string& source, const std::string& destination, const InUseLocks& locks) {
  StagedCopy copy(source, destination, locks);
  copy.Place();
  copy.Settle();
}

void RemoveFileChecked(const std::string& path, const InUseLocks& locks) {
  const Destination d(path);
  if (d.missing == ENOENT) return;
  if (d.missing != 0) throw FromErrno(d.missing, path);
  if (d.isLink) throw AccessError(Quoted(path) + " is a symbolic link");
  RequireWritableFolder(d);
  const Claim claim(path, true, locks);
  RemoveSidecars(path, locks);
  RemoveIfThere(path);
  SyncFolder(d.folder);
}

void testing::SetCopyWriteFault(WriteFault fault) { copyWriteFault = std::move(fault); }
std::size_t testing::CopyChunkSize() { return kChunkSize; }

}  // namespace Files_
