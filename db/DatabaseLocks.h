// SQLite's own marks of a database in use: a connection holds a lock in the
// file's pending, reserved and shared bytes, or, in WAL mode, on byte 128 of
// the -shm file. A journal, log or -shm file nobody holds is a dead writer's.
#pragma once

#include "Files_.h"

namespace Db {

inline constexpr const char* kDatabaseSidecars[] = {"-journal", "-wal", "-shm"};
inline constexpr Files_::InUseLocks kDatabaseLocks{
    .start = 0x40000000, .length = 2 + 510, .shared = "-shm", .sharedByte = 128, .sidecars = kDatabaseSidecars};

}  // namespace Db
