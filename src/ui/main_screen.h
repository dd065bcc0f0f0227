// Everything drawn inside the "Main" window: background, window buttons, progress bar or ready
// controls, the news or settings panel, the status and version lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct LauncherSnapshot;

inline constexpr std::int32_t minClientCount = 1;
inline constexpr std::int32_t maxClientCount = 50;

// Kept between frames; touched only by the interface thread.
extern std::int32_t clientCount;
extern bool newsPanelOpen;
extern bool settingsPanelOpen; // wins over newsPanelOpen

// A copy of `text` with a line break after every `width` bytes (also after the last group when it
// is full, and inside words).
std::string wrapText(std::string_view text, std::size_t width);
// `count` moved by `step`, unless that leaves 1..50.
std::int32_t steppedClientCount(std::int32_t count, std::int32_t step);

// Draws one frame of the main screen. Returns false when the interface thread must stop drawing
// (a game start failed and the player closed its message).
bool drawMainScreen(const LauncherSnapshot& snapshot);
