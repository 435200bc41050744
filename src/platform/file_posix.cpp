#include "platform/file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
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
// `opened` receives what fstat found of the opened file; on -1, `why` (when
// given) the reason, as open_for_reading words it.
int open_regular_file(const char *path, struct stat &opened, std::string *why)
{
    const auto refuse = [why](const char *reason) {
        if (why)
            *why = reason;
        return -1;
    };
    struct stat named;
    if (stat(path, &named) != 0)
        return refuse(std::strerror(errno));
    if (!S_ISREG(named.st_mode))
        return refuse("not a regular file");
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return refuse(std::strerror(errno));
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino || opened.st_size < 0) {
        close(fd);
        return refuse("could not be opened");
    }
    return fd;
}

// In nanoseconds: a writer that rewrites the file within the second it was
// opened still changes it.
std::int64_t modified_of(const struct stat &status)
{
    return static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
}

constexpr std::size_t huge_page = std::size_t{2} << 20;

std::size_t mapped_length(std::size_t size)
{
    return size >= huge_page ? (size + huge_page - 1) / huge_page * huge_page : size;
}

}  // namespace

bool open_for_reading(const char *path, open_file &file, std::string *why)
{
    struct stat opened;
    const int fd = open_regular_file(path, opened, why);
    file.handle = fd;
    if (fd < 0)
        return false;
    file.size = static_cast<std::uint64_t>(opened.st_size);
    file.modified = modified_of(opened);
    return true;
}

// Linux hands over a regular file in one read; the loop is for signals and
// for systems that give less at a time.
std::size_t read_at(open_file &file, std::uint64_t offset, char *into, std::size_t want)
{
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = pread(static_cast<int>(file.handle), into + got, want - got,
                                static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

bool file_unchanged(const open_file &file)
{
    struct stat now;
    return fstat(static_cast<int>(file.handle), &now) == 0 &&
           static_cast<std::uint64_t>(now.st_size) == file.size && modified_of(now) == file.modified;
}

void close_file(open_file &file)
{
    if (file.handle >= 0)
        close(static_cast<int>(file.handle));
    file.handle = -1;
}

// Fresh memory is costly to fault in page by page on some systems (in a
// virtual machine here, reading 5 MB into a new buffer of 4 KiB pages took
// more than twice as long as the same read into huge pages), so a buffer of
// a huge page or more is aligned to one and advised to use them. The advice
// may be ignored; the buffer works either way. The mapping is trimmed to the
// aligned part, so that the release needs only the size.
char *reserve_read_buffer(std::size_t size)
{
    const std::size_t length = mapped_length(size);
    const std::size_t slack = length >= huge_page ? huge_page : 0;
    void *mapping = mmap(nullptr, length + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return nullptr;
    char *const start = static_cast<char *>(mapping);
    if (slack == 0)
        return start;
    const std::size_t head = (huge_page - reinterpret_cast<std::uintptr_t>(start) % huge_page) % huge_page;
    if (head > 0)
        munmap(start, head);
    if (slack - head > 0)
        munmap(start + head + length, slack - head);
#ifdef MADV_HUGEPAGE
    madvise(start + head, length, MADV_HUGEPAGE);
#endif
    return start + head;
}

void release_read_buffer(char *buffer, std::size_t size)
{
    if (buffer)
        munmap(buffer, mapped_length(size));
}

unsigned usable_processors()
{
#ifdef CPU_COUNT
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
#endif
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 1 ? static_cast<unsigned>(online) : 1;
}

bool regular_file_opens(const char *path, std::string *why)
{
    struct stat opened;
    const int fd = open_regular_file(path, opened, why);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}
