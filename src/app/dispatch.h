// Dispatch of the server's messages to their handlers.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// Runs on the receive thread, in arrival order. News is stored at once; acceptance, patch
// update and integrity list are queued for the one update worker, which runs them one at a time.
void dispatchMessage(std::string message);

// What dispatchMessage calls; tests replace it and restore the real one with an empty record.
struct MessageHandlers {
    std::function<void(std::string_view)> storeNews;
    std::function<void(std::string_view)> launcherSelfUpdate;
    std::function<void(std::string_view)> patchUpdate;
    std::function<void(std::string_view)> integrityCheck;
    std::function<void()> integrityRequest;
};
void setMessageHandlers(MessageHandlers handlers);
// Runs `job` on the update worker after everything queued before it.
void queueUpdateJob(std::function<void()> job);
// Blocks until the update worker has run everything queued so far (for tests).
void waitForUpdateWorker();
