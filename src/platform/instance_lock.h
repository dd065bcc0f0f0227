// One launcher per installation folder: a lock that the first launcher holds for its whole life.
//
// [X] the system releases the lock however the process ends (a crash, a kill, the end of a
//     self-update), so a launcher that died never blocks the next start
// [X] the lock is never inherited by a program the launcher starts (the game, a new launcher)
// [X] the holder's process id is written into the lock file, so a second start can find its window
#pragma once

#include <string>

namespace platform {

enum class FolderLock { held, heldByAnother, unavailable };

// Takes the lock file `path` for the rest of the process's life. `unavailable` when the file
// cannot be created or locked for another reason (a read-only folder).
FolderLock lockInstallFolder(const std::string& path);
// Lets go of the lock before the process ends (a new launcher takes the folder over).
void releaseInstallFolderLock();
// Brings the window of the launcher holding the lock file `path` to the front where the system
// allows it; false when nothing was raised.
bool showRunningLauncher(const std::string& path);

} // namespace platform
