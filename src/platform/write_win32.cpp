#include "platform/write.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/win32_text.h"

HANDLE create_new_file(const std::wstring &folder, const char *prefix, DWORD flags, bool inherit,
                       std::wstring &path)
{
    SECURITY_ATTRIBUTES security = {sizeof security, NULL, inherit};
    // CREATE_NEW takes no name that is there already, a planted link
    // included, so the file is always our own; the number only spares tries.
    static unsigned number = GetCurrentProcessId() * 7919u + static_cast<unsigned>(GetTickCount64());
    for (int tries = 0; tries < 100; ++tries) {
        path = (folder.empty() ? L"" : folder + L"\\") + wide_text(prefix) + std::to_wstring(++number) + L".tmp";
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &security,
                                        CREATE_NEW, flags, NULL);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

bool create_unique_file(const std::string &folder, const char *prefix, open_file &file, std::string &path,
                        std::string &failure)
{
    std::wstring wide_path;
    const HANDLE handle = create_new_file(wide_text(folder), prefix, FILE_ATTRIBUTE_NORMAL, false, wide_path);
    if (handle == INVALID_HANDLE_VALUE) {
        failure = system_text(GetLastError());
        return false;
    }
    file.handle = reinterpret_cast<std::intptr_t>(handle);
    path = narrow_text(wide_path);
    return true;
}

// A listing is far from the 4 GiB that one WriteFile takes, and a file on
// disk takes all of it or fails.
bool write_all(open_file &file, std::string_view text, std::string &failure)
{
    DWORD written = 0;
    if (text.size() <= MAXDWORD &&
        WriteFile(reinterpret_cast<HANDLE>(file.handle), text.data(), static_cast<DWORD>(text.size()), &written, NULL))
        return true;
    failure = text.size() <= MAXDWORD ? system_text(GetLastError()) : "more than 4 GiB to write";
    return false;
}

bool write_done(open_file &file, std::string &failure)
{
    const bool flushed = FlushFileBuffers(reinterpret_cast<HANDLE>(file.handle));
    if (!flushed)
        failure = system_text(GetLastError());
    close_file(file);
    return flushed;
}

bool replace_file(const std::string &from, const std::string &to, std::string &failure)
{
    // A reader that opened the old file without sharing its deletion (a
    // virus scanner, an estacount run reading the listing) blocks the rename
    // while it reads: a second at most is waited for.
    for (int tries = 0;; ++tries) {
        if (MoveFileExW(wide_text(from).c_str(), wide_text(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || tries == 10) {
            failure = system_text(error);
            return false;
        }
        Sleep(100);
    }
}

// A program that had the file as its output and ended a moment ago may
// not have let go of it yet (seen under wine), nor a virus scanner: a
// second at most is waited for, as for a rename.
void remove_file(const std::string &path)
{
    for (int tries = 0; !DeleteFileW(wide_text(path).c_str()) && tries < 10; ++tries) {
        if (GetLastError() != ERROR_ACCESS_DENIED && GetLastError() != ERROR_SHARING_VIOLATION)
            return;
        Sleep(100);
    }
}

bool make_folders(const std::string &folder, std::string &failure)
{
    // SHCreateDirectoryExW makes each missing folder on the way, from a full
    // path only.
    std::wstring full(32768, L'\0');
    const std::wstring path = wide_text(folder.empty() ? "." : folder);
    full.resize(GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), NULL));
    const int error = full.empty() ? static_cast<int>(GetLastError()) : SHCreateDirectoryExW(NULL, full.c_str(), NULL);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    failure = attributes != INVALID_FILE_ATTRIBUTES ? "not a folder" : system_text(error);
    return false;
}

// The entry itself, not what a link at it points to.
bool path_exists(const std::string &path, std::int64_t *modified)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide_text(path).c_str(), GetFileExInfoStandard, &data))
        return false;
    // FILETIME counts 100 ns steps from 1601.
    const std::int64_t ticks = static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                               data.ftLastWriteTime.dwLowDateTime;
    if (modified)
        *modified = (ticks - 116444736000000000LL) / 10000000;
    return true;
}

bool is_link(const std::string &path)
{
    const DWORD attributes = GetFileAttributesW(wide_text(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string last_error_text()
{
    return system_text(GetLastError());
}
