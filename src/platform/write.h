// Writing files whole, for the kit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file.h"

// Every write goes to a new file that nobody else can have prepared, which
// then replaces the old one whole: a reader never sees half a file, and a
// symlink planted at the name is replaced, not written through.

// Creates a new file in `folder`, under a name that the system makes unique
// and that begins with `prefix` (POSIX: mkstemp, then mode 0644 whatever the umask;
// Windows: GetTempFileName), open for writing. `path` receives its name.
bool create_unique_file(const std::string &folder, const char *prefix, open_file &file,
                        std::string &path, std::string &failure);

// Writes all of `text` and, for write_done, puts it on disk and closes the
// file: any false (a full disk) leaves the file to be removed.
bool write_all(open_file &file, std::string_view text, std::string &failure);
bool write_done(open_file &file, std::string &failure);

// Renames `from` over `to` in one step (rename, MoveFileEx with
// MOVEFILE_REPLACE_EXISTING).
bool replace_file(const std::string &from, const std::string &to, std::string &failure);
void remove_file(const std::string &path);

// Makes `folder` and the folders above it that are missing; true when it is
// a folder afterwards.
bool make_folders(const std::string &folder, std::string &failure);

// True when anything (a file, a folder, a symlink, even a dangling one) is
// at `path`; `modified` receives its modification time in seconds since 1970.
bool path_exists(const std::string &path, std::int64_t *modified = nullptr);

// True when `path` is a symbolic link (POSIX) or another reparse point,
// such as a junction (Windows).
bool is_link(const std::string &path);

// The system's words for the last failed call of this thread (strerror of
// errno, FormatMessage of GetLastError).
std::string last_error_text();
