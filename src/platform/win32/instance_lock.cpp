// The installation folder's lock on Windows: LockFileEx on a lock file in the folder.
//
// [X] an exclusive, non-waiting LockFileEx on one byte far beyond the file's end, held through a
//     handle that stays open until the process ends; the system releases it however the process
//     ends, and the pid written at the start of the file stays readable
// [X] the handle is not inheritable: the game and a new launcher never hold the lock
// [X] a second start brings the holder's visible window to the front (SetForegroundWindow, which
//     the system allows a program the player has just started)
#include "platform/instance_lock.h"

#include "wide_text.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>

namespace platform {
namespace {

// Beyond any byte ever written, so that a second launcher can still read the holder's pid.
constexpr DWORD lockedOffsetHigh = 1;
constexpr DWORD pidReadLimit = 32;

std::atomic<HANDLE> lockHandle{INVALID_HANDLE_VALUE};

HANDLE openLockFile(const std::string& path, DWORD access, DWORD disposition, DWORD share) {
    return CreateFileW(win32::widen(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

struct RaiseSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK findVisibleWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<RaiseSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->pid || !IsWindowVisible(window)) return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace

FolderLock lockInstallFolder(const std::string& path) {
    // Without delete sharing nobody renames or deletes the file while it is held, so a second
    // launcher never finds a fresh file under the name. A read-only lock file (a folder marked
    // read-only with its files) is still locked: LockFileEx needs only read access.
    constexpr DWORD holdingShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = openLockFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, holdingShare);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        file = openLockFile(path, GENERIC_READ, OPEN_EXISTING, holdingShare);
    if (file == INVALID_HANDLE_VALUE) return FolderLock::unavailable;
    OVERLAPPED where{};
    where.OffsetHigh = lockedOffsetHigh;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? FolderLock::heldByAnother
                                                                          : FolderLock::unavailable;
    }
    const std::string pid = std::to_string(GetCurrentProcessId()) + "\r\n";
    DWORD written = 0;
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file))
        WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
    const HANDLE previous = lockHandle.exchange(file);
    if (previous != INVALID_HANDLE_VALUE) CloseHandle(previous);
    return FolderLock::held;
}

void releaseInstallFolderLock() {
    const HANDLE file = lockHandle.exchange(INVALID_HANDLE_VALUE);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

bool showRunningLauncher(const std::string& path) {
    const HANDLE file = openLockFile(path, GENERIC_READ, OPEN_EXISTING,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (file == INVALID_HANDLE_VALUE) return false;
    char text[pidReadLimit] = {};
    DWORD read = 0;
    const BOOL ok = ReadFile(file, text, pidReadLimit - 1, &read, nullptr);
    CloseHandle(file);
    if (!ok) return false;
    RaiseSearch search{static_cast<DWORD>(std::strtoul(text, nullptr, 10)), nullptr};
    if (search.pid == 0) return false;
    EnumWindows(findVisibleWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return false;
    if (IsIconic(search.found)) ShowWindow(search.found, SW_RESTORE);
    return SetForegroundWindow(search.found) != 0;
}

} // namespace platform
