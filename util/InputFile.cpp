// Files_::InputFile: a text file read line by line in bounded memory.
#include <algorithm>

#include "Files_detail.h"

namespace Files_ {

using namespace detail;

void InputFile::Open(const std::string& path) {
  // O_NONBLOCK, so that a pipe cannot hold the program up; a file it leaves alone.
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.Get() < 0 && (errno == ENOENT || errno == ENOTDIR)) throw FromErrno(ENOENT, path);
  if (file.Get() < 0) throw AccessError(Quoted(path) + " cannot be read");
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) throw NotAFile(path, info.st_mode);
  fd_ = std::move(file);
  path_ = path;
  buffer_.resize(kChunkSize);
  begin_ = end_ = 0;
}

bool InputFile::Fill() {
  if (begin_ < end_) return true;
  for (;;) {
    const ssize_t count = ::read(fd_.Get(), buffer_.data(), buffer_.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) throw FromErrno(EIO, path_);
    begin_ = 0;
    end_ = static_cast<std::size_t>(count);
    return count > 0;
  }
}

bool InputFile::AtEnd() { return !IsOpen() || !Fill(); }

std::string InputFile::ReadLine() {
  if (AtEnd()) throw RunError(Platform::kErrInputPastEnd, "Input past end of file: " + Quoted(path_) + ".");
  std::string line;
  while (Fill()) {
    const char* from = buffer_.data() + begin_;
    const char* to = buffer_.data() + end_;
    const char* stop = std::find_if(from, to, [](char c) { return c == '\r' || c == '\n'; });
    const auto take = static_cast<std::size_t>(stop - from);
    if (line.size() + take > kMostLineBytes)
      throw AccessError(Quoted(path_) + " holds a line longer than " + std::to_string(kMostLineBytes) + " bytes");
    line.append(from, take);
    begin_ += take;
    if (stop == to) continue;
    ++begin_;  // the terminator
    if (*stop == '\r' && Fill() && buffer_[begin_] == '\n') ++begin_;
    break;
  }
  return line;
}

void InputFile::Close() {
  if (!IsOpen()) return;
  buffer_ = std::vector<char>();
  if (::close(fd_.Release()) != 0)
    throw RunError(kErrDeviceIo, "Device I/O error: " + Quoted(path_) + " could not be closed.");
}

bool CloseFile(InputFile& file) {
  try {
    file.Close();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace Files_
