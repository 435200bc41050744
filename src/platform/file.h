// Reading files, the only way the program touches the file system. Kept free
// of any system type so that the rest of the program builds unchanged on every
// platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Joins a folder and a file name: '/' on POSIX, '\\' on Windows.
extern const char directory_separator;

// A file open for reading, and its size as found at the open.
struct open_file {
    std::intptr_t handle = -1;  // the system's handle or descriptor
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // the modification time, in the system's own unit
};

// Opens the regular file at `path` for reading and learns its size.
// False, with nothing left open: the path is absent, unreadable, not a
// regular file (a folder, FIFO, device or pipe, which is found out before it
// is opened where the system allows: POSIX opens nothing but a regular
// file), or its size cannot be learned. The open never blocks.
//
// On false, `why` (when given) receives the reason in words for a person:
// the system's own text for the fault the open met (as strerror or
// FormatMessage word it, such as "No such file or directory" or "Permission
// denied"), "not a regular file" for a folder, FIFO, device or pipe, or
// "could not be opened" when the file opened was not the one the path named
// a moment before, or its size could not be learned.
bool open_for_reading(const char *path, open_file &file, std::string *why = nullptr);

// Reads up to `want` bytes (at least 1) from `offset` on into `into`, and
// returns how many arrived: 0 when the file ends there or a read failed.
// Fewer than `want` is no failure in itself; a call from where it stopped
// says. Safe to call from several threads at once.
std::size_t read_at(open_file &file, std::uint64_t offset, char *into, std::size_t want);

void close_file(open_file &file);

// True when the open file's size and modification time are still those
// found at the open: false when a writer changed it while it was read.
bool file_unchanged(const open_file &file);

// `size` bytes (at least 1) to read into, or nullptr when the memory cannot
// be had. Released with the same size.
char *reserve_read_buffer(std::size_t size);
void release_read_buffer(char *buffer, std::size_t size);

// How many processors this process may run on (its affinity, as taskset or
// start /affinity set it), at least 1. A read-ahead thread pays only with
// two: on one, it takes turns with the scan and adds the switching.
unsigned usable_processors();

// True when `path` is a regular file that can be opened for reading. Reads
// nothing, never blocks, and on POSIX opens nothing but a regular file. On
// false, `why` (when given) receives the reason, as open_for_reading gives it.
bool regular_file_opens(const char *path, std::string *why = nullptr);
