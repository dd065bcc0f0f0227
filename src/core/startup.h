#pragma once

// The entry point's body: digest, connection, acceptance, window, interface thread, pump.
// Returns only when the server cannot be reached (0, after the message box).
int runLauncher();
