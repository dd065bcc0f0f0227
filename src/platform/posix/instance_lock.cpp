// The installation folder's lock on Linux: flock on a lock file in the folder.
//
// [X] flock(LOCK_EX | LOCK_NB) on a descriptor that stays open until the process ends; the kernel
//     lets go of it with the last descriptor, however the process ends
// [X] O_CLOEXEC: the game and a new launcher never inherit the lock; O_NOFOLLOW: a link planted
//     under the lock file's name is never opened
// [X] the holder's process id in the file, for a person looking at the folder
// [ ] the running launcher's window is not raised: X11 leaves focus to the window manager, which
//     refuses a request from another client without a user's timestamp
#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace platform {
namespace {

std::atomic<int> lockDescriptor{-1};

} // namespace

FolderLock lockInstallFolder(const std::string& path) {
    const int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (descriptor < 0) return FolderLock::unavailable;
    int locked;
    do {
        locked = flock(descriptor, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const bool another = errno == EWOULDBLOCK;
        close(descriptor);
        return another ? FolderLock::heldByAnother : FolderLock::unavailable;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(descriptor, 0) == 0) {
        [[maybe_unused]] const auto written = pwrite(descriptor, pid.data(), pid.size(), 0);
    }
    const int previous = lockDescriptor.exchange(descriptor);
    if (previous >= 0) close(previous);
    return FolderLock::held;
}

void releaseInstallFolderLock() {
    const int descriptor = lockDescriptor.exchange(-1);
    if (descriptor >= 0) close(descriptor);
}

bool showRunningLauncher(const std::string&) {
    return false;
}

} // namespace platform
