#include "platform/file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

const char directory_separator = '/';

namespace {

// Opening a FIFO releases a writer that waits on it (and drops what it then
// writes), and opening a device can have effects of its own, so the path is
// judged before it is opened and only a regular file is opened. The open
// must then give that same file: the name may have been swapped in between.
// O_NONBLOCK still keeps such a swap from hanging the run on the open.
int open_regular_file(const char *path, std::uint64_t &size)
{
    struct stat named;
    if (stat(path, &named) != 0 || !S_ISREG(named.st_mode))
        return -1;
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat opened;
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino || opened.st_size < 0) {
        close(fd);
        return -1;
    }
    size = static_cast<std::uint64_t>(opened.st_size);
    return fd;
}

constexpr std::size_t huge_page = std::size_t{2} << 20;

struct read_buffer {
    char *data = nullptr;
    void *mapping = MAP_FAILED;
    std::size_t mapped = 0;
};

// Fresh memory is costly to fault in page by page on some systems (in a
// virtual machine here, reading 5 MB into a new buffer of 4 KiB pages took
// more than twice as long as the same read into huge pages), so a buffer of
// a huge page or more is aligned to one and advised to use them. The advice
// may be ignored; the buffer works either way.
bool reserve_buffer(std::size_t size, read_buffer &buffer)
{
    const bool large = size >= huge_page;
    const std::size_t length = large ? (size + huge_page - 1) / huge_page * huge_page : size;
    buffer.mapped = large ? length + huge_page : length;
    buffer.mapping = mmap(nullptr, buffer.mapped, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (buffer.mapping == MAP_FAILED)
        return false;
    buffer.data = static_cast<char *>(buffer.mapping);
    if (large) {
        const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(buffer.data);
        buffer.data += (huge_page - start % huge_page) % huge_page;
#ifdef MADV_HUGEPAGE
        madvise(buffer.data, length, MADV_HUGEPAGE);
#endif
    }
    return true;
}

// Reads exactly `want` bytes unless the file ends or fails first; returns
// how many arrived. Linux hands over a regular file in one read; the loop
// is for signals and for systems that give less at a time.
std::size_t read_fully(int fd, char *into, std::size_t want)
{
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = read(fd, into + got, want - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

}  // namespace

read_result read_file_in_windows(const char *path, std::size_t buffer_size,
                                 window_consumer consume, void *context)
{
    std::uint64_t size = 0;
    const int fd = open_regular_file(path, size);
    if (fd < 0)
        return read_result::not_opened;

    read_result result = read_result::done;
    read_buffer buffer;
    const std::size_t capacity = size < buffer_size ? static_cast<std::size_t>(size) : buffer_size;
    if (capacity > 0 && !reserve_buffer(capacity, buffer))
        result = read_result::short_read;
    for (std::uint64_t left = size; left > 0 && result == read_result::done;) {
        const std::size_t want = left < capacity ? static_cast<std::size_t>(left) : capacity;
        const std::size_t got = read_fully(fd, buffer.data, want);
        if (got < want)
            result = read_result::short_read;
        else
            consume({buffer.data, got}, context);
        left -= got;
    }
    if (buffer.mapping != MAP_FAILED)
        munmap(buffer.mapping, buffer.mapped);
    close(fd);
    return result;
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

std::string unreadable_file_reason(const char *path)
{
    // stat and access name the same faults an open would meet, without the
    // open that would release a FIFO's waiting writer.
    struct stat named;
    if (stat(path, &named) != 0)
        return std::strerror(errno);
    if (!S_ISREG(named.st_mode))
        return "not a regular file";
    if (faccessat(AT_FDCWD, path, R_OK, AT_EACCESS) != 0)
        return std::strerror(errno);
    return "could not be opened";
}
