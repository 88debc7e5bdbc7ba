// Test seams of Files_: a copy that fails part-way, as on a full disk or a
// failing device, and shorter waits. Not for the program.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace Files_::testing {

// Called before each chunk of a copy is written, with the bytes written so
// far; a non-zero answer (an errno value such as ENOSPC or EIO) makes that
// write fail with it. An empty function removes the fault.
using WriteFault = std::function<int(std::uint64_t bytesWritten)>;
void SetCopyWriteFault(WriteFault fault);

// The size of the chunks the copy loop reads and writes.
std::size_t CopyChunkSize();

// How long FolderLock waits for another holder (a minute unless set) and a
// copy for a destination in use (five seconds unless set).
void SetWaits(std::chrono::milliseconds folderLock, std::chrono::milliseconds inUse);

}  // namespace Files_::testing
