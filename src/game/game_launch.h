#pragma once

// Starts `clientCount` game clients 500 ms apart and ends the process with 0. Returns only when a
// start failed, after the player has closed the "ERROR" box; the caller then ends the interface
// thread.
void startGame(int clientCount);
