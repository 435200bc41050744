// Reading files, the only way the program touches the file system. Kept free
// of any system type so that the rest of the program builds unchanged on every
// platform.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Joins a folder and a file name: '/' on POSIX, '\\' on Windows.
extern const char directory_separator;

enum class read_result { done, not_opened, short_read };

// Receives the file's bytes one window at a time, in order. The window's
// bytes are valid only during the call.
using window_consumer = void (*)(std::string_view window, void *context);

// Reads the regular file at `path` from start to end through one buffer of
// `buffer_size` bytes, or of the file's size when that is smaller, reserved
// once for the call: a file that fits is read with a single read, a larger
// one window after window through the same buffer. Each window goes to
// `consume` as soon as it has arrived; nothing stays open after the return.
// not_opened: the path is absent, unreadable, not a regular file (a folder,
// FIFO, device or pipe, which is found out before it is opened where the
// system allows: POSIX opens nothing but a regular file), or its size
// cannot be learned. The open never blocks.
// short_read: fewer bytes arrived than the size found at the open (a read
// failed, or the file shrank), or the buffer could not be had; the windows
// consumed so far are then not the whole file.
read_result read_file_in_windows(const char *path, std::size_t buffer_size,
                                 window_consumer consume, void *context);

// True when `path` is a regular file that can be opened for reading. Reads
// nothing, never blocks, and on POSIX opens nothing but a regular file.
bool regular_file_opens(const char *path);

// Why `path` cannot be read as a regular file, in words for a person, asked
// after one of the calls above has refused it: the system's own text for the
// first fault found (as strerror or FormatMessage word it, such as "No such
// file or directory" or "Permission denied"), or "not a regular file" for a
// folder, FIFO, device or pipe. It looks at the path afresh, so a path that
// changed since gives its new state, and one in which it finds no fault
// gives "could not be opened". Reads nothing and never blocks; on POSIX it
// opens nothing, on Windows only what the refused call had opened.
std::string unreadable_file_reason(const char *path);
