// The one TCP connection to the game server: set-up, sending, the receive loop with its framing,
// and the end of the process when it is lost.
#include "core/connection.h"

#include <array>
#include <atomic>
#include <thread>

#include "core/launcher_state.h"
#include "core/protocol.h"
#include "launcher_config.h"
#include "platform/net.h"
#include "platform/process.h"

namespace {

constexpr int receivePauseMilliseconds = 100;
// How long the rest of a message that arrived only in part is waited for.
constexpr int joinWindowMilliseconds = 200;
constexpr std::int32_t maxSendFailures = 10;

void sendMessage(const std::string& message) {
    const long sent = platform::sendBytes(launcherState.serverSocket, message.data(), message.size());
    if (sent == static_cast<long>(message.size())) return;
    const std::int32_t failures = launcherState.sendFailures.fetch_add(1) + 1;
    platform::diagnose("Send of " + std::to_string(message.size()) + " bytes failed (" +
                       std::to_string(sent) + " sent), failure " + std::to_string(failures) + " of " +
                       std::to_string(maxSendFailures));
    if (failures >= maxSendFailures) endOnLostConnection();
}

// Hands every whole message in `bytes` to `receive`. A message that is not whole yet is
// joined with what arrives within the join window, and otherwise handled as it stands.
void handleReceivedBytes(std::string bytes, MessageReceiver receive) {
    std::array<char, maxReadSize> buffer;
    while (!bytes.empty()) {
        const auto length = declaredMessageLength(bytes);
        if (!length) {
            const long got = platform::receiveBytesWithin(launcherState.serverSocket, buffer.data(),
                                                          buffer.size(), joinWindowMilliseconds);
            if (got > 0) {
                bytes.append(buffer.data(), static_cast<std::size_t>(got));
                continue;
            }
            if (got != platform::receiveTimedOut) endOnLostConnection();
            receive(std::move(bytes));
            return;
        }
        receive(bytes.substr(0, *length));
        bytes.erase(0, *length);
        // Whatever follows a message without beginning another is padding.
        if (!beginsKnownMessage(bytes)) return;
    }
}

} // namespace

bool connectToServer(const std::string& address, std::uint16_t port, MessageReceiver receive) {
    switch (platform::connectSocket(launcherState.serverSocket, address, port)) {
    case platform::ConnectResult::connected:
        break;
    case platform::ConnectResult::badAddress:
        platform::diagnose("Server address " + address + " is not a dotted IPv4 address");
        return false;
    case platform::ConnectResult::failed:
        platform::diagnose("Cannot connect to " + address + " port " + std::to_string(unsigned{port}));
        platform::closeSocket(launcherState.serverSocket);
        launcherState.serverSocket = platform::invalidSocket;
        platform::stopNetworking();
        return false;
    }
    sendHello();
    std::thread(receiveLoop, receive).detach();
    // Woken by the acceptance itself rather than by polling, so the window follows it at once.
    while (launcherState.serverAccepted.load() != 1) launcherState.serverAccepted.wait(0);
    return true;
}

bool connectToServer(MessageReceiver receive) {
    return connectToServer(serverAddress, serverPort, receive);
}

void sendHello() {
    setUpdatePhase(helloSentPhase);
    sendMessage(buildHello(launcherState.launcherDigest));
}

void sendIntegrityRequest() {
    sendMessage(buildIntegrityRequest());
}

void receiveLoop(MessageReceiver receive) {
    std::array<char, maxReadSize> buffer;
    for (;;) {
        const long got = platform::receiveBytes(launcherState.serverSocket, buffer.data(), buffer.size());
        if (got <= 0) endOnLostConnection();
        handleReceivedBytes(std::string(buffer.data(), static_cast<std::size_t>(got)), receive);
        platform::sleepMilliseconds(receivePauseMilliseconds);
    }
}

void endOnLostConnection() {
    static std::atomic<bool> closing{false};
    // Only the first thread to get here closes the socket; a second must not close a reused number.
    if (!closing.exchange(true)) {
        platform::diagnose("Connection to the server lost");
        platform::closeSocket(launcherState.serverSocket);
        platform::stopNetworking();
    }
    platform::endProcess(0);
}
