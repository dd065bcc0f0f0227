// The installation folder's lock on Linux: flock on the folder itself.
//
// [X] flock(LOCK_EX | LOCK_NB) on a descriptor of the folder that stays open until the process
//     ends; the kernel lets go of it with the last descriptor, however the process ends
// [X] O_CLOEXEC: the game and a new launcher never inherit the lock; O_NOFOLLOW: a link planted
//     under the lock file's name is never written through
// [X] the holder's process id in the lock file's place, for a person looking at the folder
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
    // The folder itself is locked, not the file: a file under the lock's name may be removed or
    // replaced (by the player, or a patch entry of that name) and a second launcher would lock
    // the new one, while the installation folder stays the same folder. Read access is enough,
    // so a read-only lock file or folder still excludes a second launcher.
    const auto separator = path.find_last_of('/');
    const std::string folder = separator == std::string::npos ? "." : path.substr(0, separator + 1);
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
    // The holder's process id, for a person looking at the folder; nothing depends on it.
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (file >= 0) {
        const std::string pid = std::to_string(getpid()) + "\n";
        if (ftruncate(file, 0) == 0) {
            [[maybe_unused]] const auto written = pwrite(file, pid.data(), pid.size(), 0);
        }
        close(file);
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
