// Files and paths: copying and removing a file another program may be
// using, the locks of one installation, reading a text file line by line,
// and taking a path apart at the platform's separator.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace Files_ {

namespace detail {

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

}  // namespace detail

// True exactly when `path` names an existing ordinary file (or a link to
// one). When it is not there and `report` is true, shows the exclamation
// box "AddTarnVel has failed to locate the '<path>' file...". Never throws.
bool LocateFile(const std::string& path, bool report);

// No carrier file is larger; a larger file is never read whole or copied.
inline constexpr std::uint64_t kMostCarrierFileBytes = 64 * 1024 * 1024;

// Whether the files at `a` and `b` hold the same bytes; read only when both are
// ordinary files of one size, at most kMostCarrierFileBytes, never waited on.
// Throws Platform::RunError when `a` cannot be opened or a read fails.
bool SameBytes(const std::string& a, const std::string& b);

// How the programs that share a file say that they use it: a lock on
// `length` bytes from `start` of the file, or on byte `sharedByte` of the
// file whose name is the path and `shared`; the path and each of `sidecars`
// name what a user that died left. The texts live as long as the program.
struct InUseLocks {
  std::int64_t start = 0;
  std::int64_t length = 0;
  const char* shared = "";
  std::int64_t sharedByte = 0;
  std::span<const char* const> sidecars;
};

// Copies `source` over `destination` in two steps, so that several files of
// one run take their places together, late, and can all be put back; the
// destination is never left half-written. Making the object does the
// checks, the wait for a destination in use, and the data in a temporary
// file in the destination's folder, flushed to disk. Place() renames it
// over the destination, keeping the replaced file under a temporary name;
// Restore() puts that back (or removes the new file where there was none);
// Settle() lets the old file go. Dying unplaced, it removes its temporary;
// placed, the new file stays, so `StagedCopy(...).Place()` copies at once.
// A link at the destination is itself replaced, never its target; a
// replaced file keeps its permission bits. Temporaries of a killed copy to
// the same destination are swept, a live copy's never.
//
// The rules of a destination, here and in RemoveFileChecked: nothing
// outside its folder is written or deleted. One that another process holds
// `locks` on is waited for up to five seconds, then refused; the sidecars
// that nobody holds go with it, so that nothing is played back into a new
// file. A file, or a folder, whose permission bits allow no writing is
// refused even for root. Each step throws Platform::RunError, leaving the
// destination as it was: 53 missing source, 76 missing folder, 70 refused
// or in use, 75 a folder or other non-file where a file is meant, 61 disk
// full, 57 device error, each naming the path.
class StagedCopy {
 public:
  StagedCopy(const std::string& source, const std::string& destination, const InUseLocks& locks);
  ~StagedCopy();

  bool Changes() const { return state_ != nullptr; }  // false: the destination is the source or holds its bytes
  bool Replaces() const { return existed_; }  // something was there before
  bool Placed() const { return placed_; }
  // The temporary file until placed, else the destination.
  std::string Path() const;
  void Place();
  void Restore();
  void Settle();

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::string destination_;
  bool existed_ = false;
  bool placed_ = false;
};

// A StagedCopy placed and settled at once, for a destination that nothing
// puts back; throws as StagedCopy does.
void CopyFileChecked(const std::string& source, const std::string& destination, const InUseLocks& locks);

// Removes the file at `path` by the rules of a destination (above); a
// symbolic link is refused, neither it nor its target removed. The removal
// is on disk when this returns; a path that names nothing is fine.
void RemoveFileChecked(const std::string& path, const InUseLocks& locks);

// The name of the file that holds a folder's installation lock.
inline constexpr char kFolderLockName[] = ".addtarnvel.lock";

// An exclusive lock among this program's installations on one folder, held
// while the object lives: a lock on the file kFolderLockName in the folder,
// made by the holder with mode 0600 and removed when it lets go, so a user
// who may only read the folder cannot hold an installation up. A dead
// holder's file is unlocked, and the next taker removes it. No database
// lock is touched. In a folder this user cannot add files to, nothing is
// locked. Taking it sweeps away the temporaries of copies whose run died.
// Waits up to a minute for another holder, with a status text while it
// waits, then throws Platform::RunError 70 naming the folder. Taken again
// by the same process for the same folder, it is shared.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder);

 private:
  std::shared_ptr<void> held_;  // the lock, shared with the folder's other holders
};

// A folder of this process's own in the system's temporary folder, named
// "addtarnvel-PURPOSE-XXXXXX", mode 0700. It goes with everything in it when
// the object dies, and when SIGTERM, SIGHUP or SIGINT ends the process; one
// left by a process killed otherwise goes with the user's next one. Throws
// Platform::RunError when none can be made.
class PrivateFolder {
 public:
  explicit PrivateFolder(const std::string& purpose);
  ~PrivateFolder();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  detail::Descriptor lock_;  // the folder, locked while this process lives
};

inline constexpr std::size_t kMostLineBytes = 1024 * 1024;  // a longer line is an error

// A file read line by line, in memory bounded by the longest line. A line
// ends at CR, CR LF or LF (not part of the line); it holds the file's bytes.
class InputFile {
 public:
  // Opens `path` without waiting on it; throws Platform::RunError 53 when
  // it is missing, 75 when it is not an ordinary file (a folder, a pipe, a
  // device) or cannot be read.
  void Open(const std::string& path);
  bool IsOpen() const { return fd_.Get() >= 0; }
  bool AtEnd();
  // Reads the next line; throws Platform::RunError 62 past the end, 75 for
  // a line longer than kMostLineBytes, 57 when the device fails.
  std::string ReadLine();
  void Close();

 private:
  bool Fill();  // false at the end
  detail::Descriptor fd_;
  std::string path_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// Closes the file (also one never opened); false when that failed.
bool CloseFile(InputFile& file);

// The part of `path` after its last separator; empty when it has none or
// ends with one. NameOf is the whole path when it has no separator.
std::string LastPathPart(const std::string& path);
std::string NameOf(const std::string& path);
// The file `name` in the folder of the file `path`.
std::string Beside(const std::string& path, const std::string& name);

// The path less its final separator and what follows: "/shop/shop" gives
// "/shop", "/srv/m/" "/srv/m", "/m.mdb" "/" (never the empty text), and a
// path without a separator ".".
std::string FolderOfPath(const std::string& path);

}  // namespace Files_
