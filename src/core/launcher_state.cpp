#include "core/launcher_state.h"

#include "core/downloader.h"
#include "core/protocol.h"
#include "platform/process.h"

#include <utility>

LauncherState launcherState;

void markStateChanged() {
    launcherState.revision.fetch_add(1, std::memory_order_release);
}

bool refreshSnapshot(LauncherSnapshot& snapshot) {
    // The progress lives in the Downloader; it moves without a lock, so compare it separately.
    const std::int32_t progress = downloader.progressPercent.load(std::memory_order_acquire);
    const std::uint64_t revision = launcherState.revision.load(std::memory_order_acquire);
    if (revision == snapshot.revision && progress == snapshot.progressPercent) return false;
    std::lock_guard lock(launcherState.textLock);
    snapshot.revision = launcherState.revision.load(std::memory_order_acquire);
    snapshot.statusText = launcherState.statusText;
    snapshot.gameVersion = launcherState.gameVersion;
    snapshot.newsItems = launcherState.newsItems;
    snapshot.updatePhase = launcherState.updatePhase.load(std::memory_order_acquire);
    snapshot.progressPercent = progress;
    return true;
}

void setStatusText(std::string text) {
    {
        std::lock_guard lock(launcherState.textLock);
        launcherState.statusText = std::move(text);
    }
    markStateChanged();
}

void setGameVersion(std::string text) {
    {
        std::lock_guard lock(launcherState.textLock);
        launcherState.gameVersion = std::move(text);
    }
    markStateChanged();
}

std::string currentGameVersion() {
    std::lock_guard lock(launcherState.textLock);
    return launcherState.gameVersion;
}

void setUpdatePhase(std::int32_t phase) {
    launcherState.updatePhase.store(phase, std::memory_order_release);
    markStateChanged();
}

void appendNewsItems(std::vector<std::string> items) {
    if (items.empty()) return;
    bool appended = false;
    bool firstDrop = false;
    {
        std::lock_guard lock(launcherState.textLock);
        auto& news = launcherState.newsItems;
        for (auto& item : items) {
            if (news.size() >= newsItemLimit) {
                firstDrop = !std::exchange(launcherState.newsDropped, true);
                break;
            }
            news.push_back(std::move(item));
            appended = true;
        }
    }
    // Once per process: a flood of news must not become a flood of diagnostics.
    if (firstDrop) platform::diagnose(newsListFullDiagnostic);
    if (appended) markStateChanged();
}

void storeNewsList(std::string_view message) {
    if (message.size() < 5) return;
    const auto count = static_cast<unsigned char>(message[4]);
    std::size_t position = 5;
    std::vector<std::string> items;
    for (unsigned i = 0; i < count; ++i) {
        // A message that claims more items than it holds keeps the items read so far.
        auto item = readTextAt(message, position);
        if (!item) break;
        items.push_back(std::move(*item));
    }
    // One append, so the interface never shows half of one message's items.
    appendNewsItems(std::move(items));
}
