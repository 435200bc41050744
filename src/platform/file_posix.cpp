#include "platform/file.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char directory_separator = '/';

namespace {

// O_NONBLOCK keeps a FIFO or a device from hanging the run on open; the
// regular-file test that follows refuses them anyway.
int open_regular_file(const char *path, std::uint64_t &size)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        close(fd);
        return -1;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

}  // namespace

read_result read_whole_file(const char *path, file_bytes &out)
{
    std::uint64_t size = 0;
    const int fd = open_regular_file(path, size);
    if (fd < 0)
        return read_result::not_opened;

    if (!allocate_file_bytes(size, out)) {
        close(fd);
        return read_result::short_read;
    }

    // Linux hands over a regular file of up to 2 GiB in one read; the loop
    // is for larger files, signals, and systems that give less at a time.
    std::size_t got = 0;
    while (got < out.size) {
        const ssize_t n = read(fd, out.data.get() + got, out.size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    return got < out.size ? read_result::short_read : read_result::done;
}

bool regular_file_opens(const char *path)
{
    std::uint64_t size = 0;
    const int fd = open_regular_file(path, size);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}
