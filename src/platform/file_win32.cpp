#include "platform/file.h"

#include <bit>
#include <cstdint>
#include <windows.h>

#include "platform/win32_text.h"

const char directory_separator = '\\';

namespace {

// No sharing: while the job that writes the dump still holds it, the open
// fails and the run reports the dump as not found rather than counting half
// a listing; and no other program can change the file while it is read
// (file_unchanged says who still can).
//
// Without FILE_FLAG_BACKUP_SEMANTICS, CreateFileA refuses to open a folder
// (access denied), so a folder is not found without a test of our own. A
// device or pipe opens, though, and is refused here: reading one could block.
//
// A path such as \\.\pipe\NAME opens a named pipe, whose server could
// otherwise act as the account running the program (SYSTEM, from the Task
// Scheduler): SECURITY_IDENTIFICATION lets it learn who we are and no more.
//
// On INVALID_HANDLE_VALUE, `why` (when given) receives the reason: the
// system's text for the open's error (a file held by another program: a
// sharing violation), or "not a regular file"; a folder, which the open
// refuses as access denied, is told apart afterwards.
HANDLE open_regular_file(const char *path, std::string *why)
{
    const HANDLE file =
        CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (why) {
            const DWORD attributes = error == ERROR_ACCESS_DENIED ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
            *why = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                       ? std::string("not a regular file")
                       : system_text(error);
        }
        return INVALID_HANDLE_VALUE;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        if (why)
            *why = "not a regular file";
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// ReadFile takes a 32-bit count, so a larger read comes in pieces.
constexpr DWORD bytes_per_read = 0x40000000;

HANDLE handle_of(const open_file &file)
{
    return reinterpret_cast<HANDLE>(file.handle);
}

// The size, and the last write time in the system's 100 ns units, of an
// open file.
bool size_and_time(HANDLE handle, std::uint64_t &size, std::int64_t &modified)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    modified = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                         info.ftLastWriteTime.dwLowDateTime);
    return true;
}

}  // namespace

bool open_for_reading(const char *path, open_file &file, std::string *why)
{
    const HANDLE handle = open_regular_file(path, why);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    if (!size_and_time(handle, file.size, file.modified)) {
        CloseHandle(handle);
        if (why)
            *why = "could not be opened";
        return false;
    }
    file.handle = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

// The open shares nothing, so no other handle can write the file; a writer
// outside those rules (another system's on a network share, a Linux
// process under wine) still can.
bool file_unchanged(const open_file &file)
{
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    return size_and_time(handle_of(file), size, modified) && size == file.size && modified == file.modified;
}

// A synchronous handle takes an offset in the OVERLAPPED and still waits
// for the read; the system lets one such read at a time through.
std::size_t read_at(open_file &file, std::uint64_t offset, char *into, std::size_t want)
{
    std::size_t got = 0;
    while (got < want) {
        const std::size_t left = want - got;
        const std::uint64_t at = offset + got;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD arrived = 0;
        const DWORD piece = left < bytes_per_read ? static_cast<DWORD>(left) : bytes_per_read;
        if (!ReadFile(handle_of(file), into + got, piece, &arrived, &where) || arrived == 0)
            break;
        got += arrived;
    }
    return got;
}

void close_file(open_file &file)
{
    if (file.handle != -1)
        CloseHandle(handle_of(file));
    file.handle = -1;
}

char *reserve_read_buffer(std::size_t size)
{
    return static_cast<char *>(VirtualAlloc(NULL, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

void release_read_buffer(char *buffer, std::size_t)
{
    if (buffer)
        VirtualFree(buffer, 0, MEM_RELEASE);
}

unsigned usable_processors()
{
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0)
        return 1;
    return static_cast<unsigned>(std::popcount(static_cast<std::uint64_t>(process)));
}

bool regular_file_opens(const char *path, std::string *why)
{
    const HANDLE file = open_regular_file(path, why);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}
