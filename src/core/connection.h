// The one TCP connection to the game server: set-up, sending, receiving, and the end of the
// process when it is lost.
#pragma once

#include <cstdint>
#include <string>

// Takes each whole message in arrival order, on the receive thread.
using MessageReceiver = void (*)(std::string message);

// Connects to the configured server, sends the hello, starts the receive thread handing messages
// to `receive`, and returns once the server has accepted the launcher; false when the address or
// the connection fails.
bool connectToServer(MessageReceiver receive);
// The same with another address and port (tests).
bool connectToServer(const std::string& address, std::uint16_t port, MessageReceiver receive);
void sendHello();
void sendIntegrityRequest();
[[noreturn]] void receiveLoop(MessageReceiver receive);
[[noreturn]] void endOnLostConnection();
