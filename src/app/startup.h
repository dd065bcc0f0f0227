#pragma once

#include <string>

// The entry point's body: digest, connection, acceptance, window, interface thread, pump.
// Returns only when the server cannot be reached (0, after the message box).
int runLauncher();

// Queues the removal of what an ended launcher left in `folder` (old launcher copies, temporaries)
// on the update worker. Start-up calls it before connecting, so it is that worker's first job and
// the self-update, which runs on the same worker, can only begin once it has ended.
void queueLeftoverRemoval(const std::string& folder);

// The exit code of a failure that nobody handled (an uncaught exception on any thread).
inline constexpr int uncaughtFailureExitCode = 70;
