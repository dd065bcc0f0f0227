// The one TCP connection to the game server: set-up, receiving, dispatch, and the end of the
// process when it is lost.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Connects to the configured server, sends the hello, starts the receive thread and returns
// once the server has accepted the launcher; false when the address or the connection fails.
bool connectToServer();
// The same with another address and port (tests).
bool connectToServer(const std::string& address, std::uint16_t port);
void sendHello();
void sendIntegrityRequest();
void receiveLoop();
// Runs on the receive thread, in arrival order. News is stored at once; acceptance, patch
// update and integrity list are queued for the one update worker, which runs them one at a time.
void dispatchMessage(std::string message);
[[noreturn]] void endOnLostConnection();

// What dispatchMessage calls; tests replace it and restore the real one with an empty record.
struct MessageHandlers {
    std::function<void(std::string_view)> storeNews;
    std::function<void(std::string_view)> launcherSelfUpdate;
    std::function<void(std::string_view)> patchUpdate;
    std::function<void(std::string_view)> integrityCheck;
    std::function<void()> integrityRequest;
};
void setMessageHandlers(MessageHandlers handlers);
// Blocks until the update worker has run everything queued so far (for tests).
void waitForUpdateWorker();
