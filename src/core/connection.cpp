// The one TCP connection to the game server: set-up, sending, the receive loop with its framing,
// the dispatch of messages to their handlers, and the end of the process when it is lost.
#include "core/connection.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "core/launcher_state.h"
#include "core/protocol.h"
#include "core/startup.h"
#include "launcher_config.h"
#include "platform/net.h"
#include "platform/process.h"
#include "update/integrity_check.h"
#include "update/patch_update.h"
#include "update/self_update.h"

namespace {

constexpr int receivePauseMilliseconds = 100;
// How long the rest of a message that arrived only in part is waited for.
constexpr int joinWindowMilliseconds = 200;
constexpr std::int32_t maxSendFailures = 10;

std::mutex handlersLock;
MessageHandlers installedHandlers;

// The installed handlers, with the real one wherever none is installed.
MessageHandlers currentHandlers() {
    MessageHandlers handlers;
    {
        std::lock_guard lock(handlersLock);
        handlers = installedHandlers;
    }
    if (!handlers.storeNews) handlers.storeNews = storeNewsList;
    if (!handlers.launcherSelfUpdate) handlers.launcherSelfUpdate = runLauncherSelfUpdate;
    if (!handlers.patchUpdate) handlers.patchUpdate = runPatchUpdate;
    if (!handlers.integrityCheck) handlers.integrityCheck = runIntegrityCheck;
    if (!handlers.integrityRequest) handlers.integrityRequest = sendIntegrityRequest;
    return handlers;
}

// The one long-lived thread on which acceptance, patch updates and integrity checks run, one at a
// time and in arrival order, so that a later message never overtakes an earlier one and news is
// never held up behind a download.
struct UpdateWorker {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::function<void()>> jobs;
    bool busy = false;
    bool started = false;
};

UpdateWorker& updateWorker() {
    // Never destroyed: the detached thread may still wait on it while static destructors run.
    static auto* worker = new UpdateWorker;
    return *worker;
}

void runUpdateWorker() {
    UpdateWorker& worker = updateWorker();
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(worker.lock);
            worker.changed.wait(lock, [&] { return !worker.jobs.empty(); });
            job = std::move(worker.jobs.front());
            worker.jobs.pop_front();
            worker.busy = true;
        }
        try {
            job();
        } catch (const std::exception& failure) {
            platform::diagnose(std::string("Message handler failed: ") + failure.what());
            platform::endProcess(uncaughtFailureExitCode);
        }
        {
            std::lock_guard lock(worker.lock);
            worker.busy = false;
        }
        worker.changed.notify_all();
    }
}

void queueUpdateJob(std::function<void()> job) {
    UpdateWorker& worker = updateWorker();
    {
        std::lock_guard lock(worker.lock);
        if (!worker.started) {
            std::thread(runUpdateWorker).detach();
            worker.started = true;
        }
        worker.jobs.push_back(std::move(job));
    }
    worker.changed.notify_all();
}

void sendMessage(const std::string& message) {
    const long sent = platform::sendBytes(launcherState.serverSocket, message.data(), message.size());
    if (sent == static_cast<long>(message.size())) return;
    const std::int32_t failures = launcherState.sendFailures.fetch_add(1) + 1;
    platform::diagnose("Send of " + std::to_string(message.size()) + " bytes failed (" +
                       std::to_string(sent) + " sent), failure " + std::to_string(failures) + " of " +
                       std::to_string(maxSendFailures));
    if (failures >= maxSendFailures) endOnLostConnection();
}

// Hands every whole message in `bytes` to dispatchMessage. A message that is not whole yet is
// joined with what arrives within the join window, and otherwise handled as it stands.
void handleReceivedBytes(std::string bytes) {
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
            dispatchMessage(std::move(bytes));
            return;
        }
        dispatchMessage(bytes.substr(0, *length));
        bytes.erase(0, *length);
        // Whatever follows a message without beginning another is padding.
        if (!beginsKnownMessage(bytes)) return;
    }
}

} // namespace

bool connectToServer(const std::string& address, std::uint16_t port) {
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
    std::thread(receiveLoop).detach();
    // Woken by the acceptance itself rather than by polling, so the window follows it at once.
    while (launcherState.serverAccepted.load() != 1) launcherState.serverAccepted.wait(0);
    return true;
}

bool connectToServer() {
    return connectToServer(serverAddress, serverPort);
}

void sendHello() {
    setUpdatePhase(helloSentPhase);
    sendMessage(buildHello(launcherState.launcherDigest));
}

void sendIntegrityRequest() {
    sendMessage(buildIntegrityRequest());
}

void receiveLoop() {
    std::array<char, maxReadSize> buffer;
    for (;;) {
        const long got = platform::receiveBytes(launcherState.serverSocket, buffer.data(), buffer.size());
        if (got <= 0) endOnLostConnection();
        handleReceivedBytes(std::string(buffer.data(), static_cast<std::size_t>(got)));
        platform::sleepMilliseconds(receivePauseMilliseconds);
    }
}

void dispatchMessage(std::string message) {
    const auto code = messageCode(message);
    if (!code) return;
    const MessageHandlers handlers = currentHandlers();
    if (*code == messageHello) {
        // Test and set in one step: of two acceptances that arrive close together, one runs.
        std::int32_t expected = 0;
        if (launcherState.serverAccepted.compare_exchange_strong(expected, 1)) {
            launcherState.serverAccepted.notify_all();
            queueUpdateJob(
                [run = handlers.launcherSelfUpdate, message = std::move(message)] { run(message); });
        }
        return;
    }
    if (launcherState.serverAccepted.load() != 1) return;
    switch (*code) {
    case messageNews:
        handlers.storeNews(message);
        break;
    case messagePatchUpdate:
        queueUpdateJob(
            [run = handlers.patchUpdate, request = handlers.integrityRequest, message = std::move(message)] {
                run(message);
                request();
            });
        break;
    case messageIntegrity:
        queueUpdateJob([run = handlers.integrityCheck, message = std::move(message)] { run(message); });
        break;
    default:
        break;
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

void setMessageHandlers(MessageHandlers handlers) {
    std::lock_guard lock(handlersLock);
    installedHandlers = std::move(handlers);
}

void waitForUpdateWorker() {
    UpdateWorker& worker = updateWorker();
    std::unique_lock lock(worker.lock);
    worker.changed.wait(lock, [&] { return worker.jobs.empty() && !worker.busy; });
}
