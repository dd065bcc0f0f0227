// The one process-wide record through which the parts of the launcher talk to each other.
//
// Message handlers write it from the worker thread; the interface thread reads it every frame.
// The texts and the news list sit behind one lock; the integers are atomics. Every change bumps
// `revision`, so a reader that already holds the current snapshot need not copy again.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net.h"

inline constexpr const char* initialStatusText = "Checking for new update..";

// The values of updatePhase, in the order a normal start passes them (0: nothing sent yet).
inline constexpr std::int32_t helloSentPhase = 1;
inline constexpr std::int32_t launcherDownloadPhase = 2;
inline constexpr std::int32_t patchingPhase = 3;
inline constexpr std::int32_t verifyingPhase = 4;
inline constexpr std::int32_t readyPhase = 5;

// The news list keeps the first items up to this count; a server that keeps sending news cannot
// grow it further. Items are at most 255 bytes, so the list holds at most 25,500 bytes of text.
inline constexpr std::size_t newsItemLimit = 100;
inline constexpr const char* newsListFullDiagnostic =
    "News list full (100 items): further news items are dropped";

struct LauncherState {
    std::mutex textLock; // guards statusText, gameVersion, newsItems, newsDropped
    std::string statusText = initialStatusText;
    std::string gameVersion;
    std::vector<std::string> newsItems; // at most newsItemLimit
    bool newsDropped = false;           // the diagnostic for dropped news was written

    std::atomic<std::int32_t> updatePhase{0};
    std::atomic<std::int32_t> serverAccepted{0};
    std::atomic<std::int32_t> sendFailures{0};
    std::atomic<std::uint64_t> revision{0};

    // Written once by start-up before any other thread exists; read-only afterwards.
    std::string launcherDigest;
    platform::SocketHandle serverSocket = platform::invalidSocket;
    void* mainWindow = nullptr; // the platform window: an SDL_Window (Linux) or an HWND (Windows)
};

extern LauncherState launcherState;

// What the interface draws: one consistent copy of the shared fields.
struct LauncherSnapshot {
    std::uint64_t revision = ~std::uint64_t{0};
    std::string statusText;
    std::int32_t updatePhase = 0;
    std::string gameVersion;
    std::vector<std::string> newsItems;
    std::int32_t progressPercent = 0;
    // The line under the progress bar; the interface fills it from the Downloader's counters.
    std::string downloadLine;
};

// Refreshes `snapshot` from the shared state; returns false (and copies nothing) when nothing
// changed since `snapshot` was taken.
bool refreshSnapshot(LauncherSnapshot& snapshot);

void setStatusText(std::string text);
void setGameVersion(std::string text);
std::string currentGameVersion();
void setUpdatePhase(std::int32_t phase);
// Appends up to newsItemLimit in all; the first drop writes one diagnostic, later ones none.
void appendNewsItems(std::vector<std::string> items);
// For any writer of shared values that live outside this record (the download progress).
void markStateChanged();

// Handler of server message 1000.
void storeNewsList(std::string_view message);
