// Reading files, the only way the program touches the file system. Kept free
// of any system type so that the rest of the program builds unchanged on every
// platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

// Joins a folder and a file name: '/' on POSIX, '\\' on Windows.
extern const char directory_separator;

struct file_bytes {
    std::unique_ptr<char[]> data;  // allocated once, to the file's size
    std::size_t size = 0;

    std::string_view view() const { return {data.get(), size}; }
};

// Makes room for `size` bytes in `out` with one allocation. False when the
// address space or the memory cannot hold them: a read that cannot complete.
bool allocate_file_bytes(std::uint64_t size, file_bytes &out);

enum class read_result { done, not_opened, short_read };

// Reads the regular file at `path` whole into `out`, with one allocation of
// the size the file system reports and, for any ordinary file, one read.
// not_opened: the path is absent, unreadable, not a regular file (a folder,
// FIFO or device; the open never blocks), or its size cannot be learned.
// short_read: fewer bytes arrived than the size promised, a read failed, or
// no memory could be had for the size; `out` is then not to be used.
read_result read_whole_file(const char *path, file_bytes &out);

// True when `path` is a regular file that can be opened for reading. Reads
// nothing and never blocks.
bool regular_file_opens(const char *path);
