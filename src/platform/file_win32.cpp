#include "platform/file.h"

#include <cstdint>
#include <windows.h>

const char directory_separator = '\\';

namespace {

// No sharing: while the job that writes the dump still holds it, the open
// fails and the run reports the dump as not found rather than counting half
// a listing; and nobody can change the file while it is read.
//
// Without FILE_FLAG_BACKUP_SEMANTICS, CreateFileA refuses to open a folder
// (access denied), so a folder is not found without a test of our own. A
// device or pipe opens, though, and is refused here: reading one could block.
HANDLE open_regular_file(const char *path)
{
    const HANDLE file = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Far more than any netstat listing, so a real dump takes one read; ReadFile
// takes a 32-bit count, so a larger file comes in pieces of this size.
constexpr DWORD bytes_per_read = 5000000;

}  // namespace

read_result read_whole_file(const char *path, file_bytes &out)
{
    const HANDLE file = open_regular_file(path);
    if (file == INVALID_HANDLE_VALUE)
        return read_result::not_opened;

    // INVALID_FILE_SIZE is also the low half of some valid sizes; only the
    // error code tells them apart.
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        CloseHandle(file);
        return read_result::not_opened;
    }
    const std::uint64_t size = (static_cast<std::uint64_t>(high) << 32) | low;

    if (!allocate_file_bytes(size, out)) {
        CloseHandle(file);
        return read_result::short_read;
    }

    std::size_t got = 0;
    while (got < out.size) {
        const std::size_t left = out.size - got;
        const DWORD want = left < bytes_per_read ? static_cast<DWORD>(left) : bytes_per_read;
        DWORD arrived = 0;
        if (!ReadFile(file, out.data.get() + got, want, &arrived, NULL) || arrived == 0)
            break;
        got += arrived;
    }
    CloseHandle(file);
    return got < out.size ? read_result::short_read : read_result::done;
}

bool regular_file_opens(const char *path)
{
    const HANDLE file = open_regular_file(path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}
