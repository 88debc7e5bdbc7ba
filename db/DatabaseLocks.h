// SQLite's own marks of a database in use, as the file routines need them
// to tell one that another program has open: a connection reading or
// writing the file holds a lock in its pending, reserved and shared bytes,
// and every connection in WAL mode holds a read lock on byte 128 of the
// -shm file. A rollback journal, write-ahead log or shared-memory file that
// nobody holds is left over from a writer that died.
#pragma once

#include "Files_.h"

namespace Db {

inline constexpr const char* kDatabaseSidecars[] = {"-journal", "-wal", "-shm"};
inline constexpr Files_::InUseLocks kDatabaseLocks{
    .start = 0x40000000, .length = 2 + 510, .shared = "-shm", .sharedByte = 128, .sidecars = kDatabaseSidecars};

}  // namespace Db
