// Small operations on files and paths: whether a file is there, copying a
// file with a report to the operator, reading a text file line by line,
// and taking a path apart at the platform's separator.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace Files_ {

// True exactly when `path` names an existing ordinary file (a symbolic link
// to one counts; a folder, a missing path and the empty text do not). When
// the file is not there and `report` is true, shows the exclamation box
// "AddTarnVel has failed to locate the '<path>' file...". Never throws.
bool LocateFile(const std::string& path, bool report);

// Copies `source` over `destination` without ever leaving a half-written
// destination: the data goes to a temporary file in the destination's
// folder, is flushed to disk, and is then renamed over the destination.
// On any failure the destination is left exactly as it was and no
// temporary file stays behind; temporaries left by a killed earlier copy
// to the same destination are removed. A replaced destination keeps its
// permission bits; a destination that is a symbolic link keeps pointing at
// the file it names, which gets the new data. A destination whose
// permission bits allow no writing (or in a folder whose bits allow none)
// is refused even for root. Copying a file onto itself changes nothing.
// Answers whether the destination is there afterwards. The error outputs
// are written on every return (0 and empty on success; 53 missing source,
// 76 missing destination folder, 70 refused destination or folder, 75 a
// folder where a file is meant, 61 disk full, 57 device error, each naming
// the path). When an error occurred and `report` is true, shows the
// information box "Can't Copy a File ...". Never throws.
bool CopyFileChecked(const std::string& source, const std::string& destination, std::string& errorDescription,
                     std::int32_t& errorNumber, bool report);

// A text file opened for sequential reading. A line ends at CR, CR LF or
// LF; the terminator is not part of the line. Lines are returned as the
// file's bytes (8-bit text).
class InputFile {
 public:
  InputFile() = default;
  // Opens `path`; throws Platform::RunError 53 when it is missing, 75 when
  // it cannot be read (a folder, no permission).
  void Open(const std::string& path);
  bool IsOpen() const { return stream_.is_open(); }
  // True when no further line can be read.
  bool AtEnd();
  // Reads the next line; throws Platform::RunError 62 past the end.
  std::string ReadLine();
  void Close();

 private:
  std::ifstream stream_;
  std::string path_;
};

// Closes the file (also one never opened); true when no error was raised.
bool CloseFile(InputFile& file);

// The part of `path` after its last separator; empty when it has none or
// ends with one.
std::string LastPathPart(const std::string& path);

// The folder that holds the file named by `path`: the path less its final
// separator and what follows it. "/shop/shop" gives "/shop", "/srv/m/"
// gives "/srv/m", "/m.mdb" gives "/" (the root, never the empty text), and
// a path without a separator gives ".".
std::string FolderOfPath(const std::string& path);

}  // namespace Files_
