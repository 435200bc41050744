#include "platform/lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

// flock, not fcntl: rrdtool's own fcntl locks on the database never meet
// it, and the kernel drops it with the last descriptor, so a run killed at
// any moment leaves nothing held. Opened for reading, which flock needs
// alone: a lock file that root's run made stays usable by the user's.
bool take_lock(const std::string &path, unsigned seconds, held_lock &lock, std::string &failure)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        failure = path + ": " + std::strerror(errno);
        return false;
    }
    const struct timespec pause = {0, 50'000'000};
    for (unsigned tries = 0; tries <= seconds * 20; ++tries) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            lock.handle = fd;
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        nanosleep(&pause, nullptr);
    }
    failure = errno == EWOULDBLOCK ? path + ": held by another run for " + std::to_string(seconds) + " s"
                                   : path + ": " + std::strerror(errno);
    close(fd);
    return false;
}

void release_lock(held_lock &lock)
{
    if (lock.handle >= 0)
        close(static_cast<int>(lock.handle));
    lock.handle = -1;
}
