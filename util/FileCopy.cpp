// Files_::StagedCopy, RemoveFileChecked and SameBytes: a file replaced or
// removed whole, never while another program uses it, never through a link.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "AppInfo.h"
#include "Files_.h"
#include "Files_detail.h"
#include "Files_testing.h"

namespace Files_ {

using namespace detail;

namespace {

namespace fs = std::filesystem;

constexpr char kTempMarker[] = ".atv-tmp-";
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
// A live temporary file holds a lock on this byte, far past the lock bytes
// of any InUseLocks, so that a backup of a database someone still has open
// can be marked live without holding that program up.
constexpr off_t kLiveByte = off_t{1} << 40;

testing::WriteFault& CopyWriteFault() {
  static testing::WriteFault fault;
  return fault;
}

RunError InUse(const std::string& path) {
  return RunError(Platform::kErrPermissionDenied,
                  "Permission denied: " + Quoted(path) + " is in use by another program.");
}

// The right to replace or remove a file, held while it lives: nobody else
// uses it, and nobody can start to until it dies, since the lock bytes that
// `locks` names are held here. A link is not opened for this: only its
// target could be in use, and the link alone is replaced.
class Claim {
 public:
  Claim(const std::string& path, bool regularFile, const InUseLocks& locks) : path_(path), locks_(locks) {
    if (regularFile) {
      file_ = Descriptor(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
      if (file_.Get() < 0 && errno != ENOENT) throw FromErrno(errno, path);
    } else {
      // The link's target, if someone is using it, is left alone; waiting
      // for it keeps a live transaction's journal intact.
      Descriptor target(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
      if (target.Get() >= 0 &&
          !Retry(InUseWait(), [&] { return !RangeIsLocked(target.Get(), locks.start, locks.length); }))
        throw InUse(path);
    }
    shared_ = Descriptor(::open((path + locks.shared).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    const bool free = Retry(InUseWait(), [&] {
      return (file_.Get() < 0 || TryLockRange(file_.Get(), locks.start, locks.length)) &&
             (shared_.Get() < 0 || TryLockRange(shared_.Get(), locks.sharedByte, 1));
    });
    if (!free) throw InUse(path);
  }

  // Removes what the users keep beside the file. Nobody holds them (the
  // locks say so), so they are left over from one that died; played back
  // into a new file they would damage it.
  void RemoveSidecars() const {
    for (const char* suffix : locks_.sidecars) {
      const std::string path = path_ + suffix;
      if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw FromErrno(errno, path);
    }
  }

 private:
  std::string path_;
  InUseLocks locks_;
  Descriptor file_;
  Descriptor shared_;
};

// The temporary file of one copy: locked while it lives, so that no other
// copy takes it for a leftover, and removed when it dies unless it was
// renamed over the destination.
class TemporaryFile {
 public:
  TemporaryFile(std::string path, int fd) : path_(std::move(path)), descriptor_(fd) {
    TryLockRange(fd, kLiveByte, 1);
  }
  ~TemporaryFile() {
    if (!kept_) ::unlink(path_.c_str());
  }
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

// Makes a new entry under a fresh temporary name of `destinationName` in
// `folder` with `make(path)`, which answers false only when the name is
// taken (errno EEXIST); answers the path.
template <class Make>
std::string MakeTemporary(const std::string& folder, const std::string& destinationName, Make&& make) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    std::string path = folder + Platform::AppInfo::PathSeparator() + TempPrefix(destinationName) + suffix;
    if (make(path)) return path;
    if (errno != EEXIST) throw FromErrno(errno, folder, Platform::kErrPathNotFound);
  }
  throw AccessError(Quoted(folder) + ": no temporary name");
}

// Writes all of `data` to `fd`, as the test seam lets it.
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

// Makes a rename or removal durable. A folder that cannot be synced (some
// file systems refuse) still holds the complete result, so a failure here
// is not reported.
void SyncFolder(const std::string& folder) {
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0) ::fsync(dir.Get());
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
    if (file_.Get() >= 0) TryLockRange(file_.Get(), kLiveByte, 1);
  }
  ~Backup() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  // Puts the old file back under `destination`.
  void Restore(const std::string& destination) {
    if (::rename(path_.c_str(), destination.c_str()) != 0) throw FromErrno(errno, destination);
    path_.clear();
  }

 private:
  std::string path_;
  Descriptor file_;
};

// What is at the path a copy replaces or a removal takes away, with its
// folder and name. `missing` is the errno of a failed look at it.
struct Destination {
  std::string path, folder, name;
  struct stat info {}, folderInfo {};
  int missing = 0;
  bool isFile = false, isLink = false;
};

// Looks at `path`, which must name a file in an existing folder; a folder
// or other non-file there is refused, and so is a file whose permission
// bits allow no writing (checked by hand, because root passes every access
// check and would otherwise replace files marked read-only).
Destination Inspect(const std::string& path) {
  Destination d;
  d.path = path;
  if (path.empty() || path.back() == Platform::AppInfo::PathSeparator())
    throw AccessError(Quoted(path) + " names no file");
  d.folder = FolderOfPath(path);
  if (::stat(d.folder.c_str(), &d.folderInfo) != 0 || !S_ISDIR(d.folderInfo.st_mode)) throw PathNotFound(d.folder);
  d.name = NameOf(path);
  if (::lstat(path.c_str(), &d.info) != 0) d.missing = errno;
  d.isLink = d.missing == 0 && S_ISLNK(d.info.st_mode);
  d.isFile = d.missing == 0 && !d.isLink;
  if (d.isFile && !S_ISREG(d.info.st_mode)) throw NotAFile(path, d.info.st_mode);
  if (d.isFile && (d.info.st_mode & kWriteBits) == 0) throw ReadOnly(path);
  return d;
}

// Refuses the folder of `d` when this user may not add files to it or take
// them from it (by its bits, even for root).
void RequireWritableFolder(const Destination& d) {
  if ((d.folderInfo.st_mode & kWriteBits) == 0) throw ReadOnly(d.folder);
  if (::access(d.folder.c_str(), W_OK | X_OK) != 0) throw FromErrno(errno, d.folder, Platform::kErrPathNotFound);
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

// A copy that was killed leaves its temporary file behind; its name tells
// which destination it belonged to, so the next copy there sweeps it away
// (every destination's, when `destinationName` is empty). One that a live
// copy holds locked is not a leftover and stays.
void detail::RemoveStaleTemporaries(const std::string& folder, const std::string& destinationName) {
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
    if (candidate.Get() >= 0 && TryLockRange(candidate.Get(), kLiveByte, 1)) ::unlink(path.c_str());
  }
}

bool SameBytes(const std::string& a, const std::string& b) {
  Descriptor file(::open(a.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (file.Get() < 0) throw FromErrno(errno, a);
  return SameBytes(file.Get(), a, b);
}

struct StagedCopy::State {
  Destination destination;
  TemporaryFile temporary;
  InUseLocks locks;
  std::unique_ptr<Backup> backup;
};

StagedCopy::StagedCopy(const std::string& source, const std::string& destination, const InUseLocks& locks)
    : destination_(destination) {
  struct stat sourceInfo {};
  if (source.empty() || ::stat(source.c_str(), &sourceInfo) != 0) throw FileNotFound(source);
  if (!S_ISREG(sourceInfo.st_mode)) throw NotAFile(source, sourceInfo.st_mode);
  Destination d = Inspect(destination);
  if (d.isFile && ::access(destination.c_str(), W_OK) != 0) throw FromErrno(errno, destination);
  existed_ = d.isFile || d.isLink;
  // A copy onto itself changes nothing.
  if (d.isFile && d.info.st_dev == sourceInfo.st_dev && d.info.st_ino == sourceInfo.st_ino) return;
  RequireWritableFolder(d);

  Descriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (input.Get() < 0) throw FromErrno(errno, source);
  // A destination in use is told here, where the step stands; it is
  // claimed again when the copy takes its place.
  { const Claim check(destination, d.isFile, locks); }
  RemoveStaleTemporaries(d.folder, d.name);
  int fd = -1;
  // The mode passed to open() is filtered by the umask, as for any new file.
  std::string path = MakeTemporary(d.folder, d.name, [&](const std::string& name) {
    fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    return fd >= 0;
  });
  TemporaryFile temporary(std::move(path), fd);
  if (d.isFile) {
    // Keep the replaced file's owner (only root may give it away) and mode.
    [[maybe_unused]] const int ignored = ::fchown(temporary.File(), d.info.st_uid, d.info.st_gid);
    if (::fchmod(temporary.File(), d.info.st_mode & 07777) != 0) throw FromErrno(errno, destination);
  }
  CopyData(input.Get(), temporary.File(), source, destination);
  // Already in place, and nothing left beside it that could be played back
  // into it.
  const bool leftovers = std::any_of(locks.sidecars.begin(), locks.sidecars.end(), [&](const char* suffix) {
    struct stat info {};
    return ::lstat((destination + suffix).c_str(), &info) == 0;
  });
  if (d.isFile && !leftovers && SameBytes(temporary.File(), temporary.Path(), destination)) return;
  state_ = std::make_unique<State>(State{std::move(d), std::move(temporary), locks, nullptr});
}

StagedCopy::~StagedCopy() = default;

std::string StagedCopy::Path() const { return state_ && !placed_ ? state_->temporary.Path() : destination_; }

void StagedCopy::Place() {
  if (!state_ || placed_) return;
  const Destination& d = state_->destination;
  const Claim claim(d.path, d.isFile, state_->locks);
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

void RemoveFileChecked(const std::string& path, const InUseLocks& locks) {
  const Destination d = Inspect(path);
  if (d.missing == ENOENT) return;
  if (d.missing != 0) throw FromErrno(d.missing, path);
  if (d.isLink) throw AccessError(Quoted(path) + " is a symbolic link");
  RequireWritableFolder(d);
  const Claim claim(path, true, locks);
  claim.RemoveSidecars();
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw FromErrno(errno, path);
  SyncFolder(d.folder);
}

void testing::SetCopyWriteFault(WriteFault fault) { CopyWriteFault() = std::move(fault); }
std::size_t testing::CopyChunkSize() { return kChunkSize; }

}  // namespace Files_
