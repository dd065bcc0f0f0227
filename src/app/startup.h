#pragma once

// The entry point's body: digest, connection, acceptance, window, interface thread, pump.
// Returns only when the server cannot be reached (0, after the message box).
int runLauncher();

// The exit code of a failure that nobody handled (an uncaught exception on any thread).
inline constexpr int uncaughtFailureExitCode = 70;
