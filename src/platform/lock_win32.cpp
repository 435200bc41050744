#include "platform/lock.h"

#include <windows.h>

#include "platform/win32_text.h"

// The file is opened shared, so that every run can open it while one holds
// the lock, but not for deletion: a file removed while locked would let the
// next run lock a new one beside the held one. Reading is all LockFileEx
// needs: a lock file that an administrator's run made stays usable by the
// task's account. The system drops the lock with the handle, when the
// process ends however it ends.
bool take_lock(const std::string &path, unsigned seconds, held_lock &lock, std::string &failure)
{
    const HANDLE file = CreateFileW(wide_text(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        failure = path + ": " + system_text(GetLastError());
        return false;
    }
    const ULONGLONG deadline = GetTickCount64() + 1000ULL * seconds;
    for (;;) {
        OVERLAPPED start = {};
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start)) {
            lock.handle = reinterpret_cast<std::intptr_t>(file);
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION || GetTickCount64() >= deadline) {
            failure = error == ERROR_LOCK_VIOLATION ? "held by another run" : system_text(error);
            CloseHandle(file);
            return false;
        }
        Sleep(50);
    }
}

void release_lock(held_lock &lock)
{
    if (lock.handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(lock.handle));
    lock.handle = -1;
}
