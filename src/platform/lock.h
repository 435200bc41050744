// A lock between runs that the system releases when the process ends,
// however it ends: a run killed at any moment never stops the next one.
#pragma once

#include <cstdint>
#include <string>

struct held_lock {
    std::intptr_t handle = -1;
};

// Takes the lock of the file at `path`, making the file if it is missing
// (it is left in place afterwards), and waits `seconds` at most while
// another process holds it. POSIX: flock on the file; Windows: LockFileEx.
// False, with nothing held: the wait ran out (`failure` says "held by
// another run"), or the file cannot be made or opened (the system's words).
bool take_lock(const std::string &path, unsigned seconds, held_lock &lock, std::string &failure);

void release_lock(held_lock &lock);
