// Dispatch of the server's messages to their handlers, and the one update worker on which the
// long-running handlers take turns.
#include "app/dispatch.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "app/startup.h"
#include "core/connection.h"
#include "core/launcher_state.h"
#include "core/protocol.h"
#include "platform/process.h"
#include "update/integrity_check.h"
#include "update/patch_update.h"
#include "update/self_update.h"

namespace {

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

// The one long-lived thread on which the start-up clean-up, acceptance, patch updates and integrity
// checks run, one at a time and in arrival order, so that a later message never overtakes an
// earlier one, the self-update never overlaps the clean-up, and news is never held up behind a
// download.
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

} // namespace

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

void setMessageHandlers(MessageHandlers handlers) {
    std::lock_guard lock(handlersLock);
    installedHandlers = std::move(handlers);
}

void waitForUpdateWorker() {
    UpdateWorker& worker = updateWorker();
    std::unique_lock lock(worker.lock);
    worker.changed.wait(lock, [&] { return worker.jobs.empty() && !worker.busy; });
}
