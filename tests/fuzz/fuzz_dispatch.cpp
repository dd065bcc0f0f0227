// Bytes from the game server: framing with declaredMessageLength, dispatchMessage, and every
// handler's own parsing. The handlers run for real against a scratch game folder; downloads go to
// port 1 of the loopback, where nothing listens, so each is refused at once. The self-update
// handler never receives the answer "false": that answer replaces the launcher and ends the
// process, which would end the fuzzer.
//
// Checked after each input: no file changed outside the scratch game folder, every handled
// patch list was followed by exactly one integrity request, and the shared state is sane.
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "core/connection.h"
#include "core/launcher_state.h"
#include "core/protocol.h"
#include "fuzz_support.h"
#include "update/integrity_check.h"
#include "update/patch_update.h"
#include "update/self_update.h"

namespace {

constexpr const char* refusedBaseUrl = "http://127.0.0.1:1/";

fuzz::Scratch scratch;
std::atomic<int> integrityRequests{0};
std::atomic<int> outOfDateAnswers{0};

void selfUpdateWithoutReplacing(std::string_view message) {
    if (message.size() > 4) {
        const auto answer = readField(message, 5, static_cast<unsigned char>(message[4]));
        if (answer && *answer == "false") {
            ++outOfDateAnswers;
            return;
        }
    }
    runLauncherSelfUpdate(message);
}

// The messages the receive loop dispatches for `bytes` arriving in one read, when the rest of an
// incomplete message never comes (see handleReceivedBytes in connection.cpp).
std::vector<std::string> framedMessages(std::string bytes) {
    std::vector<std::string> messages;
    while (!bytes.empty()) {
        const auto length = declaredMessageLength(bytes);
        if (!length) {
            messages.push_back(std::move(bytes));
            break;
        }
        fuzz::require(*length > 0 && *length <= bytes.size(), "a framed message lies inside the read");
        messages.push_back(bytes.substr(0, *length));
        bytes.erase(0, *length);
        if (!beginsKnownMessage(bytes)) break;
    }
    return messages;
}

// How many patch lists arrive after acceptance: each must be followed by one integrity request.
int expectedIntegrityRequests(const std::vector<std::string>& messages, bool accepted) {
    int requests = 0;
    for (const auto& message : messages) {
        const auto code = messageCode(message);
        if (!code) continue;
        if (*code == messageHello)
            accepted = true;
        else if (accepted && *code == messagePatchUpdate)
            ++requests;
    }
    return requests;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratch = fuzz::prepareScratch();
    fuzz::standInForProcessesAndDialogs();
    MessageHandlers handlers;
    handlers.storeNews = storeNewsList;
    handlers.launcherSelfUpdate = selfUpdateWithoutReplacing;
    handlers.patchUpdate = [](std::string_view m) { runPatchUpdateIn(m, scratch.game, refusedBaseUrl); };
    handlers.integrityCheck = [](std::string_view m) {
        runIntegrityCheckIn(m, scratch.game, refusedBaseUrl);
    };
    handlers.integrityRequest = [] { ++integrityRequests; };
    setMessageHandlers(std::move(handlers));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte says whether the server has already accepted the launcher.
    const bool accepted = (data[0] & 1) != 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    fuzz::emptyFolder(scratch.game);
    launcherState.serverAccepted = accepted ? 1 : 0;
    {
        std::lock_guard lock(launcherState.textLock);
        launcherState.newsItems.clear();
    }
    integrityRequests = 0;
    const auto before = scratch.outsideGame();

    const auto messages = framedMessages(bytes);
    for (const auto& message : messages) dispatchMessage(message);
    waitForUpdateWorker();

    fuzz::require(integrityRequests == expectedIntegrityRequests(messages, accepted),
                  "one integrity request after each handled patch list");
    const auto phase = launcherState.updatePhase.load();
    fuzz::require(phase >= 0 && phase <= 5, "the update phase stays 0-5");
    fuzz::requireSameTree(before, scratch.outsideGame(), "outside the game folder");
    return 0;
}
